// The probe's backend on Windows (run under Wine).
#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "tests/differential/probe_backend.h"

namespace probe {

void StartProcess() {
    // Lines end in "\n" alone, as on the simulated side.
    _setmode(_fileno(stdout), _O_BINARY);
}

void FinishProcess() {}

win::HINSTANCE OwnModule() { return reinterpret_cast<win::HINSTANCE>(::GetModuleHandleW(nullptr)); }

bool SetEnvironment(std::u16string_view name, const std::u16string* value) {
    const std::u16string key(name);
    return ::SetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(key.c_str()),
                                     value == nullptr ? nullptr : reinterpret_cast<const wchar_t*>(value->c_str())) !=
           FALSE;
}

bool MakeDirectory(const std::u16string& path) {
    return ::CreateDirectoryW(reinterpret_cast<const wchar_t*>(path.c_str()), nullptr) != FALSE;
}

bool RegisterInstalledProduct(const std::u16string& /*productCode*/) { return true; }

bool RequireUserDefaultLocale(win::LCID locale) { return ::GetUserDefaultLCID() == locale; }

win::LCID UserDefaultLocale() { return ::GetUserDefaultLCID(); }

}  // namespace probe
