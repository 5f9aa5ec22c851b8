// In-process costs that a whole run hides behind process start, the machine
// file and the package read: the target collection and the version walk over
// N products, the candidate walk over a long candidate text, the patch-list
// export over N descriptions, and the machine file's load and save.
// Each benchmark reports its complexity over its argument (BigO), so a cost
// that grows faster than its input shows in the fit.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/options.h"
#include "patching/apply.h"
#include "patching/targets.h"
#include "payload/patch_list.h"
#include "platform/simulated/sim.h"
#include "platform/simulated/sim_installer.h"
#include "platform/simulated/sim_registry.h"

namespace {

const std::u16string kTargetVersion = u"7.2.0.2";
const std::u16string kCandidates = u"7.0.43.3,7.0.43.6,7.1.0.5,";

std::string Sandbox() {
    static const std::string path = [] {
        std::string directory =
            std::filesystem::temp_directory_path() / ("spinstall-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(directory);
        return directory;
    }();
    return path;
}

// The same codes as bench/make-scaled-inputs.sh.
std::u16string ProductCode(std::uint64_t i) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08llX-5C0D-%04llX-%04llX-5CA1%08llX}",
                  static_cast<unsigned long long>((i * 2654435761ULL) % 4294967296ULL),
                  static_cast<unsigned long long>(19968 + i % 256),
                  static_cast<unsigned long long>(32768 + i % 4096),
                  static_cast<unsigned long long>(3976200192ULL + i));
    return sim::FromUtf8(text);
}

// A fresh machine with products 1..count installed at version; their target list.
std::u16string InstallProducts(std::int64_t count, const std::u16string& version) {
    sim::ResetMachine(Sandbox());
    sim::KeepInstallerCalls(false);
    RunOptions = CommandLineOptions{};
    RunOptions.quiet = true;
    std::u16string list;
    for (std::int64_t i = 1; i <= count; ++i) {
        sim::ProductRegistration product;
        product.productCode = ProductCode(static_cast<std::uint64_t>(i));
        product.name = u"Scaled Product " + sim::FromUtf8(std::to_string(i));
        product.version = version;
        product.language = 1033;
        sim::RegisterProduct(product);
        if (!list.empty()) {
            list += u';';
        }
        list += product.productCode;
    }
    return list;
}

// CollectTargetProducts over N installed products: four installer queries each.
void BM_CollectTargetProducts(benchmark::State& state) {
    const std::u16string list = InstallProducts(state.range(0), u"7.0.43.6");
    for (auto _ : state) {
        TargetProducts.clear();
        CollectTargetProducts(list, kTargetVersion, kCandidates);
        benchmark::DoNotOptimize(TargetProducts.data());
    }
    TargetProducts.clear();
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CollectTargetProducts)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// ProcessTargetProducts over N products whose version no candidate names: the
// whole candidate walk for each, and message 308 (quiet), no installer call.
void BM_ProcessTargetProducts(benchmark::State& state) {
    const std::u16string list = InstallProducts(state.range(0), u"7.1.0.4");
    TargetProducts.clear();
    CollectTargetProducts(list, kTargetVersion, kCandidates);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ProcessTargetProducts(u"C:\\users\\simuser\\Temp\\MSP2"));
    }
    TargetProducts.clear();
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ProcessTargetProducts)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// A candidate text of about L characters (string 900 holds at most 255), none
// of whose versions matches: the walk reads all of it for each of 1,000 products.
void BM_CandidateWalk(benchmark::State& state) {
    std::u16string candidates;
    for (int k = 0; candidates.size() + 10 <= static_cast<std::size_t>(state.range(0)); ++k) {
        candidates += u"7.0." + sim::FromUtf8(std::to_string(100 + k)) + u".9,";
    }
    const std::u16string list = InstallProducts(1000, u"7.1.0.4");
    TargetProducts.clear();
    CollectTargetProducts(list, kTargetVersion, candidates);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ProcessTargetProducts(u"C:\\users\\simuser\\Temp\\MSP2"));
    }
    TargetProducts.clear();
    state.SetComplexityN(static_cast<std::int64_t>(candidates.size()));
    state.counters["chars"] = static_cast<double>(candidates.size());
}
BENCHMARK(BM_CandidateWalk)
    ->Arg(32)
    ->Arg(64)
    ->Arg(128)
    ->Arg(255)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// AppendPatchList over a module with N descriptions (ids 206 upward).
void BM_PatchListExport(benchmark::State& state) {
    sim::ResetMachine(Sandbox());
    RunOptions = CommandLineOptions{};
    RunOptions.quiet = true;
    static const std::string description =
        "ProductCode={4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}\r\nPatchTitle=Quorvane Mervolt 9.2 Service Pack "
        "3\r\n";
    std::vector<sim::ResourceEntry> entries;
    for (std::int64_t n = 0; n < state.range(0); ++n) {
        sim::ResourceEntry entry;
        entry.typeName = u"TXT";
        entry.nameId = static_cast<win::WORD>(206 + n);
        entry.language = 1046;
        entry.data = reinterpret_cast<const std::uint8_t*>(description.data());
        entry.size = static_cast<win::DWORD>(description.size());
        entries.push_back(entry);
    }
    InstanceHandle = sim::RegisterModule(std::move(entries));
    const std::u16string path = u"C:\\users\\simuser\\patchlist.txt";
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(sim::HostPath(path));
        state.ResumeTiming();
        benchmark::DoNotOptimize(AppendPatchList(path));
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PatchListExport)
    ->RangeMultiplier(10)
    ->Range(100, 10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The machine file of N installed products written out and read back.
void BM_MachineFileRoundTrip(benchmark::State& state) {
    InstallProducts(state.range(0), u"7.0.43.6");
    const std::string text = sim::RegistryFileText();
    for (auto _ : state) {
        std::string error;
        benchmark::DoNotOptimize(sim::LoadRegistryFileText(text, error));
        benchmark::DoNotOptimize(sim::RegistryFileText().size());
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()) * 2);
}
BENCHMARK(BM_MachineFileRoundTrip)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(Sandbox());
    return 0;
}
