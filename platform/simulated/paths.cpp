// Simulated paths: drive letters mapped onto Linux directories, the current
// directory, full-path formation, the temporary directory, the environment and
// attribute checks. "\" and "/" are both separators; names are matched without
// regard to ASCII case, as on a Windows volume.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>
#include <vector>

#include "platform/simulated/sim.h"
#include "platform/simulated/state.h"

namespace sim {
namespace {

struct PathState {
    std::map<char, std::string> drives;
    std::u16string currentDirectory = u"C:\\";
    std::vector<std::u16string> writeDenied;
    std::vector<std::u16string> allDenied;
};

PathState& Paths() {
    static PathState state;
    return state;
}

// Raised by every change of what a path resolves to or may do.
std::uint64_t& Generation() {
    static std::uint64_t generation = 0;
    return generation;
}

void ResetPaths() {
    Paths() = PathState{};
    ++Generation();
}
detail::ResetRegistration resetPaths(&ResetPaths);
detail::FailableRegistration registerGetFileAttributesW("GetFileAttributesW");
detail::FailableRegistration registerGetFullPathNameW("GetFullPathNameW");
detail::FailableRegistration registerGetTempPathW("GetTempPathW");
detail::FailableRegistration registerGetEnvironmentVariableW("GetEnvironmentVariableW");
detail::FailableRegistration registerGetCurrentDirectoryW("GetCurrentDirectoryW");

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

char16_t UpperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

std::vector<std::u16string> SplitComponents(std::u16string_view text) {
    std::vector<std::u16string> parts;
    std::u16string current;
    for (char16_t c : text) {
        if (IsSeparator(c)) {
            if (!current.empty()) {
                parts.push_back(current);
            }
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) {
        parts.push_back(current);
    }
    return parts;
}

// Characters that no file name may hold: the wildcards, the redirection and
// quoting characters and the controls. A colon is left to the file system.
bool HasInvalidNameCharacter(std::u16string_view path) {
    return std::any_of(path.begin(), path.end(), [](char16_t c) {
        return c < 0x20 || c == u'"' || c == u'*' || c == u'?' || c == u'<' || c == u'>' || c == u'|';
    });
}

// Whether path equals prefix or lies below it, ignoring ASCII case.
bool IsAtOrBelow(std::u16string_view path, std::u16string_view prefix) {
    if (path.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (UpperAscii(path[i]) != UpperAscii(prefix[i])) {
            return false;
        }
    }
    return path.size() == prefix.size() || IsSeparator(path[prefix.size()]) ||
           (!prefix.empty() && IsSeparator(prefix.back()));
}

// Copies a Windows-style result into a caller buffer the way the kernel32 path
// functions do: the length without terminator when it fits, else the size needed.
win::DWORD CopyOut(const std::u16string& text, win::DWORD bufferLength, win::LPWSTR buffer) {
    if (buffer == nullptr || text.size() + 1 > bufferLength) {
        return static_cast<win::DWORD>(text.size() + 1);
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
    return static_cast<win::DWORD>(text.size());
}

}  // namespace

void MapDrive(char letter, const std::string& hostDirectory) {
    ++Generation();
    const char upper = (letter >= 'a' && letter <= 'z') ? static_cast<char>(letter - 32) : letter;
    if (hostDirectory.empty()) {
        Paths().drives.erase(upper);
    } else {
        std::string directory = hostDirectory;
        while (directory.size() > 1 && directory.back() == '/') {
            directory.pop_back();
        }
        Paths().drives[upper] = directory;
    }
}

void SetCurrentDirectory(std::u16string_view windowsPath) {
    ++Generation();
    std::u16string full = detail::FullWindowsPath(windowsPath);
    if (!full.empty()) {
        Paths().currentDirectory = full;
    }
}

std::string HostPath(std::u16string_view windowsPath) { return detail::ResolveHostPath(windowsPath); }

std::u16string WindowsPath(const std::string& hostPath) {
    // The longest mapping that covers the path wins.
    std::size_t bestLength = 0;
    char bestDrive = 0;
    for (const auto& [letter, directory] : Paths().drives) {
        const bool covers = directory == "/" ? hostPath.rfind('/', 0) == 0
                                             : (hostPath.rfind(directory, 0) == 0 &&
                                                (hostPath.size() == directory.size() ||
                                                 hostPath[directory.size()] == '/'));
        if (covers && directory.size() >= bestLength) {
            bestLength = directory.size();
            bestDrive = letter;
        }
    }
    if (bestDrive == 0) {
        return {};
    }
    const std::string& directory = Paths().drives[bestDrive];
    std::string rest = directory == "/" ? hostPath.substr(1) : hostPath.substr(directory.size());
    while (!rest.empty() && rest.front() == '/') {
        rest.erase(0, 1);
    }
    std::u16string result;
    result.push_back(static_cast<char16_t>(bestDrive));
    result += u":\\";
    for (char16_t c : FromUtf8(rest)) {
        result.push_back(c == u'/' ? u'\\' : c);
    }
    return result;
}

void DenyWriteAccess(std::u16string_view windowsPath) {
    ++Generation();
    Paths().writeDenied.push_back(detail::FullWindowsPath(windowsPath));
}

void DenyAllAccess(std::u16string_view windowsPath) {
    ++Generation();
    Paths().allDenied.push_back(detail::FullWindowsPath(windowsPath));
}

namespace detail {

std::uint64_t PathsGeneration() {
    return Generation();
}

std::u16string FullWindowsPath(std::u16string_view path) {
    if (path.empty()) {
        return {};
    }
    const std::u16string& current = Paths().currentDirectory;
    std::u16string drive;  // "C:"
    std::u16string_view rest;
    std::vector<std::u16string> base;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        return {};  // UNC and device paths are not simulated
    }
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':') {
        drive = {UpperAscii(path[0]), u':'};
        rest = path.substr(2);
        const bool sameDrive = current.size() >= 2 && UpperAscii(current[0]) == drive[0];
        if ((rest.empty() || !IsSeparator(rest[0])) && sameDrive) {
            base = SplitComponents(std::u16string_view(current).substr(2));
        }
    } else if (IsSeparator(path[0])) {
        drive = current.substr(0, 2);
        rest = path;
    } else {
        drive = current.substr(0, 2);
        base = SplitComponents(std::u16string_view(current).substr(2));
        rest = path;
    }
    std::vector<std::u16string> components = base;
    for (auto& part : SplitComponents(rest)) {
        if (part == u".") {
            continue;
        }
        if (part == u"..") {
            if (!components.empty()) {
                components.pop_back();
            }
            continue;
        }
        // A component's trailing dots and spaces are dropped, as Windows does.
        while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) {
            part.pop_back();
        }
        if (!part.empty()) {
            components.push_back(part);
        }
    }
    std::u16string full = drive + u"\\";
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0) {
            full.push_back(u'\\');
        }
        full += components[i];
    }
    if (!components.empty() && IsSeparator(path.back())) {
        full.push_back(u'\\');
    }
    return full;
}

