// The probe's backend on the simulated platform.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/simulated/sim.h"
#include "platform/simulated/sim_installer.h"
#include "tests/differential/probe_backend.h"

namespace probe {
namespace {

std::string& Sandbox() {
    static std::string sandbox;
    return sandbox;
}

}  // namespace

void StartProcess() {
    std::string pattern = (std::filesystem::temp_directory_path() / "spinstall-probe.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    Sandbox() = pattern;
    sim::ResetMachine(pattern);
    // Wine maps Z: to the Linux root and starts in the Linux current directory.
    sim::MapDrive('Z', "/");
    sim::SetCurrentDirectory(sim::WindowsPath(std::filesystem::current_path().string()));
}

void FinishProcess() {
    std::error_code ignored;
    std::filesystem::remove_all(Sandbox(), ignored);
}

win::HINSTANCE OwnModule() { return sim::EmbeddedModule(); }

bool SetEnvironment(std::u16string_view name, const std::u16string* value) {
    if (value == nullptr) {
        sim::SetEnvironmentVariable(name, std::nullopt);
    } else {
        sim::SetEnvironmentVariable(name, std::u16string_view(*value));
    }
    return true;
}

bool MakeDirectory(const std::u16string& path) {
    const std::string host = sim::HostPath(path);
    std::error_code error;
    return !host.empty() && std::filesystem::create_directory(host, error);
}

bool RegisterInstalledProduct(const std::u16string& productCode) {
    return sim::RegisterProduct({productCode, u"Quorvane Mervolt 9.2", u"7.0.43.6", 1033, win::INSTALLSTATE_DEFAULT});
}

bool RequireUserDefaultLocale(win::LCID locale) {
    sim::SetUserDefaultLocale(locale);
    return true;
}

win::LCID UserDefaultLocale() { return sim::UserDefaultLocale(); }

}  // namespace probe
