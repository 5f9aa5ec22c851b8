// The real Windows headers beside ours, and conversions between the types of
// platform/platform.h and theirs. Ours come first: their macros (FALSE,
// HKEY_CLASSES_ROOT, ...) would otherwise rewrite our declarations.
#pragma once

#include "platform/platform.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shellapi.h>

#include <type_traits>

namespace forward {

// Reinterprets a pointer between two pointee types of the same size, such as
// char16_t and wchar_t, or our 32-bit DWORD and the headers' unsigned long.
template <typename To, typename From>
To* As(From* pointer) {
    static_assert(sizeof(std::remove_cv_t<To>) == sizeof(std::remove_cv_t<From>) ||
                      std::is_void_v<To> || std::is_void_v<From>,
                  "pointee sizes differ");
    return reinterpret_cast<To*>(pointer);
}

inline const wchar_t* Wide(const char16_t* text) { return As<const wchar_t>(text); }
inline wchar_t* Wide(char16_t* text) { return As<wchar_t>(text); }

inline ::HMODULE Module(win::HMODULE module) { return reinterpret_cast<::HMODULE>(module); }

// The headers sign-extend the predefined keys (0xFFFFFFFF80000000 on 64-bit);
// ours carry only the 32-bit value. Both name the same key, so the headers'
// form is passed on.
inline ::HKEY Key(win::HKEY key) {
    const auto value = reinterpret_cast<win::UINT_PTR>(key);
    if (value >= 0x80000000U && value <= 0x80000006U) {
        return reinterpret_cast<::HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(value)));
    }
    return reinterpret_cast<::HKEY>(key);
}

}  // namespace forward

static_assert(sizeof(win::WCHAR) == sizeof(WCHAR));
static_assert(sizeof(win::DWORD) == sizeof(DWORD));
static_assert(sizeof(win::LONG) == sizeof(LONG));
static_assert(sizeof(win::UINT) == sizeof(UINT));
static_assert(sizeof(win::INT) == sizeof(INT));
static_assert(sizeof(win::BOOL) == sizeof(BOOL));
static_assert(sizeof(win::SIZE_T) == sizeof(SIZE_T));
static_assert(sizeof(win::UINT_PTR) == sizeof(UINT_PTR));
static_assert(sizeof(win::LCID) == sizeof(LCID));
static_assert(sizeof(win::REGSAM) == sizeof(REGSAM));
static_assert(sizeof(win::HANDLE) == sizeof(HANDLE));
static_assert(sizeof(win::HKEY) == sizeof(HKEY));
static_assert(sizeof(win::HINSTANCE) == sizeof(HINSTANCE));
static_assert(sizeof(win::MSIHANDLE) == sizeof(MSIHANDLE));
static_assert(sizeof(win::INSTALLSTATE) == sizeof(INSTALLSTATE));
static_assert(sizeof(win::FILETIME) == sizeof(FILETIME));
static_assert(sizeof(win::VS_FIXEDFILEINFO) == sizeof(VS_FIXEDFILEINFO));
