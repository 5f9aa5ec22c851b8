// The executable as a process on simulated machines: the install mode, the
// patch-list export and the demo machine's two runs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/machine_fixture.h"
#include "tests/process_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char kEntrySeparator[] = "*****\r\n";

class ModesProcess : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() / ("spinstall-modes-" + std::to_string(getpid())) / info->name();
        fs::remove_all(root_);
        work_ = root_ / "c" / "work";
        fs::create_directories(work_);
        machine_ = (root_ / "machine.reg").string();
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(root_);
        }
    }
    ProcessResult Run(const std::vector<std::string>& arguments) {
        return RunSpinstall(arguments, work_.string(), root_.string(), {"SIMWIN_MACHINE=" + machine_});
    }
    std::string MachineText() const {
        std::ifstream in(machine_);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    fs::path TempDir() const { return root_ / "c" / "users" / "simuser" / "Temp"; }
    std::vector<std::uint8_t> Description() const {
        return ReadBytes(std::string(SPINSTALL_SOURCE_DIR) + "/resources/patch206.txt");
    }

    fs::path root_;
    fs::path work_;
    std::string machine_;
};

TEST_F(ModesProcess, DemoMachinePatchesOnceThenReportsUpToDate) {
    const ProcessResult first = Run({});
    EXPECT_EQ(first.exitCode, 0);
    const auto boxes = LogEntries(first, "box");
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0][1], "0x50040");
    EXPECT_EQ(boxes[0][2], "1031") << "in the product's language";
    EXPECT_EQ(boxes[0][3], "Installation erfolgreich");
    EXPECT_NE(boxes[0][4].find("Quorvane Mervolt 9.2"), std::string::npos);
    const auto calls = LogEntries(first, "msi");
    ASSERT_EQ(calls.size(), 1U);
    EXPECT_EQ(calls[0][2], "{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}");
    // The log escapes backslashes.
    EXPECT_EQ(calls[0][5], "PATCH=\"C:\\\\users\\\\simuser\\\\Temp\\\\MSP2\"");
    EXPECT_EQ(calls[0][6], "0");
    EXPECT_TRUE(fs::is_empty(TempDir())) << "the temporary package is deleted";
    const std::string machine = MachineText();
    EXPECT_EQ(machine.find("Transforms"), std::string::npos) << "the host module's version differs";
    EXPECT_NE(machine.find("\"DisplayVersion\"=\"7.2.0.2\""), std::string::npos);

    const ProcessResult second = Run({});
    EXPECT_EQ(second.exitCode, 0);
    const auto again = LogEntries(second, "box");
    ASSERT_EQ(again.size(), 1U);
    EXPECT_EQ(again[0][1], "0x50010");
    EXPECT_EQ(again[0][2], "1033") << "the closing message is in the user's language";
    EXPECT_EQ(again[0][3], "Installation Unnecessary");
    EXPECT_EQ(again[0][4], "Your version of Quorvane Mervolt 9.2 is up-to-date and this service pack is not necessary");
    EXPECT_TRUE(LogEntries(second, "msi").empty());
}

TEST_F(ModesProcess, QuietInstallShowsNothingButStillPatches) {
    const ProcessResult result = Run({"/q"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(LogEntries(result, "box").empty());
    EXPECT_EQ(LogEntries(result, "msi").size(), 1U);
    EXPECT_EQ(result.output, "");
}

TEST_F(ModesProcess, MachineWithoutTargetsGets307AndKeepsThePackage) {
    WriteText(machine_,
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\Control Panel\\International]\r\n\"Locale\"=\"00000411\"\r\n");
    const ProcessResult result = Run({});
    EXPECT_EQ(result.exitCode, 0);
    const auto boxes = LogEntries(result, "box");
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0][1], "0x50010");
    EXPECT_EQ(boxes[0][2], "1041") << "the user's default language";
    EXPECT_TRUE(fs::exists(TempDir() / "MSP2"));
}

TEST_F(ModesProcess, MalformedMachineFileStopsTheSimulatedMachine) {
    WriteText(machine_, "not a registry file\n");
    const ProcessResult result = Run({"/e", "x"});
    EXPECT_NE(result.exitCode, 0) << "the simulated platform refuses to start, the system never runs";
    EXPECT_FALSE(fs::exists(work_ / "x"));
}

TEST_F(ModesProcess, PatchListAppendsOneEntryPerRun) {
    WriteText((work_ / "list.txt").string(), "existing entry without a line break");
    EXPECT_EQ(Run({"/p", "list.txt"}).exitCode, 0);
    EXPECT_EQ(Run({"/p", "list.txt"}).exitCode, 0);
    std::vector<std::uint8_t> expected;
    const std::string existing = "existing entry without a line break";
    expected.insert(expected.end(), existing.begin(), existing.end());
    for (int run = 0; run < 2; ++run) {
        expected.insert(expected.end(), kEntrySeparator, kEntrySeparator + 7);
        const auto description = Description();
        expected.insert(expected.end(), description.begin(), description.end());
        expected.push_back('\r');
        expected.push_back('\n');
    }
    EXPECT_TRUE(ReadBytes((work_ / "list.txt").string()) == expected);
}

TEST_F(ModesProcess, PatchListOnANewFileIs1261Bytes) {
    const ProcessResult result = Run({"/p", "new.txt"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(fs::file_size(work_ / "new.txt"), 1261U);
    EXPECT_TRUE(LogEntries(result, "box").empty());
}

TEST_F(ModesProcess, PatchListWithoutPathNamesTheFileAfterTheFirstTarget) {
    const ProcessResult result = Run({"/p"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(fs::file_size(work_ / "patchlist8C3E.txt"), 1261U);
    EXPECT_TRUE(fs::exists(TempDir() / "MSP2")) << "the package read for the name stays";
}

TEST_F(ModesProcess, SideModesRunInTheirFixedOrder) {
    // /p before /e on the command line; extraction still comes first, then the
    // list, each with its own temporary package.
    const ProcessResult result = Run({"/p", "list.txt", "/e", "x.msp", "/i"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(ReadBytes((work_ / "x.msp").string()) == PackageBytes());
    EXPECT_EQ(fs::file_size(work_ / "list.txt"), 1261U);
    const auto boxes = LogEntries(result, "box");
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0][3], "List of Products");
    EXPECT_TRUE(LogEntries(result, "msi").empty()) << "no side mode installs";
}

}  // namespace
