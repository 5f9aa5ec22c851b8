// Appending the patch descriptions to a patch-list file.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/entry.h"
#include "payload/patch_list.h"
#include "tests/machine_fixture.h"
#include "tests/module_builder.h"
#include "tests/msi_packages.h"

namespace {

namespace fs = std::filesystem;

const std::u16string kNoPatchList =
    u"You must supply a patch list with the command line to install this service pack installation.";

class PatchList : public MachineTest {
protected:
    std::string Entry(const std::string& description) const { return "*****\r\n" + description + "\r\n"; }
    std::string FileText(std::u16string_view path) const {
        const auto bytes = ReadBytes(Host(path));
        return {bytes.begin(), bytes.end()};
    }
    std::string Shipped() const {
        const auto bytes = ReadBytes(std::string(SPINSTALL_SOURCE_DIR) + "/resources/patch206.txt");
        return {bytes.begin(), bytes.end()};
    }
    // A module whose package has the given target list.
    win::HINSTANCE ModuleWithTargets(const std::string& targets) {
        const std::string package = (sandbox_ / "targets.msp").string();
        EXPECT_TRUE(BuildPatchPackage(package, targets, kTestPatchCode));
        return BuildModule({.package = ReadBytes(package)});
    }
};

TEST_F(PatchList, NewFileGetsTheEntryExactly) {
    EXPECT_TRUE(AppendPatchList(u"C:\\lists\\all.txt") == false) << "a missing folder is not created";
    fs::create_directories(Host(u"C:\\lists"));
    EXPECT_TRUE(AppendPatchList(u"C:\\lists\\all.txt"));
    const std::string text = FileText(u"C:\\lists\\all.txt");
    EXPECT_EQ(text.size(), 1261U);
    EXPECT_EQ(text, Entry(Shipped()));
    EXPECT_EQ(sim::MessageBoxes().size(), 1U) << "only the failed open reported";
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(PatchList, ExistingBytesStayAndTheEntryFollowsTheLastOne) {
    WriteText(Host(u"C:\\users\\simuser\\list.txt"), "older entry, no line break");
    EXPECT_TRUE(AppendPatchList(u"list.txt"));
    EXPECT_TRUE(AppendPatchList(u"list.txt"));
    EXPECT_EQ(FileText(u"C:\\users\\simuser\\list.txt"),
              "older entry, no line break" + Entry(Shipped()) + Entry(Shipped()));
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(PatchList, EveryDescriptionUpToTheFirstGapIsExported) {
    InstanceHandle = BuildModule({.descriptions = {{207, "Key=two\r\n"}, {209, "Key=four\r\n"}}});
    EXPECT_TRUE(AppendPatchList(u"list.txt"));
    EXPECT_EQ(FileText(u"C:\\users\\simuser\\list.txt"), Entry(Shipped()) + Entry("Key=two\r\n"));
    EXPECT_TRUE(sim::MessageBoxes().empty()) << "a missing id after the first ends quietly";
}

TEST_F(PatchList, MissingFirstDescriptionGets310AndLeavesTheFileEmpty) {
    InstanceHandle = BuildModule({.dropDescriptions = {206}});
    EXPECT_TRUE(AppendPatchList(u"list.txt"));
    ASSERT_EQ(sim::MessageBoxes().size(), 1U);
    EXPECT_EQ(Narrow(sim::MessageBoxes()[0].text), Narrow(kNoPatchList));
    EXPECT_EQ(sim::MessageBoxes()[0].style, 0x50010U);
    EXPECT_TRUE(fs::exists(Host(u"C:\\users\\simuser\\list.txt")));
    EXPECT_EQ(fs::file_size(Host(u"C:\\users\\simuser\\list.txt")), 0U);
}

TEST_F(PatchList, FilesThatCannotBeOpenedGet310AndNothingIsWritten) {
    fs::create_directories(Host(u"C:\\users\\simuser\\folder.txt"));
    WriteText(Host(u"C:\\users\\simuser\\held.txt"), "kept");
    WriteText(Host(u"C:\\users\\simuser\\locked.txt"), "kept");
    sim::DenyWriteAccess(u"C:\\users\\simuser\\locked.txt");
    // Another handle writes the file: opening with read sharing only fails.
    win::HANDLE other = win::CreateFileW(u"C:\\users\\simuser\\held.txt", win::GENERIC_WRITE,
                                         win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, nullptr, win::OPEN_EXISTING,
                                         win::FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, win::INVALID_HANDLE_VALUE);
    for (const char16_t* path : {u"folder.txt", u"held.txt", u"locked.txt", u"C:\\missing\\list.txt"}) {
        sim::ClearMessageBoxes();
        EXPECT_FALSE(AppendPatchList(path)) << Narrow(path);
        ASSERT_EQ(sim::MessageBoxes().size(), 1U) << Narrow(path);
        EXPECT_EQ(Narrow(sim::MessageBoxes()[0].text), Narrow(kNoPatchList));
    }
    win::CloseHandle(other);
    EXPECT_EQ(FileText(u"C:\\users\\simuser\\held.txt"), "kept");
    EXPECT_EQ(FileText(u"C:\\users\\simuser\\locked.txt"), "kept");
    EXPECT_FALSE(fs::exists(Host(u"C:\\missing")));
}

TEST_F(PatchList, ListThatCannotBePositionedAtItsEndIsLeftAlone) {
    WriteText(Host(u"C:\\users\\simuser\\list.txt"), "earlier entries");
    sim::InjectFault("SetFilePointer", 1, win::ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(AppendPatchList(u"list.txt"));
    EXPECT_EQ(FileText(u"C:\\users\\simuser\\list.txt"), "earlier entries") << "nothing written at the start";
    ASSERT_EQ(sim::MessageBoxes().size(), 1U);
    EXPECT_EQ(Narrow(sim::MessageBoxes()[0].text), Narrow(kNoPatchList));
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(PatchList, UnreadableDescriptionGets300AndKeepsWhatWasWritten) {
    InstanceHandle = BuildModule({.descriptions = {{207, ""}}});
    win::SetLastError(0);
    EXPECT_TRUE(AppendPatchList(u"list.txt"));
    EXPECT_EQ(FileText(u"C:\\users\\simuser\\list.txt"), Entry(Shipped()));
    ASSERT_EQ(sim::MessageBoxes().size(), 1U);
    EXPECT_EQ(Narrow(sim::MessageBoxes()[0].caption), "Installation Error");
    EXPECT_NE(sim::MessageBoxes()[0].text.find(u"Error Code: "), std::u16string::npos);
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(PatchList, FailedWritesDropTheirPartOfTheEntry) {
    InstanceHandle = BuildModule({.descriptions = {{207, "B\r\n"}, {208, "C\r\n"}}});
    // Writes: 206 separator, body, break; 207 separator (fails); 208 separator, body (fails).
    sim::InjectFault("WriteFile", 4);
    sim::InjectFault("WriteFile", 6);
    EXPECT_TRUE(AppendPatchList(u"list.txt"));
    EXPECT_EQ(FileText(u"C:\\users\\simuser\\list.txt"), Entry(Shipped()) + "*****\r\n");
    EXPECT_TRUE(sim::MessageBoxes().empty()) << "failed writes are not reported";
}

struct DefaultNameCase {
    const char* targets;
    const char* fileName;
};

TEST_F(PatchList, DefaultNameComesFromTheTargetList) {
    const DefaultNameCase cases[] = {
        {"{4F7D2A19-0A1B-4B61-A5D0-9E2F71C3B846};{B2E85C07-3D1A-4F98-8C6B-57A0D4E9F213}", "patchlist0A1B.txt"},
        {"abcdefgh", "patchlistabcd.txt"},
        {"ab", "patchlistab.txt"},
        {"x-ab", "patchlistab.txt"},
        {"x-", "patchlist.txt"},
        {"a-bb:c-dddd-e", "patchlistdddd.txt"},
        {"", "patchlist.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.targets);
        sim::ClearMessageBoxes();
        InstanceHandle = ModuleWithTargets(c.targets);
        EXPECT_TRUE(AppendPatchList(u""));
        const std::string file = Host(u"C:\\users\\simuser\\" + sim::FromUtf8(c.fileName));
        EXPECT_EQ(ReadBytes(file).size(), 1261U);
        fs::remove(file);
        EXPECT_TRUE(sim::MessageBoxes().empty());
    }
}

TEST_F(PatchList, DefaultNameWhenThePackageCannotBeHad) {
    InstanceHandle = BuildModule({.dropPackage = true});
    EXPECT_TRUE(AppendPatchList(u""));
    EXPECT_EQ(fs::file_size(Host(u"C:\\users\\simuser\\patchlist.txt")), 1261U);
    EXPECT_TRUE(sim::MessageBoxes().empty()) << "the failed extraction is silent";
}

TEST_F(PatchList, DefaultNameKeepsTheTemporaryPackage) {
    EXPECT_TRUE(AppendPatchList(u""));
    EXPECT_EQ(fs::file_size(Host(u"C:\\users\\simuser\\patchlist8C3E.txt")), 1261U);
    // The counter goes on within the test process: look for any MSPn.
    const fs::path temp = Host(u"C:\\users\\simuser\\Temp");
    ASSERT_EQ(std::distance(fs::directory_iterator(temp), fs::directory_iterator()), 1);
    EXPECT_EQ(fs::directory_iterator(temp)->path().filename().string().rfind("MSP", 0), 0U);
}

}  // namespace
