// The Windows Installer service and message boxes: straight to msi.dll and user32.
#include "platform/platform.h"
#include "platform/windows/forward.h"

using forward::As;
using forward::Wide;

namespace win {

UINT MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR databasePath, UINT updateCount, MSIHANDLE* summaryInfo) {
    return ::MsiGetSummaryInformationW(database, Wide(databasePath), updateCount, As<::MSIHANDLE>(summaryInfo));
}

UINT MsiSummaryInfoGetPropertyW(MSIHANDLE summaryInfo, UINT property, UINT* dataType, INT* integerValue,
                                FILETIME* fileTimeValue, LPWSTR valueBuffer, DWORD* valueLength) {
    return ::MsiSummaryInfoGetPropertyW(summaryInfo, property, dataType, integerValue, As<::FILETIME>(fileTimeValue),
                                        Wide(valueBuffer), As<::DWORD>(valueLength));
}

UINT MsiCloseHandle(MSIHANDLE handle) { return ::MsiCloseHandle(handle); }

INSTALLSTATE MsiQueryProductStateW(LPCWSTR product) { return ::MsiQueryProductStateW(Wide(product)); }

UINT MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR valueBuffer, DWORD* valueLength) {
    return ::MsiGetProductInfoW(Wide(product), Wide(property), Wide(valueBuffer), As<::DWORD>(valueLength));
}

UINT MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE installState, LPCWSTR commandLine) {
    return ::MsiConfigureProductExW(Wide(product), installLevel, static_cast<::INSTALLSTATE>(installState),
                                    Wide(commandLine));
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    return ::MessageBoxW(reinterpret_cast<::HWND>(owner), Wide(text), Wide(caption), type);
}

}  // namespace win
