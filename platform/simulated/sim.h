// Hooks of the simulated Windows: what tests and the Linux main use to set up a
// machine, inject faults and observe what the program did. System code never
// includes this header.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace sim {

// ---- The machine -------------------------------------------------------------

// Forgets every piece of simulated state and lays out a fresh machine whose
// drive C: is the Linux directory sandboxRoot/c (created). The machine has a
// user profile C:\users\simuser with a Temp folder, the environment TMP, TEMP,
// USERPROFILE and windir, an empty registry, no faults and no records. The
// current directory is C:\users\simuser and the user default locale 1033.
void ResetMachine(const std::string& sandboxRoot);

// The Linux directory behind a drive letter ('C', 'Z', ...); empty to unmap.
void MapDrive(char letter, const std::string& hostDirectory);

// Sets the current directory (a Windows path, which must be absolute).
void SetCurrentDirectory(std::u16string_view windowsPath);

// Sets (or, with nullopt, removes) a variable of the simulated environment.
void SetEnvironmentVariable(std::u16string_view name, std::optional<std::u16string_view> value);

// The Linux path a Windows path designates (made absolute first); empty when the
// path lies on no mapped drive or is not a plain drive path.
std::string HostPath(std::u16string_view windowsPath);

// The Windows form of a Linux path, through the drive mappings ("Z:\..." for a
// mapping of Z: to "/"); empty when no mapping covers it.
std::u16string WindowsPath(const std::string& hostPath);

// Makes every path at or below windowsPath refuse writing (creation, truncation,
// deletion, opening for write), as a read-only folder or file does.
void DenyWriteAccess(std::u16string_view windowsPath);

// Makes every path at or below windowsPath refuse even an attributes check.
void DenyAllAccess(std::u16string_view windowsPath);

// The user default locale, which new threads start with and LOCALE_USER_DEFAULT names.
void SetUserDefaultLocale(win::LCID locale);
win::LCID UserDefaultLocale();

// ---- The process ---------------------------------------------------------------

// Sets the process command line exactly as given.
void SetCommandLine(std::u16string_view commandLine);

// Builds a command line from arguments, quoting each the way Windows programs do
// so that CommandLineToArgvW gives them back.
std::u16string QuoteCommandLine(const std::vector<std::u16string>& arguments);

// ---- Faults and call counts --------------------------------------------------

// Makes the nth call (1-based) of the named platform function fail from now on;
// nth 0 makes every call fail. error is the last-error code (or installer result)
// the failing call reports; 0 picks the function's usual error.
void InjectFault(std::string_view function, unsigned nth, std::uint32_t error = 0);
void ClearFaults();

// Calls made to the named platform function since the machine was reset.
unsigned CallCount(std::string_view function);

// How many faults were injected so far (calls that were made to fail).
unsigned InjectedFaultCount();

// Names of every platform function that can be made to fail.
std::vector<std::string> FailableFunctions();

// The next WriteFile writes at most bytes bytes, then fails with ERROR_DISK_FULL.
void LimitNextWrite(std::uint32_t bytes);

// ---- Open resources ----------------------------------------------------------

// One line per handle, key, installer handle or memory block still open.
std::vector<std::string> OpenHandles();

// ---- Message boxes -----------------------------------------------------------

struct MessageBoxRecord {
    win::HWND owner = nullptr;
    std::u16string text;
    std::u16string caption;
    win::UINT style = 0;
    win::LCID threadLocale = 0;
};

const std::vector<MessageBoxRecord>& MessageBoxes();
void ClearMessageBoxes();

// Called for every box after it is recorded (the Linux main shows it on the terminal).
void SetMessageBoxPresenter(std::function<void(const MessageBoxRecord&)> presenter);

// ---- Resources ---------------------------------------------------------------

struct ResourceEntry {
    // A type or name is an id when its text is empty.
    std::u16string typeName;
    win::WORD typeId = 0;
    std::u16string name;
    win::WORD nameId = 0;
    win::LANGID language = 0;
    const std::uint8_t* data = nullptr;
    win::DWORD size = 0;
};

// A module whose resources are the given entries; the data must outlive it.
win::HINSTANCE RegisterModule(std::vector<ResourceEntry> entries);

// Gives a module the resources of a compiled resource file (.res), the way
// UpdateResource does on Windows: an entry replaces the module's entry of the
// same type, name and language, and is added when there is none. The file is
// mapped for the life of the process. False, with the reason, when the file
// cannot be read or is no resource file; the module is then unchanged.
bool UpdateModuleResources(win::HINSTANCE module, const std::string& resourceFile, std::string& error);

// Parses a compiled resource file (.res) image into entries pointing into it.
// False when the image is malformed.
bool ParseResourceImage(const std::uint8_t* image, std::size_t size, std::vector<ResourceEntry>& entries);

// The executable's own module: the resources compiled into it.
win::HINSTANCE EmbeddedModule();

// A copy of the string-table blocks of an entry list for one string, in every
// language: helper for tests that build modules with strings.
std::vector<std::uint8_t> BuildStringBlock(const std::vector<std::pair<unsigned, std::u16string>>& strings,
                                           unsigned blockId);

// ---- Text --------------------------------------------------------------------

std::u16string FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);

}  // namespace sim
