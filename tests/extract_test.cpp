// Writing the embedded package to a named file or a fresh temporary one.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/entry.h"
#include "payload/extract.h"
#include "tests/machine_fixture.h"

namespace {

namespace fs = std::filesystem;

class Extraction : public MachineTest {
protected:
    std::string TempDir() const { return Host(u"C:\\users\\simuser\\Temp"); }
};

TEST_F(Extraction, NamedFileReceivesThePackageByteForByte) {
    std::u16string path = u"C:\\users\\simuser\\out.msp";
    ASSERT_TRUE(ExtractPackage(path));
    EXPECT_EQ(Narrow(path), "C:\\users\\simuser\\out.msp") << "a given path is used unchanged";
    const auto written = ReadBytes(Host(path));
    ASSERT_EQ(written.size(), 10015232U);
    EXPECT_TRUE(written == PackageBytes());
    const std::uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    EXPECT_TRUE(std::equal(signature, signature + 8, written.begin()));
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(Extraction, RelativePathIsRelativeToTheCurrentDirectory) {
    std::u16string path = u"sub/out.msp";
    fs::create_directories(Host(u"C:\\users\\simuser\\sub"));
    ASSERT_TRUE(ExtractPackage(path));
    EXPECT_EQ(fs::file_size(Host(u"C:\\users\\simuser\\sub\\out.msp")), PackageBytes().size());
}

TEST_F(Extraction, ExistingFileIsReplaced) {
    WriteText(Host(u"C:\\users\\simuser\\old.msp"), std::string(20000000, 'x'));
    std::u16string path = u"C:\\users\\simuser\\old.msp";
    ASSERT_TRUE(ExtractPackage(path));
    EXPECT_TRUE(ReadBytes(Host(path)) == PackageBytes());
}

TEST_F(Extraction, MissingDirectoryFailsWithoutCreatingIt) {
    std::u16string path = u"C:\\nowhere\\deeper\\out.msp";
    EXPECT_FALSE(ExtractPackage(path));
    EXPECT_FALSE(fs::exists(Host(u"C:\\nowhere")));
}

TEST_F(Extraction, EmptyPathGivesMsp2InTheTemporaryDirectory) {
    std::u16string path;
    ASSERT_TRUE(ExtractPackage(path));
    EXPECT_EQ(Narrow(path), "C:\\users\\simuser\\Temp\\MSP2");
    EXPECT_TRUE(ReadBytes(TempDir() + "/MSP2") == PackageBytes());
}

TEST_F(Extraction, TakenNamesArePassedOverWhetherFileOrDirectory) {
    WriteText(TempDir() + "/MSP2", "taken");
    fs::create_directories(TempDir() + "/MSP3");
    std::u16string path;
    ASSERT_TRUE(ExtractPackage(path));
    EXPECT_EQ(Narrow(path), "C:\\users\\simuser\\Temp\\MSP4");
    EXPECT_EQ(ReadBytes(TempDir() + "/MSP2").size(), 5U) << "the existing file is left alone";
}

TEST_F(Extraction, SecondRequestInOneProcessGetsAHigherNumber) {
    std::u16string first;
    std::u16string second;
    ASSERT_TRUE(ExtractPackage(first));
    ASSERT_TRUE(ExtractPackage(second));
    EXPECT_NE(first, second);
    const auto number = [](const std::u16string& name) {
        return std::stoul(Narrow(name.substr(name.rfind(u"MSP") + 3)));
    };
    EXPECT_GT(number(second), number(first));
    // Removing the first file does not make the counter go back.
    fs::remove(Host(first));
    std::u16string third;
    ASSERT_TRUE(ExtractPackage(third));
    EXPECT_GT(number(third), number(second));
}

TEST_F(Extraction, QuotedTmpIsUsedWithoutItsQuotes) {
    fs::create_directories(Host(u"C:\\spool dir"));
    sim::SetEnvironmentVariable(u"TMP", u"\"C:\\spool dir\"");
    std::u16string path;
    ASSERT_TRUE(ExtractPackage(path));
    EXPECT_EQ(Narrow(path), "C:\\spool dir\\MSP2");
    EXPECT_TRUE(fs::exists(Host(u"C:\\spool dir\\MSP2")));
}

TEST_F(Extraction, MissingTmpAndHintFallBackToTheDriveRoot) {
    // TMP names a missing folder, and the temporary path derived from it does too.
    sim::SetEnvironmentVariable(u"TMP", u"C:\\gone");
    std::u16string path;
    ASSERT_TRUE(ExtractPackage(path));
    EXPECT_EQ(Narrow(path), "C:\\MSP2");
    EXPECT_FALSE(fs::exists(Host(u"C:\\gone")));
}

TEST_F(Extraction, TmpDirectoryWinsOverTheHint) {
    fs::create_directories(Host(u"C:\\elsewhere"));
    sim::SetEnvironmentVariable(u"TEMP", u"C:\\users\\simuser\\Temp");
    sim::SetEnvironmentVariable(u"TMP", u"C:\\elsewhere\\");
    std::u16string path;
    ASSERT_TRUE(ExtractPackage(path));
    EXPECT_EQ(Narrow(path), "C:\\elsewhere\\MSP2") << "no second separator after a trailing one";
}

TEST_F(Extraction, TemporaryDirectoryFailureLeavesPathEmpty) {
    sim::InjectFault("GetTempPathW", 1);
    std::u16string path;
    EXPECT_FALSE(ExtractPackage(path));
    EXPECT_TRUE(path.empty());
}

TEST_F(Extraction, OverlongTemporaryDirectoryFailsWithoutWriting) {
    // 246 characters of directory leave no room for "MSP", ten digits and the terminator.
    std::u16string directory = u"C:\\";
    while (directory.size() < 246) {
        directory += u"d";
    }
    fs::create_directories(Host(directory));
    sim::SetEnvironmentVariable(u"TMP", directory);
    std::u16string path;
    EXPECT_FALSE(ExtractPackage(path));
    EXPECT_TRUE(path.empty());
    EXPECT_TRUE(fs::is_empty(Host(directory)));
}

TEST_F(Extraction, DirectoryOf245CharactersStillFits) {
    std::u16string directory = u"C:\\";
    while (directory.size() < 245) {
        directory += u"d";
    }
    fs::create_directories(Host(directory));
    sim::SetEnvironmentVariable(u"TMP", directory);
    std::u16string path;
    EXPECT_TRUE(ExtractPackage(path));
    EXPECT_EQ(path, directory + u"\\MSP2");
}

TEST_F(Extraction, MissingPackageResourceKeepsTheNameAndWritesNothing) {
    InstanceHandle = sim::RegisterModule({});
    std::u16string path;
    EXPECT_FALSE(ExtractPackage(path));
    EXPECT_EQ(Narrow(path), "C:\\users\\simuser\\Temp\\MSP2");
    EXPECT_FALSE(fs::exists(TempDir() + "/MSP2"));
}

TEST_F(Extraction, ResourceFailuresWriteNothing) {
    for (const char* function : {"FindResourceW", "SizeofResource", "LoadResource", "LockResource"}) {
        sim::ClearFaults();
        sim::InjectFault(function, 1);
        std::u16string path = u"C:\\users\\simuser\\out.msp";
        EXPECT_FALSE(ExtractPackage(path)) << function;
        EXPECT_FALSE(fs::exists(Host(path))) << function;
    }
}

TEST_F(Extraction, EmptyPackageResourceFails) {
    static const std::uint8_t nothing[1] = {0};
    sim::ResourceEntry entry;
    entry.typeName = u"MSP";
    entry.name = u"IDR_MSP";
    entry.language = 1046;
    entry.data = nothing;
    entry.size = 0;
    InstanceHandle = sim::RegisterModule({entry});
    std::u16string path = u"C:\\users\\simuser\\out.msp";
    EXPECT_FALSE(ExtractPackage(path));
    EXPECT_FALSE(fs::exists(Host(path)));
}

TEST_F(Extraction, ShortWriteLeavesThePartialFile) {
    sim::LimitNextWrite(4096);
    std::u16string path = u"C:\\users\\simuser\\out.msp";
    EXPECT_FALSE(ExtractPackage(path));
    const auto written = ReadBytes(Host(path));
    ASSERT_EQ(written.size(), 4096U);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), PackageBytes().begin()));
    EXPECT_TRUE(sim::OpenHandles().empty()) << "the file is closed";
}

