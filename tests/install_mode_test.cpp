// The install mode on simulated machines: which products are patched, which
// boxes are shown in which language, and what is left on disk.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/entry.h"
#include "app/options.h"
#include "messages/report.h"
#include "patching/apply.h"
#include "patching/targets.h"
#include "platform/simulated/sim_installer.h"
#include "platform/simulated/sim_registry.h"
#include "tests/machine_fixture.h"
#include "tests/module_builder.h"
#include "tests/msi_packages.h"
#include "platform/simulated/pe_image.h"

namespace {

namespace fs = std::filesystem;

constexpr char16_t kFirst[] = u"{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}";
constexpr char16_t kSecond[] = u"{B2E85C07-3D1A-4F98-8C6B-57A0D4E9F213}";
constexpr char16_t kTempPackage[] = u"C:\\users\\simuser\\Temp\\MSP2";

constexpr win::UINT kError = 0x50010;
constexpr win::UINT kInformation = 0x50040;

std::u16string Installed(const std::u16string& name) {
    return u"The service pack was successfully installed and " + name + u" has been updated.";
}
std::u16string UpToDate(const std::u16string& name) {
    return u"Your version of " + name + u" is up-to-date and this service pack is not necessary";
}
std::u16string NotDesigned(const std::u16string& name) {
    return u"This service pack could not be installed because it is not designed for the version of " + name +
           u" that is installed on your computer.";
}
std::u16string Problem(const std::u16string& code) {
    return u"A problem prevented the Service Pack from being installed. Contact your system administrator. \n\n "
           u"Error Code: " +
           code;
}
const std::u16string kNotFound =
    u"The service pack could not be installed because the expected Quorvane product could not be located on your "
    u"computer.\nMake sure that you are using the correct service pack for the product.";

struct Product {
    const char16_t* code;
    const char16_t* version;
    const char16_t* name;
    win::LANGID language = 1033;
};

struct Box {
    win::UINT style;
    std::u16string text;
    std::u16string caption;
};

struct InstallCase {
    const char* name;
    std::vector<Product> products;
    std::vector<Box> boxes;
    std::vector<std::u16string> patched;  // product codes, in call order
    bool packageDeleted;
    std::u16string candidates;            // replaces string 900 when not empty
    win::UINT failFirstConfigure = 0;     // installer result for the first call
};

const InstallCase kCases[] = {
    {"OneAtACandidateIsPatched",
     {{kFirst, u"7.0.43.6", u"Mervolt"}},
     {{kInformation, Installed(u"Mervolt"), u"Installation Successful"}},
     {kFirst},
     true,
     u""},
    {"OneUpToDateGetsOneClosing306",
     {{kFirst, u"7.2.0.2", u"Mervolt"}},
     {{kError, UpToDate(u"Mervolt"), u"Installation Unnecessary"}},
     {},
     true,
     u""},
    {"UpToDateThenCandidate",
     {{kFirst, u"7.2.0.2", u"Mervolt A"}, {kSecond, u"7.0.43.3", u"Mervolt B"}},
     {{kInformation, Installed(u"Mervolt B"), u"Installation Successful"}},
     {kSecond},
     true,
     u""},
    {"UnsupportedVersionGets308",
     {{kFirst, u"7.1.0.4", u"Mervolt"}},
     {{kError, NotDesigned(u"Mervolt"), u"Installation Error"}},
     {},
     true,
     u""},
    {"LastCandidateWithoutItsCommaIsNeverTried",
     {{kFirst, u"7.1.0.5", u"Mervolt"}},
     {{kError, NotDesigned(u"Mervolt"), u"Installation Error"}},
     {},
     true,
     u"7.0.43.3,7.1.0.5"},
    {"FailingInstallerForTheFirstOfTwo",
     {{kFirst, u"7.0.43.3", u"Mervolt A"}, {kSecond, u"7.0.43.6", u"Mervolt B"}},
     {{kError, Problem(u"1603"), u"Installation Error"},
      {kInformation, Installed(u"Mervolt B"), u"Installation Successful"}},
     {kFirst, kSecond},
     true,
     u"",
     1603},
    {"CandidateListHoldingTheTargetFirstEndsTheRun",
     {{kFirst, u"7.0.43.3", u"Mervolt A"}, {kSecond, u"7.0.43.6", u"Mervolt B"}},
     {{kError, UpToDate(u"Mervolt A"), u"Installation Unnecessary"}},
     {},
     false,
     u"7.2.0.2,7.0.43.3,"},
    {"CandidateTextWithoutAComma",
     {{kFirst, u"7.0.43.3", u"Mervolt A"}, {kSecond, u"7.2.0.2", u"Mervolt B"}},
     {{kError, NotDesigned(u"Mervolt A"), u"Installation Error"}},
     {},
     true,
     u"7.0.43.3"},
    {"EmptyCandidatePiecesParseAsZero",
     {{kFirst, u"0.0.0.0", u"Mervolt"}},
     {{kInformation, Installed(u"Mervolt"), u"Installation Successful"}},
     {kFirst},
     true,
     u",,7.0.43.3,"},
    {"VersionsCompareAsNumbersNotTexts",
     {{kFirst, u"7.00.043.06", u"Mervolt"}},
     {{kInformation, Installed(u"Mervolt"), u"Installation Successful"}},
     {kFirst},
     true,
     u""},
    {"EveryProductUpToDateGetsOne306NamingTheLast",
     {{kFirst, u"7.2.0.2", u"Mervolt A"}, {kSecond, u"7,2,0,2", u"Mervolt B"}},
     {{kError, UpToDate(u"Mervolt B"), u"Installation Unnecessary"}},
     {},
     true,
     u""},
    {"NoTargetInstalledGets307", {}, {{kError, kNotFound, u"Installation Error"}}, {}, false, u""},
};

void PrintTo(const InstallCase& c, std::ostream* out) { *out << c.name; }

class InstallMode : public MachineTest {
protected:
    void Register(const Product& product, win::INSTALLSTATE state = win::INSTALLSTATE_DEFAULT) {
        sim::ProductRegistration registration;
        registration.productCode = product.code;
        registration.name = product.name;
        registration.version = product.version;
        registration.language = product.language;
        registration.state = state;
        ASSERT_TRUE(sim::RegisterProduct(registration));
    }

