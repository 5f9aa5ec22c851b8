#include "app/entry.h"

#include <string>

#include "app/options.h"
#include "payload/extract.h"

win::HINSTANCE InstanceHandle = nullptr;

namespace {
constexpr win::UINT kListBoxStyle = win::MB_OK | win::MB_SETFOREGROUND | win::MB_TOPMOST;
}  // namespace

void ShowTargetList() {
    // The target list cannot be read yet: the installer queries come next.
    (void)kListBoxStyle;
}

int WinMain(win::HINSTANCE instance, win::HINSTANCE /*previousInstance*/, win::LPWSTR /*commandLine*/,
            int /*showCommand*/) {
    InstanceHandle = instance;
    ParseCommandLine();
    if (!RunOptions.installMode) {
        if (RunOptions.extractRequested) {
            ExtractPackage(RunOptions.extractPath);
        }
        if (RunOptions.listRequested) {
            ShowTargetList();
        }
    }
    return 0;
}
