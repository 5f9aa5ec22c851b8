// The modes on machines that work against them: links planted at the next
// temporary name, temporary folders that cannot take a file, odd TMP values,
// lists held open by others, a disk that fills up, product names at their
// bound, host locations of every shape, and a patch list of 4 GiB.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "app/entry.h"
#include "app/options.h"
#include "messages/report.h"
#include "payload/extract.h"
#include "platform/simulated/pe_image.h"
#include "platform/simulated/sim_installer.h"
#include "platform/simulated/sim_registry.h"
#include "tests/machine_fixture.h"
#include "tests/reliability_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char16_t kCode[] = u"{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}";
constexpr char16_t kName[] = u"Quorvane Mervolt 9.2";
constexpr char16_t kHostKey[] = u"Software\\Quorvane\\Mervolt\\V9.2\\Mrvt-C3E:B61";
constexpr char16_t kHome[] = u"C:\\users\\simuser";

enum class Mode { Install, ExtractToPath, ExtractToTemporaryFile, PatchListDefaultName, List };

const char* NameOf(Mode mode) {
    switch (mode) {
        case Mode::Install: return "install";
        case Mode::ExtractToPath: return "/e x.msp";
        case Mode::ExtractToTemporaryFile: return "/e";
        case Mode::PatchListDefaultName: return "/p";
        case Mode::List: return "/i";
    }
    return "?";
}

std::vector<std::u16string> ArgumentsOf(Mode mode) {
    switch (mode) {
        case Mode::Install: return {};
        case Mode::ExtractToPath: return {u"/e", u"x.msp"};
        case Mode::ExtractToTemporaryFile: return {u"/e"};
        case Mode::PatchListDefaultName: return {u"/p"};
        case Mode::List: return {u"/i"};
    }
    return {};
}

class HostileSurroundings : public MachineTest {
protected:
    fs::path Drive() const { return sandbox_ / "c"; }

    std::u16string next_;  // name of the next temporary package, "MSPn"

    // A machine of its own for each case of a table. The name counter lasts for
    // the process, so the next temporary name is found by taking one first.
    void FreshMachine() {
        for (int pass = 0; pass < 2; ++pass) {
            fs::remove_all(Drive());
            sim::ResetMachine(sandbox_.string());
            if (pass == 0) {
                const std::u16string taken = MakeTempName(u"C:\\users\\simuser\\Temp\\", u"MSP");
                next_ = u"MSP" + sim::FromUtf8(std::to_string(std::stoul(Narrow(taken.substr(taken.rfind(u"MSP") + 3))) + 1));
            }
        }
        RunOptions = CommandLineOptions{};
    }

    // The next temporary package, relative to the drive.
    std::string NextTemporary() const { return "users/simuser/Temp/" + Narrow(next_); }

    // The product at a candidate version, with a host module of another version
    // and a transforms registration.
    void InstallProduct(std::u16string_view name = kName, std::u16string_view version = u"7.0.43.6") {
        sim::ProductRegistration product;
        product.productCode = kCode;
        product.name = std::u16string(name);
        product.version = std::u16string(version);
        ASSERT_TRUE(sim::RegisterProduct(product));
        sim::SetRegistryString(win::HKEY_CLASSES_ROOT, sim::ProductClassesKey(kCode), u"Transforms", u":1033.mst");
        sim::SetRegistryString(win::HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", u"C:\\Mervolt");
        WriteModule(u"C:\\Mervolt");
    }

    void WriteModule(std::u16string_view folder) {
        WriteBytes(Host(std::u16string(folder) + u"\\kelmora.zpq"),
                   pe_image::BuildPeImage(
                       {{16, 1, 0x409, pe_image::VersionBlock(0x00070000, 0x002B0002, 0x00090002, 0)}}));
    }

    int Run(Mode mode) {
        std::vector<std::u16string> arguments{u"C:\\tools\\spinstall.exe"};
        for (const auto& argument : ArgumentsOf(mode)) {
            arguments.push_back(argument);
        }
        UseArguments(arguments);
        RunOptions = CommandLineOptions{};
        return WinMain(sim::EmbeddedModule(), nullptr, nullptr, 10);
    }

    // The ids of the boxes shown, each box standing for exactly one.
    std::vector<unsigned> Shown() const {
        std::vector<unsigned> ids;
        for (const auto& box : sim::MessageBoxes()) {
            const auto possible = MessageIdsOf(box, {kName});
            EXPECT_EQ(possible.size(), 1U) << Describe(box);
            ids.push_back(possible.empty() ? 9999 : *possible.begin());
        }
        return ids;
    }

    bool TransformsKept() const {
        return sim::ReadRegistryValue(win::HKEY_CLASSES_ROOT, sim::ProductClassesKey(kCode), u"Transforms")
            .has_value();
    }

    std::vector<std::u16string> PatchCommandLines() const {
        std::vector<std::u16string> lines;
        for (const auto& call : sim::InstallerCallsOf("MsiConfigureProductExW")) {
            lines.push_back(call.arguments.at(3));
        }
        return lines;
    }

    // What appeared or changed below the drive, apart from the paths given.
    std::vector<std::string> ChangesBesides(const TreeSnapshot& before, const std::vector<std::string>& expected) {
        std::vector<std::string> changes;
        const TreeSnapshot after = SnapshotTree(Drive());
        for (const auto& [path, entry] : after) {
            auto it = before.find(path);
            if ((it == before.end() || !(it->second == entry)) &&
                std::find(expected.begin(), expected.end(), path) == expected.end()) {
                changes.push_back(path);
            }
        }
        for (const auto& [path, entry] : before) {
            if (after.count(path) == 0) {
                changes.push_back("removed " + path);
            }
        }
        return changes;
    }
};

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line + "; ";
    }
    return text;
}

