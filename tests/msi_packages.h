// Installer packages built for tests with msitools, and an independent reader
// of their summary information.
#pragma once

#include <optional>
#include <string>

// Builds a package at a Linux path whose summary information holds the target
// list (property 7) and the revision number (property 9), and, when newVersion
// is given, a StandInPatch table naming the product version the patch brings.
// False when msibuild fails.
bool BuildPatchPackage(const std::string& hostPath, const std::string& targets, const std::string& revision,
                       const std::optional<std::string>& newVersion = std::nullopt);

// Summary property 7 of a package as libmsi reads it; nothing when the file is
// no package or the property is not text.
std::optional<std::string> PackageTemplate(const std::string& hostPath);

// A patch code for the packages of the tests.
inline const std::string kTestPatchCode = "{7C1E9A42-5B3D-4E80-9F26-D8A4B06C1E37}";
