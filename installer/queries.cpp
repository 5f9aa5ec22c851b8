#include "installer/queries.h"

#include <cstdint>

#include "common/text.h"
#include "platform/platform.h"

namespace {

constexpr win::DWORD kAbsolutePathChars = 260;

// Closes the summary-information handle once, on every way out of the scope.
struct SummaryHandleHolder {
    win::MSIHANDLE handle = 0;

    SummaryHandleHolder() = default;
    SummaryHandleHolder(const SummaryHandleHolder&) = delete;
    SummaryHandleHolder& operator=(const SummaryHandleHolder&) = delete;
    ~SummaryHandleHolder() {
        if (handle != 0) {
            win::MsiCloseHandle(handle);
        }
    }
};

win::UINT ReadTemplateProperty(win::MSIHANDLE handle, std::u16string& buffer, win::DWORD& count) {
    win::UINT dataType = 0;
    win::INT integerValue = 0;
    win::FILETIME fileTime{};
    return win::MsiSummaryInfoGetPropertyW(handle, win::PID_TEMPLATE, &dataType, &integerValue, &fileTime,
                                           buffer.data(), &count);
}

// The product property's text. The buffer is cleared first, so a failed query
// gives an empty text rather than what an earlier one left there.
std::u16string QueryProductProperty(const std::u16string& productCode, const char16_t* property,
                                    std::u16string& buffer) {
    buffer.assign(kProductPropertyChars, u'\0');
    win::DWORD count = kProductPropertyChars;
    win::MsiGetProductInfoW(productCode.c_str(), property, buffer.data(), &count);
    return TextOfBuffer(buffer.data(), buffer.size());
}

}  // namespace

// The path is taken by value: nothing done here can reach the caller's text.
bool ReadPatchTargets(std::u16string packagePath,  // NOLINT(performance-unnecessary-value-param)
                      std::u16string& targetList) {
    std::u16string absolutePath(kAbsolutePathChars, u'\0');
    win::LPWSTR filePart = nullptr;
    const win::DWORD length =
        win::GetFullPathNameW(packagePath.c_str(), kAbsolutePathChars, absolutePath.data(), &filePart);
    if (length == 0 || length >= kAbsolutePathChars) {
        return false;
    }

    SummaryHandleHolder summary;
    if (win::MsiGetSummaryInformationW(0, absolutePath.c_str(), 0, &summary.handle) != win::ERROR_SUCCESS) {
        // Nothing to close: a failed open hands out no handle, whatever it wrote.
        summary.handle = 0;
        return false;
    }

    std::u16string buffer(kTargetListChars, u'\0');
    win::DWORD count = kTargetListChars;
    win::UINT result = ReadTemplateProperty(summary.handle, buffer, count);
    if (result == win::ERROR_MORE_DATA) {
        // Room for the reported length and the terminator; a length that leaves
        // no room for it cannot be read.
        if (count == UINT32_MAX) {
            return false;
        }
        const win::DWORD grown = count + 1;
        buffer.assign(grown, u'\0');
        count = grown;
        result = ReadTemplateProperty(summary.handle, buffer, count);
    }
    if (result != win::ERROR_SUCCESS) {
        return false;
    }
    targetList = TextOfBuffer(buffer.data(), buffer.size());
    return true;
}

bool IsProductInstalled(const std::u16string& productCode) {
    const win::INSTALLSTATE state = win::MsiQueryProductStateW(productCode.c_str());
    return state == win::INSTALLSTATE_ADVERTISED || state == win::INSTALLSTATE_DEFAULT;
}

std::u16string GetInstalledVersion(const std::u16string& productCode) {
    std::u16string buffer;
    return QueryProductProperty(productCode, u"VersionString", buffer);
}

bool GetProductNameAndLanguage(const std::u16string& productCode, std::u16string& productName,
                               std::u16string& language) {
    std::u16string buffer;
    productName = QueryProductProperty(productCode, u"ProductName", buffer);
    language = QueryProductProperty(productCode, u"Language", buffer);
    return true;
}
