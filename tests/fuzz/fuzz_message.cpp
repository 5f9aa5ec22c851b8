// Arbitrary product names and error codes through message composition.
#include <cstdint>

#include "app/entry.h"
#include "messages/report.h"
#include "platform/simulated/sim.h"
#include "tests/fuzz/fuzz_machine.h"

namespace {
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ResetFuzzMachine();
    if (size < 6) {
        return 0;
    }
    static const unsigned kIds[] = {300, 301, 306, 307, 308, 309, 310};
    const unsigned id = kIds[data[0] % 7];
    const win::DWORD error = static_cast<win::DWORD>(data[1] | (data[2] << 8) | (data[3] << 16)) |
                             (static_cast<win::DWORD>(data[4]) << 24);
    static const win::LCID kLocales[] = {1033, 1041, 1031, 2052, 1043, 1049};
    win::SetThreadLocale(kLocales[data[5] % 6]);
    // Names come from the installer as C texts: they hold no NUL.
    const std::u16string name = WideInput(data + 6, size - 6);
    CurrentProductName = name.substr(0, name.find(u'\0'));
    win::SetLastError(error);

    std::u16string format;
    LoadResourceString(InstanceHandle, id, format, kStringLoadChars);
    ReportMessage(id);
    const auto& boxes = sim::MessageBoxes();
    Require(boxes.size() == 1, "one box per report");
    const std::u16string& text = boxes[0].text;
    Require(text.size() <= format.size() + 511, "the text stays within its bound");

    // A name is inserted verbatim: the text is a prefix of the whole
    // composition and never ends between the two halves of a pair.
    if (id == 301 || id == 306 || id == 308) {
        std::u16string whole = format;
        const std::size_t at = format.find(u"%s");
        Require(at != std::u16string::npos, "the format has its placeholder");
        whole.replace(at, 2, CurrentProductName);
        Require(whole.compare(0, text.size(), text) == 0, "the text is a prefix of the composition");
        Require(text.size() == whole.size() || text.empty() ||
                    !(IsHighSurrogate(text.back()) && IsLowSurrogate(whole[text.size()])),
                "a cut never ends between the halves of a pair");
    }
    return 0;
}