// ---- The next temporary name -----------------------------------------------------

TEST_F(HostileSurroundings, LinkPlantedAtTheNextTemporaryNameIsNeverWrittenThroughInAnyMode) {
    struct Case {
        Mode mode;
        std::vector<unsigned> shown;
        std::vector<std::string> written;
    };
    const Case cases[] = {
        // The package cannot be written, so nothing is installed.
        {Mode::Install, {300}, {}},
        {Mode::ExtractToTemporaryFile, {}, {}},
        // The list reads whatever the link names, and that is no package.
        {Mode::List, {kListBox}, {}},
        // No target list: the default name.
        {Mode::PatchListDefaultName, {}, {"users/simuser/patchlist.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(NameOf(c.mode));
        FreshMachine();
        InstallProduct();
        WriteText(Host(u"C:\\users\\simuser\\victim.txt"), "precious");
        fs::create_symlink(Host(u"C:\\users\\simuser\\victim.txt"), Drive() / NextTemporary());
        const TreeSnapshot before = SnapshotTree(Drive());
        // Call 1 checks TMP; call 2 finds the name free, and then the link appears.
        sim::InjectFault("GetFileAttributesW", 2, win::ERROR_FILE_NOT_FOUND);

        EXPECT_EQ(Run(c.mode), 0);
        sim::ClearFaults();
        EXPECT_EQ(Shown(), c.shown);
        if (c.mode == Mode::List) {
            EXPECT_EQ(sim::MessageBoxes().at(0).text, u"");
        }
        EXPECT_EQ(Joined(ChangesBesides(before, c.written)), "") << "the link and its target stay as they were";
        EXPECT_TRUE(PatchCommandLines().empty());
        EXPECT_TRUE(TransformsKept());
        EXPECT_TRUE(sim::OpenHandles().empty());
    }
}

// ---- Temporary folders that take no file -------------------------------------------

TEST_F(HostileSurroundings, TemporaryFolderThatIsReadOnlyOrAFileGetsNothingWritten) {
    struct Case {
        const char* what;
        bool folderIsAFile;
        Mode mode;
        std::vector<unsigned> shown;
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {"read-only", false, Mode::Install, {300}, {}},
        {"read-only", false, Mode::List, {kListBox}, {}},
        {"read-only", false, Mode::PatchListDefaultName, {}, {"users/simuser/patchlist.txt"}},
        {"read-only", false, Mode::ExtractToTemporaryFile, {}, {}},
        {"a file", true, Mode::Install, {300}, {}},
        {"a file", true, Mode::List, {kListBox}, {}},
        {"a file", true, Mode::PatchListDefaultName, {}, {"users/simuser/patchlist.txt"}},
        {"a file", true, Mode::ExtractToTemporaryFile, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", " + NameOf(c.mode));
        FreshMachine();
        InstallProduct();
        if (c.folderIsAFile) {
            // TMP then names something that exists, but no folder.
            fs::remove_all(Drive() / "users/simuser/Temp");
            WriteText((Drive() / "users/simuser/Temp").string(), "a file where the folder was");
        } else {
            sim::DenyWriteAccess(u"C:\\users\\simuser\\Temp");
        }
        const TreeSnapshot before = SnapshotTree(Drive());

        EXPECT_EQ(Run(c.mode), 0);
        EXPECT_EQ(Shown(), c.shown);
        if (c.mode == Mode::List) {
            EXPECT_EQ(sim::MessageBoxes().at(0).text, u"");
        }
        EXPECT_EQ(Joined(ChangesBesides(before, c.written)), "");
        EXPECT_TRUE(PatchCommandLines().empty());
        EXPECT_TRUE(sim::OpenHandles().empty());
    }
}

// ---- Odd TMP values ------------------------------------------------------------------

TEST_F(HostileSurroundings, OddTmpValuesStillGiveAFreshNameInTheirFolder) {
    struct Case {
        const char16_t* tmp;
        const char16_t* folder;  // created; the package is expected there
        unsigned outcome;
    };
    const Case cases[] = {
        {u"C:\\spool dir", u"C:\\spool dir", 301},
        {u"\"C:\\spool dir\\\"", u"C:\\spool dir\\", 301},
        {u"C:\\sp\"oo\"l", u"C:\\spool", 301},
        {u"C:\\Tëmp ж 中文", u"C:\\Tëmp ж 中文", 301},
        {u"C:\\100%\\%TEMP%", u"C:\\100%\\%TEMP%", 301},
        {u"C:\\trailing\\", u"C:\\trailing\\", 301},
        {u"\"\"", u"C:\\", 301},
        // The installer takes PATCH as a ";"-separated list of packages: a
        // folder with ";" names two packages that do not exist.
        {u"C:\\a;b", u"C:\\a;b", 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.tmp));
        FreshMachine();
        InstallProduct();
        fs::create_directories(Host(c.folder));
        sim::SetEnvironmentVariable(u"TMP", c.tmp);
        const TreeSnapshot before = SnapshotTree(Drive());

        EXPECT_EQ(Run(Mode::Install), 0);
        std::u16string expected = c.folder;
        if (expected.back() != u'\\') {
            expected += u'\\';
        }
        expected += next_;
        EXPECT_EQ(Narrow(PatchCommandLines().empty() ? u"" : PatchCommandLines()[0]),
                  Narrow(u"PATCH=\"" + expected + u"\""));
        EXPECT_EQ(Shown(), std::vector<unsigned>{c.outcome});
        EXPECT_FALSE(TransformsKept()) << "the removal runs before the installer is asked";
        // The package is deleted at the normal end, however the installer answered.
        EXPECT_EQ(Joined(ChangesBesides(before, {})), "");
        EXPECT_TRUE(sim::OpenHandles().empty());
    }
}

// ---- Patch lists held by others ---------------------------------------------------------

TEST_F(HostileSurroundings, PatchListHeldByAReaderIsWrittenOnlyWhenTheReaderSharesWriting) {
    struct Case {
        win::DWORD share;
        bool written;
    };
    const Case cases[] = {
        {win::FILE_SHARE_READ, false},
        {win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, true},
    };
    const std::string earlier = "an earlier entry";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.share);
        FreshMachine();
        WriteText(Host(u"C:\\users\\simuser\\list.txt"), earlier);
        win::HANDLE reader = win::CreateFileW(u"C:\\users\\simuser\\list.txt", win::GENERIC_READ, c.share, nullptr,
                                              win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(reader, win::INVALID_HANDLE_VALUE);
        UseArguments({u"spinstall.exe", u"/p", u"list.txt"});
        EXPECT_EQ(WinMain(sim::EmbeddedModule(), nullptr, nullptr, 10), 0);
        win::CloseHandle(reader);

        EXPECT_EQ(Shown(), c.written ? std::vector<unsigned>{} : std::vector<unsigned>{310});
        const auto bytes = ReadBytes(Host(u"C:\\users\\simuser\\list.txt"));
        EXPECT_EQ(bytes.size(), earlier.size() + (c.written ? 1261U : 0U));
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<long>(earlier.size())), earlier);
        EXPECT_TRUE(sim::OpenHandles().empty());
    }
}

