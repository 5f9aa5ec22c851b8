// The machine file: the simulated registry kept between runs in the file that
// SIMWIN_MACHINE names.
#include "platform/simulated/machine_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/simulated/sim_registry.h"
#include "tests/machine_fixture.h"
#include "tests/process_support.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path.string());
    return {bytes.begin(), bytes.end()};
}

class MachineFileTest : public MachineTest {
protected:
    void TearDown() override {
        unsetenv("SIMWIN_MACHINE");
        MachineTest::TearDown();
    }
    void SetUp() override {
        MachineTest::SetUp();
        machineFile_ = (sandbox_ / "machine.reg").string();
    }
    void UseMachineFile() { setenv("SIMWIN_MACHINE", machineFile_.c_str(), 1); }

    std::string machineFile_;
};

TEST_F(MachineFileTest, WithoutAFileTheBuiltInMachineStaysInMemory) {
    unsetenv("SIMWIN_MACHINE");
    ASSERT_TRUE(sim::LoadMachine());
    EXPECT_EQ(sim::ReadRegistryString(win::HKEY_CURRENT_USER, u"Control Panel\\International", u"Locale"),
              u"00000409");
    sim::SetRegistryDword(win::HKEY_LOCAL_MACHINE, u"Software\\Changed", u"Value", 1);
    sim::SaveMachine();
    EXPECT_FALSE(fs::exists(machineFile_));
}

TEST_F(MachineFileTest, AMissingFileStartsAsTheBuiltInMachineAndIsWritten) {
    UseMachineFile();
    ASSERT_TRUE(sim::LoadMachine());
    EXPECT_FALSE(fs::exists(machineFile_)) << "written at the end, not at the start";
    const std::string builtIn = sim::RegistryFileText();
    sim::SaveMachine();
    EXPECT_EQ(ReadText(machineFile_), builtIn);
}

TEST_F(MachineFileTest, ChangesAreSavedAndLoadedAgain) {
    UseMachineFile();
    WriteText(machineFile_,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Quorvane]\n\"Kept\"=\"yes\"\n");
    ASSERT_TRUE(sim::LoadMachine());
    sim::SetRegistryDword(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane", u"Added", 5);
    sim::SaveMachine();
    EXPECT_TRUE(fs::directory_iterator(sandbox_) != fs::directory_iterator());
    for (const auto& entry : fs::directory_iterator(sandbox_)) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
            << "no file left beside it";
    }

    sim::ResetMachine(sandbox_.string());
    ASSERT_TRUE(sim::LoadMachine());
    EXPECT_EQ(sim::ReadRegistryString(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane", u"Kept"), u"yes");
    EXPECT_EQ(sim::ReadRegistryDword(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane", u"Added"), 5U);
}

TEST_F(MachineFileTest, AnUnchangedMachineLeavesTheFileAlone) {
    UseMachineFile();
    // A layout of its own that the writer would not produce.
    const std::string handWritten =
        "Windows Registry Editor Version 5.00\r\n; a note\r\n[HKEY_CURRENT_USER\\Control "
        "Panel\\International]\r\n"
        "\"Locale\" = \"00000409\"\r\n";
    WriteText(machineFile_, handWritten);
    ASSERT_TRUE(sim::LoadMachine());
    sim::SaveMachine();
    EXPECT_EQ(ReadText(machineFile_), handWritten);
}

TEST_F(MachineFileTest, TheUsersLocaleComesFromTheRegistry) {
    UseMachineFile();
    struct Case {
        const char* locale;
        win::LCID expected;
    };
    const Case cases[] = {
        {"00000411", 1041}, {"00000c0a", 0x0C0A}, {"0411", 1041},
        {"not hex", 1033},  {"00000000", 1033},  // no language: the default stays
        {"000007ff", 1033},
    };
    for (const Case& c : cases) {
        sim::ResetMachine(sandbox_.string());
        WriteText(machineFile_, std::string("Windows Registry Editor Version 5.00\n\n") +
                                    "[HKEY_CURRENT_USER\\Control Panel\\International]\n\"Locale\"=\"" +
                                    c.locale + "\"\n");
        ASSERT_TRUE(sim::LoadMachine()) << c.locale;
        EXPECT_EQ(sim::UserDefaultLocale(), c.expected) << c.locale;
        EXPECT_EQ(win::GetThreadLocale(), c.expected) << c.locale;
    }
}

TEST_F(MachineFileTest, AMalformedFileIsRefusedAndKept) {
    UseMachineFile();
    const std::string broken = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\n";
    WriteText(machineFile_, broken);
    EXPECT_FALSE(sim::LoadMachine());
    sim::SaveMachine();
    EXPECT_EQ(ReadText(machineFile_), broken);
}

TEST_F(MachineFileTest, TheExecutableRunsOnTheNamedMachine) {
    const fs::path root = sandbox_ / "process";
    fs::create_directories(root / "c" / "work");
    WriteText(machineFile_,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Control Panel\\International]\n\"Locale\"=\"00000411\"\n");
    ProcessResult result = RunSpinstall({"/i"}, (root / "c" / "work").string(), root.string(),
                                        {"SIMWIN_MACHINE=" + machineFile_});
    EXPECT_EQ(result.exitCode, 0);
    const auto boxes = LogEntries(result, "box");
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0][2], "1041") << "the box is shown in the user's locale";

    WriteText(machineFile_, "Windows Registry Editor Version 5.00\n\nnonsense\n");
    result = RunSpinstall({"/i"}, (root / "c" / "work").string(), root.string(),
                          {"SIMWIN_MACHINE=" + machineFile_});
    EXPECT_EQ(result.exitCode, 1) << "the simulated machine cannot start";
    EXPECT_NE(result.output.find("line 3: neither a key nor a value"), std::string::npos) << result.output;
    EXPECT_TRUE(LogEntries(result, "box").empty());

    const std::string fresh = (sandbox_ / "fresh.reg").string();
    result = RunSpinstall({"/i"}, (root / "c" / "work").string(), root.string(), {"SIMWIN_MACHINE=" + fresh});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(ReadText(fresh).find("\"Locale\"=\"00000409\""), std::string::npos) << "the built-in machine";
}

}  // namespace
