// Arbitrary process command lines through the splitter and the option parser.
#include <cstdint>

#include "app/options.h"
#include "platform/simulated/sim.h"
#include "tests/fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ResetFuzzMachine();
    const std::u16string line = WideInput(data, size);
    sim::SetCommandLine(line);
    Require(ParseCommandLine(), "the parser always succeeds");
    const CommandLineOptions& options = RunOptions;
    Require(options.installMode ==
                !(options.extractRequested || options.patchListRequested || options.listRequested),
            "install mode exactly when no side mode is set");
    Require(options.extractRequested || options.extractPath.empty(), "a path only with its option");
    Require(options.patchListRequested || options.patchListPath.empty(), "a path only with its option");
    Require(sim::OpenHandles().empty(), "the argument array is released");

    // Quoting the split arguments again must give them back.
    int count = 0;
    win::LPWSTR* arguments = win::CommandLineToArgvW(line.c_str(), &count);
    Require(arguments != nullptr && count >= 1, "a split always names the program");
    std::vector<std::u16string> split(arguments, arguments + count);
    win::GlobalFree(arguments);
    if (split[0].find_first_of(u"\"") == std::u16string::npos && !split[0].empty()) {
        const std::u16string quoted = sim::QuoteCommandLine(split);
        arguments = win::CommandLineToArgvW(quoted.c_str(), &count);
        Require(std::vector<std::u16string>(arguments, arguments + count) == split, "quoting round trip");
        win::GlobalFree(arguments);
    }
    return 0;
}
