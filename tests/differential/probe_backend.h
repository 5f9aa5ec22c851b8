// What the differential probe needs beyond the platform interface: one small
// implementation per backend (probe_simulated.cpp, probe_windows.cpp).
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace probe {

// Prepares the process before any case runs. On the simulated platform: a
// fresh machine whose Z: is the Linux root and whose current directory is the
// Linux one, as Wine lays them out.
void StartProcess();
void FinishProcess();

// The probe's own module, which carries the executable's resources.
win::HINSTANCE OwnModule();

// Sets (value non-null) or removes (null) a variable of the process environment.
bool SetEnvironment(std::u16string_view name, const std::u16string* value);

bool MakeDirectory(const std::u16string& path);

// Makes the product with this braced code an installed one where the backend
// can (simulated); on Windows the runner installed it before the process started.
bool RegisterInstalledProduct(const std::u16string& productCode);

// Makes locale the user default locale where the backend can (simulated);
// elsewhere tells whether the process started with it (Windows takes it from
// the session, which the runner sets before the process starts).
bool RequireUserDefaultLocale(win::LCID locale);

win::LCID UserDefaultLocale();

}  // namespace probe
