// Hooks of the simulated Windows Installer service: product registrations in
// the simulated registry, answers that tests impose on property queries, and
// the record of every installer call. System code never includes this header.
//
// The service keeps what it knows where the real one does:
//   HKEY_CLASSES_ROOT\Installer\Products\<packed code>: ProductName, Language
//       and Version (DWORDs); present for advertised and installed products.
//   HKEY_LOCAL_MACHINE\<UserData>\<packed code>\InstallProperties: DisplayName,
//       DisplayVersion, Language, Version, LocalPackage...; installed products only.
//   HKEY_LOCAL_MACHINE\<UserData>\<packed code>\Patches: AllPatches and one key
//       per applied patch.
// <UserData> is Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products.
// A packed code is the product code without braces and hyphens, the first three
// groups reversed and the characters of the last two swapped in pairs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace sim {

// ---- Products ------------------------------------------------------------------

struct ProductRegistration {
    std::u16string productCode;  // braced GUID
    std::u16string name;
    std::u16string version;  // as MsiGetProductInfoW gives "VersionString"
    win::LANGID language = 1033;
    // INSTALLSTATE_DEFAULT (installed), INSTALLSTATE_ADVERTISED (only the
    // HKEY_CLASSES_ROOT registration) or INSTALLSTATE_ABSENT (only the
    // UserData registration left behind).
    win::INSTALLSTATE state = win::INSTALLSTATE_DEFAULT;
};

// Writes the product's registrations. False when the code is not a braced GUID.
bool RegisterProduct(const ProductRegistration& product);

// The packed form of a braced GUID (upper case); empty when the text is not one.
std::u16string PackedGuid(std::u16string_view guid);

// HKEY_CLASSES_ROOT subkey of the product's registration ("Installer\Products\...").
std::u16string ProductClassesKey(std::u16string_view productCode);

// HKEY_LOCAL_MACHINE subkey of the product's UserData registration (the key
// that holds InstallProperties and Patches).
std::u16string ProductUserDataKey(std::u16string_view productCode);

// The product's "VersionString" as the service keeps it; nothing when the
// product is not installed.
std::optional<std::u16string> InstalledProductVersion(std::u16string_view productCode);

// The codes of the patches applied to the product, braced, in the order applied.
std::vector<std::u16string> ProductPatches(std::u16string_view productCode);

// ---- Imposed answers -------------------------------------------------------------

struct PropertyAnswer {
    // With 0 the text is the property's value and the usual buffer rules apply
    // (ERROR_MORE_DATA and a cut, terminated copy when it does not fit). Any
    // other result is returned with the buffer and count untouched.
    win::UINT result = 0;
    std::u16string text;
    // False: the service misbehaves, writing as much of the text as the count
    // allows without a terminator, setting the count to reportedLength (the
    // text's length when not given) and returning result.
    bool terminated = true;
    std::optional<win::DWORD> reportedLength;
};

// From now on MsiGetProductInfoW answers this for the product and property.
void ImposeProductProperty(std::u16string_view productCode, std::u16string_view property,
                           PropertyAnswer answer);

// From now on MsiSummaryInfoGetPropertyW answers this for the property, as a
// text, on every valid handle.
void ImposeSummaryProperty(win::UINT property, PropertyAnswer answer);

// ---- Calls -------------------------------------------------------------------------

struct InstallerCall {
    std::string function;
    // The arguments as texts: numbers in decimal, texts as given, "(null)" for a
    // null pointer; counts as they were on entry.
    std::vector<std::u16string> arguments;
    std::int64_t result = 0;
};

// Every installer call since the machine was reset, in order.
const std::vector<InstallerCall>& InstallerCalls();

// The calls of one function, in order.
std::vector<InstallerCall> InstallerCallsOf(std::string_view function);

// How many package reads ended with the reading process crashing (libmsi on a
// damaged file); such a package reads as no package at all.
unsigned PackageReaderCrashes();

// Whether calls are kept for InstallerCalls() and InstallerCallsOf() (they are
// after every reset). The Linux main never asks for them and turns this off,
// so that a run over a machine with many products keeps no record of every query.
void KeepInstallerCalls(bool keep);

// From now on packages are read by starting program (the Linux executable
// itself) as the reader, instead of in a fork of the caller. Empty: fork.
void UsePackageReaderProgram(const std::string& program);

// In a process started as the reader: reads the package its environment names,
// writes the answer to standard output and returns true. False in any other process.
bool RunAsPackageReader();

// Called after each installer call is recorded (the Linux main logs some).
void SetInstallerCallObserver(std::function<void(const InstallerCall&)> observer);

}  // namespace sim