    std::vector<std::u16string> ConfiguredProducts() const {
        std::vector<std::u16string> codes;
        for (const auto& call : sim::InstallerCallsOf("MsiConfigureProductExW")) {
            codes.push_back(call.arguments.at(0));
        }
        return codes;
    }

    bool TempPackageExists() const { return fs::exists(Host(kTempPackage)); }
};

class InstallCases : public InstallMode, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(InstallCases, ShowPatchAndLeave) {
    const InstallCase& c = GetParam();
    for (const auto& product : c.products) {
        Register(product);
    }
    if (!c.candidates.empty()) {
        InstanceHandle = BuildModule({.englishStrings = {{900, c.candidates}}});
    }
    if (c.failFirstConfigure != 0) {
        sim::InjectFault("MsiConfigureProductExW", 1, c.failFirstConfigure);
    }

    const bool normalEnd = RunInstall();

    const auto& boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), c.boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].owner, nullptr);
        EXPECT_EQ(boxes[i].style, c.boxes[i].style) << i;
        EXPECT_EQ(Narrow(boxes[i].text), Narrow(c.boxes[i].text)) << i;
        EXPECT_EQ(Narrow(boxes[i].caption), Narrow(c.boxes[i].caption)) << i;
    }
    EXPECT_EQ(ConfiguredProducts(), c.patched);
    for (const auto& call : sim::InstallerCallsOf("MsiConfigureProductExW")) {
        ASSERT_EQ(call.arguments.size(), 4U);
        EXPECT_EQ(call.arguments[1], u"0");
        EXPECT_EQ(call.arguments[2], u"5");
        EXPECT_EQ(Narrow(call.arguments[3]), Narrow(u"PATCH=\"" + std::u16string(kTempPackage) + u"\""));
    }
    EXPECT_EQ(normalEnd, c.packageDeleted);
    EXPECT_EQ(TempPackageExists(), !c.packageDeleted);
    EXPECT_TRUE(sim::OpenHandles().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, InstallCases, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallMode, PatchBringsTheProductToTheTargetVersion) {
    Register({kFirst, u"7.0.43.6", u"Mervolt"});
    EXPECT_TRUE(RunInstall());
    EXPECT_EQ(Narrow(sim::InstalledProductVersion(kFirst).value_or(u"")), "7.2.0.2");
    // Run again: the product is now up to date.
    sim::ClearMessageBoxes();
    TargetProducts.clear();
    EXPECT_TRUE(RunInstall());
    ASSERT_EQ(sim::MessageBoxes().size(), 1U);
    EXPECT_EQ(Narrow(sim::MessageBoxes()[0].text), Narrow(UpToDate(u"Mervolt")));
}

