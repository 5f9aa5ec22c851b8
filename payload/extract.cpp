#include "payload/extract.h"

#include <array>
#include <cstdint>

#include "app/entry.h"
#include "common/text.h"
#include "platform/platform.h"

namespace {

constexpr win::DWORD kTempPathChars = 1024;
constexpr std::size_t kMaxTempCandidates = 32767;
// A separator, up to ten digits and the terminator beside directory and prefix.
constexpr std::size_t kNameReserve = 12;

// Raised before every candidate, so the first name of a process ends in 2.
std::uint32_t TempNameCounter = 1;

bool PathExists(const std::u16string& path) {
    return win::GetFileAttributesW(path.c_str()) != win::INVALID_FILE_ATTRIBUTES;
}

// The value of TMP, or nothing when it is unset or empty.
std::u16string ReadTmpVariable() {
    std::array<char16_t, 32768> buffer{};
    const win::DWORD length =
        win::GetEnvironmentVariableW(u"TMP", buffer.data(), static_cast<win::DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return {};
    }
    return {buffer.data(), length};
}

std::u16string WithoutDoubleQuotes(std::u16string_view text) {
    std::u16string result;
    for (char16_t c : text) {
        if (c != u'"') {
            result.push_back(c);
        }
    }
    return result;
}

std::u16string CurrentDirectory() {
    std::array<char16_t, kMaxPathChars> buffer{};
    const win::DWORD length =
        win::GetCurrentDirectoryW(static_cast<win::DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size()) {
        return {};
    }
    return {buffer.data(), length};
}

// The root of the drive of the current directory ("C:\" for "C:\work").
std::u16string CurrentDriveRoot(const std::u16string& currentDirectory) {
    if (currentDirectory.size() >= 2 && currentDirectory[1] == u':') {
        return currentDirectory.substr(0, 2) + u"\\";
    }
    return {};
}

std::u16string ChooseTempDirectory(std::u16string_view directoryHint) {
    std::u16string tmp = ReadTmpVariable();
    if (!tmp.empty()) {
        if (PathExists(tmp)) {
            return tmp;
        }
        std::u16string unquoted = WithoutDoubleQuotes(tmp);
        if (unquoted.size() != tmp.size() && !unquoted.empty() && PathExists(unquoted)) {
            return unquoted;
        }
    }
    std::u16string hint(directoryHint);
    if (!hint.empty() && PathExists(hint)) {
        return hint;
    }
    std::u16string current = CurrentDirectory();
    std::u16string root = CurrentDriveRoot(current);
    if (!root.empty() && PathExists(root)) {
        return root;
    }
    return current;
}

}  // namespace

std::u16string MakeTempName(std::u16string_view directoryHint, std::u16string_view prefix) {
    const std::u16string directory = ChooseTempDirectory(directoryHint);
    if (directory.empty() || directory.size() + prefix.size() + kNameReserve > kMaxPathChars) {
        return {};
    }
    std::u16string stem = directory;
    if (stem.back() != u'\\' && stem.back() != u'/') {
        stem.push_back(u'\\');
    }
    stem.append(prefix);

    for (std::size_t attempt = 0; attempt < kMaxTempCandidates; ++attempt) {
        ++TempNameCounter;
        std::u16string candidate = stem + DecimalText(TempNameCounter);
        // Existing names and names the check is refused for are both passed over.
        if (win::GetFileAttributesW(candidate.c_str()) == win::INVALID_FILE_ATTRIBUTES &&
            win::GetLastError() != win::ERROR_ACCESS_DENIED) {
            return candidate;
        }
    }
    return {};
}

bool ExtractPackage(std::u16string& path) {
    const bool temporary = path.empty();
    if (temporary) {
        std::array<char16_t, kTempPathChars> buffer{};
        const win::DWORD length = win::GetTempPathW(kTempPathChars, buffer.data());
        if (length == 0 || length > kTempPathChars) {
            return false;
        }
        std::u16string name = MakeTempName(std::u16string_view(buffer.data(), length), u"MSP");
        if (name.empty()) {
            return false;
        }
        path = std::move(name);
    }

    win::HRSRC resource = win::FindResourceW(InstanceHandle, u"IDR_MSP", u"MSP");
    if (resource == nullptr) {
        return false;
    }
    const win::DWORD size = win::SizeofResource(InstanceHandle, resource);
    if (size == 0) {
        return false;
    }
    win::HGLOBAL loaded = win::LoadResource(InstanceHandle, resource);
    if (loaded == nullptr) {
        return false;
    }
    const void* bytes = win::LockResource(loaded);
    if (bytes == nullptr) {
        return false;
    }

    // A temporary name is created exclusively: whatever appeared at that name
    // since it was chosen, a planted link included, is never written through.
    win::HANDLE file = win::CreateFileW(
        path.c_str(), win::GENERIC_WRITE, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, nullptr,
        temporary ? win::CREATE_NEW : win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == win::INVALID_HANDLE_VALUE) {
        return false;
    }
    // One request straight from the resource image: no copy, no reading back.
    win::DWORD written = 0;
    const win::BOOL wrote = win::WriteFile(file, bytes, size, &written, nullptr);
    win::CloseHandle(file);
    return wrote != win::FALSE && written == size;
}
