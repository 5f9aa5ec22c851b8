#include "installer/versions.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/machine_fixture.h"
#include "tests/built_modules.h"

using namespace pe_image;

namespace {

struct ParseCase {
    std::u16string text;
    FourPartVersion expected;
};

std::string Show(const FourPartVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) + "." +
           std::to_string(v.revision);
}

TEST(ParseVersionTest, ReadsEachPartOnlyWhenADotFollowsIt) {
    const ParseCase cases[] = {
        {u"7.2.0.2", {7, 2, 0, 2}},
        {u"7,0,43,3", {7, 0, 43, 3}},
        {u"7.2.5", {7, 2, 0, 0}},
        {u"7.2", {7, 0, 0, 0}},
        {u"7", {0, 0, 0, 0}},
        {u"", {0, 0, 0, 0}},
        {u".5.6.7", {0, 5, 6, 7}},
        {u"...", {0, 0, 0, 0}},
        {u"1.2.3.4.5", {1, 2, 3, 4}},
        {u"7a.2b.0.2x", {7, 2, 0, 2}},
        {u"+7.2.0.2", {7, 2, 0, 2}},
        {u"-1.0.0.0", {65535, 0, 0, 0}},
        {u"65536.0.0.0", {0, 0, 0, 0}},
        {u"7.0.43.3,7.0.43.6", {7, 0, 43, 3}},
        // The conversion's own rules: leading white space, one sign, wrap-around.
        {u" \t7. 2.\n0.  2", {7, 2, 0, 2}},
        {u"65535.65535.65535.65535", {65535, 65535, 65535, 65535}},
        {u"65537.131074.-65537.4294967297", {1, 2, 65535, 1}},
        {u"-0.--1.+-2.+3", {0, 0, 0, 3}},
        {u"7 .2.0.2", {7, 2, 0, 2}},
        {u"7.2.0.", {7, 2, 0, 0}},
        {u"99999999999999999999.0.0.1", {65535, 0, 0, 1}},
        // Digits of other scripts are not decimal digits here.
        {u"\uFF17.2.0.2", {0, 2, 0, 2}},
    };
    for (const auto& c : cases) {
        const FourPartVersion parsed = ParseVersion(c.text);
        EXPECT_TRUE(VersionsEqual(parsed, c.expected))
            << Narrow(c.text) << " gave " << Show(parsed) << ", expected " << Show(c.expected);
    }
}

TEST(ParseVersionTest, LeavesTheCallersTextAlone) {
    const std::u16string text = u"7,0,43,3";
    ParseVersion(text);
    EXPECT_EQ(text, u"7,0,43,3");
}

TEST(VersionEqualityTest, EveryFieldTakesPart) {
    const FourPartVersion base{7, 2, 0, 2};
    EXPECT_TRUE(VersionsEqual(base, base));
    EXPECT_FALSE(VersionsDiffer(base, base));
    std::uint16_t FourPartVersion::*const fields[] = {&FourPartVersion::major, &FourPartVersion::minor,
                                                      &FourPartVersion::build, &FourPartVersion::revision};
    for (auto field : fields) {
        FourPartVersion other = base;
        other.*field = static_cast<std::uint16_t>(other.*field + 1);
        EXPECT_FALSE(VersionsEqual(base, other)) << Show(other);
        EXPECT_FALSE(VersionsEqual(other, base)) << Show(other);
        EXPECT_TRUE(VersionsDiffer(base, other)) << Show(other);
    }
}

class ModuleFileVersionTest : public MachineTest {
protected:
    // Puts bytes on the simulated machine as C:\modules\<name>.
    std::u16string Place(const ImageBytes& bytes, const std::u16string& name) {
        const std::u16string path = u"C:\\modules\\" + name;
        WriteBytes(Host(path), bytes);
        return path;
    }

    static constexpr char16_t kUntouched[] = u"untouched";
};

