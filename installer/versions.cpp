#include "installer/versions.h"

#include <cstring>

#include "common/text.h"
#include "platform/platform.h"

namespace {

// The wide text-to-integer conversion, reduced to 16 bits. WideTextToInt wraps
// modulo 2^32, a multiple of 65536, so the low 16 bits are the digits' value
// modulo 65536, negated modulo 65536 after a "-".
std::uint16_t ConvertPart(std::u16string_view text) {
    return static_cast<std::uint16_t>(WideTextToInt(text));
}

}  // namespace

FourPartVersion ParseVersion(std::u16string text) {
    for (char16_t& c : text) {
        if (c == u',') {
            c = u'.';
        }
    }
    FourPartVersion version;
    std::uint16_t* const leadingParts[] = {&version.major, &version.minor, &version.build};
    std::u16string_view remaining = text;
    for (std::uint16_t* part : leadingParts) {
        const std::size_t dot = remaining.find(u'.');
        if (dot == std::u16string_view::npos) {
            return version;
        }
        *part = ConvertPart(remaining.substr(0, dot));
        remaining.remove_prefix(dot + 1);
    }
    version.revision = ConvertPart(remaining);
    return version;
}

bool VersionsEqual(const FourPartVersion& left, const FourPartVersion& right) {
    return left.major == right.major && left.minor == right.minor && left.build == right.build &&
           left.revision == right.revision;
}

bool VersionsDiffer(const FourPartVersion& left, const FourPartVersion& right) {
    return !VersionsEqual(left, right);
}

namespace {

// The root record of a locked version block, when the query gave a whole one
// inside the block. A root without a full value is not a fixed-info record.
bool ReadFixedInfo(const win::BYTE* block, win::DWORD blockSize, win::VS_FIXEDFILEINFO& fixedInfo) {
    win::LPVOID record = nullptr;
    win::UINT recordLength = 0;
    if (!win::VerQueryValueW(block, u"\\", &record, &recordLength) || record == nullptr ||
        recordLength < sizeof(win::VS_FIXEDFILEINFO)) {
        return false;
    }
    const auto* start = static_cast<const win::BYTE*>(record);
    if (start < block ||
        static_cast<std::size_t>(start - block) + sizeof(win::VS_FIXEDFILEINFO) > blockSize) {
        return false;
    }
    // The record need not be aligned inside the block.
    std::memcpy(&fixedInfo, start, sizeof(fixedInfo));
    return true;
}

}  // namespace

bool GetModuleFileVersion(const std::u16string& filePath, std::u16string& versionText) {
    win::DWORD unusedHandle = 0;
    const win::DWORD size = win::GetFileVersionInfoSizeW(filePath.c_str(), &unusedHandle);
    if (size == 0) {
        return false;
    }
    win::HGLOBAL memory = win::GlobalAlloc(win::GMEM_MOVEABLE, size);
    if (memory == nullptr) {
        return false;
    }
    // Only the record is kept, so the block is released before any text is made.
    win::VS_FIXEDFILEINFO fixedInfo{};
    bool haveFixedInfo = false;
    auto* block = static_cast<win::BYTE*>(win::GlobalLock(memory));
    if (block != nullptr) {
        haveFixedInfo = win::GetFileVersionInfoW(filePath.c_str(), 0, size, block) &&
                        ReadFixedInfo(block, size, fixedInfo);
        win::GlobalUnlock(memory);
    }
    win::GlobalFree(memory);
    if (!haveFixedInfo) {
        return false;
    }
    std::u16string text = DecimalText(win::HIWORD(fixedInfo.dwFileVersionMS));
    text += u'.';
    text += DecimalText(win::LOWORD(fixedInfo.dwFileVersionMS));
    text += u'.';
    text += DecimalText(win::HIWORD(fixedInfo.dwFileVersionLS));
    text += u'.';
    text += DecimalText(win::LOWORD(fixedInfo.dwFileVersionLS));
    versionText = std::move(text);
    return true;
}
