// Writing the embedded installer package to a file.
#pragma once

#include <string>
#include <string_view>

// Writes the package resource "IDR_MSP" of type "MSP" to path, byte for byte.
// An empty path asks for a fresh temporary file; path then receives its name,
// also when a later step fails. True when the whole package was written.
bool ExtractPackage(std::u16string& path);

// A full path named after prefix and a process-wide counter that named nothing
// when it was chosen, in the TMP directory, the hint, the current drive's root
// or the current directory; empty when none can be made.
std::u16string MakeTempName(std::u16string_view directoryHint, std::u16string_view prefix);

// The maximum length of a path handed to the file functions, terminator included.
constexpr std::size_t kMaxPathChars = 260;
