// The four questions put to the installer service.
#include "installer/queries.h"

#include <gtest/gtest.h>

#include "platform/simulated/sim_installer.h"
#include "tests/machine_fixture.h"
#include "tests/msi_packages.h"

namespace {

constexpr std::u16string_view kProduct = u"{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}";
const std::u16string kUntouched = u"untouched";

class QueriesTest : public MachineTest {
protected:
    // A package on drive C: with the given target list; its Windows path.
    std::u16string Package(const std::string& targets, const std::string& name = "targets.msp") {
        EXPECT_TRUE(
            BuildPatchPackage((sandbox_ / "c" / "packages" / name).string(), targets, kTestPatchCode));
        return u"C:\\packages\\" + sim::FromUtf8(name);
    }

    // The counts the target property was asked with, in order.
    static std::vector<std::u16string> PropertyCounts() {
        std::vector<std::u16string> counts;
        for (const auto& call : sim::InstallerCallsOf("MsiSummaryInfoGetPropertyW")) {
            EXPECT_EQ(call.arguments[1], u"7");
            counts.push_back(call.arguments[2]);
        }
        return counts;
    }

    // The handle that the summary open gave, closed exactly once.
    static void ExpectClosedOnce() {
        const auto opens = sim::InstallerCallsOf("MsiGetSummaryInformationW");
        ASSERT_EQ(opens.size(), 1U);
        const auto closes = sim::InstallerCallsOf("MsiCloseHandle");
        ASSERT_EQ(closes.size(), 1U);
        EXPECT_EQ(closes[0].result, 0) << "the handle that was opened";
        EXPECT_TRUE(sim::OpenHandles().empty());
    }
};

// A target list of exactly the given length: product codes and separators.
std::string TargetListOfLength(std::size_t length) {
    std::string list;
    unsigned index = 0;
    while (list.size() < length) {
        char code[48];
        std::snprintf(code, sizeof code, "{%08X-8C3E-4B61-A5D0-9E2F71C3B846};", index++);
        list += code;
    }
    return list.substr(0, length);
}

TEST_F(QueriesTest, ARelativePathIsMadeAbsoluteFirst) {
    Package(TargetListOfLength(77), "relative.msp");
    sim::SetCurrentDirectory(u"C:\\packages");
    std::u16string list;
    ASSERT_TRUE(ReadPatchTargets(u"relative.msp", list));
    const auto opens = sim::InstallerCallsOf("MsiGetSummaryInformationW");
    ASSERT_EQ(opens.size(), 1U);
    EXPECT_EQ(opens[0].arguments, (std::vector<std::u16string>{u"0", u"C:\\packages\\relative.msp", u"0"}));
    EXPECT_EQ(list, sim::FromUtf8(TargetListOfLength(77)));
}

TEST_F(QueriesTest, LongListsTakeExactlyOneMoreRead) {
    struct Case {
        std::size_t length;
        std::vector<std::u16string> counts;
    };
    const Case cases[] = {
        {2047, {u"2048"}},
        {2048, {u"2048", u"2049"}},
        {5000, {u"2048", u"5001"}},
    };
    for (const Case& c : cases) {
        sim::ResetMachine(sandbox_.string());
        const std::string targets = TargetListOfLength(c.length);
        const std::u16string path = Package(targets);
        std::u16string list = kUntouched;
        EXPECT_TRUE(ReadPatchTargets(path, list)) << c.length;
        EXPECT_EQ(list, sim::FromUtf8(targets)) << c.length;
        EXPECT_EQ(PropertyCounts(), c.counts) << c.length;
        ExpectClosedOnce();
    }
}

TEST_F(QueriesTest, AFailedReadLeavesTheListAndClosesOnce) {
    struct Case {
        std::size_t length;
        unsigned failingCall;
        std::uint32_t error;
    };
    const Case cases[] = {
        {3000, 2, 234},  // a second "more data"
        {3000, 2, 1627},
        {100, 1, 6},
    };
    for (const Case& c : cases) {
        sim::ResetMachine(sandbox_.string());
        const std::u16string path = Package(TargetListOfLength(c.length));
        sim::InjectFault("MsiSummaryInfoGetPropertyW", c.failingCall, c.error);
        std::u16string list = kUntouched;
        EXPECT_FALSE(ReadPatchTargets(path, list)) << c.error;
        EXPECT_EQ(list, kUntouched);
        EXPECT_EQ(PropertyCounts().size(), c.failingCall) << "no third read";
        ExpectClosedOnce();
    }
}

TEST_F(QueriesTest, AMisbehavingServiceIsReadWithinTheBuffer) {
    const std::u16string path = Package("{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}");
    const std::u16string overLong(3000, u'x');

    // A length that leaves no room for the terminator: no second read.
    sim::ImposeSummaryProperty(7, {234, u"", false, 0xFFFFFFFFU});
    std::u16string list = kUntouched;
    EXPECT_FALSE(ReadPatchTargets(path, list));
    EXPECT_EQ(list, kUntouched);
    EXPECT_EQ(PropertyCounts(), std::vector<std::u16string>{u"2048"});
    ExpectClosedOnce();

    // Success with a full buffer and no terminator: the text ends with the buffer.
    sim::ResetMachine(sandbox_.string());
    Package("{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}");
    sim::ImposeSummaryProperty(7, {0, overLong, false});
    EXPECT_TRUE(ReadPatchTargets(path, list));
    EXPECT_EQ(list, overLong.substr(0, 2048));
}

TEST_F(QueriesTest, WhatCannotBeOpenedYieldsFalseAndClosesNothing) {
    WriteText(Host(u"C:\\packages\\text.msp"), "not an installer package");
    const std::u16string tooLong = u"C:\\" + std::u16string(300, u'p') + u".msp";
    struct Case {
        std::u16string path;
        std::size_t summaryOpens;
    };
    const Case cases[] = {
        {u"C:\\packages\\text.msp", 1},
        {u"C:\\packages\\missing.msp", 1},
        {tooLong, 0},
        {u"", 0},
    };
    for (const Case& c : cases) {
        sim::ClearFaults();
        std::u16string list = kUntouched;
        const unsigned opensBefore = sim::CallCount("MsiGetSummaryInformationW");
        EXPECT_FALSE(ReadPatchTargets(c.path, list)) << Narrow(c.path);
        EXPECT_EQ(list, kUntouched);
        EXPECT_EQ(sim::CallCount("MsiGetSummaryInformationW") - opensBefore, c.summaryOpens)
            << Narrow(c.path);
    }
    EXPECT_EQ(sim::CallCount("MsiCloseHandle"), 0U);

    // The path cannot be formed: the installer is not asked.
    const std::u16string path = Package("{X}");
    sim::InjectFault("GetFullPathNameW", 0);
    std::u16string list = kUntouched;
    EXPECT_FALSE(ReadPatchTargets(path, list));
    EXPECT_EQ(sim::InstallerCalls().size(), 2U) << "only the two failed opens above";
}

TEST_F(QueriesTest, TheListComesBackExactlyAsStored) {
    const std::string lists[] = {
        "{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846};{B2E85C07-3D1A-4F98-8C6B-57A0D4E9F213};",
        " {4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846} ;  {B2E85C07-3D1A-4F98-8C6B-57A0D4E9F213}  ",
        ";;",
        "{4f7d2a19-8c3e-4b61-a5d0-9e2f71c3b846}",
    };
    for (const std::string& stored : lists) {
        const std::u16string path = Package(stored);
        std::u16string list;
        EXPECT_TRUE(ReadPatchTargets(path, list)) << stored;
        EXPECT_EQ(Narrow(list), stored);
    }
}

TEST_F(QueriesTest, AdvertisedAndInstalledCountAsInstalled) {
    struct Case {
        win::INSTALLSTATE state;
        bool installed;
    };
    const Case cases[] = {{1, true}, {5, true}, {2, false}, {-1, false}, {-2, false}, {3, false}, {4, false}};
    for (const Case& c : cases) {
        sim::ResetMachine(sandbox_.string());
        sim::InjectFault("MsiQueryProductStateW", 1, static_cast<std::uint32_t>(c.state));
        EXPECT_EQ(IsProductInstalled(std::u16string(kProduct)), c.installed) << c.state;
        EXPECT_EQ(sim::InstallerCalls().size(), 1U);
    }
    // And through the service's own registrations.
    sim::ResetMachine(sandbox_.string());
    ASSERT_TRUE(sim::RegisterProduct(
        {std::u16string(kProduct), u"Mervolt", u"7.0.43.6", 1041, win::INSTALLSTATE_ADVERTISED}));
    EXPECT_TRUE(IsProductInstalled(std::u16string(kProduct)));
    EXPECT_FALSE(IsProductInstalled(u"{B2E85C07-3D1A-4F98-8C6B-57A0D4E9F213}"));
}

TEST_F(QueriesTest, InstalledVersion) {
    ASSERT_TRUE(sim::RegisterProduct({std::u16string(kProduct), u"Mervolt", u"7.0.43.6", 1041}));
    EXPECT_EQ(GetInstalledVersion(std::u16string(kProduct)), u"7.0.43.6");
    const auto calls = sim::InstallerCallsOf("MsiGetProductInfoW");
    ASSERT_EQ(calls.size(), 1U);
    EXPECT_EQ(calls[0].arguments,
              (std::vector<std::u16string>{std::u16string(kProduct), u"VersionString", u"1024"}));

    const std::u16string overLong(1500, u'7');
    struct Case {
        sim::PropertyAnswer answer;
        std::u16string version;
    };
    const Case cases[] = {
        {{1605, u""}, u""},                                // failure: the cleared buffer
        {{0, overLong}, overLong.substr(0, 1023)},         // cut by the service, terminated
        {{0, overLong, false}, overLong.substr(0, 1024)},  // no terminator: up to the buffer's end
        {{0, std::u16string(u"7.0\0garbage", 11)}, u"7.0"},
    };
    for (const Case& c : cases) {
        sim::ImposeProductProperty(kProduct, u"VersionString", c.answer);
        EXPECT_EQ(GetInstalledVersion(std::u16string(kProduct)), c.version);
    }
}

TEST_F(QueriesTest, NameAndLanguageEachGetTheWholeBuffer) {
    ASSERT_TRUE(sim::RegisterProduct({std::u16string(kProduct), u"Mervolt", u"7.0.43.6", 1041}));
    const std::u16string longName(1500, u'M');
    sim::ImposeProductProperty(kProduct, u"ProductName", {0, longName});
    std::u16string name = kUntouched;
    std::u16string language = kUntouched;
    EXPECT_TRUE(GetProductNameAndLanguage(std::u16string(kProduct), name, language));
    EXPECT_EQ(name, longName.substr(0, 1023));
    EXPECT_EQ(language, u"1041");
    const auto calls = sim::InstallerCallsOf("MsiGetProductInfoW");
    ASSERT_EQ(calls.size(), 2U);
    EXPECT_EQ(calls[0].arguments,
              (std::vector<std::u16string>{std::u16string(kProduct), u"ProductName", u"1024"}));
    EXPECT_EQ(calls[1].arguments,
              (std::vector<std::u16string>{std::u16string(kProduct), u"Language", u"1024"}));
}

TEST_F(QueriesTest, AFailedQueryNeverShowsAnEarlierText) {
    ASSERT_TRUE(sim::RegisterProduct({std::u16string(kProduct), u"Quorvane Mervolt 9.2", u"7.0.43.6", 1041}));
    sim::ImposeProductProperty(kProduct, u"Language", {1603, u""});
    std::u16string name;
    std::u16string language = kUntouched;
    EXPECT_TRUE(GetProductNameAndLanguage(std::u16string(kProduct), name, language));
    EXPECT_EQ(name, u"Quorvane Mervolt 9.2");
    EXPECT_EQ(language, u"") << "not the product name left in the shared buffer";

    // An unknown product: both texts empty, and still true.
    EXPECT_TRUE(GetProductNameAndLanguage(u"{B2E85C07-3D1A-4F98-8C6B-57A0D4E9F213}", name, language));
    EXPECT_EQ(name, u"");
    EXPECT_EQ(language, u"");
}

}  // namespace
