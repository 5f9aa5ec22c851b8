// Simulated version library: GetFileVersionInfoSizeW and GetFileVersionInfoW
// read the version resource (RT_VERSION) of a Windows PE file through its
// headers, section table and resource directory tree; VerQueryValueW walks the
// copied block. Every offset a file supplies is checked before it is used, so a
// truncated or hostile file fails the call instead of being read out of bounds.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/simulated/sim.h"
#include "platform/simulated/state.h"

namespace sim {
namespace {

detail::FailableRegistration registerGetFileVersionInfoSizeW("GetFileVersionInfoSizeW");
detail::FailableRegistration registerGetFileVersionInfoW("GetFileVersionInfoW");
detail::FailableRegistration registerVerQueryValueW("VerQueryValueW");

constexpr win::DWORD kErrorInvalidData = 13;
constexpr win::WORD kVersionInfoName = 1;  // VS_VERSION_INFO
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000U;
// A version node: wLength, wValueLength, wType, then its key.
constexpr std::size_t kNodeHeaderBytes = 6;

// Little-endian reads that refuse to leave the bytes they are given.
struct Bytes {
    const std::uint8_t* data = nullptr;
    std::uint64_t size = 0;
};

bool Read16(const Bytes& bytes, std::uint64_t offset, std::uint16_t& value) {
    if (offset > bytes.size || bytes.size - offset < 2) {
        return false;
    }
    value = static_cast<std::uint16_t>(bytes.data[offset] | (bytes.data[offset + 1] << 8));
    return true;
}

bool Read32(const Bytes& bytes, std::uint64_t offset, std::uint32_t& value) {
    std::uint16_t low = 0;
    std::uint16_t high = 0;
    if (!Read16(bytes, offset, low) || !Read16(bytes, offset + 2, high)) {
        return false;
    }
    value = static_cast<std::uint32_t>(low) | (static_cast<std::uint32_t>(high) << 16);
    return true;
}

// The whole file, or the error that opening it gives.
bool ReadWholeFile(win::LPCWSTR fileName, std::vector<std::uint8_t>& contents, win::DWORD& error) {
    if (fileName == nullptr) {
        error = win::ERROR_INVALID_PARAMETER;
        return false;
    }
    const std::u16string full = detail::FullWindowsPath(fileName);
    if (full.empty()) {
        error = win::ERROR_INVALID_NAME;
        return false;
    }
    if (detail::AllAccessDenied(full)) {
        error = win::ERROR_ACCESS_DENIED;
        return false;
    }
    const std::string host = detail::ResolveHostPath(full);
    struct stat info {};
    if (host.empty() || stat(host.c_str(), &info) != 0) {
        const std::string parent = host.substr(0, host.find_last_of('/'));
        struct stat parentInfo {};
        const bool parentExists =
            !host.empty() && stat(parent.c_str(), &parentInfo) == 0 && S_ISDIR(parentInfo.st_mode);
        error = parentExists ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND;
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = win::ERROR_ACCESS_DENIED;
        return false;
    }
    std::ifstream in(host, std::ios::binary);
    if (!in) {
        error = win::ERROR_ACCESS_DENIED;
        return false;
    }
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;  // the part of the raw data the file really holds
    std::uint32_t rawOffset = 0;
};

struct Image {
    Bytes file;
    std::vector<Section> sections;
    std::uint32_t resourceRva = 0;
};

// The file offset of length bytes at rva, when one section's raw data holds them all.
bool OffsetOfRva(const Image& image, std::uint64_t rva, std::uint64_t length, std::uint64_t& offset) {
    for (const Section& section : image.sections) {
        if (rva >= section.virtualAddress && rva - section.virtualAddress <= section.rawSize &&
            length <= section.rawSize - (rva - section.virtualAddress)) {
            offset = section.rawOffset + (rva - section.virtualAddress);
            return true;
        }
    }
    return false;
}

// DOS header, PE signature, file and optional headers, the resource data
// directory and the section table. Error 1812 when any of it is missing.
win::DWORD ParseImage(const Bytes& file, Image& image) {
    image.file = file;
    std::uint16_t dosMagic = 0;
    std::uint32_t peOffset = 0;
    std::uint32_t signature = 0;
    if (!Read16(file, 0, dosMagic) || dosMagic != 0x5A4D || !Read32(file, 0x3C, peOffset) ||
        !Read32(file, peOffset, signature) || signature != 0x00004550) {
        return win::ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    const std::uint64_t fileHeader = std::uint64_t{peOffset} + 4;
    std::uint16_t sectionCount = 0;
    std::uint16_t optionalHeaderSize = 0;
    std::uint16_t optionalMagic = 0;
    if (!Read16(file, fileHeader + 2, sectionCount) || !Read16(file, fileHeader + 16, optionalHeaderSize)) {
        return win::ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    const std::uint64_t optionalHeader = fileHeader + 20;
    if (!Read16(file, optionalHeader, optionalMagic)) {
        return win::ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    // PE32 and PE32+ differ in where the data directories begin.
    std::uint64_t directoryCountField = 0;
    if (optionalMagic == 0x10B) {
        directoryCountField = 92;
    } else if (optionalMagic == 0x20B) {
        directoryCountField = 108;
    } else {
        return win::ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    const std::uint64_t resourceDirectoryField = directoryCountField + 4 + 2 * 8;
    std::uint32_t directoryCount = 0;
    std::uint32_t resourceSize = 0;
    if (resourceDirectoryField + 8 > optionalHeaderSize ||
        !Read32(file, optionalHeader + directoryCountField, directoryCount) || directoryCount < 3 ||
        !Read32(file, optionalHeader + resourceDirectoryField, image.resourceRva) ||
        !Read32(file, optionalHeader + resourceDirectoryField + 4, resourceSize) || image.resourceRva == 0 ||
        resourceSize == 0) {
        return win::ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    const std::uint64_t sectionTable = optionalHeader + optionalHeaderSize;
    for (std::uint16_t index = 0; index < sectionCount; ++index) {
        const std::uint64_t entry = sectionTable + std::uint64_t{index} * 40;
        std::uint32_t rawSize = 0;
        Section section;
        if (!Read32(file, entry + 12, section.virtualAddress) || !Read32(file, entry + 16, rawSize) ||
            !Read32(file, entry + 20, section.rawOffset)) {
            return win::ERROR_RESOURCE_DATA_NOT_FOUND;
        }
        const std::uint64_t available = section.rawOffset <= file.size ? file.size - section.rawOffset : 0;
        section.rawSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(rawSize, available));
        image.sections.push_back(section);
    }
    return win::ERROR_SUCCESS;
}

// The entries of the resource directory at offset (from the resource root):
// their file offset and count, when the whole table lies in the file.
bool DirectoryEntries(const Image& image, std::uint32_t offset, std::uint64_t& entries,
                      std::uint32_t& count) {
    std::uint64_t table = 0;
    std::uint16_t named = 0;
    std::uint16_t numbered = 0;
    if (!OffsetOfRva(image, std::uint64_t{image.resourceRva} + offset, 16, table) ||
        !Read16(image.file, table + 12, named) || !Read16(image.file, table + 14, numbered)) {
        return false;
    }
    count = std::uint32_t{named} + numbered;
    return OffsetOfRva(image, std::uint64_t{image.resourceRva} + offset + 16, std::uint64_t{count} * 8,
                       entries);
}

// The subdirectory under the entry named by id. Error 0 when found, notFound
// when no entry has the id, 1812 when the tree is damaged.
win::DWORD FindSubdirectory(const Image& image, std::uint32_t directory, win::WORD id, win::DWORD notFound,
                            std::uint32_t& subdirectory) {
    std::uint64_t entries = 0;
    std::uint32_t count = 0;
    if (!DirectoryEntries(image, directory, entries, count)) {
        return win::ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    for (std::uint32_t index = 0; index < count; ++index) {
        std::uint32_t name = 0;
        std::uint32_t target = 0;
        Read32(image.file, entries + std::uint64_t{index} * 8, name);
        Read32(image.file, entries + std::uint64_t{index} * 8 + 4, target);
        if (name == id) {
            if ((target & kSubdirectoryFlag) == 0) {
                return win::ERROR_RESOURCE_DATA_NOT_FOUND;
            }
            subdirectory = target & ~kSubdirectoryFlag;
            return win::ERROR_SUCCESS;
        }
    }
    return notFound;
}

// The data entry of the language the loader would pick: neutral, the thread
// locale's language, its primary language, the user default, its primary
// language, English (United States), and at last the first entry.
win::DWORD ChooseLanguage(const Image& image, std::uint32_t directory, std::uint32_t& dataEntry) {
    std::uint64_t entries = 0;
    std::uint32_t count = 0;
    if (!DirectoryEntries(image, directory, entries, count)) {
        return win::ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    if (count == 0) {
        return win::ERROR_RESOURCE_LANG_NOT_FOUND;
    }
    const win::LANGID thread = win::LANGIDFROMLCID(win::GetThreadLocale());
    const win::LANGID user = win::LANGIDFROMLCID(UserDefaultLocale());
    const std::uint32_t order[] = {
        0,
        thread,
        win::MAKELANGID(win::PRIMARYLANGID(thread), 0),
        user,
        win::MAKELANGID(win::PRIMARYLANGID(user), 0),
        0x0409,
    };
    std::uint32_t chosen = 0;
    bool found = false;
    for (std::uint32_t language : order) {
        for (std::uint32_t index = 0; index < count && !found; ++index) {
            std::uint32_t name = 1;
            Read32(image.file, entries + std::uint64_t{index} * 8, name);
            if (name == language) {
                chosen = index;
                found = true;
            }
        }
    }
    std::uint32_t target = 0;
    Read32(image.file, entries + std::uint64_t{chosen} * 8 + 4, target);
    if ((target & kSubdirectoryFlag) != 0) {
        return win::ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    dataEntry = target;
    return win::ERROR_SUCCESS;
}

// Where the version resource of a PE file lies in it, and the length of its
// root block (at most the resource's size). Error 0 when found.
win::DWORD LocateVersionResource(const std::vector<std::uint8_t>& contents, std::uint64_t& offset,
                                 std::uint32_t& rootLength) {
    Image image;
    win::DWORD error = ParseImage(Bytes{contents.data(), contents.size()}, image);
    std::uint32_t names = 0;
    std::uint32_t languages = 0;
    std::uint32_t dataEntry = 0;
    if (error == win::ERROR_SUCCESS) {
        error = FindSubdirectory(image, 0, win::RT_VERSION_ID, win::ERROR_RESOURCE_TYPE_NOT_FOUND, names);
    }
    if (error == win::ERROR_SUCCESS) {
        error =
            FindSubdirectory(image, names, kVersionInfoName, win::ERROR_RESOURCE_NAME_NOT_FOUND, languages);
    }
    if (error == win::ERROR_SUCCESS) {
        error = ChooseLanguage(image, languages, dataEntry);
    }
    if (error != win::ERROR_SUCCESS) {
        return error;
    }
    std::uint64_t entry = 0;
    std::uint32_t dataRva = 0;
    std::uint32_t dataSize = 0;
    std::uint16_t declaredLength = 0;
    if (!OffsetOfRva(image, std::uint64_t{image.resourceRva} + dataEntry, 16, entry) ||
        !Read32(image.file, entry, dataRva) || !Read32(image.file, entry + 4, dataSize) ||
        !OffsetOfRva(image, dataRva, dataSize, offset) || !Read16(image.file, offset, declaredLength)) {
        return win::ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    rootLength = std::min<std::uint32_t>(declaredLength, dataSize);
    if (rootLength < kNodeHeaderBytes) {
        return win::ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    return win::ERROR_SUCCESS;
}

// One node of a version block: its extent, key and value, all inside the block.
struct VersionNode {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::u16string key;
    std::uint64_t valueStart = 0;
    std::uint16_t valueLength = 0;  // as stored: characters for text, bytes otherwise
    std::uint64_t childrenStart = 0;
};

std::uint64_t AlignTo4(std::uint64_t offset) {
    return (offset + 3) & ~std::uint64_t{3};
}

bool ReadNode(const Bytes& block, std::uint64_t start, std::uint64_t limit, VersionNode& node) {
    std::uint16_t length = 0;
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;
    if (!Read16(block, start, length) || !Read16(block, start + 2, valueLength) ||
        !Read16(block, start + 4, type) || length < kNodeHeaderBytes || start + length > limit) {
        return false;
    }
    node.start = start;
    node.end = start + length;
    const Bytes inside{block.data, node.end};
    std::uint64_t position = start + kNodeHeaderBytes;
    node.key.clear();
    while (true) {
        std::uint16_t unit = 0;
        if (!Read16(inside, position, unit)) {
            return false;
        }
        position += 2;
        if (unit == 0) {
            break;
        }
        node.key.push_back(static_cast<char16_t>(unit));
    }
    node.valueStart = AlignTo4(position);
    node.valueLength = valueLength;
    const std::uint64_t valueBytes = type == 1 ? std::uint64_t{valueLength} * 2 : valueLength;
    if (valueBytes > 0 && (node.valueStart > node.end || valueBytes > node.end - node.valueStart)) {
        return false;
    }
    node.childrenStart = AlignTo4(node.valueStart + valueBytes);
    return true;
}

bool KeysMatch(std::u16string_view key, std::u16string_view wanted) {
    auto fold = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
    return key.size() == wanted.size() &&
           std::equal(key.begin(), key.end(), wanted.begin(),
                      [&](char16_t a, char16_t b) { return fold(a) == fold(b); });
}

bool FindChildNode(const Bytes& block, const VersionNode& parent, std::u16string_view key,
                   VersionNode& child) {
    std::uint64_t position = parent.childrenStart;
    while (position + kNodeHeaderBytes <= parent.end) {
        if (!ReadNode(block, position, parent.end, child)) {
            return false;
        }
        if (KeysMatch(child.key, key)) {
            return true;
        }
        position = AlignTo4(child.end);
    }
    return false;
}

}  // namespace
}  // namespace sim

namespace win {

DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, DWORD* handle) {
    if (handle != nullptr) {
        *handle = 0;
    }
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("GetFileVersionInfoSizeW", ERROR_RESOURCE_TYPE_NOT_FOUND, &error)) {
        SetLastError(error);
        return 0;
    }
    std::vector<std::uint8_t> contents;
    DWORD failure = ERROR_SUCCESS;
    std::uint64_t offset = 0;
    std::uint32_t rootLength = 0;
    if (!sim::ReadWholeFile(fileName, contents, failure) ||
        (failure = sim::LocateVersionResource(contents, offset, rootLength)) != ERROR_SUCCESS) {
        SetLastError(failure);
        return 0;
    }
    // Room for the block and for the narrow copy the library keeps behind it.
    return rootLength * 2 + 4;
}

BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD /*handle*/, DWORD length, LPVOID data) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("GetFileVersionInfoW", ERROR_RESOURCE_TYPE_NOT_FOUND, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (data == nullptr) {
        SetLastError(sim::kErrorInvalidData);
        return FALSE;
    }
    // Too small for the root's header: nothing could be queried from it.
    if (length < sim::kNodeHeaderBytes) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::vector<std::uint8_t> contents;
    DWORD failure = ERROR_SUCCESS;
    std::uint64_t offset = 0;
    std::uint32_t rootLength = 0;
    if (!sim::ReadWholeFile(fileName, contents, failure) ||
        (failure = sim::LocateVersionResource(contents, offset, rootLength)) != ERROR_SUCCESS) {
        SetLastError(failure);
        return FALSE;
    }
    // A short buffer gets the start of the block; the copy's root length is
    // what it holds, so queries stay inside the caller's buffer.
    const std::uint32_t copied = std::min<std::uint32_t>(rootLength, length);
    auto* bytes = static_cast<std::uint8_t*>(data);
    std::memcpy(bytes, contents.data() + offset, copied);
    bytes[0] = static_cast<std::uint8_t>(copied & 0xFF);
    bytes[1] = static_cast<std::uint8_t>(copied >> 8);
    return TRUE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length) {
    if (buffer != nullptr) {
        *buffer = nullptr;
    }
    if (length != nullptr) {
        *length = 0;
    }
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("VerQueryValueW", ERROR_RESOURCE_TYPE_NOT_FOUND, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (block == nullptr || subBlock == nullptr || buffer == nullptr || length == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The block is as long as its root says; nothing beyond it is read.
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    const sim::Bytes whole{bytes, static_cast<std::uint64_t>(bytes[0] | (bytes[1] << 8))};
    sim::VersionNode node;
    if (!sim::ReadNode(whole, 0, whole.size, node)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    // "\" names the root; each further component names a child by its key.
    const std::u16string_view path(subBlock);
    std::size_t position = 0;
    while (position < path.size()) {
        const std::size_t separator = std::min(path.find(u'\\', position), path.size());
        const std::u16string_view component = path.substr(position, separator - position);
        position = separator + 1;
        if (component.empty()) {
            continue;
        }
        sim::VersionNode child;
        if (!sim::FindChildNode(whole, node, component, child)) {
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return FALSE;
        }
        node = child;
    }
    if (node.valueLength == 0) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    *buffer = const_cast<std::uint8_t*>(bytes + node.valueStart);
    *length = node.valueLength;
    return TRUE;
}

}  // namespace win
