// Process, thread, memory, resources and files: straight to kernel32 and shell32.
#include "platform/platform.h"
#include "platform/windows/forward.h"

using forward::As;
using forward::Module;
using forward::Wide;

namespace win {

LPWSTR GetCommandLineW() { return As<WCHAR>(::GetCommandLineW()); }

LPWSTR* CommandLineToArgvW(LPCWSTR commandLine, int* argumentCount) {
    return reinterpret_cast<LPWSTR*>(::CommandLineToArgvW(Wide(commandLine), argumentCount));
}

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD errorCode) { ::SetLastError(errorCode); }
BOOL SetThreadLocale(LCID locale) { return ::SetThreadLocale(locale); }
LCID GetThreadLocale() { return ::GetThreadLocale(); }

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) { return ::GlobalAlloc(flags, bytes); }
LPVOID GlobalLock(HGLOBAL memory) { return ::GlobalLock(memory); }
BOOL GlobalUnlock(HGLOBAL memory) { return ::GlobalUnlock(memory); }
HGLOBAL GlobalFree(HGLOBAL memory) { return ::GlobalFree(memory); }

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    return reinterpret_cast<HRSRC>(::FindResourceW(Module(module), Wide(name), Wide(type)));
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    return ::SizeofResource(Module(module), reinterpret_cast<::HRSRC>(resource));
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    return ::LoadResource(Module(module), reinterpret_cast<::HRSRC>(resource));
}

LPVOID LockResource(HGLOBAL resourceData) { return ::LockResource(resourceData); }

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
    return ::LoadStringW(Module(instance), id, Wide(buffer), bufferMax);
}

DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer) { return ::GetTempPathW(bufferLength, Wide(buffer)); }

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    return ::GetEnvironmentVariableW(Wide(name), Wide(buffer), size);
}

DWORD GetCurrentDirectoryW(DWORD bufferLength, LPWSTR buffer) {
    return ::GetCurrentDirectoryW(bufferLength, Wide(buffer));
}

DWORD GetFileAttributesW(LPCWSTR fileName) { return ::GetFileAttributesW(Wide(fileName)); }

DWORD GetFullPathNameW(LPCWSTR fileName, DWORD bufferLength, LPWSTR buffer, LPWSTR* filePart) {
    return ::GetFullPathNameW(Wide(fileName), bufferLength, Wide(buffer), reinterpret_cast<::LPWSTR*>(filePart));
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, SECURITY_ATTRIBUTES* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    return ::CreateFileW(Wide(fileName), desiredAccess, shareMode,
                         reinterpret_cast<::LPSECURITY_ATTRIBUTES>(securityAttributes), creationDisposition,
                         flagsAndAttributes, templateFile);
}

DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD moveMethod) {
    return ::SetFilePointer(file, distanceToMove, As<::LONG>(distanceToMoveHigh), moveMethod);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, DWORD* bytesWritten, void* overlapped) {
    return ::WriteFile(file, buffer, bytesToWrite, As<::DWORD>(bytesWritten), static_cast<::LPOVERLAPPED>(overlapped));
}

BOOL CloseHandle(HANDLE object) { return ::CloseHandle(object); }
BOOL DeleteFileW(LPCWSTR fileName) { return ::DeleteFileW(Wide(fileName)); }

}  // namespace win