std::string ResolveHostPath(std::u16string_view windowsPath, struct stat* info, bool* found) {
    if (found != nullptr) {
        *found = false;
    }
    const std::u16string full = FullWindowsPath(windowsPath);
    if (full.size() < 3) {
        return {};
    }
    auto drive = Paths().drives.find(static_cast<char>(full[0]));
    if (drive == Paths().drives.end()) {
        return {};
    }
    std::string host = drive->second;
    const std::vector<std::u16string> components = SplitComponents(std::u16string_view(full).substr(3));
    // When the path exists as it is spelt, every component does, and the walk
    // below would find each of them as it is: one check instead of one a component.
    std::string exact = host == "/" ? "" : host;
    for (const auto& component : components) {
        exact += "/" + ToUtf8(component);
    }
    struct stat exactInfo {};
    if (!components.empty() && lstat(exact.c_str(), &exactInfo) == 0) {
        if (info != nullptr && found != nullptr) {
            *info = exactInfo;
            *found = true;
        }
        return exact;
    }
    for (const auto& component : components) {
        const std::string name = ToUtf8(component);
        std::string candidate = (host == "/" ? "" : host) + "/" + name;
        struct stat info {};
        if (lstat(candidate.c_str(), &info) != 0) {
            // Look for the same name in another ASCII case.
            if (DIR* directory = opendir(host.c_str())) {
                while (dirent* entry = readdir(directory)) {
                    const std::u16string entryName = FromUtf8(entry->d_name);
                    if (entryName.size() == component.size() &&
                        std::equal(entryName.begin(), entryName.end(), component.begin(),
                                   [](char16_t a, char16_t b) { return UpperAscii(a) == UpperAscii(b); })) {
                        candidate = (host == "/" ? "" : host) + "/" + entry->d_name;
                        break;
                    }
                }
                closedir(directory);
            }
        }
        host = candidate;
    }
    return host;
}

bool WriteDenied(std::u16string_view fullWindowsPath) {
    return std::any_of(Paths().writeDenied.begin(), Paths().writeDenied.end(),
                       [&](const std::u16string& prefix) { return IsAtOrBelow(fullWindowsPath, prefix); }) ||
           AllAccessDenied(fullWindowsPath);
}

