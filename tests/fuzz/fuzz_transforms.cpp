// Arbitrary product codes and registry bytes through the host-key derivation,
// the module path and the packing of product codes.
#include <cstdint>

#include "patching/transforms.h"
#include "platform/simulated/sim.h"
#include "platform/simulated/sim_registry.h"
#include "tests/fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ResetFuzzMachine();
    if (size < 2) {
        return 0;
    }
    // Byte 0: length of the code in units; byte 1: registry type; then the code; then the value.
    const std::size_t codeUnits = data[0] % 64;
    const win::DWORD type = data[1] % 12;
    const std::u16string input = WideInput(data + 2, size - 2);
    const std::u16string code = input.substr(0, std::min(codeUnits, input.size()));
    const std::size_t valueOffset = 2 + 2 * code.size();
    const std::vector<std::uint8_t> value(data + std::min(valueOffset, size), data + size);

    const std::u16string packed = PackProductCode(code);
    Require(packed.size() <= 32, "a packed code has at most 32 characters");
    for (char16_t c : packed) {
        Require(c != u'\0' && code.find(c) != std::u16string::npos, "packing only moves the code's characters");
    }

    // Lay out the host key the code names, with the arbitrary location value, and
    // the product's installer key with a Transforms value.
    const std::size_t dash = code.find(u'-');
    if (dash != std::u16string::npos && dash + 10 <= code.size()) {
        const std::u16string hostKey = u"Software\\Quorvane\\Mervolt\\V9.2\\Mrvt-" + code.substr(dash + 2, 3) +
                                       u":" + code.substr(dash + 7, 3);
        sim::SetRegistryValue(win::HKEY_LOCAL_MACHINE, hostKey, u"MrvtLocation", type, value);
    }
    if (!packed.empty()) {
        sim::SetRegistryString(win::HKEY_CLASSES_ROOT, u"Installer\\Products\\" + packed, u"Transforms", u"x.mst");
    }
    sim::SetRegistryString(win::HKEY_CLASSES_ROOT, u"Installer\\Products", u"Transforms", u"keep");

    RemoveProductTransforms(code, FourPartVersion{7, 0, 43, 6});
    Require(sim::OpenHandles().empty(), "every key is closed");
    Require(sim::ReadRegistryValue(win::HKEY_CLASSES_ROOT, u"Installer\\Products", u"Transforms").has_value(),
            "nothing outside the product's own key is deleted");
    return 0;
}
