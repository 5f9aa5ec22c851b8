// A fresh simulated machine for every test, in a sandbox folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/simulated/sim.h"

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The Linux path of a Windows path on the simulated machine.
    std::string Host(std::u16string_view windowsPath) const { return sim::HostPath(windowsPath); }

    std::filesystem::path sandbox_;
};

std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);

// The package the executable carries, as built.
const std::vector<std::uint8_t>& PackageBytes();

// Sets the process command line from arguments (argument 0 is the program).
void UseArguments(const std::vector<std::u16string>& arguments);

// A readable form of a UTF-16 text for assertion messages.
std::string Narrow(std::u16string_view text);
