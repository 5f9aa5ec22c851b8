// Registry and version information: straight to advapi32 and version.dll.
#include "platform/platform.h"
#include "platform/windows/forward.h"

using forward::As;
using forward::Key;
using forward::Wide;

namespace win {

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    return ::RegOpenKeyExW(Key(key), Wide(subKey), options, desired, reinterpret_cast<::PHKEY>(result));
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize) {
    return ::RegQueryValueExW(Key(key), Wide(valueName), As<::DWORD>(reserved), As<::DWORD>(type), data,
                              As<::DWORD>(dataSize));
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) { return ::RegDeleteValueW(Key(key), Wide(valueName)); }
LSTATUS RegCloseKey(HKEY key) { return ::RegCloseKey(Key(key)); }

DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, DWORD* handle) {
    return ::GetFileVersionInfoSizeW(Wide(fileName), As<::DWORD>(handle));
}

BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD handle, DWORD length, LPVOID data) {
    return ::GetFileVersionInfoW(Wide(fileName), handle, length, data);
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length) {
    return ::VerQueryValueW(block, Wide(subBlock), buffer, length);
}

}  // namespace win
