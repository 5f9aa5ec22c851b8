// The simulated Windows Installer service: summary information of real
// packages, product state and properties from the registrations, and patch
// application.
#include <gtest/gtest.h>

#include "platform/simulated/sim_installer.h"
#include "platform/simulated/sim_registry.h"
#include "tests/machine_fixture.h"
#include "tests/msi_packages.h"

namespace {

constexpr std::u16string_view kProduct = u"{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}";
constexpr std::u16string_view kOtherProduct = u"{B2E85C07-3D1A-4F98-8C6B-57A0D4E9F213}";
constexpr char kTargets[] = "{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846};{B2E85C07-3D1A-4F98-8C6B-57A0D4E9F213}";
constexpr win::UINT kVtLpstr = 30;
constexpr win::UINT kVtI4 = 3;

class InstallerServiceTest : public MachineTest {
protected:
    // A package on drive C:, built with msibuild; its Windows path.
    std::u16string Package(const std::string& name, const std::string& targets,
                           const std::optional<std::string>& newVersion = std::nullopt) {
        const std::u16string path = u"C:\\packages\\" + sim::FromUtf8(name);
        EXPECT_TRUE(BuildPatchPackage((sandbox_ / "c" / "packages" / name).string(), targets, kTestPatchCode,
                                      newVersion));
        return path;
    }

    void RegisterMervolt(win::INSTALLSTATE state = win::INSTALLSTATE_DEFAULT) {
        ASSERT_TRUE(sim::RegisterProduct(
            {std::u16string(kProduct), u"Quorvane Mervolt 9.2", u"7.0.43.6", 1041, state}));
    }

