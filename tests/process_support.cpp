#include "tests/process_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

ProcessResult RunSpinstall(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                           const std::string& machineRoot, const std::vector<std::string>& extraEnvironment) {
    ProcessResult result;
    const std::string logPath = machineRoot + "/run.log";
    const std::string outputPath = machineRoot + "/run.out";
    std::remove(logPath.c_str());

    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::string(*entry).rfind("SIMWIN_", 0) != 0) {
            environment.emplace_back(*entry);
        }
    }
    environment.push_back("SIMWIN_ROOT=" + machineRoot);
    environment.push_back("SIMWIN_LOG=" + logPath);
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());

    std::vector<std::string> argv = {SPINSTALL_EXECUTABLE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> argvPointers;
    for (auto& argument : argv) {
        argvPointers.push_back(argument.data());
    }
    argvPointers.push_back(nullptr);
    std::vector<char*> environmentPointers;
    for (auto& entry : environment) {
        environmentPointers.push_back(entry.data());
    }
    environmentPointers.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int input = open("/dev/null", O_RDONLY);
        if (output < 0 || input < 0 || chdir(workingDirectory.c_str()) != 0) {
            _exit(127);
        }
        dup2(input, STDIN_FILENO);
        dup2(output, STDOUT_FILENO);
        dup2(output, STDERR_FILENO);
        execve(argvPointers[0], argvPointers.data(), environmentPointers.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

    std::ifstream output(outputPath);
    result.output.assign(std::istreambuf_iterator<char>(output), std::istreambuf_iterator<char>());
    std::ifstream log(logPath);
    for (std::string line; std::getline(log, line);) {
        result.log.push_back(line);
    }
    return result;
}

std::vector<std::vector<std::string>> LogEntries(const ProcessResult& result, const std::string& kind) {
    std::vector<std::vector<std::string>> entries;
    for (const auto& line : result.log) {
        std::vector<std::string> fields;
        std::stringstream stream(line);
        for (std::string field; std::getline(stream, field, '\t');) {
            fields.push_back(field);
        }
        if (!fields.empty() && fields[0] == kind) {
            entries.push_back(fields);
        }
    }
    return entries;
}
