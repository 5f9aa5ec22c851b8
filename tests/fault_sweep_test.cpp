// Every call that can fail, made to fail once, in every mode: a clean run of the
// mode counts the calls of each failable platform function, then each of those
// calls is failed by itself on a fresh copy of the same machine. Whatever fails,
// the entry returns 0, only the messages meant for a failure of that mode are
// shown, nothing stays open, nothing is written but the files the mode writes,
// and no file that was there before loses a byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "app/entry.h"
#include "app/options.h"
#include "platform/simulated/machine_file.h"
#include "platform/simulated/pe_image.h"
#include "platform/simulated/sim_installer.h"
#include "platform/simulated/sim_registry.h"
#include "tests/machine_fixture.h"
#include "tests/msi_packages.h"
#include "tests/reliability_support.h"

namespace {

namespace fs = std::filesystem;

// The demo machine's German Mervolt at 7.0.43.6, whose host module differs, and
// a French one at 7.0.43.3 whose host module is at that same version.
constexpr char16_t kFirst[] = u"{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}";
constexpr char16_t kSecond[] = u"{B2E85C07-3D1A-4F98-8C6B-57A0D4E9F213}";
constexpr char16_t kFirstName[] = u"Quorvane Mervolt 9.2";
constexpr char16_t kSecondName[] = u"Quorvane Mervolt 9.2 Serveur";
constexpr char16_t kSecondFolder[] = u"C:\\Program Files\\Quorvane\\Mervolt Serveur";

// Patch lists with earlier entries: the named one and both default names.
constexpr const char* kPatchLists[] = {"users/simuser/list.txt", "users/simuser/patchlist8C3E.txt",
                                       "users/simuser/patchlist.txt"};
constexpr char kEarlierEntry[] = "*****\r\nProductCode={00000000-0000-0000-0000-000000000000}\r\nno final break";
constexpr char kExtractTarget[] = "users/simuser/x.msp";
const std::regex kTemporaryPackage("users/simuser/Temp/MSP[1-9][0-9]*");

struct SweepMode {
    const char* name;
    std::vector<std::u16string> arguments;
    // What the clean run shows, and whether it leaves a complete temporary package.
    std::vector<unsigned> cleanMessages;
    bool cleanLeavesTemporaryPackage;
};

const SweepMode kModes[] = {
    {"Install", {}, {301, 301}, false},
    {"ExtractToPath", {u"/e", u"x.msp"}, {}, false},
    {"ExtractToTemporaryFile", {u"/e"}, {}, true},
    {"PatchListToPath", {u"/p", u"list.txt"}, {}, false},
    {"PatchListDefaultName", {u"/p"}, {}, true},
    {"List", {u"/i"}, {kListBox}, true},
};

void PrintTo(const SweepMode& mode, std::ostream* out) { *out << mode.name; }

// What one run did.
struct RunRecord {
    int result = -1;
    unsigned injected = 0;
    CommandLineOptions options;
    std::vector<sim::MessageBoxRecord> boxes;
    std::vector<std::string> open;
    std::size_t configureCalls = 0;
    TreeSnapshot filesBefore;
    TreeSnapshot filesAfter;
    RegistryBlocks registryBefore;
    RegistryBlocks registryAfter;
};

struct Fault {
    std::string function;
    unsigned nth = 0;
};

std::vector<std::u16string> Arguments(const SweepMode& mode) {
    std::vector<std::u16string> arguments{u"C:\\tools\\spinstall.exe"};
    arguments.insert(arguments.end(), mode.arguments.begin(), mode.arguments.end());
    return arguments;
}

std::string Name(const Fault& fault) {
    return fault.function.empty() ? "no fault" : fault.function + " call " + std::to_string(fault.nth);
}

unsigned TotalInjected = 0;

class FaultSweep : public MachineTest, public ::testing::WithParamInterface<SweepMode> {
protected:
    static void TearDownTestSuite() {
        std::printf("fault sweep: %u faults injected in the modes run, every one survived\n", TotalInjected);
    }

    fs::path Drive() const { return sandbox_ / "c"; }

