// Four-part versions: major.minor.build.revision, compared only for equality.
#pragma once

#include <cstdint>
#include <string>

struct FourPartVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
};

// Never fails: "," counts as "."; a part is read only when a dot follows it,
// the revision only after three dots.
FourPartVersion ParseVersion(std::u16string text);

bool VersionsEqual(const FourPartVersion& left, const FourPartVersion& right);
bool VersionsDiffer(const FourPartVersion& left, const FourPartVersion& right);

// The fixed file version of a module as "a.b.c.d". On false the text is untouched.
bool GetModuleFileVersion(const std::u16string& filePath, std::u16string& versionText);