TEST_F(InstallMode, EachProductIsReportedInItsOwnLanguage) {
    Register({kFirst, u"7.0.43.6", u"Mervolt JP", 1041});
    Register({kSecond, u"7.1.0.4", u"Mervolt DE", 1031});
    sim::SetUserDefaultLocale(1033);
    RunInstall();
    const auto& boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2U);
    EXPECT_EQ(boxes[0].threadLocale, 1041U);
    EXPECT_EQ(boxes[1].threadLocale, 1031U);
    for (const auto& box : boxes) {
        std::u16string format;
        std::u16string caption;
        win::SetThreadLocale(box.threadLocale);
        const unsigned id = box.style == kInformation ? 301 : 308;
        LoadResourceString(InstanceHandle, id, format, kStringLoadChars);
        LoadResourceString(InstanceHandle, id == 301 ? 312 : 311, caption, kStringLoadChars);
        EXPECT_NE(Narrow(format), Narrow(id == 301 ? Installed(u"%s") : NotDesigned(u"%s")))
            << "a translated text, not the English one";
        const std::size_t placeholder = format.find(u"%s");
        ASSERT_NE(placeholder, std::u16string::npos);
        const std::u16string name = box.threadLocale == 1041 ? u"Mervolt JP" : u"Mervolt DE";
        EXPECT_EQ(Narrow(box.text), Narrow(format.substr(0, placeholder) + name + format.substr(placeholder + 2)));
        EXPECT_EQ(Narrow(box.caption), Narrow(caption));
    }
}

TEST_F(InstallMode, ClosingMessageComesInTheUserDefaultLanguage) {
    Register({kFirst, u"7.2.0.2", u"Mervolt JP", 1041});
    sim::SetUserDefaultLocale(1031);
    RunInstall();
    ASSERT_EQ(sim::MessageBoxes().size(), 1U);
    EXPECT_EQ(sim::MessageBoxes()[0].threadLocale, 1031U);
    EXPECT_NE(sim::MessageBoxes()[0].text.find(u"Mervolt JP"), std::u16string::npos);
}

TEST_F(InstallMode, ProductListedTwiceIsPatchedTwice) {
    const std::string package = Host(u"C:\\twice.msp");
    const std::string code = Narrow(kFirst);
    ASSERT_TRUE(BuildPatchPackage(package, code + ";" + code, kTestPatchCode, "7.2.0.2"));
    InstanceHandle = BuildModule({.package = ReadBytes(package)});
    Register({kFirst, u"7.0.43.6", u"Mervolt"});
    RunInstall();
    EXPECT_EQ(ConfiguredProducts(), (std::vector<std::u16string>{kFirst, kFirst}));
    ASSERT_EQ(sim::MessageBoxes().size(), 2U);
    EXPECT_EQ(sim::MessageBoxes()[0].style, kInformation);
    // The second call finds the product already at 7.2.0.2 from the first; the
    // decision was made on the version collected before the walk.
    EXPECT_EQ(sim::MessageBoxes()[1].style, kInformation);
}

TEST_F(InstallMode, LanguageWithoutDigitsGivesTheNeutralLocaleAndGoesOn) {
    Register({kFirst, u"7.1.0.4", u"Mervolt A", 1041});
    Register({kSecond, u"7.0.43.6", u"Mervolt B", 1033});
    sim::SetUserDefaultLocale(1031);
    // The installer reports a language that is no number.
    sim::ImposeProductProperty(kSecond, u"Language", {0, u"neutral"});
    RunInstall();
    ASSERT_EQ(sim::MessageBoxes().size(), 2U);
    EXPECT_EQ(sim::MessageBoxes()[1].style, kInformation);
    EXPECT_EQ(sim::MessageBoxes()[1].threadLocale, 1031U) << "SetThreadLocale(0) names the user's default";
    EXPECT_EQ(ConfiguredProducts(), (std::vector<std::u16string>{kSecond}));
}

TEST_F(InstallMode, AdvertisedProductCountsAsInstalled) {
    // An advertised product has no "VersionString" yet, so no candidate matches
    // it: it is reported as not designed for, not as missing.
    Register({kFirst, u"7.0.43.6", u"Mervolt"}, win::INSTALLSTATE_ADVERTISED);
    RunInstall();
    ASSERT_EQ(TargetProducts.size(), 1U);
    EXPECT_EQ(Narrow(TargetProducts[0].productName), "Mervolt");
    ASSERT_EQ(sim::MessageBoxes().size(), 1U);
    EXPECT_EQ(Narrow(sim::MessageBoxes()[0].text), Narrow(NotDesigned(u"Mervolt")));
    EXPECT_TRUE(ConfiguredProducts().empty());
}

