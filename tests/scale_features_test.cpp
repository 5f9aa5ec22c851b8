// Simulated-platform features for large machines and for benchmarks: resources
// a machine gives the executable's module (SIMWIN_RESOURCES), the registry's
// change count and streamed file text, installer calls that are not kept, and
// packages read by the executable started again as a reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/simulated/sim.h"
#include "platform/simulated/sim_installer.h"
#include "platform/simulated/sim_registry.h"
#include "tests/machine_fixture.h"
#include "tests/msi_packages.h"
#include "tests/process_support.h"

namespace {

namespace fs = std::filesystem;

struct ResourceSpec {
    std::u16string type;  // a name, or empty for typeId
    win::WORD typeId = 0;
    std::u16string name;  // a name, or empty for nameId
    win::WORD nameId = 0;
    win::LANGID language = 1046;
    std::string data;
};

void Put16(std::string& out, unsigned value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void PutKey(std::string& out, const std::u16string& name, win::WORD id) {
    if (name.empty()) {
        Put16(out, 0xFFFF);
        Put16(out, id);
        return;
    }
    for (char16_t c : name) {
        Put16(out, c);
    }
    Put16(out, 0);
}

// A compiled resource file (.res) holding the entries, after the leading empty one.
std::string ResourceFile(const std::vector<ResourceSpec>& specs) {
    std::string out;
    const std::string empty =
        std::string("\0\0\0\0\x20\0\0\0\xFF\xFF\0\0\xFF\xFF\0\0", 16) + std::string(16, '\0');
    out += empty;
    for (const auto& spec : specs) {
        std::string header;
        PutKey(header, spec.type, spec.typeId);
        PutKey(header, spec.name, spec.nameId);
        while ((header.size() + 8) % 4 != 0) {
            header.push_back('\0');
        }
        Put32(header, 0);       // data version
        Put16(header, 0x1030);  // memory flags
        Put16(header, spec.language);
        Put32(header, 0);  // version
        Put32(header, 0);  // characteristics
        Put32(out, static_cast<std::uint32_t>(spec.data.size()));
        Put32(out, static_cast<std::uint32_t>(header.size() + 8));
        out += header;
        out += spec.data;
        while (out.size() % 4 != 0) {
            out.push_back('\0');
        }
    }
    return out;
}

std::string ResourceBytes(win::HMODULE module, const char16_t* name, const char16_t* type) {
    win::HRSRC found = win::FindResourceW(module, name, type);
    if (found == nullptr) {
        return "(none)";
    }
    const win::DWORD size = win::SizeofResource(module, found);
    const void* bytes = win::LockResource(win::LoadResource(module, found));
    return std::string(static_cast<const char*>(bytes), size);
}

class ScaleFeaturesTest : public MachineTest {
protected:
    std::string WriteResourceFile(const std::string& name, const std::vector<ResourceSpec>& specs) {
        const std::string path = (sandbox_ / name).string();
        WriteText(path, ResourceFile(specs));
        return path;
    }
};

const std::string kOldPackage = "old package bytes";
const std::string kOldDescription = "ProductCode=old\r\n";

TEST_F(ScaleFeaturesTest, AResourceFileReplacesEntriesOfTheSameTypeNameAndLanguage) {
    win::HINSTANCE module = sim::RegisterModule({
        {u"MSP", 0, u"IDR_MSP", 0, 1046, reinterpret_cast<const std::uint8_t*>(kOldPackage.data()),
         static_cast<win::DWORD>(kOldPackage.size())},
        {u"TXT", 0, u"", 206, 1046, reinterpret_cast<const std::uint8_t*>(kOldDescription.data()),
         static_cast<win::DWORD>(kOldDescription.size())},
    });
    const std::string file = WriteResourceFile("update.res", {{u"msp", 0, u"idr_msp", 0, 1046, "new package"},
                                                              {u"TXT", 0, u"", 207, 1046, "second"}});
    std::string error;
    ASSERT_TRUE(sim::UpdateModuleResources(module, file, error)) << error;
    EXPECT_EQ(ResourceBytes(module, u"IDR_MSP", u"MSP"), "new package");
    EXPECT_EQ(ResourceBytes(module, u"#206", u"TXT"), kOldDescription);
    EXPECT_EQ(ResourceBytes(module, u"#207", u"TXT"), "second");
}

TEST_F(ScaleFeaturesTest, AnEntryInAnotherLanguageJoinsTheOneThere) {
    win::HINSTANCE module = sim::RegisterModule({
        {u"MSP", 0, u"IDR_MSP", 0, 1046, reinterpret_cast<const std::uint8_t*>(kOldPackage.data()),
         static_cast<win::DWORD>(kOldPackage.size())},
    });
    const std::string file = WriteResourceFile("german.res", {{u"MSP", 0, u"IDR_MSP", 0, 0x0407, "German"}});
    std::string error;
    ASSERT_TRUE(sim::UpdateModuleResources(module, file, error)) << error;
    ASSERT_TRUE(win::SetThreadLocale(0x0407));
    EXPECT_EQ(ResourceBytes(module, u"IDR_MSP", u"MSP"), "German");
    ASSERT_TRUE(win::SetThreadLocale(0x0416));
    EXPECT_EQ(ResourceBytes(module, u"IDR_MSP", u"MSP"), kOldPackage);
}

TEST_F(ScaleFeaturesTest, AMissingOrMalformedFileLeavesTheModuleAsItWas) {
    win::HINSTANCE module = sim::RegisterModule({
        {u"MSP", 0, u"IDR_MSP", 0, 1046, reinterpret_cast<const std::uint8_t*>(kOldPackage.data()),
         static_cast<win::DWORD>(kOldPackage.size())},
    });
    std::string error;
    EXPECT_FALSE(sim::UpdateModuleResources(module, (sandbox_ / "missing.res").string(), error));
    EXPECT_FALSE(error.empty());
    std::string file = ResourceFile({{u"MSP", 0, u"IDR_MSP", 0, 1046, "new package"}});
    file.resize(file.size() - 6);
    WriteText((sandbox_ / "cut.res").string(), file);
    error.clear();
    EXPECT_FALSE(sim::UpdateModuleResources(module, (sandbox_ / "cut.res").string(), error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ResourceBytes(module, u"IDR_MSP", u"MSP"), kOldPackage);
}

TEST_F(ScaleFeaturesTest, LookupsInAModuleOfManyResourcesFindEachAndTellTypeFromName) {
    std::vector<std::string> texts;
    for (int n = 0; n < 3000; ++n) {
        texts.push_back("description " + std::to_string(n));
    }
    std::vector<sim::ResourceEntry> entries;
    for (int n = 0; n < 3000; ++n) {
        entries.push_back({u"TXT", 0, u"", static_cast<win::WORD>(206 + n), 1046,
                           reinterpret_cast<const std::uint8_t*>(texts[n].data()),
                           static_cast<win::DWORD>(texts[n].size())});
    }
    win::HINSTANCE module = sim::RegisterModule(std::move(entries));
    EXPECT_EQ(ResourceBytes(module, u"#206", u"TXT"), "description 0");
    EXPECT_EQ(ResourceBytes(module, u"#3205", u"txt"), "description 2999");
    EXPECT_EQ(win::FindResourceW(module, u"#3206", u"TXT"), nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(win::FindResourceW(module, u"#206", u"MSP"), nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_RESOURCE_TYPE_NOT_FOUND);
}

TEST_F(ScaleFeaturesTest, TheRegistryCountsChangesButNotValuesStoredAsTheyAre) {
    const std::uint64_t start = sim::RegistryGeneration();
    sim::SetRegistryDword(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane", u"Count", 1);
    const std::uint64_t afterSet = sim::RegistryGeneration();
    EXPECT_NE(afterSet, start);
    sim::SetRegistryDword(win::HKEY_LOCAL_MACHINE, u"software\\quorvane", u"Count", 1);
    EXPECT_EQ(sim::RegistryGeneration(), afterSet);
    sim::CreateRegistryKey(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane");
    EXPECT_EQ(sim::RegistryGeneration(), afterSet);
    sim::SetRegistryDword(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane", u"count", 1);
    EXPECT_NE(sim::RegistryGeneration(), afterSet) << "the name's letter case is stored too";
    const std::uint64_t beforeDelete = sim::RegistryGeneration();
    EXPECT_TRUE(sim::DeleteRegistryValue(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane", u"Count"));
    EXPECT_NE(sim::RegistryGeneration(), beforeDelete);
    const std::uint64_t beforeKeyDelete = sim::RegistryGeneration();
    EXPECT_TRUE(sim::DeleteRegistryKey(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane"));
    EXPECT_NE(sim::RegistryGeneration(), beforeKeyDelete);
    EXPECT_FALSE(sim::RegistryKeyExists(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane"));
}

TEST_F(ScaleFeaturesTest, TheStreamedFileTextIsTheFileText) {
    for (int n = 0; n < 20000; ++n) {
        sim::SetRegistryString(win::HKEY_LOCAL_MACHINE,
                               u"Software\\Many\\Key" + sim::FromUtf8(std::to_string(n)), u"Name",
                               u"value " + sim::FromUtf8(std::to_string(n)));
    }
    std::vector<std::size_t> pieces;
    std::string streamed;
    sim::WriteRegistryFileText([&](std::string_view piece) {
        pieces.push_back(piece.size());
        streamed += piece;
    });
    EXPECT_GT(pieces.size(), 1U);
    EXPECT_EQ(streamed, sim::RegistryFileText());
    std::string error;
    ASSERT_TRUE(sim::LoadRegistryFileText(streamed, error)) << error;
    EXPECT_EQ(sim::ReadRegistryString(win::HKEY_LOCAL_MACHINE, u"Software\\MANY\\key19999", u"name"),
              u"value 19999");
}

TEST_F(ScaleFeaturesTest, InstallerCallsCanBeLeftUnkept) {
    std::vector<std::string> observed;
    sim::SetInstallerCallObserver([&](const sim::InstallerCall& call) { observed.push_back(call.function); });
    sim::KeepInstallerCalls(false);
    win::MsiQueryProductStateW(u"{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}");
    EXPECT_TRUE(sim::InstallerCalls().empty());
    EXPECT_EQ(observed, std::vector<std::string>{"MsiQueryProductStateW"});
    sim::KeepInstallerCalls(true);
    win::MsiQueryProductStateW(u"{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}");
    EXPECT_EQ(sim::InstallerCalls().size(), 1U);
    sim::SetInstallerCallObserver(nullptr);
}

TEST_F(ScaleFeaturesTest, TheExecutableStartedAsReaderReadsPackages) {
    const std::string targets =
        "{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846};{B2E85C07-3D1A-4F98-8C6B-57A0D4E9F213}";
    ASSERT_TRUE(BuildPatchPackage((sandbox_ / "c" / "packages" / "read.msp").string(), targets,
                                  kTestPatchCode, std::nullopt));
    WriteText((sandbox_ / "c" / "packages" / "broken.msp").string(), "not a package");
    sim::UsePackageReaderProgram(SPINSTALL_EXECUTABLE);
    win::MSIHANDLE summary = 0;
    ASSERT_EQ(win::MsiGetSummaryInformationW(0, u"C:\\packages\\read.msp", 0, &summary), 0U);
    std::u16string buffer(2048, u'\0');
    win::DWORD count = 2048;
    win::UINT type = 0;
    ASSERT_EQ(win::MsiSummaryInfoGetPropertyW(summary, win::PID_TEMPLATE, &type, nullptr, nullptr,
                                              buffer.data(), &count),
              0U);
    EXPECT_EQ(buffer.substr(0, count), sim::FromUtf8(targets));
    win::MsiCloseHandle(summary);
    EXPECT_NE(win::MsiGetSummaryInformationW(0, u"C:\\packages\\broken.msp", 0, &summary), 0U);
    sim::UsePackageReaderProgram("");
}

class ResourcesProcess : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() / ("spinstall-process-" + std::to_string(getpid())) / info->name();
        fs::remove_all(root_);
        work_ = root_ / "c" / "work";
        fs::create_directories(work_);
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(root_);
        }
    }
    fs::path root_;
    fs::path work_;
};

TEST_F(ResourcesProcess, TheExecutableExtractsThePackageAMachineGivesIt) {
    // Over a megabyte: written from the mapped resource file in the kernel.
    std::string package(3 << 20, '\0');
    for (std::size_t i = 0; i < package.size(); ++i) {
        package[i] = static_cast<char>((i * 7919) >> 3);
    }
    const std::string file = (root_ / "package.res").string();
    WriteText(file, ResourceFile({{u"MSP", 0, u"IDR_MSP", 0, 1046, package}}));
    const ProcessResult result =
        RunSpinstall({"/e", "out.msp"}, work_.string(), root_.string(), {"SIMWIN_RESOURCES=" + file});
    EXPECT_EQ(result.exitCode, 0);
    const std::vector<std::uint8_t> written = ReadBytes((work_ / "out.msp").string());
    EXPECT_TRUE(written == std::vector<std::uint8_t>(package.begin(), package.end()));
}

TEST_F(ResourcesProcess, AMalformedResourceFileStopsTheRun) {
    const std::string file = (root_ / "bad.res").string();
    WriteText(file, "not a resource file");
    const ProcessResult result =
        RunSpinstall({"/e", "out.msp"}, work_.string(), root_.string(), {"SIMWIN_RESOURCES=" + file});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(fs::exists(work_ / "out.msp"));
}

}  // namespace
