// The subset of the Windows API that spinstall uses, declared under the Windows
// names and with the documented signatures. Two backends implement it:
// platform/windows/ forwards to the real API, platform/simulated/ is a simulated
// Windows for Linux. The backend is chosen at build time.
//
// Everything lives in namespace win so that the Windows backend can include
// <windows.h> beside this header without clashes. Text is UTF-16 as char16_t.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using SIZE_T = std::size_t;
using UINT_PTR = std::uintptr_t;
using WCHAR = char16_t;
using LANGID = WORD;
using LCID = DWORD;
using LSTATUS = LONG;
using REGSAM = DWORD;
using LPCWSTR = const WCHAR*;
using LPWSTR = WCHAR*;
using LPVOID = void*;
using LPCVOID = const void*;

struct HINSTANCE__;
struct HRSRC__;
struct HWND__;
struct HKEY__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HRSRC = HRSRC__*;
using HWND = HWND__*;
using HKEY = HKEY__*;
using HANDLE = void*;
using HGLOBAL = void*;
using PHKEY = HKEY*;

using MSIHANDLE = std::uint32_t;
using INSTALLSTATE = int;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

struct SECURITY_ATTRIBUTES;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// Error codes.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_BAD_NETPATH = 53;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;
constexpr DWORD ERROR_INSTALL_FAILURE = 1603;
constexpr DWORD ERROR_UNKNOWN_PRODUCT = 1605;
constexpr DWORD ERROR_UNKNOWN_PROPERTY = 1608;
constexpr DWORD ERROR_BAD_CONFIGURATION = 1610;
constexpr DWORD ERROR_INSTALL_PACKAGE_OPEN_FAILED = 1619;
constexpr DWORD ERROR_INSTALL_PACKAGE_INVALID = 1620;
constexpr DWORD ERROR_PATCH_PACKAGE_OPEN_FAILED = 1635;
constexpr DWORD ERROR_PATCH_PACKAGE_INVALID = 1636;
constexpr DWORD ERROR_INVALID_COMMAND_LINE = 1639;
constexpr DWORD ERROR_PATCH_TARGET_NOT_FOUND = 1642;
constexpr DWORD ERROR_RESOURCE_NOT_FOUND = ERROR_RESOURCE_NAME_NOT_FOUND;

// Files.
constexpr DWORD GENERIC_READ = 0x80000000U;
constexpr DWORD GENERIC_WRITE = 0x40000000U;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFU;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFU;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~UINT_PTR{0});

// Registry.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(UINT_PTR{0x80000000U});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(UINT_PTR{0x80000001U});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(UINT_PTR{0x80000002U});
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Global memory.
constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;

// Message boxes.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_SETFOREGROUND = 0x00010000;
constexpr UINT MB_TOPMOST = 0x00040000;
constexpr int IDOK = 1;

// Locales.
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// Installer.
constexpr INSTALLSTATE INSTALLSTATE_INVALIDARG = -2;
constexpr INSTALLSTATE INSTALLSTATE_UNKNOWN = -1;
constexpr INSTALLSTATE INSTALLSTATE_ADVERTISED = 1;
constexpr INSTALLSTATE INSTALLSTATE_ABSENT = 2;
constexpr INSTALLSTATE INSTALLSTATE_DEFAULT = 5;
constexpr int INSTALLLEVEL_DEFAULT = 0;
constexpr UINT PID_TEMPLATE = 7;
constexpr UINT PID_REVNUMBER = 9;

// Resource types.
inline LPCWSTR MAKEINTRESOURCEW(WORD id) { return reinterpret_cast<LPCWSTR>(static_cast<UINT_PTR>(id)); }
inline bool IS_INTRESOURCE(LPCWSTR name) { return (reinterpret_cast<UINT_PTR>(name) >> 16) == 0; }
constexpr WORD RT_STRING_ID = 6;
constexpr WORD RT_VERSION_ID = 16;

constexpr WORD LOWORD(DWORD value) { return static_cast<WORD>(value & 0xFFFF); }
constexpr WORD HIWORD(DWORD value) { return static_cast<WORD>(value >> 16); }
constexpr LANGID LANGIDFROMLCID(LCID lcid) { return static_cast<LANGID>(lcid & 0xFFFF); }
constexpr WORD PRIMARYLANGID(LANGID lang) { return static_cast<WORD>(lang & 0x3FF); }
constexpr WORD SUBLANGID(LANGID lang) { return static_cast<WORD>(lang >> 10); }
constexpr LANGID MAKELANGID(WORD primary, WORD sub) { return static_cast<LANGID>((sub << 10) | primary); }

// Process and thread (kernel32, shell32).
LPWSTR GetCommandLineW();
LPWSTR* CommandLineToArgvW(LPCWSTR commandLine, int* argumentCount);
DWORD GetLastError();
void SetLastError(DWORD errorCode);
BOOL SetThreadLocale(LCID locale);
LCID GetThreadLocale();

// Global memory (kernel32).
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL memory);
BOOL GlobalUnlock(HGLOBAL memory);
HGLOBAL GlobalFree(HGLOBAL memory);

// Resources of a module (kernel32, user32).
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
DWORD SizeofResource(HMODULE module, HRSRC resource);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL resourceData);
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);

// Files and paths (kernel32).
DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer);
DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
DWORD GetCurrentDirectoryW(DWORD bufferLength, LPWSTR buffer);
DWORD GetFileAttributesW(LPCWSTR fileName);
DWORD GetFullPathNameW(LPCWSTR fileName, DWORD bufferLength, LPWSTR buffer, LPWSTR* filePart);
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, SECURITY_ATTRIBUTES* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD moveMethod);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, DWORD* bytesWritten, void* overlapped);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileW(LPCWSTR fileName);

// Registry (advapi32).
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);
LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName);
LSTATUS RegCloseKey(HKEY key);

// Version library (version.dll).
DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, DWORD* handle);
BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD handle, DWORD length, LPVOID data);
BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length);

// Windows Installer (msi.dll).
UINT MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR databasePath, UINT updateCount, MSIHANDLE* summaryInfo);
UINT MsiSummaryInfoGetPropertyW(MSIHANDLE summaryInfo, UINT property, UINT* dataType, INT* integerValue,
                                FILETIME* fileTimeValue, LPWSTR valueBuffer, DWORD* valueLength);
UINT MsiCloseHandle(MSIHANDLE handle);
INSTALLSTATE MsiQueryProductStateW(LPCWSTR product);
UINT MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR valueBuffer, DWORD* valueLength);
UINT MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE installState, LPCWSTR commandLine);

// User interface (user32).
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

}  // namespace win
