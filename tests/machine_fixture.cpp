#include "tests/machine_fixture.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "app/entry.h"
#include "app/options.h"

void MachineTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    sandbox_ = std::filesystem::temp_directory_path() / ("spinstall-test-" + std::to_string(getpid())) / name;
    std::filesystem::remove_all(sandbox_);
    std::filesystem::create_directories(sandbox_);
    sim::ResetMachine(sandbox_.string());
    InstanceHandle = sim::EmbeddedModule();
    RunOptions = CommandLineOptions{};
}

void MachineTest::TearDown() {
    std::error_code ignored;
    if (!HasFailure()) {
        std::filesystem::remove_all(sandbox_, ignored);
    }
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

const std::vector<std::uint8_t>& PackageBytes() {
    static const std::vector<std::uint8_t> bytes = ReadBytes(SPINSTALL_PACKAGE_FILE);
    return bytes;
}

void UseArguments(const std::vector<std::u16string>& arguments) {
    sim::SetCommandLine(sim::QuoteCommandLine(arguments));
}

std::string Narrow(std::u16string_view text) { return sim::ToUtf8(text); }