    void BuildMachine() {
        sim::BuildDemoMachine();
        sim::ProductRegistration second;
        second.productCode = kSecond;
        second.name = kSecondName;
        second.version = u"7.0.43.3";
        second.language = 1036;
        ASSERT_TRUE(sim::RegisterProduct(second));
        sim::SetRegistryString(win::HKEY_CLASSES_ROOT, sim::ProductClassesKey(kSecond), u"Transforms",
                               u"C:\\Windows\\Installer\\MervoltFR.mst");
        sim::SetRegistryString(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane\\Mervolt\\V9.2\\Mrvt-D1A:F98",
                               u"MrvtLocation", kSecondFolder);
        WriteBytes(Host(std::u16string(kSecondFolder) + u"\\kelmora.zpq"),
                   pe_image::BuildPeImage(
                       {{16, 1, 0x409, pe_image::VersionBlock(0x00070000, 0x002B0003, 0x00090002, 0)}}));
        for (const char* list : kPatchLists) {
            WriteText((Drive() / list).string(), kEarlierEntry);
        }
    }

    RunRecord Run(const SweepMode& mode, const Fault& fault) {
        RunRecord record;
        fs::remove_all(Drive());
        sim::ResetMachine(sandbox_.string());
        BuildMachine();
        record.filesBefore = SnapshotTree(Drive());
        record.registryBefore = SnapshotRegistry();
        // The parser leaves listRequested alone, as it does once per process.
        RunOptions = CommandLineOptions{};
        UseArguments(Arguments(mode));
        if (!fault.function.empty()) {
            sim::InjectFault(fault.function, fault.nth);
        }
        record.result = WinMain(sim::EmbeddedModule(), nullptr, nullptr, 10);
        record.injected = sim::InjectedFaultCount();
        sim::ClearFaults();
        record.options = RunOptions;
        record.boxes = sim::MessageBoxes();
        record.open = sim::OpenHandles();
        record.configureCalls = sim::InstallerCallsOf("MsiConfigureProductExW").size();
        record.filesAfter = SnapshotTree(Drive());
        record.registryAfter = SnapshotRegistry();
        return record;
    }

    // Whether the fault made the command line unsplittable, which runs the
    // install mode instead of the side mode asked for.
    bool FaultFailsTheSplit(const Fault& fault) {
        sim::ResetMachine(sandbox_.string());
        sim::InjectFault(fault.function, fault.nth);
        int count = 0;
        win::LPWSTR* arguments = win::CommandLineToArgvW(u"spinstall.exe /e", &count);
        sim::ClearFaults();
        if (arguments == nullptr) {
            return true;
        }
        win::GlobalFree(arguments);
        return false;
    }

