#include "app/entry.h"

#include <string>

#include "app/options.h"
#include "installer/queries.h"
#include "patching/apply.h"
#include "patching/targets.h"
#include "payload/extract.h"
#include "payload/patch_list.h"

win::HINSTANCE InstanceHandle = nullptr;

namespace {
constexpr win::UINT kListBoxStyle = win::MB_OK | win::MB_SETFOREGROUND | win::MB_TOPMOST;
}  // namespace

void ShowTargetList() {
    std::u16string packagePath;
    std::u16string targetList;
    // Neither result matters: an unreadable list shows as an empty box. The
    // temporary package stays; only the install mode deletes its own.
    ExtractPackage(packagePath);
    ReadPatchTargets(packagePath, targetList);
    // Not a message of the table, so the quiet option does not hide it.
    win::MessageBoxW(nullptr, targetList.c_str(), u"List of Products", kListBoxStyle);
}

int WinMain(win::HINSTANCE instance, win::HINSTANCE /*previousInstance*/, win::LPWSTR /*commandLine*/,
            int /*showCommand*/) {
    InstanceHandle = instance;
    ParseCommandLine();
    if (RunOptions.installMode) {
        RunInstall();
    } else {
        // The side modes run in this order whatever the command line's order,
        // each whether or not the one before succeeded.
        if (RunOptions.extractRequested) {
            ExtractPackage(RunOptions.extractPath);
        }
        if (RunOptions.patchListRequested) {
            AppendPatchList(RunOptions.patchListPath);
        }
        if (RunOptions.listRequested) {
            ShowTargetList();
        }
    }
    TargetProducts.clear();
    return 0;
}
