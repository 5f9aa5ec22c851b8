// Removal of a product's "Transforms" registration when the host module's file
// version differs from the installed version, and the packing of product codes.
#include <gtest/gtest.h>

#include "patching/transforms.h"
#include "platform/simulated/sim_registry.h"
#include "tests/machine_fixture.h"
#include "platform/simulated/pe_image.h"

namespace {

constexpr char16_t kCode[] = u"{12345678-ABCD-EF01-2345-6789ABCDEF01}";
constexpr char16_t kHostKey[] = u"Software\\Quorvane\\Mervolt\\V9.2\\Mrvt-BCD:F01";
constexpr char16_t kInstallerKey[] = u"Installer\\Products\\87654321DCBA10FE32547698BADCFE10";
constexpr char16_t kLocation[] = u"C:\\Program Files\\Quorvane\\Mervolt";

struct PackCase {
    std::u16string code;
    std::u16string packed;
};

TEST(PackProductCode, FollowsTheRegistrationLayout) {
    const PackCase cases[] = {
        {kCode, u"87654321DCBA10FE32547698BADCFE10"},
        {u"{12345678-abcd-ef01-2345-6789abcdef01}", u"87654321dcba10fe32547698badcfe10"},
        {u"{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}", u"91A2D7F4E3C816B45A0DE9F2173C8B64"},
        // Cut at the first output position whose source lies beyond the code.
        {u"{12345678-ABCD}", u"87654321DCBA"},
        {u"{1234", u""},
        {u"", u""},
        // Characters are moved as they are, whatever they are.
        {u"x12345678y1234z1234w1234v123456789012", u"87654321432143212143214365870921"},
        // 39 characters still fit the work area; the 39th is never a source.
        {std::u16string(kCode) + u"X", u"87654321DCBA10FE32547698BADCFE10"},
        // A longer text is not a product code: no packed form at all.
        {std::u16string(kCode) + u"XY", u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Narrow(PackProductCode(c.code)), Narrow(c.packed)) << Narrow(c.code);
    }
}

class TransformsRemoval : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        sim::SetRegistryString(win::HKEY_CLASSES_ROOT, kInstallerKey, u"Transforms", u":1031.mst");
        sim::SetRegistryString(win::HKEY_CLASSES_ROOT, kInstallerKey, u"ProductName", u"Quorvane Mervolt");
    }

    void InstallHost(std::uint32_t fileMS, std::uint32_t fileLS) {
        sim::SetRegistryString(win::HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", kLocation);
        WriteModule(std::u16string(kLocation) + u"\\kelmora.zpq", fileMS, fileLS);
    }

    void WriteModule(const std::u16string& windowsPath, std::uint32_t fileMS, std::uint32_t fileLS) {
        // The product version differs on purpose: only the file version counts.
        WriteBytes(Host(windowsPath),
                   pe_image::BuildPeImage({{16, 1, 0x409, pe_image::VersionBlock(fileMS, fileLS, 0x00090002, 0)}}));
    }

    bool TransformsKept() const {
        return sim::ReadRegistryValue(win::HKEY_CLASSES_ROOT, kInstallerKey, u"Transforms").has_value();
    }
};

const FourPartVersion kInstalled{7, 0, 43, 3};

TEST_F(TransformsRemoval, DifferentModuleVersionDeletesTheValue) {
    InstallHost(0x00070000, 0x002B0002);  // 7.0.43.2
    RemoveProductTransforms(kCode, kInstalled);
    EXPECT_FALSE(TransformsKept());
    EXPECT_TRUE(sim::ReadRegistryValue(win::HKEY_CLASSES_ROOT, kInstallerKey, u"ProductName").has_value())
        << "only the Transforms value goes";
    EXPECT_TRUE(sim::OpenHandles().empty());
    EXPECT_EQ(sim::CallCount("RegCloseKey"), 2U);
}