// A list of 4 GiB or more: without a high word, the move to its end is refused
// and the position stays at the start.
TEST_F(HostileSurroundings, MoveToTheEndOfAFileOf4GiBWithoutAHighWordIsRefused) {
    const std::string list = Host(u"C:\\users\\simuser\\huge.txt");
    WriteText(list, "");
    fs::resize_file(list, (std::uintmax_t{1} << 32) + 10);
    win::HANDLE file = win::CreateFileW(u"C:\\users\\simuser\\huge.txt", win::GENERIC_READ | win::GENERIC_WRITE,
                                        win::FILE_SHARE_READ, nullptr, win::OPEN_ALWAYS, win::FILE_ATTRIBUTE_NORMAL,
                                        nullptr);
    ASSERT_NE(file, win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::SetFilePointer(file, 0, nullptr, win::FILE_END), win::INVALID_SET_FILE_POINTER);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(win::SetFilePointer(file, 0, nullptr, win::FILE_CURRENT), 0U) << "the position did not move";
    win::LONG high = 0;
    EXPECT_EQ(win::SetFilePointer(file, 0, &high, win::FILE_END), 10U);
    EXPECT_EQ(high, 1);
    win::CloseHandle(file);
}

// Known finding: the export does not look at the failed move and writes its
// entry over the first bytes of the list. Enable once the export handles it.
TEST_F(HostileSurroundings, PatchListOf4GiBKeepsItsBytes) {
    const std::string list = Host(u"C:\\users\\simuser\\huge.txt");
    const std::string earlier = "*****\r\nProductCode={00000000-0000-0000-0000-000000000000}\r\n";
    WriteText(list, earlier);
    fs::resize_file(list, (std::uintmax_t{1} << 32) + 10);
    UseArguments({u"spinstall.exe", u"/p", u"huge.txt"});
    EXPECT_EQ(WinMain(sim::EmbeddedModule(), nullptr, nullptr, 10), 0);
    // Only the first bytes are read back: the file is sparse and mostly zeros.
    std::string start(earlier.size(), '\0');
    const int descriptor = open(list.c_str(), O_RDONLY);
    ASSERT_GE(descriptor, 0);
    EXPECT_EQ(pread(descriptor, start.data(), start.size(), 0), static_cast<ssize_t>(start.size()));
    close(descriptor);
    EXPECT_EQ(start, earlier) << "the list's first entry was overwritten";
    fs::remove(list);
}

