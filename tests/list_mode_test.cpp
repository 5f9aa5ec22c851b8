// The list mode: the patch's target list in one box captioned "List of Products".
#include <gtest/gtest.h>

#include <filesystem>

#include "app/entry.h"
#include "app/options.h"
#include "tests/machine_fixture.h"
#include "tests/msi_packages.h"
#include "tests/process_support.h"

namespace {

namespace fs = std::filesystem;

// The target list of the embedded package, read with libmsi rather than
// through the simulated installer.
const std::string& EmbeddedTargets() {
    static const std::string targets = PackageTemplate(SPINSTALL_PACKAGE_FILE).value_or("(unreadable)");
    return targets;
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files.push_back(entry.path());
    }
    return files;
}

class ListProcess : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() / ("spinstall-list-" + std::to_string(getpid())) / info->name();
        fs::remove_all(root_);
        work_ = root_ / "c" / "work";
        fs::create_directories(work_);
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(root_);
        }
    }
    fs::path TempDir() const { return root_ / "c" / "users" / "simuser" / "Temp"; }

    fs::path root_;
    fs::path work_;
};

TEST_F(ListProcess, TheBoxShowsTheEmbeddedTargetList) {
    ASSERT_NE(EmbeddedTargets(), "(unreadable)");
    struct Case {
        std::vector<std::string> arguments;
        bool writesX;
    };
    const Case cases[] = {
        {{"/i"}, false},
        {{"/q", "/i"}, false},
        // Parsing stops at /i: x is not written.
        {{"/i", "/e", "x"}, false},
        // The side modes run extract first, then list, which extracts again.
        {{"/e", "x", "/i"}, true},
    };
    for (const Case& c : cases) {
        fs::remove_all(root_ / "c" / "users");
        fs::remove(work_ / "x");
        std::string arguments;
        for (const auto& argument : c.arguments) {
            arguments += argument + " ";
        }
        const ProcessResult result = RunSpinstall(c.arguments, work_.string(), root_.string());
        EXPECT_EQ(result.exitCode, 0) << arguments;
        const auto boxes = LogEntries(result, "box");
        ASSERT_EQ(boxes.size(), 1U) << arguments;
        ASSERT_EQ(boxes[0].size(), 5U) << arguments;
        EXPECT_EQ(boxes[0][1], "0x50000") << arguments;
        EXPECT_EQ(boxes[0][3], "List of Products") << arguments;
        EXPECT_EQ(boxes[0][4], EmbeddedTargets()) << arguments;
        EXPECT_TRUE(LogEntries(result, "msi").empty()) << "nothing is applied";

        EXPECT_EQ(fs::exists(work_ / "x"), c.writesX) << arguments;
        if (c.writesX) {
            EXPECT_TRUE(ReadBytes((work_ / "x").string()) == PackageBytes());
        }
        // The list's own copy stays in the temporary folder.
        const auto temporary = FilesIn(TempDir());
        ASSERT_EQ(temporary.size(), 1U) << arguments;
        EXPECT_EQ(temporary[0].filename().string().rfind("MSP", 0), 0U);
        EXPECT_TRUE(ReadBytes(temporary[0].string()) == PackageBytes()) << arguments;
    }
}

class ListModeTest : public MachineTest {};

TEST_F(ListModeTest, ShownWhetherOrNotQuiet) {
    for (bool quiet : {false, true}) {
        sim::ClearMessageBoxes();
        RunOptions.quiet = quiet;
        ShowTargetList();
        ASSERT_EQ(sim::MessageBoxes().size(), 1U);
        const sim::MessageBoxRecord& box = sim::MessageBoxes()[0];
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.caption, u"List of Products");
        EXPECT_EQ(box.style, 0x50000U);
        EXPECT_EQ(Narrow(box.text), EmbeddedTargets());
    }
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(ListModeTest, AnUnreadableListGivesAnEmptyBox) {
    static const std::uint8_t notAPackage[] = "this is no installer package";
    struct Case {
        const char* what;
        std::vector<sim::ResourceEntry> resources;
        bool extracted;
    };
    const Case cases[] = {
        {"no package resource", {}, false},
        {"a package that is no package",
         {{u"MSP", 0, u"IDR_MSP", 0, 1033, notAPackage, sizeof notAPackage}},
         true},
    };
    for (const Case& c : cases) {
        sim::ResetMachine(sandbox_.string());
        InstanceHandle = sim::RegisterModule(c.resources);
        ShowTargetList();
        ASSERT_EQ(sim::MessageBoxes().size(), 1U) << c.what;
        EXPECT_EQ(sim::MessageBoxes()[0].caption, u"List of Products") << c.what;
        EXPECT_EQ(sim::MessageBoxes()[0].text, u"") << c.what;
        EXPECT_EQ(sim::MessageBoxes()[0].style, 0x50000U) << c.what;
        EXPECT_EQ(FilesIn(Host(u"C:\\users\\simuser\\Temp")).size(), c.extracted ? 1U : 0U) << c.what;
        EXPECT_TRUE(sim::OpenHandles().empty()) << c.what;
    }
}

TEST_F(ListModeTest, TheEntryShowsTheListAndReturnsZero) {
    UseArguments({u"spinstall.exe", u"/q", u"/i"});
    EXPECT_EQ(WinMain(InstanceHandle, nullptr, nullptr, 10), 0);
    ASSERT_EQ(sim::MessageBoxes().size(), 1U);
    EXPECT_EQ(Narrow(sim::MessageBoxes()[0].text), EmbeddedTargets());
    const auto temporary = FilesIn(Host(u"C:\\users\\simuser\\Temp"));
    ASSERT_EQ(temporary.size(), 1U);
    EXPECT_TRUE(ReadBytes(temporary[0].string()) == PackageBytes()) << "the temporary package stays";
}

}  // namespace