TEST_F(TransformsRemoval, EqualModuleVersionKeepsTheValue) {
    InstallHost(0x00070000, 0x002B0003);  // 7.0.43.3
    RemoveProductTransforms(kCode, kInstalled);
    EXPECT_TRUE(TransformsKept());
    EXPECT_EQ(sim::CallCount("RegOpenKeyExW"), 1U) << "the installer key is never opened";
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(TransformsRemoval, EachFieldOfTheVersionCounts) {
    const std::uint32_t versions[][2] = {
        {0x00080000, 0x002B0003}, {0x00070001, 0x002B0003}, {0x00070000, 0x002C0003}, {0x00070000, 0x002B0004}};
    for (const auto& version : versions) {
        sim::SetRegistryString(win::HKEY_CLASSES_ROOT, kInstallerKey, u"Transforms", u":1031.mst");
        InstallHost(version[0], version[1]);
        RemoveProductTransforms(kCode, kInstalled);
        EXPECT_FALSE(TransformsKept()) << std::hex << version[0] << "." << version[1];
    }
}

TEST_F(TransformsRemoval, MissingHostKeyReadsNothingElse) {
    RemoveProductTransforms(kCode, kInstalled);
    EXPECT_TRUE(TransformsKept());
    EXPECT_EQ(sim::CallCount("RegOpenKeyExW"), 1U);
    EXPECT_EQ(sim::CallCount("RegQueryValueExW"), 0U);
    EXPECT_EQ(sim::CallCount("RegCloseKey"), 0U);
    EXPECT_EQ(sim::CallCount("GetFileVersionInfoSizeW"), 0U);
}

TEST_F(TransformsRemoval, MissingLocationClosesTheHostKey) {
    sim::CreateRegistryKey(win::HKEY_LOCAL_MACHINE, kHostKey);
    RemoveProductTransforms(kCode, kInstalled);
    EXPECT_TRUE(TransformsKept());
    EXPECT_EQ(sim::CallCount("RegCloseKey"), 1U);
    EXPECT_EQ(sim::CallCount("GetFileVersionInfoSizeW"), 0U);
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(TransformsRemoval, MissingModuleDeletesNothing) {
    sim::SetRegistryString(win::HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", kLocation);
    RemoveProductTransforms(kCode, kInstalled);
    EXPECT_TRUE(TransformsKept());
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(TransformsRemoval, ModuleWithoutVersionDeletesNothingEvenForAZeroInstalledVersion) {
    sim::SetRegistryString(win::HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", kLocation);
    WriteBytes(Host(std::u16string(kLocation) + u"\\kelmora.zpq"), pe_image::BuildPeImage({}));
    RemoveProductTransforms(kCode, FourPartVersion{});
    RemoveProductTransforms(kCode, kInstalled);
    EXPECT_TRUE(TransformsKept());
}

TEST_F(TransformsRemoval, MissingTransformsValueIsHarmless) {
    InstallHost(0x00070000, 0x002B0002);
    sim::DeleteRegistryValue(win::HKEY_CLASSES_ROOT, kInstallerKey, u"Transforms");
    RemoveProductTransforms(kCode, kInstalled);
    EXPECT_EQ(sim::CallCount("RegDeleteValueW"), 1U);
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(TransformsRemoval, ReadOnlyInstallerKeyKeepsTheValue) {
    InstallHost(0x00070000, 0x002B0002);
    ASSERT_TRUE(sim::MakeRegistryKeyReadOnly(win::HKEY_CLASSES_ROOT, kInstallerKey));
    RemoveProductTransforms(kCode, kInstalled);
    EXPECT_TRUE(TransformsKept());
    EXPECT_EQ(sim::CallCount("RegDeleteValueW"), 0U);
    EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(TransformsRemoval, LocationEndingInABackslashStillNamesTheModule) {
    sim::SetRegistryString(win::HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", std::u16string(kLocation) + u"\\");
    WriteModule(std::u16string(kLocation) + u"\\kelmora.zpq", 0x00070000, 0x002B0002);
    RemoveProductTransforms(kCode, kInstalled);
    EXPECT_FALSE(TransformsKept());
}

TEST_F(TransformsRemoval, LowerCaseCodeUsesLowerCaseKeys) {
    // Registry names compare without regard to case, so the same keys are found.
    InstallHost(0x00070000, 0x002B0002);
    RemoveProductTransforms(u"{12345678-abcd-ef01-2345-6789abcdef01}", kInstalled);
    EXPECT_FALSE(TransformsKept());
}

TEST_F(TransformsRemoval, LocationValuesOfEveryShapeStayInsideTheArea) {
    struct Shape {
        const char* name;
        win::DWORD type;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<std::uint8_t> fullArea(2048, 'A');  // 1024 units of U+4141, no terminator
    std::vector<std::uint8_t> overlong(4096, 'B');
    std::vector<std::uint8_t> unterminated;
    for (char16_t c : std::u16string(kLocation)) {
        unterminated.push_back(static_cast<std::uint8_t>(c));
        unterminated.push_back(0);
    }
    const Shape shapes[] = {
        {"Dword", win::REG_DWORD, {1, 0, 0, 0}},
        {"FillsTheArea", win::REG_SZ, fullArea},
        {"LongerThanTheArea", win::REG_SZ, overlong},
        {"OddLength", win::REG_BINARY, {'C', 0, ':'}},
        {"Empty", win::REG_SZ, {}},
    };
    for (const auto& shape : shapes) {
        sim::SetRegistryValue(win::HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", shape.type, shape.bytes);
        RemoveProductTransforms(kCode, kInstalled);
        EXPECT_TRUE(TransformsKept()) << shape.name;
        EXPECT_TRUE(sim::OpenHandles().empty()) << shape.name;
    }
    // Stored without its terminator, the location still names the module.
    WriteModule(std::u16string(kLocation) + u"\\kelmora.zpq", 0x00070000, 0x002B0002);
    sim::SetRegistryValue(win::HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", win::REG_SZ, unterminated);
    RemoveProductTransforms(kCode, kInstalled);
    EXPECT_FALSE(TransformsKept());
}

TEST_F(TransformsRemoval, CodesThatCannotNameAHostKeyReadNothing) {
    InstallHost(0x00070000, 0x002B0002);
    const std::u16string codes[] = {
        u"{12345678ABCDEF0123456789ABCDEF01}",  // no "-"
        u"{12345678-ABCD-E",                    // too short for the second piece
        u"-",
        u"",
    };
    for (const auto& code : codes) {
        RemoveProductTransforms(code, kInstalled);
        EXPECT_TRUE(TransformsKept()) << Narrow(code);
    }
    EXPECT_EQ(sim::CallCount("RegOpenKeyExW"), 0U);
}

TEST_F(TransformsRemoval, OverlongCodeNeverTouchesTheProductsKeyItself) {
    // The host key of this code exists, but its packed form would be cut to
    // nothing and name Installer\Products itself.
    const std::u16string code = std::u16string(kCode) + u"-tail";
    InstallHost(0x00070000, 0x002B0002);
    sim::SetRegistryString(win::HKEY_CLASSES_ROOT, u"Installer\\Products", u"Transforms", u"not ours");
    RemoveProductTransforms(code, kInstalled);
    EXPECT_TRUE(sim::ReadRegistryValue(win::HKEY_CLASSES_ROOT, u"Installer\\Products", u"Transforms").has_value());
    EXPECT_TRUE(TransformsKept());
}

TEST_F(TransformsRemoval, FailuresOfEachRegistryCallAreSilent) {
    for (const char* function : {"RegOpenKeyExW", "RegQueryValueExW", "RegDeleteValueW"}) {
        sim::ClearFaults();
        sim::SetRegistryString(win::HKEY_CLASSES_ROOT, kInstallerKey, u"Transforms", u":1031.mst");
        InstallHost(0x00070000, 0x002B0002);
        sim::InjectFault(function, 0);
        RemoveProductTransforms(kCode, kInstalled);
        EXPECT_TRUE(TransformsKept()) << function;
        EXPECT_TRUE(sim::OpenHandles().empty()) << function;
        EXPECT_TRUE(sim::MessageBoxes().empty()) << function;
    }
}

}  // namespace
