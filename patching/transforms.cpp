#include "patching/transforms.h"

#include <array>
#include <cstring>

#include "common/text.h"
#include "platform/platform.h"

namespace {

constexpr std::size_t kHostKeyChars = 1024;
constexpr win::DWORD kLocationBytes = 2048;
constexpr std::size_t kModulePathChars = 1024;
constexpr std::size_t kCodeAreaChars = 40;
constexpr std::size_t kInstallerKeyChars = 256;
constexpr std::size_t kPieceLength = 3;

// Work-area positions of the packed code's 32 characters: the first three
// groups reversed, the pairs of the last two swapped.
constexpr std::array<std::size_t, 32> kPackedSourcePositions = {
    8,  7,  6,  5,  4,  3,  2,  1,  13, 12, 11, 10, 18, 17, 16, 15,
    21, 20, 23, 22, 26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35,
};

// The host application's key for a product: "Mrvt-" and two 3-character pieces
// taken after the first "-". Empty when the code has no "-" or is too short to
// hold the pieces, so that nothing outside the code is read.
std::u16string HostKeyText(const std::u16string& productCode) {
    const std::size_t dash = productCode.find(u'-');
    if (dash == std::u16string::npos || dash + 7 + kPieceLength > productCode.size()) {
        return {};
    }
    std::u16string key = u"Software\\Quorvane\\Mervolt\\V9.2\\Mrvt-";
    key += productCode.substr(dash + 2, kPieceLength);
    key += u":";
    key += productCode.substr(dash + 7, kPieceLength);
    if (key.size() >= kHostKeyChars) {
        return {};
    }
    return key;
}

}  // namespace

std::u16string PackProductCode(const std::u16string& productCode) {
    // A code longer than the work area holds is not a product code: packing it
    // would name some other product's registration.
    if (productCode.size() >= kCodeAreaChars) {
        return {};
    }
    std::array<char16_t, kCodeAreaChars> area{};
    std::copy(productCode.begin(), productCode.end(), area.begin());
    std::u16string packed;
    for (std::size_t position : kPackedSourcePositions) {
        if (area[position] == u'\0') {
            break;  // the result ends at its first zero character
        }
        packed.push_back(area[position]);
    }
    return packed;
}

void RemoveProductTransforms(const std::u16string& productCode, const FourPartVersion& installed) {
    const std::u16string hostKeyText = HostKeyText(productCode);
    if (hostKeyText.empty()) {
        return;
    }
    win::HKEY hostKey = nullptr;
    if (win::RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, hostKeyText.c_str(), 0, win::KEY_QUERY_VALUE, &hostKey) !=
        win::ERROR_SUCCESS) {
        return;
    }

    // The value is read as it is stored, whatever its type; one unit more than
    // the area keeps a terminator behind even a value that fills it.
    std::array<char16_t, kLocationBytes / 2 + 1> location{};
    win::DWORD size = kLocationBytes;
    if (win::RegQueryValueExW(hostKey, u"MrvtLocation", nullptr, nullptr,
                              reinterpret_cast<win::BYTE*>(location.data()), &size) != win::ERROR_SUCCESS) {
        win::RegCloseKey(hostKey);
        return;
    }
    const std::u16string locationText = TextOfBuffer(location.data(), kLocationBytes / 2);

    std::u16string modulePath = locationText + u"\\kelmora.zpq";
    std::u16string moduleVersionText;
    // A module path that does not fit its area, or a module without a readable
    // version, gives no version to compare: nothing is deleted then.
    const bool haveModuleVersion =
        modulePath.size() < kModulePathChars && GetModuleFileVersion(modulePath, moduleVersionText);
    if (!haveModuleVersion || !VersionsDiffer(installed, ParseVersion(moduleVersionText))) {
        win::RegCloseKey(hostKey);
        return;
    }

    const std::u16string packedCode = PackProductCode(productCode);
    const std::u16string installerKeyText = u"Installer\\Products\\" + packedCode;
    win::HKEY installerKey = nullptr;
    if (!packedCode.empty() && installerKeyText.size() < kInstallerKeyChars &&
        win::RegOpenKeyExW(win::HKEY_CLASSES_ROOT, installerKeyText.c_str(), 0, win::KEY_WRITE,
                           &installerKey) == win::ERROR_SUCCESS) {
        win::RegDeleteValueW(installerKey, u"Transforms");
        win::RegCloseKey(installerKey);
    }
    win::RegCloseKey(hostKey);
}
