// The simulated version library over real and hand-made PE files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "tests/machine_fixture.h"
#include "tests/built_modules.h"

using namespace pe_image;

namespace {

constexpr win::DWORD kNoResourceSection = win::ERROR_RESOURCE_DATA_NOT_FOUND;

class VersionLibraryTest : public MachineTest {
protected:
    std::u16string Place(const ImageBytes& bytes, const std::u16string& name = u"module.dll") {
        const std::u16string path = u"C:\\modules\\" + name;
        WriteBytes(Host(path), bytes);
        return path;
    }

    // The size the library asks for, and the last-error code when it is 0.
    static win::DWORD SizeOf(const std::u16string& path, win::DWORD& error) {
        win::DWORD handle = 99;
        win::SetLastError(0);
        const win::DWORD size = win::GetFileVersionInfoSizeW(path.c_str(), &handle);
        error = win::GetLastError();
        EXPECT_EQ(handle, 0u) << "the handle word is always cleared";
        return size;
    }

    // The version block of a file, read into a buffer exactly as large as asked for.
    static ImageBytes ReadBlock(const std::u16string& path) {
        win::DWORD error = 0;
        const win::DWORD size = SizeOf(path, error);
        ImageBytes block(size);
        if (size == 0 || !win::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
            return {};
        }
        return block;
    }

