#include "app/options.h"

#include <new>

#include "common/text.h"
#include "platform/platform.h"

CommandLineOptions RunOptions;

namespace {

// Takes the argument after /e or /p as its path, when there is one. Returns the
// number of arguments consumed, or 0 when storing the path ran out of memory.
int TakeOptionalPath(win::LPWSTR* arguments, int index, int count, std::u16string& path) {
    if (index + 1 >= count) {
        return 1;
    }
    try {
        path = arguments[index + 1];
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 2;
}

}  // namespace

bool ParseCommandLine() {
    int count = 0;
    win::LPWSTR* arguments = win::CommandLineToArgvW(win::GetCommandLineW(), &count);
    if (arguments == nullptr) {
        count = 0;
    }

    // listRequested is not reset: it is false from process start and the parser runs once.
    RunOptions.quiet = false;
    RunOptions.extractRequested = false;
    RunOptions.extractPath.clear();
    RunOptions.patchListRequested = false;
    RunOptions.patchListPath.clear();
    RunOptions.installMode = true;

    int index = 1;
    while (index < count) {
        const std::u16string_view argument = arguments[index];
        if (EqualsIgnoringAsciiCase(argument, u"/q")) {
            RunOptions.quiet = true;
            ++index;
        } else if (EqualsIgnoringAsciiCase(argument, u"/e")) {
            RunOptions.extractRequested = true;
            RunOptions.installMode = false;
            const int consumed = TakeOptionalPath(arguments, index, count, RunOptions.extractPath);
            if (consumed == 0) {
                break;
            }
            index += consumed;
        } else if (EqualsIgnoringAsciiCase(argument, u"/p")) {
            RunOptions.patchListRequested = true;
            RunOptions.installMode = false;
            const int consumed = TakeOptionalPath(arguments, index, count, RunOptions.patchListPath);
            if (consumed == 0) {
                break;
            }
            index += consumed;
        } else if (EqualsIgnoringAsciiCase(argument, u"/i")) {
            RunOptions.installMode = false;
            RunOptions.listRequested = true;
            break;
        } else {
            ++index;
        }
    }

    if (arguments != nullptr) {
        win::GlobalFree(arguments);
    }
    return true;
}