// ---- A disk that fills up -------------------------------------------------------------------

TEST_F(HostileSurroundings, ShortWriteWhileExtractingLeavesThePartialFileInEveryMode) {
    struct Case {
        Mode mode;
        std::vector<unsigned> shown;
        const char* partial;  // the file left with the first 4096 bytes; null: the next temporary one
        std::vector<std::string> alsoWritten;
    };
    const Case cases[] = {
        {Mode::Install, {300}, nullptr, {}},
        {Mode::ExtractToPath, {}, "users/simuser/x.msp", {}},
        {Mode::ExtractToTemporaryFile, {}, nullptr, {}},
        // The list reads the partial package, which holds no readable target list.
        {Mode::List, {kListBox}, nullptr, {}},
        {Mode::PatchListDefaultName, {}, nullptr, {"users/simuser/patchlist.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(NameOf(c.mode));
        FreshMachine();
        InstallProduct();
        const TreeSnapshot before = SnapshotTree(Drive());
        sim::LimitNextWrite(4096);

        EXPECT_EQ(Run(c.mode), 0);
        EXPECT_EQ(Shown(), c.shown);
        if (c.mode == Mode::Install) {
            EXPECT_NE(sim::MessageBoxes().at(0).text.find(u"Error Code: 112"), std::u16string::npos)
                << "the disk-full code of the short write";
        }
        if (c.mode == Mode::List) {
            EXPECT_EQ(sim::MessageBoxes().at(0).text, u"");
        }
        const std::string partialPath = c.partial != nullptr ? c.partial : NextTemporary();
        const auto partial = ReadBytes((Drive() / partialPath).string());
        EXPECT_EQ(partial.size(), 4096U);
        EXPECT_TRUE(IsPackagePrefix(std::string(partial.begin(), partial.end())));
        std::vector<std::string> written = c.alsoWritten;
        written.push_back(partialPath);
        EXPECT_EQ(Joined(ChangesBesides(before, written)), "");
        if (!c.alsoWritten.empty()) {
            EXPECT_EQ(ReadBytes((Drive() / c.alsoWritten[0]).string()).size(), 1261U);
        }
        EXPECT_TRUE(PatchCommandLines().empty());
        EXPECT_TRUE(TransformsKept());
        EXPECT_TRUE(sim::OpenHandles().empty());
    }
}

// ---- Product names at their bound ------------------------------------------------------------

TEST_F(HostileSurroundings, ProductNameOf1023CharactersStaysWithinTheMessageBound) {
    // Every kind of unit: ASCII, "%", Latin, CJK and the halves of a pair.
    std::u16string name;
    while (name.size() < 1023) {
        name += u"Mé%s中\U0001F600";
    }
    name.resize(1023);
    struct Case {
        const char16_t* version;
        unsigned message;
        const char16_t* format;
        std::size_t nameLength;  // as registered
    };
    const Case cases[] = {
        {u"7.0.43.6", 301, u"The service pack was successfully installed and %s has been updated.", 1023},
        {u"7.1.0.4", 308,
         u"This service pack could not be installed because it is not designed for the version of %s that is "
         u"installed on your computer.",
         1023},
        {u"7.2.0.2", 306, u"Your version of %s is up-to-date and this service pack is not necessary", 1023},
        // Longer than the installer's answer can be: it gives the first 1023.
        {u"7.0.43.6", 301, u"The service pack was successfully installed and %s has been updated.", 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        FreshMachine();
        std::u16string registered = name;
        while (registered.size() < c.nameLength) {
            registered += u"x";
        }
        InstallProduct(registered, c.version);

        EXPECT_EQ(Run(Mode::Install), 0);
        ASSERT_EQ(sim::MessageBoxes().size(), 1U);
        const std::u16string& text = sim::MessageBoxes()[0].text;
        std::u16string full = c.format;
        full.replace(full.find(u"%s"), 2, name);
        const std::size_t bound = std::u16string(c.format).size() + 511;
        // Cut at the bound, one unit sooner where that would split a pair.
        std::size_t expected = std::min(full.size(), bound);
        if (expected < full.size() && full[expected - 1] >= 0xD800 && full[expected - 1] <= 0xDBFF) {
            --expected;
        }
        EXPECT_EQ(text.size(), expected);
        EXPECT_EQ(full.compare(0, text.size(), text), 0) << "a cut of the composed text";
        EXPECT_FALSE(text.back() >= 0xD800 && text.back() <= 0xDBFF) << "no half of a pair at the end";
        EXPECT_TRUE(sim::OpenHandles().empty());
    }
}

// ---- Host locations of every shape ----------------------------------------------------------

TEST_F(HostileSurroundings, HostLocationOfAnyShapeNeverStopsThePatch) {
    auto units = [](std::u16string_view text, bool terminator) {
        std::vector<std::uint8_t> bytes;
        for (char16_t c : text) {
            bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        if (terminator) {
            bytes.push_back(0);
            bytes.push_back(0);
        }
        return bytes;
    };
    struct Case {
        const char* what;
        win::DWORD type;
        std::vector<std::uint8_t> bytes;
        const char16_t* moduleFolder;  // where a module of another version is put; null for none
        bool transformsKept;
    };
    const Case cases[] = {
        {"REG_DWORD", win::REG_DWORD, {0x2A, 0, 0, 0}, nullptr, true},
        {"2048 bytes, no terminator", win::REG_SZ, units(std::u16string(1024, u'D'), false), nullptr, true},
        // 1023 characters and the terminator: the module path would not fit its area.
        {"2048 bytes, terminated", win::REG_SZ, units(u"C:\\" + std::u16string(1020, u'E'), true), nullptr, true},
        // Nothing in the value is expanded: a folder of that very name is meant.
        {"REG_EXPAND_SZ", win::REG_EXPAND_SZ, units(u"C:\\%ProgramFiles%\\Mervolt", true),
         u"C:\\%ProgramFiles%\\Mervolt", false},
        // The first string of a list is a folder name like any other.
        {"REG_MULTI_SZ", win::REG_MULTI_SZ, units(std::u16string(u"C:\\Multi") + u'\0' + u"C:\\Other" + u'\0', true), u"C:\\Multi",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FreshMachine();
        InstallProduct();
        fs::remove_all(Drive() / "Mervolt");
        sim::SetRegistryValue(win::HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", c.type, c.bytes);
        if (c.moduleFolder != nullptr) {
            WriteModule(c.moduleFolder);
        }

        EXPECT_EQ(Run(Mode::Install), 0);
        EXPECT_EQ(Shown(), std::vector<unsigned>{301});
        EXPECT_EQ(PatchCommandLines().size(), 1U);
        EXPECT_EQ(TransformsKept(), c.transformsKept);
        EXPECT_TRUE(sim::OpenHandles().empty());
    }
}

}  // namespace
