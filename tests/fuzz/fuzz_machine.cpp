#include "tests/fuzz/fuzz_machine.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/entry.h"
#include "app/options.h"
#include "messages/report.h"
#include "patching/targets.h"
#include "platform/simulated/sim.h"

void ResetFuzzMachine() {
    static const std::string root =
        (std::filesystem::temp_directory_path() / ("spinstall-fuzz-" + std::to_string(getpid()))).string();
    sim::ResetMachine(root);
    InstanceHandle = sim::EmbeddedModule();
    RunOptions = CommandLineOptions{};
    TargetProducts.clear();
    CurrentProductName.clear();
}

std::u16string WideInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    return text;
}

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}
