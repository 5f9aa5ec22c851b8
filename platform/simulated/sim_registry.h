// Hooks of the simulated registry: what tests and the machine file use to lay
// out keys and values, look at them afterwards, and move the whole registry to
// and from the standard registry file format. System code never includes this.
//
// Keys are named by a root (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or
// HKEY_CLASSES_ROOT, which is HKEY_LOCAL_MACHINE\Software\Classes) and a path
// below it, components separated by backslashes. Names of keys and values
// compare without regard to the case of ASCII letters.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace sim {

struct RegistryValue {
    win::DWORD type = win::REG_NONE;
    std::vector<std::uint8_t> data;
};

// Creates the key and every missing key above it.
void CreateRegistryKey(win::HKEY root, std::u16string_view subKey);

// Deletes the key with everything below it; false when it does not exist.
// Handles still open on it then fail with ERROR_KEY_DELETED.
bool DeleteRegistryKey(win::HKEY root, std::u16string_view subKey);

bool RegistryKeyExists(win::HKEY root, std::u16string_view subKey);

// The names of the key's subkeys, as they were created, in name order.
std::vector<std::u16string> RegistrySubkeyNames(win::HKEY root, std::u16string_view subKey);

// Stores a value exactly as given (an empty name is the key's default value),
// creating the key when needed.
void SetRegistryValue(win::HKEY root, std::u16string_view subKey, std::u16string_view name, win::DWORD type,
                      std::vector<std::uint8_t> data);

// Stores text with its terminating NUL, as programs usually write strings.
void SetRegistryString(win::HKEY root, std::u16string_view subKey, std::u16string_view name,
                       std::u16string_view text, win::DWORD type = win::REG_SZ);

void SetRegistryDword(win::HKEY root, std::u16string_view subKey, std::u16string_view name, win::DWORD value);

// False when the key or the value does not exist.
bool DeleteRegistryValue(win::HKEY root, std::u16string_view subKey, std::u16string_view name);

std::optional<RegistryValue> ReadRegistryValue(win::HKEY root, std::u16string_view subKey,
                                               std::u16string_view name);

// The text of a REG_SZ or REG_EXPAND_SZ value up to its first NUL; nothing for
// a missing value or another type.
std::optional<std::u16string> ReadRegistryString(win::HKEY root, std::u16string_view subKey,
                                                 std::u16string_view name);

// A value as the installer service gives a property: a REG_DWORD of four bytes
// in decimal, a REG_SZ or REG_EXPAND_SZ up to its first NUL; nothing for a
// missing value or another type.
std::optional<std::u16string> ReadRegistryValueText(win::HKEY root, std::u16string_view subKey,
                                                    std::u16string_view name);

// A REG_DWORD value of four bytes; nothing otherwise.
std::optional<win::DWORD> ReadRegistryDword(win::HKEY root, std::u16string_view subKey,
                                            std::u16string_view name);

// Makes an existing key refuse every opening that asks for more than reading
// (ERROR_ACCESS_DENIED), as a key whose access list grants only reading does.
// False when the key does not exist.
bool MakeRegistryKeyReadOnly(win::HKEY root, std::u16string_view subKey);

// The whole registry in the registry file format ("Windows Registry Editor
// Version 5.00"), as UTF-8 text. Every key is written, empty ones included, so
// that loading the text gives the same registry back.
std::string RegistryFileText();

// The same text, handed to sink in pieces as it is made, so that a large
// registry never stands in memory as one text.
void WriteRegistryFileText(const std::function<void(std::string_view)>& sink);

// A number that changes with every change of a key or value (storing a value
// exactly as it already is changes nothing), so that a caller can tell whether
// the registry may differ from what it last saw.
std::uint64_t RegistryGeneration();

// Replaces the whole registry with the keys of a registry file. On failure the
// registry is left as it was and error names the line and the fault.
bool LoadRegistryFileText(std::string_view text, std::string& error);

}  // namespace sim