    static bool QueryFixedInfo(const ImageBytes& block, win::VS_FIXEDFILEINFO& info) {
        win::LPVOID value = nullptr;
        win::UINT length = 0;
        if (!win::VerQueryValueW(block.data(), u"\\", &value, &length) || length < sizeof(info)) {
            return false;
        }
        std::memcpy(&info, value, sizeof(info));
        return true;
    }
};

TEST_F(VersionLibraryTest, ReadsTheFixedInfoOfABuiltModule) {
    const ImageBytes block = ReadBlock(Place(BuiltModule("version-7.2.0.2.dll")));
    ASSERT_FALSE(block.empty());
    win::VS_FIXEDFILEINFO info{};
    ASSERT_TRUE(QueryFixedInfo(block, info));
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(info.dwFileVersionMS, 0x00070002u);
    EXPECT_EQ(info.dwFileVersionLS, 0x00000002u);
    EXPECT_EQ(info.dwProductVersionMS, 0x00070005u);
    EXPECT_EQ(info.dwProductVersionLS, 0x00010009u);
}

TEST_F(VersionLibraryTest, AsksForRoomBeyondTheBlockAndCopiesIt) {
    const ImageBytes resource = VersionBlock(0x10002, 0x30004, 0x50006, 0x70008);
    const std::u16string path = Place(BuildPeImage({{16, 1, 0x409, resource}}));
    win::DWORD error = 0;
    EXPECT_EQ(SizeOf(path, error), resource.size() * 2 + 4);
    const ImageBytes block = ReadBlock(path);
    ASSERT_GE(block.size(), resource.size());
    EXPECT_TRUE(std::equal(resource.begin(), resource.end(), block.begin()));
}

TEST_F(VersionLibraryTest, WalksNamedBlocksWithoutRegardToCase) {
    const ImageBytes block = ReadBlock(Place(BuiltModule("version-7.2.0.2.dll")));
    ASSERT_FALSE(block.empty());
    for (const char16_t* name :
         {u"\\StringFileInfo\\040904B0\\FileVersion", u"\\stringfileinfo\\040904b0\\fileversion"}) {
        win::LPVOID value = nullptr;
        win::UINT length = 0;
        ASSERT_TRUE(win::VerQueryValueW(block.data(), name, &value, &length)) << Narrow(name);
        EXPECT_EQ(length, 8u) << "characters with the terminator";
        EXPECT_EQ(std::u16string(static_cast<const char16_t*>(value)), u"7.2.0.2");
    }
    win::LPVOID value = nullptr;
    win::UINT length = 0;
    ASSERT_TRUE(win::VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(Get32At(ImageBytes(static_cast<const std::uint8_t*>(value),
                                 static_cast<const std::uint8_t*>(value) + 4),
                      0),
              0x04B00409u);
    EXPECT_FALSE(
        win::VerQueryValueW(block.data(), u"\\StringFileInfo\\040904B0\\CompanyName", &value, &length));
    EXPECT_EQ(value, nullptr);
    EXPECT_FALSE(win::VerQueryValueW(block.data(), u"\\StringFileInfo", &value, &length))
        << "a node with no value";
}

TEST_F(VersionLibraryTest, ReportsWhyThereIsNoVersion) {
    struct Case {
        const char* what;
        std::u16string path;
        win::DWORD error;
    };
    const ImageBytes strings(64, 0);
    const Case cases[] = {
        {"module with only a string table", Place(BuiltModule("no-version.dll"), u"a.dll"),
         win::ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"missing file", u"C:\\modules\\absent.dll", win::ERROR_FILE_NOT_FOUND},
        {"missing folder", u"C:\\nowhere\\absent.dll", win::ERROR_PATH_NOT_FOUND},
        {"a folder", u"C:\\users", win::ERROR_ACCESS_DENIED},
        {"text file", Place(ImageBytes{'M', 'Z', ' ', 'i', 's', ' ', 'n', 'o', 't'}, u"b.txt"),
         kNoResourceSection},
        {"image without resources", Place(BuildPeImage({}), u"c.dll"), kNoResourceSection},
        {"version under another name",
         Place(BuildPeImage({{16, 2, 0x409, VersionBlock(1, 2, 3, 4)}}), u"d.dll"),
         win::ERROR_RESOURCE_NAME_NOT_FOUND},
        {"strings only", Place(BuildPeImage({{6, 1, 0x409, strings}}), u"e.dll"),
         win::ERROR_RESOURCE_TYPE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        win::DWORD error = 0;
        EXPECT_EQ(SizeOf(c.path, error), 0u) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        ImageBytes buffer(256, 0xCD);
        win::SetLastError(0);
        EXPECT_FALSE(win::GetFileVersionInfoW(c.path.c_str(), 0, 256, buffer.data())) << c.what;
        EXPECT_EQ(win::GetLastError(), c.error) << c.what;
    }
}

TEST_F(VersionLibraryTest, DeniedFilesAreNotRead) {
    const std::u16string path = Place(BuiltModule("version-7.2.0.2.dll"));
    sim::DenyAllAccess(u"C:\\modules");
    win::DWORD error = 0;
    EXPECT_EQ(SizeOf(path, error), 0u);
    EXPECT_EQ(error, win::ERROR_ACCESS_DENIED);
}

TEST_F(VersionLibraryTest, PicksTheLanguageTheLoaderWould) {
    const ImageBytes japanese = VersionBlock(0x10000, 1, 0, 0);
    const ImageBytes english = VersionBlock(0x20000, 2, 0, 0);
    const ImageBytes neutral = VersionBlock(0x30000, 3, 0, 0);
    const ImageBytes german = VersionBlock(0x40000, 4, 0, 0);
    struct Case {
        std::vector<TestResource> resources;
        win::LCID userLocale;
        win::LCID threadLocale;
        std::uint32_t expectedFileMS;
    };
    const Case cases[] = {
        {{{16, 1, 1033, english}, {16, 1, 1041, japanese}}, 1033, 1041, 0x10000},
        {{{16, 1, 1033, english}, {16, 1, 1041, japanese}}, 1033, 1043, 0x20000},
        {{{16, 1, 1041, japanese}, {16, 1, 0, neutral}, {16, 1, 1033, english}}, 1033, 1041, 0x30000},
        {{{16, 1, 1041, japanese}, {16, 1, 1031, german}}, 1031, 1043, 0x40000},
        {{{16, 1, 1041, japanese}, {16, 1, 1031, german}}, 1033, 1043, 0x10000},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        sim::SetUserDefaultLocale(cases[i].userLocale);
        ASSERT_TRUE(win::SetThreadLocale(cases[i].threadLocale));
        win::VS_FIXEDFILEINFO info{};
        ASSERT_TRUE(QueryFixedInfo(ReadBlock(Place(BuildPeImage(cases[i].resources))), info)) << i;
        EXPECT_EQ(info.dwFileVersionMS, cases[i].expectedFileMS) << i;
    }
}

TEST_F(VersionLibraryTest, AShortBufferGetsAConsistentPrefix) {
    const std::u16string path = Place(BuiltModule("version-7.2.0.2.dll"));
    // Enough for the root's key but not its whole fixed info: the copy says so itself.
    for (win::DWORD length : {6u, 40u, 60u, 91u}) {
        ImageBytes buffer(length);
        ASSERT_TRUE(win::GetFileVersionInfoW(path.c_str(), 0, length, buffer.data())) << length;
        EXPECT_EQ(Get16At(buffer, 0), length);
        win::LPVOID value = nullptr;
        win::UINT valueLength = 0;
        EXPECT_FALSE(win::VerQueryValueW(buffer.data(), u"\\", &value, &valueLength)) << length;
    }
    ImageBytes tiny(5);
    EXPECT_FALSE(win::GetFileVersionInfoW(path.c_str(), 0, 5, tiny.data()));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(win::GetFileVersionInfoW(path.c_str(), 0, 100, nullptr));
}

// One damaged field of an otherwise good image, and the error it must give.
struct Damage {
    const char* what;
    std::function<void(ImageBytes&, const PeLayout&)> apply;
    win::DWORD error;  // 0: the file still has a readable version
};

TEST_F(VersionLibraryTest, DamagedHeadersAndTreesAreRefusedSafely) {
    const Damage damages[] = {
        {"no MZ", [](ImageBytes& b, const PeLayout&) { b[0] = 'X'; }, kNoResourceSection},
        {"PE header past the end", [](ImageBytes& b, const PeLayout&) { Put32At(b, 0x3C, 0xFFFFFFF0U); },
         kNoResourceSection},
        {"PE header at the last bytes",
         [](ImageBytes& b, const PeLayout&) { Put32At(b, 0x3C, static_cast<std::uint32_t>(b.size() - 2)); },
         kNoResourceSection},
        {"bad PE signature", [](ImageBytes& b, const PeLayout& l) { b[l.peHeader + 1] = 'X'; },
         kNoResourceSection},
        {"unknown optional header",
         [](ImageBytes& b, const PeLayout& l) { Put16At(b, l.optionalHeader, 0x107); }, kNoResourceSection},
        {"optional header too short for the resource entry",
         [](ImageBytes& b, const PeLayout& l) { Put16At(b, l.peHeader + 4 + 16, 120); }, kNoResourceSection},
        {"two data directories only",
         [](ImageBytes& b, const PeLayout& l) { Put32At(b, l.optionalHeader + 108, 2); }, kNoResourceSection},
        {"no resource directory",
         [](ImageBytes& b, const PeLayout& l) { Put32At(b, l.resourceDirectory, 0); }, kNoResourceSection},
        {"section table past the end",
         [](ImageBytes& b, const PeLayout& l) { Put16At(b, l.peHeader + 6, 0xFFFF); }, kNoResourceSection},
        {"section data past the end",
         [](ImageBytes& b, const PeLayout& l) { Put32At(b, l.sectionHeader + 20, 0xFFFFFE00U); },
         kNoResourceSection},
        {"section claims more than the file holds",
         [](ImageBytes& b, const PeLayout& l) { Put32At(b, l.sectionHeader + 16, 0xFFFFFFFFU); }, 0},
        {"section at the top of the address space",
         [](ImageBytes& b, const PeLayout& l) {
             Put32At(b, l.sectionHeader + 12, 0xFFFFFF00U);
             Put32At(b, l.resourceDirectory, 0xFFFFFF00U);
         },
         kNoResourceSection},
        {"resource directory outside every section",
         [](ImageBytes& b, const PeLayout& l) { Put32At(b, l.resourceDirectory, 0x9000); },
         kNoResourceSection},
        {"root claims 65535 entries",
         [](ImageBytes& b, const PeLayout& l) { Put16At(b, l.resourceSection + 12, 0xFFFF); },
         kNoResourceSection},
        {"type entry is not a directory",
         [](ImageBytes& b, const PeLayout& l) {
             Put32At(b, l.typeEntries[0] + 4, Get32At(b, l.typeEntries[0] + 4) & 0x7FFFFFFF);
         },
         kNoResourceSection},
        {"type directory past the section",
         [](ImageBytes& b, const PeLayout& l) { Put32At(b, l.typeEntries[0] + 4, 0xFFFFFFF8U); },
         kNoResourceSection},
        {"language entry points to a directory",
         [](ImageBytes& b, const PeLayout& l) {
             Put32At(b, l.languageEntries[0] + 4, 0x80000000U | Get32At(b, l.languageEntries[0] + 4));
         },
         kNoResourceSection},
        {"language entry past the section",
         [](ImageBytes& b, const PeLayout& l) { Put32At(b, l.languageEntries[0] + 4, 0x7FFFFFF0U); },
         kNoResourceSection},
        {"no language",
         [](ImageBytes& b, const PeLayout& l) { Put16At(b, l.languageEntries[0] - 16 + 14, 0); },
         win::ERROR_RESOURCE_LANG_NOT_FOUND},
        {"data past the end",
         [](ImageBytes& b, const PeLayout& l) { Put32At(b, l.dataEntries[0], 0x7FFFFFF0U); },
         kNoResourceSection},
        {"data larger than the section",
         [](ImageBytes& b, const PeLayout& l) { Put32At(b, l.dataEntries[0] + 4, 0xFFFFFFFFU); },
         kNoResourceSection},
        {"data wraps the address space",
         [](ImageBytes& b, const PeLayout& l) {
             Put32At(b, l.dataEntries[0], 0xFFFFFFF0U);
             Put32At(b, l.dataEntries[0] + 4, 0x20);
         },
         kNoResourceSection},
        {"block shorter than its header", [](ImageBytes& b, const PeLayout& l) { Put16At(b, l.data[0], 4); },
         kNoResourceSection},
        {"block longer than its data",
         [](ImageBytes& b, const PeLayout& l) { Put16At(b, l.data[0], 0xFFFF); }, 0},
    };
    for (const auto& damage : damages) {
        PeLayout layout;
        ImageBytes image =
            BuildPeImage({{16, 1, 0x409, VersionBlock(0x70002, 2, 0x70005, 0x10009)}}, &layout);
        damage.apply(image, layout);
        const std::u16string path = Place(image);
        win::DWORD error = 0;
        const win::DWORD size = SizeOf(path, error);
        if (damage.error != 0) {
            EXPECT_EQ(size, 0u) << damage.what;
            EXPECT_EQ(error, damage.error) << damage.what;
            continue;
        }
        ImageBytes block(size);
        ASSERT_NE(size, 0u) << damage.what;
        ASSERT_TRUE(win::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) << damage.what;
        win::VS_FIXEDFILEINFO info{};
        ASSERT_TRUE(QueryFixedInfo(block, info)) << damage.what;
        EXPECT_EQ(info.dwFileVersionMS, 0x70002u) << damage.what;
    }
}

TEST_F(VersionLibraryTest, DamagedBlocksAreQueriedWithinTheirBounds) {
    const ImageBytes fixed = FixedFileInfo(0x70002, 2, 0, 0);
    ImageBytes unterminatedKey = VersionNode(u"VS_VERSION_INFO", fixed, 52, 0, {});
    // Overwrite the key's terminator and everything after it with letters.
    for (std::size_t i = 6 + 30; i < unterminatedKey.size(); i += 2) {
        Put16At(unterminatedKey, i, u'K');
    }
    ImageBytes valuePastEnd = VersionNode(u"VS_VERSION_INFO", fixed, 52, 0, {});
    Put16At(valuePastEnd, 2, 200);
    ImageBytes childPastEnd =
        VersionNode(u"VS_VERSION_INFO", fixed, 52, 0, {VersionNode(u"StringFileInfo", {}, 0, 1, {})});
    Put16At(childPastEnd, 92, 0x4000);
    struct Case {
        const char* what;
        ImageBytes block;
        const char16_t* query;
    };
    const Case cases[] = {
        {"key without terminator", unterminatedKey, u"\\"},
        {"value past the block", valuePastEnd, u"\\"},
        {"child past the block", childPastEnd, u"\\StringFileInfo"},
    };
    for (const auto& c : cases) {
        const ImageBytes block = ReadBlock(Place(BuildPeImage({{16, 1, 0x409, c.block}})));
        ASSERT_FALSE(block.empty()) << c.what;
        win::LPVOID value = nullptr;
        win::UINT length = 7;
        EXPECT_FALSE(win::VerQueryValueW(block.data(), c.query, &value, &length)) << c.what;
        EXPECT_EQ(value, nullptr) << c.what;
        EXPECT_EQ(length, 0u) << c.what;
    }
}

TEST_F(VersionLibraryTest, EveryFunctionCanBeMadeToFail) {
    const std::u16string path = Place(BuiltModule("version-7.2.0.2.dll"));
    const auto failable = sim::FailableFunctions();
    for (const char* name : {"GetFileVersionInfoSizeW", "GetFileVersionInfoW", "VerQueryValueW"}) {
        EXPECT_NE(std::find(failable.begin(), failable.end(), name), failable.end()) << name;
    }
    const ImageBytes good = ReadBlock(path);
    ASSERT_FALSE(good.empty());

    sim::InjectFault("GetFileVersionInfoSizeW", sim::CallCount("GetFileVersionInfoSizeW") + 1, 1234);
    win::DWORD error = 0;
    EXPECT_EQ(SizeOf(path, error), 0u);
    EXPECT_EQ(error, 1234u);

    ImageBytes block(good.size());
    sim::InjectFault("GetFileVersionInfoW", 0);
    EXPECT_FALSE(
        win::GetFileVersionInfoW(path.c_str(), 0, static_cast<win::DWORD>(block.size()), block.data()));

    sim::InjectFault("VerQueryValueW", 0);
    win::VS_FIXEDFILEINFO info{};
    const unsigned injectedBefore = sim::InjectedFaultCount();
    EXPECT_FALSE(QueryFixedInfo(good, info));
    EXPECT_EQ(sim::InjectedFaultCount(), injectedBefore + 1);
}

}  // namespace
