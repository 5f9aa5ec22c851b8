// Compiles a resource script into a standard .res image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// source is the script's UTF-8 text, where its name for messages; resource
// files are looked up in includeDirs in order. On failure error holds
// "where:line: error: ..." and image is untouched.
bool CompileResourceScript(const std::string& source, const std::string& where,
                           const std::vector<std::string>& includeDirs, std::vector<std::uint8_t>& image,
                           std::string& error);