TEST_F(ModuleFileVersionTest, GivesTheFileVersionNotTheProductVersion) {
    std::u16string text = kUntouched;
    ASSERT_TRUE(GetModuleFileVersion(Place(BuiltModule("version-7.2.0.2.dll"), u"host.dll"), text));
    EXPECT_EQ(text, u"7.2.0.2");
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(ModuleFileVersionTest, LargestPartsAreWrittenUnsigned) {
    std::u16string text;
    ASSERT_TRUE(GetModuleFileVersion(Place(BuiltModule("version-max.dll"), u"max.dll"), text));
    EXPECT_EQ(text, u"65535.65535.65535.65535");
    EXPECT_TRUE(VersionsEqual(ParseVersion(text), FourPartVersion{65535, 65535, 65535, 65535}));
}

TEST_F(ModuleFileVersionTest, FailsWithTheTextUntouched) {
    struct Case {
        const char* what;
        std::u16string path;
    };
    const Case cases[] = {
        {"module without a version resource", Place(BuiltModule("no-version.dll"), u"plain.dll")},
        {"missing file", u"C:\\modules\\absent.dll"},
        {"missing folder", u"C:\\nowhere\\absent.dll"},
        {"not a module", Place(ImageBytes{'t', 'e', 'x', 't'}, u"notes.txt")},
        {"empty file", Place(ImageBytes{}, u"empty.dll")},
    };
    for (const auto& c : cases) {
        std::u16string text = kUntouched;
        EXPECT_FALSE(GetModuleFileVersion(c.path, text)) << c.what;
        EXPECT_EQ(text, kUntouched) << c.what;
    }
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(ModuleFileVersionTest, ARootWithoutAWholeFixedInfoIsNoVersion) {
    // The query can succeed with a value shorter than the record; such a value is not read.
    const ImageBytes fixed = FixedFileInfo(0x70002, 2, 0, 0);
    const ImageBytes shortValue =
        VersionNode(u"VS_VERSION_INFO", ImageBytes(fixed.begin(), fixed.begin() + 20), 20, 0, {});
    const ImageBytes noValue = VersionNode(u"VS_VERSION_INFO", {}, 0, 0, {});
    for (const ImageBytes& block : {shortValue, noValue}) {
        std::u16string text = kUntouched;
        EXPECT_FALSE(GetModuleFileVersion(Place(BuildPeImage({{16, 1, 0x409, block}}), u"odd.dll"), text));
        EXPECT_EQ(text, kUntouched);
    }
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(ModuleFileVersionTest, EveryFailingStepReleasesTheBlock) {
    const std::u16string path = Place(BuiltModule("version-7.2.0.2.dll"), u"host.dll");
    for (const char* function :
         {"GetFileVersionInfoSizeW", "GlobalAlloc", "GlobalLock", "GetFileVersionInfoW", "VerQueryValueW"}) {
        sim::ClearFaults();
        sim::InjectFault(function, sim::CallCount(function) + 1);
        const unsigned injectedBefore = sim::InjectedFaultCount();
        std::u16string text = kUntouched;
        EXPECT_FALSE(GetModuleFileVersion(path, text)) << function;
        EXPECT_EQ(text, kUntouched) << function;
        EXPECT_EQ(sim::InjectedFaultCount(), injectedBefore + 1) << function << " was never called";
        EXPECT_TRUE(sim::OpenHandles().empty()) << function;
    }
}

TEST_F(ModuleFileVersionTest, TruncatedModulesFailUntilTheVersionDataIsWhole) {
    const ImageBytes module = BuiltModule("version-7.2.0.2.dll");
    ASSERT_GT(module.size(), 0x400u);
    std::size_t firstWhole = 0;
    for (std::size_t length = 0; length <= module.size(); ++length) {
        std::u16string text = kUntouched;
        const bool read = GetModuleFileVersion(
            Place(ImageBytes(module.begin(), module.begin() + static_cast<std::ptrdiff_t>(length)),
                  u"cut.dll"),
            text);
        if (firstWhole == 0 && read) {
            firstWhole = length;
        }
        if (firstWhole == 0) {
            ASSERT_FALSE(read) << length;
            ASSERT_EQ(text, kUntouched) << length;
        } else {
            ASSERT_TRUE(read) << "a longer prefix than " << firstWhole << " failed at " << length;
            ASSERT_EQ(text, u"7.2.0.2") << length;
        }
    }
    EXPECT_GT(firstWhole, 0x200u) << "the headers alone cannot hold a version";
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(ModuleFileVersionTest, DamagedModulesNeverGiveAMalformedText) {
    const ImageBytes module = BuiltModule("version-7.2.0.2.dll");
    std::mt19937 random(20261211);
    std::uniform_int_distribution<std::size_t> position(0, module.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    unsigned stillRead = 0;
    for (int round = 0; round < 1000; ++round) {
        ImageBytes damaged = module;
        for (int flips = 1 + round % 4; flips > 0; --flips) {
            damaged[position(random)] = static_cast<std::uint8_t>(value(random));
        }
        std::u16string text = kUntouched;
        if (GetModuleFileVersion(Place(damaged, u"damaged.dll"), text)) {
            ++stillRead;
            // Four numbers, three dots, nothing else.
            ASSERT_EQ(Narrow(text), Show(ParseVersion(text))) << round;
        } else {
            ASSERT_EQ(text, kUntouched) << round;
        }
    }
    // Most damage misses the version data, so most files still read.
    EXPECT_GT(stillRead, 0u);
    EXPECT_TRUE(sim::OpenHandles().empty());
}

}  // namespace
