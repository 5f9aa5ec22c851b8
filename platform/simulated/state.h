// Internal plumbing shared by the files of the simulated platform.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace sim::detail {

// Counts a call of function and tells whether it must fail. When it must,
// *error receives the injected code (or fallbackError when none was given).
bool ShouldFail(const char* function, std::uint32_t fallbackError, std::uint32_t* error);

// Declares a function that can be made to fail, for FailableFunctions().
struct FailableRegistration {
    explicit FailableRegistration(const char* function);
};

// Runs hook at every ResetMachine, after the core state is reset.
struct ResetRegistration {
    explicit ResetRegistration(void (*hook)());
};

// Open-resource tracking for OpenHandles(): kind is "file", "key", ...
void TrackOpen(const void* handle, std::string kind, std::string description);
bool IsTracked(const void* handle, std::string_view kind);
void TrackClose(const void* handle);

// Declares that the bytes [begin, begin + size) are a read-only mapping of the
// file open as descriptor, from offset on; WriteFile then copies such bytes
// from the file in the kernel. The descriptor stays open for the process.
void RegisterFileImage(const void* begin, std::size_t size, int descriptor, std::int64_t offset);

// The simulated thread's last-error code.
void SetLastErrorCode(std::uint32_t error);

// The absolute, normalised Windows form of a path against the current
// directory, as GetFullPathNameW gives it; empty when it cannot be formed.
std::u16string FullWindowsPath(std::u16string_view path);

// The Linux path of a Windows path, resolving components case-insensitively
// against what exists; empty when no drive maps it. When info is given and
// *found is set on return, info holds the lstat of the path found.
std::string ResolveHostPath(std::u16string_view windowsPath, struct stat* info = nullptr,
                            bool* found = nullptr);

// A number that changes whenever the drives, the current directory or the
// access checks change, that is whenever a path may resolve differently.
std::uint64_t PathsGeneration();

// Access checks configured by DenyWriteAccess / DenyAllAccess.
bool WriteDenied(std::u16string_view fullWindowsPath);
bool AllAccessDenied(std::u16string_view fullWindowsPath);

// A variable of the simulated environment; false when unset.
bool LookupEnvironment(std::u16string_view name, std::u16string& value);

// The user default LCID and the validity rule SetThreadLocale applies.
bool IsKnownLocale(win::LCID locale);

}  // namespace sim::detail