bool AllAccessDenied(std::u16string_view fullWindowsPath) {
    return std::any_of(Paths().allDenied.begin(), Paths().allDenied.end(),
                       [&](const std::u16string& prefix) { return IsAtOrBelow(fullWindowsPath, prefix); });
}

}  // namespace detail
}  // namespace sim

namespace win {

DWORD GetCurrentDirectoryW(DWORD bufferLength, LPWSTR buffer) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("GetCurrentDirectoryW", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return 0;
    }
    return sim::CopyOut(sim::Paths().currentDirectory, bufferLength, buffer);
}

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("GetEnvironmentVariableW", 203, &error)) {
        SetLastError(error);
        return 0;
    }
    std::u16string value;
    if (name == nullptr || !sim::detail::LookupEnvironment(name, value)) {
        SetLastError(203);  // ERROR_ENVVAR_NOT_FOUND
        return 0;
    }
    return sim::CopyOut(value, size, buffer);
}

DWORD GetFullPathNameW(LPCWSTR fileName, DWORD bufferLength, LPWSTR buffer, LPWSTR* filePart) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("GetFullPathNameW", ERROR_INVALID_NAME, &error)) {
        SetLastError(error);
        return 0;
    }
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string full = sim::detail::FullWindowsPath(fileName);
    if (full.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    const DWORD result = sim::CopyOut(full, bufferLength, buffer);
    if (filePart != nullptr && result < bufferLength && buffer != nullptr) {
        const std::size_t last = full.find_last_of(u'\\');
        *filePart = (last + 1 < full.size()) ? buffer + last + 1 : nullptr;
    }
    return result;
}

// The documented lookup order: TMP, TEMP, USERPROFILE, the Windows directory.
// The directory is not checked for existence; the result ends in a backslash.
// The variable is read into MAX_PATH units and the full path must leave room
// for the backslash and the terminator: a longer one fails the call with
// ERROR_FILENAME_EXCED_RANGE instead of passing on to the next variable.
DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("GetTempPathW", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return 0;
    }
    std::u16string value;
    bool found = false;
    for (const char16_t* name : {u"TMP", u"TEMP", u"USERPROFILE"}) {
        if (sim::detail::LookupEnvironment(name, value) && !value.empty()) {
            found = true;
            break;
        }
    }
    if (!found && !sim::detail::LookupEnvironment(u"windir", value)) {
        value = u"C:\\windows";
    }
    constexpr std::size_t kMaxPath = 260;
    if (value.size() >= kMaxPath) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    std::u16string full = sim::detail::FullWindowsPath(value);
    if (full.empty()) {
        full = value;
    }
    if (full.size() > kMaxPath - 2) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (full.back() != u'\\') {
        full.push_back(u'\\');
    }
    return sim::CopyOut(full, bufferLength, buffer);
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("GetFileAttributesW", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (fileName == nullptr || *fileName == u'\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (sim::HasInvalidNameCharacter(fileName)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_FILE_ATTRIBUTES;
    }
    const std::u16string full = sim::detail::FullWindowsPath(fileName);
    if (!full.empty() && sim::detail::AllAccessDenied(full)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_FILE_ATTRIBUTES;
    }
    const std::string host = sim::detail::ResolveHostPath(fileName);
    struct stat info {};
    if (host.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    // A link is itself something that exists, whether or not its target does.
    if (lstat(host.c_str(), &info) != 0) {
        const int cause = errno;
        if (cause == EACCES) {
            SetLastError(ERROR_ACCESS_DENIED);
        } else if (cause == ENOTDIR) {
            SetLastError(ERROR_PATH_NOT_FOUND);
        } else {
            const std::string parent = host.substr(0, host.find_last_of('/'));
            struct stat parentInfo {};
            const bool parentIsDirectory =
                parent.empty() || (stat(parent.c_str(), &parentInfo) == 0 && S_ISDIR(parentInfo.st_mode));
            SetLastError(parentIsDirectory ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        }
        return INVALID_FILE_ATTRIBUTES;
    }
    // A name ending in a separator names a folder; a file there is no path.
    const std::u16string_view name(fileName);
    struct stat target {};
    if (sim::IsSeparator(name.back()) && (stat(host.c_str(), &target) != 0 || !S_ISDIR(target.st_mode))) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(info.st_mode)) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    return S_ISLNK(info.st_mode) ? 0x400 /* FILE_ATTRIBUTE_REPARSE_POINT */ : 0x20 /* ARCHIVE */;
}

}  // namespace win
