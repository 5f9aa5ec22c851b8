// The extract mode as a process: what a user running the executable sees.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/machine_fixture.h"
#include "tests/process_support.h"

namespace {

namespace fs = std::filesystem;

class ExtractProcess : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() / ("spinstall-process-" + std::to_string(getpid())) / info->name();
        fs::remove_all(root_);
        // Inside drive C: of the machine, so that the drive root is the sandbox too.
        work_ = root_ / "c" / "work";
        fs::create_directories(work_);
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(root_);
        }
    }
    ProcessResult Run(const std::vector<std::string>& arguments) {
        return RunSpinstall(arguments, work_.string(), root_.string());
    }
    fs::path TempDir() const { return root_ / "c" / "users" / "simuser" / "Temp"; }

    fs::path root_;
    fs::path work_;
};

TEST_F(ExtractProcess, NamedPathGetsThePackageAndNothingIsShown) {
    const ProcessResult result = Run({"/e", "out.msp"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(ReadBytes((work_ / "out.msp").string()) == PackageBytes());
    EXPECT_TRUE(LogEntries(result, "box").empty());
    EXPECT_EQ(result.output, "");
}

TEST_F(ExtractProcess, AbsoluteLinuxPathThroughTheZDrive) {
    const std::string target = (root_ / "outside-drive-c.msp").string();
    std::string windowsPath = "Z:" + target;
    for (char& c : windowsPath) {
        c = c == '/' ? '\\' : c;
    }
    EXPECT_EQ(Run({"/e", windowsPath}).exitCode, 0);
    EXPECT_TRUE(ReadBytes(target) == PackageBytes());
}

TEST_F(ExtractProcess, NoPathGivesATemporaryFile) {
    const ProcessResult result = Run({"/e"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(ReadBytes((TempDir() / "MSP2").string()) == PackageBytes());
    EXPECT_TRUE(LogEntries(result, "box").empty());
}

TEST_F(ExtractProcess, UnknownOptionBeforeExtractIsSkipped) {
    EXPECT_EQ(Run({"/x", "/e", "out.msp"}).exitCode, 0);
    EXPECT_TRUE(fs::exists(work_ / "out.msp"));
}

TEST_F(ExtractProcess, QuietAfterExtractIsTakenAsThePath) {
    EXPECT_EQ(Run({"/e", "/q"}).exitCode, 0);
    // "/q" is a path rooted at the current drive: C:\q.
    EXPECT_TRUE(ReadBytes((root_ / "c" / "q").string()) == PackageBytes());
    EXPECT_FALSE(fs::exists(TempDir() / "MSP2")) << "a path was given, so no temporary file";
}

TEST_F(ExtractProcess, UnwritablePathShowsNothingAndExitsZero) {
    const ProcessResult result = Run({"/e", "missing\\dir\\out.msp"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(LogEntries(result, "box").empty());
    EXPECT_FALSE(fs::exists(work_ / "missing"));
}

}  // namespace