TEST_F(InstallMode, TransformsAreRemovedBeforeThePatchIsApplied) {
    Register({kFirst, u"7.0.43.6", u"Mervolt"});
    const std::u16string installerKey = sim::ProductClassesKey(kFirst);
    sim::SetRegistryString(win::HKEY_CLASSES_ROOT, installerKey, u"Transforms", u":1033.mst");
    sim::SetRegistryString(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane\\Mervolt\\V9.2\\Mrvt-C3E:B61",
                           u"MrvtLocation", u"C:\\Mervolt");
    WriteBytes(Host(u"C:\\Mervolt\\kelmora.zpq"),
               pe_image::BuildPeImage({{16, 1, 0x409, pe_image::VersionBlock(0x00070000, 0x002B0002, 0, 0)}}));
    // Observe the order: the value must be gone when the installer is called.
    bool goneAtInstallerCall = false;
    sim::SetInstallerCallObserver([&](const sim::InstallerCall& call) {
        if (call.function == "MsiConfigureProductExW") {
            goneAtInstallerCall = !sim::ReadRegistryValue(win::HKEY_CLASSES_ROOT, installerKey, u"Transforms");
        }
    });
    RunInstall();
    sim::SetInstallerCallObserver(nullptr);
    EXPECT_TRUE(goneAtInstallerCall);
}

TEST_F(InstallMode, QuietTakesTheSameStepsWithoutBoxes) {
    Register({kFirst, u"7.0.43.6", u"Mervolt A"});
    Register({kSecond, u"7.1.0.4", u"Mervolt B"});
    RunOptions.quiet = true;
    EXPECT_TRUE(RunInstall());
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_EQ(ConfiguredProducts(), (std::vector<std::u16string>{kFirst}));
    for (const auto& call : sim::InstallerCallsOf("MsiConfigureProductExW")) {
        EXPECT_EQ(call.arguments[3].find(u"/q"), std::u16string::npos) << "quiet does not reach the installer";
    }
    EXPECT_FALSE(TempPackageExists());
}

struct EarlyEnd {
    const char* name;
    ModuleChanges changes;
    const char* fault;
    std::uint32_t error;
    std::u16string expectedCode;
    bool packageLeft;
};

TEST_F(InstallMode, FailuresBeforeTheWalkEndWithMessage300AndKeepThePackage) {
    Register({kFirst, u"7.0.43.6", u"Mervolt"});
    const EarlyEnd cases[] = {
        {"NoPackageResource", {.dropPackage = true}, nullptr, 0, u"1813", false},
        {"PackageCannotBeWritten", {}, "WriteFile", 112, u"112", true},
        {"TargetVersionMissing", {.englishStrings = {{700, u""}}}, nullptr, 0, u"", true},
        {"CandidatesMissing", {.englishStrings = {{900, u""}}}, nullptr, 0, u"", true},
        {"TargetListUnreadable", {}, "MsiGetSummaryInformationW", 1619, u"", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path temp = Host(u"C:\\users\\simuser\\Temp");
        fs::remove_all(temp);
        fs::create_directories(temp);
        sim::ClearFaults();
        sim::ClearMessageBoxes();
        TargetProducts.clear();
        InstanceHandle = BuildModule(c.changes);
        if (c.fault != nullptr) {
            sim::InjectFault(c.fault, 0, c.error);
        }
        win::SetLastError(0);
        EXPECT_FALSE(RunInstall());
        ASSERT_EQ(sim::MessageBoxes().size(), 1U);
        const std::u16string& text = sim::MessageBoxes()[0].text;
        EXPECT_EQ(Narrow(text.substr(0, 58)), "A problem prevented the Service Pack from being installed.");
        if (!c.expectedCode.empty()) {
            EXPECT_EQ(Narrow(text.substr(text.rfind(u' ') + 1)), Narrow(c.expectedCode));
        }
        // The counter goes on within the process, so count what the run left.
        const auto left = std::distance(fs::directory_iterator(temp), fs::directory_iterator());
        EXPECT_EQ(left, c.packageLeft ? 1 : 0);
        EXPECT_TRUE(sim::InstallerCallsOf("MsiConfigureProductExW").empty());
    }
}

}  // namespace
