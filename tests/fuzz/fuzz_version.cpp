// Arbitrary version texts: parsing never fails, and a parsed value written back
// as four decimal parts parses to itself.
#include <cstdint>

#include "common/text.h"
#include "installer/versions.h"
#include "tests/fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = WideInput(data, size);
    const FourPartVersion parsed = ParseVersion(text);
    Require(VersionsEqual(parsed, parsed) && !VersionsDiffer(parsed, parsed), "equality is reflexive");
    const std::u16string written = DecimalText(parsed.major) + u"." + DecimalText(parsed.minor) + u"." +
                                   DecimalText(parsed.build) + u"." + DecimalText(parsed.revision);
    Require(VersionsEqual(ParseVersion(written), parsed), "four written parts parse back");
    Require(VersionsEqual(ParseVersion(text), parsed), "the caller's text is not changed");
    return 0;
}
