// The Linux process entry: sets up the simulated machine from the environment,
// builds the process command line from argv and calls the GUI entry.
//
// Variables of the simulated platform (the system itself reads none):
//   SIMWIN_ROOT       directory of the simulated machine; drive C: is its "c" folder
//                     (default /tmp/simwin-<uid>)
//   SIMWIN_ENV_<NAME> sets the variable NAME of the simulated environment
//   SIMWIN_LOG        file that receives one line per message box and per
//                     MsiConfigureProductExW call, for scripts
//   SIMWIN_MACHINE    registry file of a machine that lasts between runs
//                     (see machine_file.h)
//   SIMWIN_RESOURCES  compiled resource file (.res) whose entries replace or join
//                     those of the executable's module, as UpdateResource would
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/entry.h"
#include "platform/simulated/machine_file.h"
#include "platform/simulated/sim.h"
#include "platform/simulated/sim_installer.h"

extern char** environ;

namespace {

std::string EnvironmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::string(value) : fallback;
}

// Escapes a text for one line of the log: backslash, tab and line breaks.
std::string Escaped(std::u16string_view text) {
    std::string out;
    for (char c : sim::ToUtf8(text)) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

void ShowOnTerminal(const sim::MessageBoxRecord& box) {
    const char* icon = (box.style & 0xF0) == 0x40 ? "information" : ((box.style & 0xF0) == 0x10 ? "error" : "");
    std::string text = sim::ToUtf8(box.text);
    std::printf("+-- %s%s%s%s\n", sim::ToUtf8(box.caption).c_str(), *icon != '\0' ? " (" : "", icon,
                *icon != '\0' ? ")" : "");
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        std::printf("| %s\n", text.substr(start, end == std::string::npos ? std::string::npos : end - start).c_str());
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    std::printf("+-- [ OK ]\n");
    std::fflush(stdout);
    if (isatty(STDIN_FILENO) != 0) {
        int c = 0;
        while ((c = std::getchar()) != EOF && c != '\n') {
        }
    }
}

void AppendToLog(const std::string& logPath, const sim::MessageBoxRecord& box) {
    FILE* log = std::fopen(logPath.c_str(), "a");
    if (log == nullptr) {
        return;
    }
    std::fprintf(log, "box\t0x%x\t%u\t%s\t%s\n", box.style, box.threadLocale, Escaped(box.caption).c_str(),
                 Escaped(box.text).c_str());
    std::fclose(log);
}

void AppendToLog(const std::string& logPath, const sim::InstallerCall& call) {
    FILE* log = std::fopen(logPath.c_str(), "a");
    if (log == nullptr) {
        return;
    }
    std::string line = "msi\t" + call.function;
    for (const auto& argument : call.arguments) {
        line += "\t" + Escaped(argument);
    }
    std::fprintf(log, "%s\t%lld\n", line.c_str(), static_cast<long long>(call.result));
    std::fclose(log);
}

// The registry of a machine with many products is hundreds of megabytes of
// small blocks reached in no particular order, and with 4 KiB pages nearly
// every lookup misses the TLB and every new page faults. glibc's malloc puts
// its heap on transparent huge pages when its tunable says so, and a tunable
// is read only when a program starts: a run on a large machine file starts
// itself once more with it set. Small machines and runs without one (the
// extract mode) never pay for the second start.
constexpr off_t kLargeMachineFileBytes = off_t{2} << 20;

void RestartWithLargePagesIfWorthIt(char** argv) {
    const char* machine = std::getenv("SIMWIN_MACHINE");
    struct stat info {};
    if (machine == nullptr || stat(machine, &info) != 0 || info.st_size < kLargeMachineFileBytes) {
        return;
    }
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables != nullptr && std::strstr(tunables, "glibc.malloc.hugetlb") != nullptr) {
        return;
    }
    const std::string value = std::string(tunables != nullptr && *tunables != '\0' ? tunables : "") +
                              (tunables != nullptr && *tunables != '\0' ? ":" : "") +
                              "glibc.malloc.hugetlb=1";
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        return;
    }
    self[length] = '\0';
    setenv("GLIBC_TUNABLES", value.c_str(), 1);
    execv(self, argv);
    // Not restarted: go on with the pages there are.
}

}  // namespace

