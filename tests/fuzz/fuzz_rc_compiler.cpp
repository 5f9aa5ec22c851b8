// Arbitrary resource scripts: a clear error or an image the loader can read,
// never a crash.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/simulated/sim.h"
#include "tests/fuzz/fuzz_machine.h"
#include "tools/rc_compiler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string source(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> image;
    std::string error;
    // No include folders: a script naming a file fails cleanly.
    if (CompileResourceScript(source, "fuzz.rc", {}, image, error)) {
        std::vector<sim::ResourceEntry> entries;
        Require(sim::ParseResourceImage(image.data(), image.size(), entries), "the image parses");
    } else {
        Require(error.rfind("fuzz.rc:", 0) == 0 && error.find("error:") != std::string::npos,
                "an error names the script and says error");
    }
    return 0;
}
