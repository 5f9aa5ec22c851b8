// rccompile: compiles spinstall's resource script into a standard 32-bit
// resource file (.res), the same bytes windres -O res writes. The simulated
// platform links that image into the Linux executable, so the one script
// serves both builds.
//
// Usage: rccompile [-I dir]... -o out.res script.rc
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/rc_compiler.h"

int main(int argc, char** argv) {
    std::vector<std::string> includeDirs;
    std::string output;
    std::string input;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-I" && i + 1 < argc) {
            includeDirs.emplace_back(argv[++i]);
        } else if (argument.rfind("-I", 0) == 0 && argument.size() > 2) {
            includeDirs.push_back(argument.substr(2));
        } else if (argument == "-o" && i + 1 < argc) {
            output = argv[++i];
        } else if (input.empty() && argument[0] != '-') {
            input = argument;
        } else {
            std::cerr << "usage: rccompile [-I dir]... -o out.res script.rc\n";
            return 2;
        }
    }
    if (input.empty() || output.empty()) {
        std::cerr << "usage: rccompile [-I dir]... -o out.res script.rc\n";
        return 2;
    }
    std::ifstream script(input, std::ios::binary);
    const std::string source((std::istreambuf_iterator<char>(script)), std::istreambuf_iterator<char>());
    if (!script) {
        std::cerr << input << ": error: cannot read the script\n";
        return 1;
    }
    const std::string scriptDir = input.find('/') == std::string::npos ? "." : input.substr(0, input.rfind('/'));
    includeDirs.insert(includeDirs.begin(), scriptDir);

    std::vector<std::uint8_t> image;
    std::string error;
    if (!CompileResourceScript(source, input, includeDirs, image, error)) {
        std::cerr << error << "\n";
        return 1;
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!out) {
        std::cerr << output << ": error: cannot write\n";
        return 1;
    }
    return 0;
}