    // A product property as MsiGetProductInfoW gives it, with its result.
    std::pair<win::UINT, std::u16string> Property(std::u16string_view product, const char16_t* property,
                                                  win::DWORD count = 1024) {
        std::u16string buffer(std::max<win::DWORD>(count, 1), u'\xFFFF');
        const std::u16string code(product);
        const win::UINT result = win::MsiGetProductInfoW(code.c_str(), property, buffer.data(), &count);
        return {result, result == 0 ? buffer.substr(0, count) : buffer};
    }
};

TEST_F(InstallerServiceTest, PackedCodesAreTheInstallersOwn) {
    EXPECT_EQ(sim::PackedGuid(u"{12345678-ABCD-EF01-2345-6789ABCDEF01}"),
              u"87654321DCBA10FE32547698BADCFE10");
    EXPECT_EQ(sim::PackedGuid(u"{12345678-abcd-ef01-2345-6789abcdef01}"),
              u"87654321DCBA10FE32547698BADCFE10");
    EXPECT_EQ(sim::PackedGuid(u"12345678-ABCD-EF01-2345-6789ABCDEF01"), u"");
    EXPECT_EQ(sim::PackedGuid(u"{12345678-ABCD-EF01-2345-6789ABCDEF0G}"), u"");
    RegisterMervolt();
    EXPECT_TRUE(
        sim::RegistryKeyExists(win::HKEY_LOCAL_MACHINE,
                               u"Software\\Classes\\Installer\\Products\\91A2D7F4E3C816B45A0DE9F2173C8B64"));
    EXPECT_EQ(sim::ReadRegistryString(
                  win::HKEY_LOCAL_MACHINE,
                  u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\"
                  u"91A2D7F4E3C816B45A0DE9F2173C8B64\\InstallProperties",
                  u"DisplayVersion"),
              u"7.0.43.6");
}

TEST_F(InstallerServiceTest, SummaryInformationOfAPackage) {
    const std::u16string path = Package("one.msp", kTargets);
    win::MSIHANDLE handle = 0;
    ASSERT_EQ(win::MsiGetSummaryInformationW(0, path.c_str(), 0, &handle), 0U);
    ASSERT_NE(handle, 0U);
    ASSERT_EQ(sim::OpenHandles().size(), 1U);
    EXPECT_NE(sim::OpenHandles()[0].find("installer: summary information of C:\\packages\\one.msp"),
              std::string::npos);

    const std::u16string targets = sim::FromUtf8(kTargets);
    std::u16string buffer(2048, u'\xFFFF');
    win::DWORD count = 2048;
    win::UINT type = 0;
    win::INT integer = 0;
    win::FILETIME time{};
    EXPECT_EQ(win::MsiSummaryInfoGetPropertyW(handle, 7, &type, &integer, &time, buffer.data(), &count), 0U);
    EXPECT_EQ(type, kVtLpstr);
    EXPECT_EQ(count, targets.size());
    EXPECT_EQ(buffer.substr(0, count + 1), targets + u'\0');

    // Too small: the length needed, and what fits, terminated.
    std::u16string small(8, u'\xFFFF');
    count = 8;
    EXPECT_EQ(win::MsiSummaryInfoGetPropertyW(handle, 7, &type, &integer, &time, small.data(), &count), 234U);
    EXPECT_EQ(count, targets.size());
    EXPECT_EQ(small, targets.substr(0, 7) + u'\0');

    count = 0;
    EXPECT_EQ(win::MsiSummaryInfoGetPropertyW(handle, 9, &type, &integer, &time, nullptr, &count), 0U);
    EXPECT_EQ(count, 38U) << "the revision number's length";
    EXPECT_EQ(win::MsiSummaryInfoGetPropertyW(handle, 14, &type, &integer, &time, nullptr, nullptr), 0U);
    EXPECT_EQ(type, kVtI4);
    EXPECT_EQ(win::MsiSummaryInfoGetPropertyW(handle, 7, &type, &integer, &time, buffer.data(), nullptr),
              87U);
    EXPECT_EQ(win::MsiSummaryInfoGetPropertyW(handle, 20, &type, &integer, &time, buffer.data(), &count),
              1608U);

    EXPECT_EQ(win::MsiCloseHandle(handle), 0U);
    EXPECT_TRUE(sim::OpenHandles().empty());
    EXPECT_EQ(win::MsiCloseHandle(handle), 6U) << "a handle is closed once";
    count = 2048;
    EXPECT_EQ(win::MsiSummaryInfoGetPropertyW(handle, 7, &type, &integer, &time, buffer.data(), &count), 6U);
    EXPECT_EQ(win::MsiCloseHandle(0), 0U);
}

TEST_F(InstallerServiceTest, WhatIsNoPackageGivesNoHandle) {
    WriteText(Host(u"C:\\packages\\text.msp"), "not a compound file");
    std::filesystem::create_directories(Host(u"C:\\packages\\folder.msp"));
    const std::u16string denied = Package("denied.msp", kTargets);
    sim::DenyAllAccess(denied);
    for (const std::u16string path : {u"C:\\packages\\text.msp", u"C:\\packages\\missing.msp",
                                      u"C:\\packages\\folder.msp", denied.c_str(), u"Q:\\unmapped.msp"}) {
        win::MSIHANDLE handle = 0;
        EXPECT_EQ(win::MsiGetSummaryInformationW(0, path.c_str(), 0, &handle),
                  win::ERROR_INSTALL_PACKAGE_INVALID)
            << Narrow(path);
        EXPECT_EQ(handle, 0U);
    }
    EXPECT_TRUE(sim::OpenHandles().empty());
    win::MSIHANDLE handle = 0;
    EXPECT_EQ(win::MsiGetSummaryInformationW(0, nullptr, 0, &handle), 87U);
    EXPECT_EQ(win::MsiGetSummaryInformationW(5, nullptr, 0, &handle), 6U) << "no database is open";
}

TEST_F(InstallerServiceTest, ProductStates) {
    const std::u16string advertised = u"{11111111-2222-3333-4444-555555555555}";
    const std::u16string absent = u"{66666666-7777-8888-9999-000000000000}";
    RegisterMervolt();
    ASSERT_TRUE(
        sim::RegisterProduct({advertised, u"Advertised", u"1.0", 1033, win::INSTALLSTATE_ADVERTISED}));
    ASSERT_TRUE(sim::RegisterProduct({absent, u"Left behind", u"1.0", 1033, win::INSTALLSTATE_ABSENT}));
    struct Case {
        const char16_t* product;
        win::INSTALLSTATE state;
    };
    const std::u16string lowerCase = u"{4f7d2a19-8c3e-4b61-a5d0-9e2f71c3b846}";
    const Case cases[] = {
        {kProduct.data(), 5},
        {lowerCase.c_str(), 5},
        {advertised.c_str(), 1},
        {absent.c_str(), 2},
        {kOtherProduct.data(), -1},
        {u"{4F7D2A19}", -2},
        {u"", -2},
        {nullptr, -2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(win::MsiQueryProductStateW(c.product), c.state) << (c.product ? Narrow(c.product) : "null");
    }
}

TEST_F(InstallerServiceTest, ProductProperties) {
    RegisterMervolt();
    const std::u16string advertised = u"{11111111-2222-3333-4444-555555555555}";
    ASSERT_TRUE(
        sim::RegisterProduct({advertised, u"Advertised", u"1.0", 1031, win::INSTALLSTATE_ADVERTISED}));
    struct Case {
        std::u16string_view product;
        const char16_t* property;
        win::UINT result;
        std::u16string value;
    };
    const Case cases[] = {
        {kProduct, u"VersionString", 0, u"7.0.43.6"},
        {kProduct, u"ProductName", 0, u"Quorvane Mervolt 9.2"},
        {kProduct, u"InstalledProductName", 0, u"Quorvane Mervolt 9.2"},
        {kProduct, u"Language", 0, u"1041"},
        {kProduct, u"Version", 0, u"117440555"},  // 7 << 24 | 0 << 16 | 43
        {kProduct, u"Publisher", 0, u""},
        {kProduct, u"versionstring", 1608, u""},
        {kProduct, u"Bogus", 1608, u""},
        {advertised, u"ProductName", 0, u"Advertised"},
        {advertised, u"Language", 0, u"1031"},
        {advertised, u"VersionString", 1608, u""},
        {kOtherProduct, u"VersionString", 1605, u""},
        {u"not a code", u"VersionString", 87, u""},
    };
    for (const Case& c : cases) {
        const auto [result, value] = Property(c.product, c.property);
        EXPECT_EQ(result, c.result) << Narrow(c.property);
        if (c.result == 0) {
            EXPECT_EQ(value, c.value) << Narrow(c.property);
        }
    }
}

TEST_F(InstallerServiceTest, AProductPropertyThatDoesNotFit) {
    RegisterMervolt();
    std::u16string buffer(4, u'\xFFFF');
    win::DWORD count = 4;
    EXPECT_EQ(win::MsiGetProductInfoW(kProduct.data(), u"VersionString", buffer.data(), &count), 234U);
    EXPECT_EQ(count, 8U);
    EXPECT_EQ(buffer, std::u16string(u"7.0") + u'\0');
    count = 0;
    EXPECT_EQ(win::MsiGetProductInfoW(kProduct.data(), u"VersionString", nullptr, &count), 0U);
    EXPECT_EQ(count, 8U);
}

TEST_F(InstallerServiceTest, ImposedAnswers) {
    RegisterMervolt();
    const std::u16string longName(1500, u'n');
    sim::ImposeProductProperty(kProduct, u"ProductName", {0, longName});
    sim::ImposeProductProperty(kProduct, u"Language", {1603, u""});
    sim::ImposeProductProperty(kProduct, u"VersionString", {0, longName, false});

    auto [result, value] = Property(kProduct, u"ProductName");
    EXPECT_EQ(result, 234U);
    EXPECT_EQ(value, longName.substr(0, 1023) + u'\0');

    std::tie(result, value) = Property(kProduct, u"Language");
    EXPECT_EQ(result, 1603U);
    EXPECT_EQ(value, std::u16string(1024, u'\xFFFF')) << "a failure leaves the buffer alone";

    std::tie(result, value) = Property(kProduct, u"VersionString");
    EXPECT_EQ(result, 0U);
    EXPECT_EQ(value, longName.substr(0, 1024))
        << "a misbehaving service fills the buffer without a terminator";
}

TEST_F(InstallerServiceTest, ApplyingAPatchBringsItsVersion) {
    RegisterMervolt();
    const std::u16string path = Package("update.msp", kTargets, "7.2.0.2");
    const std::u16string commandLine = u"PATCH=\"" + path + u"\"";
    EXPECT_EQ(win::MsiConfigureProductExW(kProduct.data(), 0, 5, commandLine.c_str()), 0U);
    EXPECT_EQ(sim::InstalledProductVersion(kProduct), u"7.2.0.2");
    EXPECT_EQ(Property(kProduct, u"VersionString").second, u"7.2.0.2");
    EXPECT_EQ(sim::ReadRegistryDword(win::HKEY_CLASSES_ROOT, sim::ProductClassesKey(kProduct), u"Version"),
              (7U << 24) | (2U << 16));
    EXPECT_EQ(sim::ProductPatches(kProduct), std::vector<std::u16string>{sim::FromUtf8(kTestPatchCode)});
    EXPECT_EQ(sim::InstalledProductVersion(kOtherProduct), std::nullopt);

    // Applied again: still one patch.
    EXPECT_EQ(win::MsiConfigureProductExW(kProduct.data(), 0, 5, commandLine.c_str()), 0U);
    EXPECT_EQ(sim::ProductPatches(kProduct).size(), 1U);
}

TEST_F(InstallerServiceTest, AnAdvertisedProductGetsInstalledByThePatch) {
    RegisterMervolt(win::INSTALLSTATE_ADVERTISED);
    const std::u16string commandLine = u"PATCH=\"" + Package("update.msp", kTargets, "7.2.0.2") + u"\"";
    EXPECT_EQ(win::MsiConfigureProductExW(kProduct.data(), 0, 5, commandLine.c_str()), 0U);
    EXPECT_EQ(win::MsiQueryProductStateW(kProduct.data()), 5);
    EXPECT_EQ(Property(kProduct, u"InstalledProductName").second, u"Quorvane Mervolt 9.2");
    EXPECT_EQ(sim::InstalledProductVersion(kProduct), u"7.2.0.2");
}

TEST_F(InstallerServiceTest, PatchApplicationFailures) {
    RegisterMervolt();
    WriteText(Host(u"C:\\packages\\text.msp"), "not a compound file");
    const std::u16string good = Package("update.msp", kTargets, "7.2.0.2");
    const std::u16string otherTargets =
        Package("other.msp", "{B2E85C07-3D1A-4F98-8C6B-57A0D4E9F213}", "7.2.0.2");
    const std::u16string spaced = Package("spaced.msp", " {4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}", "7.2.0.2");
    struct Case {
        std::u16string_view product;
        std::u16string commandLine;
        win::UINT result;
    };
    const Case cases[] = {
        {kProduct, u"PATCH=\"C:\\packages\\missing.msp\"", 1635},
        {kProduct, u"PATCH=\"C:\\packages\\text.msp\"", 1635},
        {kProduct, u"PATCH=\"" + otherTargets + u"\"", 1642},
        {kProduct, u"PATCH=\"" + spaced + u"\"", 1642},
        {kOtherProduct, u"PATCH=\"" + good + u"\"", 1605},
        {u"{4F7D2A19}", u"PATCH=\"" + good + u"\"", 87},
        {kProduct, u"PATCH=\"" + good, 1639},
        {kProduct, u"PATCH", 1639},
        {kProduct, u"=\"" + good + u"\"", 1639},
    };
    for (const Case& c : cases) {
        const std::u16string product(c.product);
        EXPECT_EQ(win::MsiConfigureProductExW(product.c_str(), 0, 5, c.commandLine.c_str()), c.result)
            << Narrow(c.commandLine);
    }
    EXPECT_EQ(sim::InstalledProductVersion(kProduct), u"7.0.43.6");
    EXPECT_TRUE(sim::ProductPatches(kProduct).empty());
}

TEST_F(InstallerServiceTest, CommandLineForms) {
    RegisterMervolt();
    Package("two words.msp", "{4f7d2a19-8c3e-4b61-a5d0-9e2f71c3b846}", "7.2.0.2");
    Package("plain.msp", kTargets);
    struct Case {
        std::u16string commandLine;
        std::u16string version;
    };
    const Case cases[] = {
        // No patch: nothing changes.
        {u"", u"7.0.43.6"},
        {u"REINSTALL=ALL", u"7.0.43.6"},
        // A package without the version table: patched, version kept.
        {u"PATCH=C:\\packages\\plain.msp", u"7.0.43.6"},
        // Target codes compare without regard to case; quotes double inside quotes.
        {u"  REBOOT=\"Really \"\"Suppress\"\"\"  PATCH=\"C:\\packages\\two words.msp\" ", u"7.2.0.2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(win::MsiConfigureProductExW(kProduct.data(), 0, 5, c.commandLine.c_str()), 0U)
            << Narrow(c.commandLine);
        EXPECT_EQ(sim::InstalledProductVersion(kProduct), c.version) << Narrow(c.commandLine);
    }
    EXPECT_EQ(sim::ProductPatches(kProduct).size(), 1U) << "both packages carry the same patch code";
}

TEST_F(InstallerServiceTest, InjectedResultsAndTheRecordOfCalls) {
    RegisterMervolt();
    const std::u16string commandLine = u"PATCH=\"" + Package("update.msp", kTargets, "7.2.0.2") + u"\"";
    sim::InjectFault("MsiConfigureProductExW", 1, 1603);
    sim::InjectFault("MsiConfigureProductExW", 2, 1618);
    EXPECT_EQ(win::MsiConfigureProductExW(kProduct.data(), 0, 5, commandLine.c_str()), 1603U);
    EXPECT_EQ(win::MsiConfigureProductExW(kProduct.data(), 0, 5, commandLine.c_str()), 1618U);
    EXPECT_EQ(sim::InstalledProductVersion(kProduct), u"7.0.43.6") << "a failed call changes nothing";
    EXPECT_EQ(win::MsiConfigureProductExW(kProduct.data(), 0, 5, commandLine.c_str()), 0U);
    EXPECT_EQ(win::MsiQueryProductStateW(kProduct.data()), 5);
    EXPECT_EQ(sim::CallCount("MsiConfigureProductExW"), 3U);

    const auto& calls = sim::InstallerCalls();
    ASSERT_EQ(calls.size(), 4U);
    EXPECT_EQ(calls[0].function, "MsiConfigureProductExW");
    EXPECT_EQ(calls[0].arguments,
              (std::vector<std::u16string>{std::u16string(kProduct), u"0", u"5", commandLine}));
    EXPECT_EQ(calls[0].result, 1603);
    EXPECT_EQ(calls[2].result, 0);
    EXPECT_EQ(calls[3].function, "MsiQueryProductStateW");
    EXPECT_EQ(calls[3].result, 5);
    EXPECT_EQ(sim::InstallerCallsOf("MsiConfigureProductExW").size(), 3U);
}

TEST_F(InstallerServiceTest, RemovingAProduct) {
    RegisterMervolt();
    EXPECT_EQ(win::MsiConfigureProductExW(kProduct.data(), 0, win::INSTALLSTATE_ABSENT, u""), 0U);
    EXPECT_EQ(win::MsiQueryProductStateW(kProduct.data()), -1);
    EXPECT_EQ(win::MsiConfigureProductExW(kProduct.data(), 0, 5, u""), 1605U);
    EXPECT_EQ(win::MsiConfigureProductExW(kProduct.data(), -1, 5, u""), 87U);
}

}  // namespace