int main(int argc, char** argv) {
    // Started again by the simulated installer service to read a package.
    if (sim::RunAsPackageReader()) {
        _exit(0);
    }
    RestartWithLargePagesIfWorthIt(argv);
    // A machine with many products builds and drops buffers of megabytes (its
    // registry file, the target list); kept in the heap when freed, they are
    // used again instead of being returned to the kernel and faulted in anew.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    const std::string root = EnvironmentOr("SIMWIN_ROOT", "/tmp/simwin-" + std::to_string(getuid()));
    sim::ResetMachine(root);
    sim::MapDrive('Z', "/");
    char directory[PATH_MAX];
    if (getcwd(directory, sizeof directory) != nullptr) {
        const std::u16string current = sim::WindowsPath(directory);
        if (!current.empty()) {
            sim::SetCurrentDirectory(current);
        }
    }
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        const std::string prefix = "SIMWIN_ENV_";
        const std::size_t equals = entry.find('=');
        if (entry.rfind(prefix, 0) == 0 && equals != std::string::npos && equals > prefix.size()) {
            sim::SetEnvironmentVariable(sim::FromUtf8(entry.substr(prefix.size(), equals - prefix.size())),
                                        sim::FromUtf8(entry.substr(equals + 1)));
        }
    }
    if (!sim::LoadMachine()) {
        return 1;
    }
    const std::string resources = EnvironmentOr("SIMWIN_RESOURCES", "");
    if (!resources.empty()) {
        std::string error;
        if (!sim::UpdateModuleResources(sim::EmbeddedModule(), resources, error)) {
            std::fprintf(stderr, "SIMWIN_RESOURCES %s: %s\n", resources.c_str(), error.c_str());
            return 1;
        }
    }

    sim::KeepInstallerCalls(false);
    const std::string logPath = EnvironmentOr("SIMWIN_LOG", "");
    sim::SetMessageBoxPresenter([logPath](const sim::MessageBoxRecord& box) {
        if (!logPath.empty()) {
            AppendToLog(logPath, box);
        }
        ShowOnTerminal(box);
    });
    if (!logPath.empty()) {
        sim::SetInstallerCallObserver([logPath](const sim::InstallerCall& call) {
            if (call.function == "MsiConfigureProductExW") {
                AppendToLog(logPath, call);
            }
        });
    }

    std::vector<std::u16string> arguments;
    char self[PATH_MAX];
    const ssize_t selfLength = readlink("/proc/self/exe", self, sizeof self - 1);
    // By its path rather than as /proc/self/exe, which names the tool under
    // valgrind; without a path the service forks its reader.
    if (selfLength > 0) {
        sim::UsePackageReaderProgram(std::string(self, static_cast<std::size_t>(selfLength)));
    }
    std::u16string program = selfLength > 0 ? sim::WindowsPath(std::string(self, static_cast<std::size_t>(selfLength)))
                                            : std::u16string();
    arguments.push_back(program.empty() ? sim::FromUtf8(argv[0]) : program);
    for (int index = 1; index < argc; ++index) {
        arguments.push_back(sim::FromUtf8(argv[index]));
    }
    const std::u16string commandLine = sim::QuoteCommandLine(arguments);
    sim::SetCommandLine(commandLine);

    std::u16string tail = commandLine.substr(std::min(commandLine.size(), arguments[0].size()));
    const int result = WinMain(sim::EmbeddedModule(), nullptr, tail.data(), 10 /* SW_SHOWDEFAULT */);
    sim::SaveMachine();
#if !defined(__SANITIZE_ADDRESS__)
    // The simulated machine of a large registry takes longer to take apart than
    // to use; the process's end frees it at once. (The sanitizer builds run the
    // destructors, so that the leak check sees a clean exit.)
    std::fflush(nullptr);
    _exit(result);
#endif
    return result;
}
