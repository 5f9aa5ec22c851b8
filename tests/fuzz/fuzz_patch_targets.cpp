// Arbitrary files read as installer packages for their target list.
#include <cstdint>
#include <fstream>

#include "installer/queries.h"
#include <cstdio>
#include <cstdlib>

#include "platform/simulated/sim.h"
#include "platform/simulated/sim_installer.h"
#include "tests/fuzz/fuzz_machine.h"

namespace {
// Crashes of libmsi in the package reader's own process, reported at the end.
void ReportReaderCrashes() {
    std::printf("libmsi reader crashes (isolated, read as no package): %u\n", sim::PackageReaderCrashes());
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit(ReportReaderCrashes);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ResetFuzzMachine();
    const std::string host = sim::HostPath(u"C:\\input.msp");
    {
        std::ofstream out(host, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::u16string list = u"untouched";
    const bool read = ReadPatchTargets(u"C:\\input.msp", list);
    Require(read || list == u"untouched", "a failed read leaves the list as it was");
    Require(sim::OpenHandles().empty(), "the summary handle is closed");
    return 0;
}
