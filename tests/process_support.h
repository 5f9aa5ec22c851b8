// Running the Linux executable as a process on a simulated machine of its own.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    int exitCode = -1;
    std::string output;            // what it printed
    std::vector<std::string> log;  // the lines of its SIMWIN_LOG
};

// Runs build/linux/spinstall with arguments in workingDirectory; the machine
// lives in machineRoot (SIMWIN_ROOT). extraEnvironment holds NAME=value entries.
ProcessResult RunSpinstall(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                           const std::string& machineRoot, const std::vector<std::string>& extraEnvironment = {});

// The log lines of one kind ("box", "msi"), split at tabs.
std::vector<std::vector<std::string>> LogEntries(const ProcessResult& result, const std::string& kind);