TEST_F(Extraction, PackageIsWrittenInOneRequest) {
    std::u16string path;
    ASSERT_TRUE(ExtractPackage(path));
    EXPECT_EQ(sim::CallCount("WriteFile"), 1U);
}

TEST_F(Extraction, LinkPlantedAtTheTemporaryNameIsNeverWrittenThrough) {
    // Between the choice of a name and the open, something appears there.
    const std::string victim = Host(u"C:\\users\\simuser\\victim.txt");
    WriteText(victim, "precious");
    // Call 1 checks TMP; call 2, the check of MSP2, reports it free.
    sim::InjectFault("GetFileAttributesW", 2, win::ERROR_FILE_NOT_FOUND);
    fs::create_symlink(victim, TempDir() + "/MSP2");
    std::u16string path;
    EXPECT_FALSE(ExtractPackage(path));
    EXPECT_EQ(Narrow(path), "C:\\users\\simuser\\Temp\\MSP2");
    EXPECT_EQ(ReadBytes(victim).size(), 8U);
}

TEST_F(Extraction, NameRefusedForLackOfAccessIsPassedOver) {
    sim::DenyAllAccess(u"C:\\users\\simuser\\Temp\\MSP2");
    std::u16string path;
    ASSERT_TRUE(ExtractPackage(path));
    EXPECT_EQ(Narrow(path), "C:\\users\\simuser\\Temp\\MSP3");
}

TEST_F(Extraction, NoFreeNameAfter32767Candidates) {
    sim::InjectFault("GetFileAttributesW", 0, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(MakeTempName(u"C:\\users\\simuser\\Temp\\", u"MSP"), u"");
    // TMP, the hint and the drive root are checked once each, then every candidate once.
    EXPECT_EQ(sim::CallCount("GetFileAttributesW"), 3U + 32767U);
}

TEST_F(Extraction, ReadOnlyTemporaryDirectoryFailsTheExtraction) {
    sim::DenyWriteAccess(u"C:\\users\\simuser\\Temp");
    std::u16string path;
    EXPECT_FALSE(ExtractPackage(path));
    EXPECT_FALSE(fs::exists(TempDir() + "/MSP2"));
}

}  // namespace