    void Check(const SweepMode& mode, const Fault& fault, const RunRecord& run, const CommandLineOptions& asked);
    void CheckMessages(const Fault& fault, const RunRecord& run, const CommandLineOptions& options);
    void CheckFiles(const RunRecord& run, const CommandLineOptions& options);
    void CheckRegistry(const RunRecord& run, bool installMode);
};

const std::string& Entry() {
    static const std::string entry = [] {
        const auto description = ReadBytes(std::string(SPINSTALL_SOURCE_DIR) + "/resources/patch206.txt");
        return "*****\r\n" + std::string(description.begin(), description.end()) + "\r\n";
    }();
    return entry;
}

// What an export may have appended: nothing, the separator, the separator and
// the description, or the whole entry; a failed separator drops the entry.
bool IsEntryCut(const std::string& tail) {
    const std::size_t separator = 7;
    const std::size_t body = Entry().size() - 2;
    return tail.empty() || tail == Entry().substr(0, separator) || tail == Entry().substr(0, body) ||
           tail == Entry();
}

void FaultSweep::CheckMessages(const Fault& fault, const RunRecord& run, const CommandLineOptions& options) {
    const bool boxFailed = fault.function == "MessageBoxW";
    std::set<unsigned> allowed;
    std::size_t most = 0;
    std::size_t least = 0;
    if (options.installMode) {
        // Each product gets at most one outcome; an early end gets one message.
        allowed = {300, 301, 306, 307, 308};
        most = 2;
        least = boxFailed ? 0 : 1;
    } else if (options.listRequested) {
        allowed = {kListBox};
        most = boxFailed ? 0 : 1;
        least = most;
    } else if (options.patchListRequested) {
        allowed = {300, 310};
        most = 1;
    }
    EXPECT_LE(run.boxes.size(), most) << Name(fault);
    EXPECT_GE(run.boxes.size(), least) << Name(fault);
    const std::vector<std::u16string> names = {kFirstName, kSecondName, u""};
    for (const auto& box : run.boxes) {
        const std::set<unsigned> ids = MessageIdsOf(box, names);
        const bool fits = std::any_of(ids.begin(), ids.end(), [&](unsigned id) { return allowed.count(id) > 0; });
        EXPECT_TRUE(fits) << Name(fault) << ": " << Describe(box);
        if (ids.count(kListBox) > 0) {
            static const std::u16string targets = sim::FromUtf8(PackageTemplate(SPINSTALL_PACKAGE_FILE).value_or(""));
            EXPECT_TRUE(box.text == targets || box.text.empty()) << Name(fault) << ": " << Describe(box);
        }
    }
}

void FaultSweep::CheckFiles(const RunRecord& run, const CommandLineOptions& options) {
    std::size_t temporaryPackages = 0;
    for (const auto& [path, entry] : run.filesAfter) {
        if (run.filesBefore.count(path) > 0) {
            continue;
        }
        const bool temporary = std::regex_match(path, kTemporaryPackage);
        const bool extractTarget = options.extractRequested && !options.installMode &&
                                   !options.extractPath.empty() && path == kExtractTarget;
        EXPECT_TRUE(entry.kind == 'f' && (temporary || extractTarget)) << "written: " << path;
        EXPECT_TRUE(IsPackagePrefix(entry.bytes)) << path << " holds other bytes than the package's";
        temporaryPackages += temporary ? 1 : 0;
    }
    EXPECT_LE(temporaryPackages, 1U) << "one extraction per mode";

    std::size_t listsWritten = 0;
    for (const auto& [path, entry] : run.filesBefore) {
        auto after = run.filesAfter.find(path);
        ASSERT_NE(after, run.filesAfter.end()) << "removed: " << path;
        const bool patchList = std::find(std::begin(kPatchLists), std::end(kPatchLists), path) != std::end(kPatchLists);
        if (!patchList || !options.patchListRequested || options.installMode) {
            EXPECT_TRUE(after->second == entry) << "changed: " << path;
            continue;
        }
        const std::string& bytes = after->second.bytes;
        const bool named = path == kPatchLists[0];
        ASSERT_GE(bytes.size(), entry.bytes.size()) << "shortened: " << path;
        EXPECT_EQ(bytes.compare(0, entry.bytes.size(), entry.bytes), 0) << "earlier bytes changed: " << path;
        const std::string tail = bytes.substr(entry.bytes.size());
        EXPECT_TRUE(IsEntryCut(tail)) << path << " got " << tail.size() << " bytes that are no part of an entry";
        EXPECT_TRUE(tail.empty() || named == !options.patchListPath.empty()) << "wrong list: " << path;
        listsWritten += tail.empty() ? 0 : 1;
    }
    EXPECT_LE(listsWritten, 1U);
}

void FaultSweep::CheckRegistry(const RunRecord& run, bool installMode) {
    std::vector<std::string> allowed;
    if (installMode) {
        for (const char16_t* code : {kFirst, kSecond}) {
            allowed.push_back(ClassesKeyName(sim::ProductClassesKey(code)));
            allowed.push_back(MachineKeyName(sim::ProductUserDataKey(code)));
        }
    }
    for (const std::string& key : ChangedKeys(run.registryBefore, run.registryAfter)) {
        const bool inside = std::any_of(allowed.begin(), allowed.end(), [&](const std::string& prefix) {
            return key.compare(0, prefix.size(), prefix) == 0 &&
                   (key.size() == prefix.size() || key[prefix.size()] == '\\');
        });
        EXPECT_TRUE(inside) << "registry key changed: " << key;
    }
    // The second product's host module matches its version: its transforms stay.
    const auto second = run.registryAfter.find(ClassesKeyName(sim::ProductClassesKey(kSecond)));
    ASSERT_NE(second, run.registryAfter.end());
    EXPECT_NE(second->second.find("\"Transforms\"="), std::string::npos);
}

void FaultSweep::Check(const SweepMode& mode, const Fault& fault, const RunRecord& run,
                       const CommandLineOptions& asked) {
    SCOPED_TRACE(std::string(mode.name) + ", " + Name(fault));
    EXPECT_EQ(run.result, 0);
    if (!fault.function.empty()) {
        EXPECT_EQ(run.injected, 1U) << "the fault was reached";
    }
    // Only a command line that cannot be split changes the mode, to install. An
    // empty extraction path receives the temporary name.
    const bool sameOptions = run.options.installMode == asked.installMode &&
                             run.options.extractRequested == asked.extractRequested &&
                             (asked.extractPath.empty() || run.options.extractPath == asked.extractPath) &&
                             run.options.patchListRequested == asked.patchListRequested &&
                             run.options.patchListPath == asked.patchListPath &&
                             run.options.listRequested == asked.listRequested;
    if (!sameOptions) {
        EXPECT_TRUE(run.options.installMode && FaultFailsTheSplit(fault));
    }
    const CommandLineOptions options = sameOptions ? asked : CommandLineOptions{};
    if (fault.function == "RegCloseKey" || fault.function == "MsiCloseHandle") {
        // The close was made and refused: only that one stays open.
        ASSERT_LE(run.open.size(), 1U);
        for (const auto& line : run.open) {
            EXPECT_EQ(line.rfind(fault.function == "RegCloseKey" ? "key: " : "installer: ", 0), 0U) << line;
        }
    } else {
        EXPECT_TRUE(run.open.empty()) << "still open: " << run.open.front();
    }
    if (!options.installMode) {
        EXPECT_EQ(run.configureCalls, 0U) << "a side mode installs nothing";
    }
    CheckMessages(fault, run, options);
    CheckFiles(run, options);
    CheckRegistry(run, options.installMode);
}

TEST_P(FaultSweep, EveryFailureIsSurvived) {
    const SweepMode& mode = GetParam();
    // The options as parsed, before a mode stores a temporary name into them.
    UseArguments(Arguments(mode));
    RunOptions = CommandLineOptions{};
    ParseCommandLine();
    const CommandLineOptions asked = RunOptions;

    const RunRecord clean = Run(mode, {});
    std::map<std::string, unsigned> calls;
    for (const std::string& function : sim::FailableFunctions()) {
        calls[function] = sim::CallCount(function);
    }

    // The clean run goes the whole way, so that the faults meet every step.
    Check(mode, {}, clean, asked);
    std::vector<unsigned> shown;
    for (const auto& box : clean.boxes) {
        const auto ids = MessageIdsOf(box, {kFirstName, kSecondName});
        ASSERT_EQ(ids.size(), 1U) << Describe(box);
        shown.push_back(*ids.begin());
    }
    EXPECT_EQ(shown, mode.cleanMessages);
    std::size_t complete = 0;
    for (const auto& [path, entry] : clean.filesAfter) {
        if (clean.filesBefore.count(path) == 0 || path == kPatchLists[0] || path == kPatchLists[1]) {
            const bool whole = entry.bytes.size() == PackageBytes().size() && IsPackagePrefix(entry.bytes);
            const bool appended = entry.bytes == std::string(kEarlierEntry) + Entry();
            EXPECT_TRUE(whole || appended || entry.bytes == kEarlierEntry) << path;
            complete += std::regex_match(path, kTemporaryPackage) && whole ? 1 : 0;
        }
    }
    EXPECT_EQ(complete, mode.cleanLeavesTemporaryPackage ? 1U : 0U);
    if (asked.installMode) {
        EXPECT_EQ(clean.configureCalls, 2U);
        const auto first = clean.registryAfter.find(ClassesKeyName(sim::ProductClassesKey(kFirst)));
        ASSERT_NE(first, clean.registryAfter.end());
        EXPECT_EQ(first->second.find("\"Transforms\"="), std::string::npos) << "the first product's transforms go";
    }
    if (asked.extractRequested && !asked.extractPath.empty()) {
        EXPECT_EQ(clean.filesAfter.at(kExtractTarget).bytes.size(), PackageBytes().size());
    }
    if (asked.patchListRequested) {
        const char* list = asked.patchListPath.empty() ? kPatchLists[1] : kPatchLists[0];
        EXPECT_EQ(clean.filesAfter.at(list).bytes, std::string(kEarlierEntry) + Entry());
    }
    ASSERT_FALSE(HasFailure()) << "the clean run must pass before faults are swept";

    unsigned injected = 0;
    unsigned runs = 0;
    for (const auto& [function, count] : calls) {
        for (unsigned nth = 1; nth <= count; ++nth) {
            const Fault fault{function, nth};
            const RunRecord run = Run(mode, fault);
            Check(mode, fault, run, asked);
            injected += run.injected;
            ++runs;
            if (HasFailure()) {
                return;  // the first failing fault tells enough
            }
        }
    }
    EXPECT_GT(runs, 0U);
    TotalInjected += injected;
    std::string functions;
    for (const auto& [function, count] : calls) {
        if (count > 0) {
            functions += " " + function + "=" + std::to_string(count);
        }
    }
    // Reaching here means every fault was survived: the first failing one returns above.
    std::printf("fault sweep %s: %u faults injected, all survived; calls:%s\n", mode.name, injected,
                functions.c_str());
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultSweep, ::testing::ValuesIn(kModes),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
