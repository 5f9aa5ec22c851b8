// Rules of the simulated Windows that the differential run against Wine
// (tests/differential) settled: locale ids, string loads, the temporary path
// and attribute checks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/simulated/sim.h"
#include "tests/machine_fixture.h"

namespace {

class SimulatedPlatformTest : public MachineTest {};

struct LocaleCase {
    win::LCID requested;
    win::BOOL result;
    win::LCID threadAfter;  // the thread starts each case at 1041
};

const LocaleCase kLocaleCases[] = {
    {0x1409, win::TRUE, 0x1409},   // English (New Zealand): a fifth sublanguage
    {0x2C01, win::TRUE, 0x2C01},   // Arabic (Jordan)
    {0x580A, win::TRUE, 0x580A},   // Spanish (Latin America)
    {0x0C0A, win::TRUE, 0x0C0A},   // Spanish (Spain, modern sort)
    {0x0811, win::FALSE, 0x0411},  // Japanese has one sublanguage only
    {0x0007, win::TRUE, 0x0407},   // a neutral form names its default locale
    {0x0004, win::TRUE, 0x0804},   // ... which for Chinese is the PRC
    {0x000A, win::TRUE, 0x0C0A},
    {0x007F, win::TRUE, 0x007F},   // invariant
    {0x0400, win::TRUE, 0x0409},   // the user default
    {0x0800, win::TRUE, 0x0409},
    {0xFFFF, win::FALSE, 0x0411},
    {0x10407, win::FALSE, 0x0411},  // sort ids are not taken
    {0x0000, win::TRUE, 0x0409},    // LOCALE_NEUTRAL names the user default, as in Wine
};

TEST_F(SimulatedPlatformTest, SetThreadLocaleTakesTheLocalesWindowsKnows) {
    for (const LocaleCase& c : kLocaleCases) {
        ASSERT_TRUE(win::SetThreadLocale(0x0411));
        win::SetLastError(0);
        EXPECT_EQ(win::SetThreadLocale(c.requested), c.result) << std::hex << c.requested;
        EXPECT_EQ(win::GetThreadLocale(), c.threadAfter) << std::hex << c.requested;
        EXPECT_EQ(win::GetLastError(), c.result ? 0U : win::ERROR_INVALID_PARAMETER) << std::hex << c.requested;
    }
}

TEST_F(SimulatedPlatformTest, LoadStringWLeavesTheBufferAloneWithoutABlock) {
    // Block 2 holds ids 16 to 31: 17 has a text, 18 is empty.
    static const std::vector<std::uint8_t> block = sim::BuildStringBlock({{17, u"seventeen"}}, 2);
    win::HINSTANCE module = sim::RegisterModule(
        {{.typeId = win::RT_STRING_ID, .nameId = 2, .language = 0x0409, .data = block.data(),
          .size = static_cast<win::DWORD>(block.size())}});
    char16_t buffer[16] = u"untouched";
    EXPECT_EQ(win::LoadStringW(module, 40, buffer, 16), 0);  // block 3 is absent
    EXPECT_EQ(std::u16string(buffer), u"untouched");
    EXPECT_EQ(win::LoadStringW(module, 18, buffer, 16), 0);  // empty inside a block
    EXPECT_EQ(std::u16string(buffer), u"");
    // Only the low 16 bits name the string.
    EXPECT_EQ(win::LoadStringW(module, 0x10000 + 17, buffer, 16), 9);
    EXPECT_EQ(std::u16string(buffer), u"seventeen");
}

struct TempPathCase {
    std::size_t tmpLength;  // C:\ and "a" up to this many characters, no trailing backslash
    win::DWORD result;      // 0: fails with ERROR_FILENAME_EXCED_RANGE
};

const TempPathCase kTempPathCases[] = {
    {257, 258},
    {258, 259},  // the backslash makes 259 and the terminator 260
    {259, 0},
    {260, 0},    // longer than the variable buffer: TEMP is not consulted
    {400, 0},
};

TEST_F(SimulatedPlatformTest, GetTempPathWLeavesRoomForBackslashAndTerminator) {
    sim::SetEnvironmentVariable(u"TEMP", u"C:\\temp");
    for (const TempPathCase& c : kTempPathCases) {
        const std::u16string tmp = u"C:\\" + std::u16string(c.tmpLength - 3, u'a');
        sim::SetEnvironmentVariable(u"TMP", tmp);
        std::vector<char16_t> buffer(1024, u'?');
        win::SetLastError(0);
        EXPECT_EQ(win::GetTempPathW(1024, buffer.data()), c.result) << c.tmpLength;
        if (c.result == 0) {
            EXPECT_EQ(win::GetLastError(), win::ERROR_FILENAME_EXCED_RANGE) << c.tmpLength;
        } else {
            EXPECT_EQ(std::u16string(buffer.data()), tmp + u"\\") << c.tmpLength;
        }
    }
    // A backslash of its own counts as well: 258 characters with it pass, 259 fail.
    char16_t buffer[1024];
    sim::SetEnvironmentVariable(u"TMP", u"C:\\" + std::u16string(254, u'a') + u"\\");
    EXPECT_EQ(win::GetTempPathW(1024, buffer), 258U);
    sim::SetEnvironmentVariable(u"TMP", u"C:\\" + std::u16string(255, u'a') + u"\\");
    EXPECT_EQ(win::GetTempPathW(1024, buffer), 0U);
}

struct AttributesCase {
    const char16_t* path;
    win::DWORD attributes;
    win::DWORD error;  // when INVALID_FILE_ATTRIBUTES
};

const AttributesCase kAttributesCases[] = {
    {u"C:\\folder", win::FILE_ATTRIBUTE_DIRECTORY, 0},
    {u"C:\\folder\\", win::FILE_ATTRIBUTE_DIRECTORY, 0},
    {u"C:\\folder/", win::FILE_ATTRIBUTE_DIRECTORY, 0},
    {u"C:\\file", 0x20, 0},
    {u"C:\\file\\", win::INVALID_FILE_ATTRIBUTES, win::ERROR_PATH_NOT_FOUND},
    {u"C:\\file/", win::INVALID_FILE_ATTRIBUTES, win::ERROR_PATH_NOT_FOUND},
    {u"\"C:\\folder\"", win::INVALID_FILE_ATTRIBUTES, win::ERROR_INVALID_NAME},
    {u"C:\\fold*", win::INVALID_FILE_ATTRIBUTES, win::ERROR_INVALID_NAME},
    {u"C:\\folde?", win::INVALID_FILE_ATTRIBUTES, win::ERROR_INVALID_NAME},
    {u"C:\\<folder", win::INVALID_FILE_ATTRIBUTES, win::ERROR_INVALID_NAME},
    {u"C:\\folder>", win::INVALID_FILE_ATTRIBUTES, win::ERROR_INVALID_NAME},
    {u"C:\\a|b", win::INVALID_FILE_ATTRIBUTES, win::ERROR_INVALID_NAME},
    {u"C:\\a\x01" u"b", win::INVALID_FILE_ATTRIBUTES, win::ERROR_INVALID_NAME},
    {u"C:\\\"x\"\\folder", win::INVALID_FILE_ATTRIBUTES, win::ERROR_INVALID_NAME},  // before the missing parent
    {u"C:\\missing\\x", win::INVALID_FILE_ATTRIBUTES, win::ERROR_PATH_NOT_FOUND},
    {u"C:\\folder\\missing", win::INVALID_FILE_ATTRIBUTES, win::ERROR_FILE_NOT_FOUND},
};

TEST_F(SimulatedPlatformTest, GetFileAttributesWRefusesBadNamesAndFilesNamedAsFolders) {
    std::filesystem::create_directories(Host(u"C:\\folder"));
    WriteText(Host(u"C:\\file"), "x");
    for (const AttributesCase& c : kAttributesCases) {
        win::SetLastError(0);
        EXPECT_EQ(win::GetFileAttributesW(c.path), c.attributes) << Narrow(c.path);
        if (c.attributes == win::INVALID_FILE_ATTRIBUTES) {
            EXPECT_EQ(win::GetLastError(), c.error) << Narrow(c.path);
        }
    }
}

}  // namespace
