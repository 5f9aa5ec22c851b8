// The command line of the process, turned into the process-wide options record.
#pragma once

#include <string>

struct CommandLineOptions {
    bool quiet = false;
    bool extractRequested = false;
    std::u16string extractPath;
    bool patchListRequested = false;
    std::u16string patchListPath;
    bool listRequested = false;
    bool installMode = true;
};

// Filled once per process by ParseCommandLine; read by the entry and the reporter.
extern CommandLineOptions RunOptions;

// Reads the command line of the running process into RunOptions. Always true.
bool ParseCommandLine();
