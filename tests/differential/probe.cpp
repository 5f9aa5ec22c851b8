// The differential probe: runs a list of cases against whichever platform it
// was built for and prints one result line per case, so that the simulated
// platform and Windows (under Wine) can be compared line by line.
//
// Usage: probe ROOT SHARED < cases
//   ROOT    a Windows path: this run's own scratch folder ($ROOT in cases)
//   SHARED  a Windows path: read-only inputs common to both runs ($SHARED)
//
// A case line is "KIND NAME: PAYLOAD" and prints "NAME<TAB>RESULT"; a setup
// line is "KIND: PAYLOAD" and prints nothing unless it fails ("!setup<TAB>...").
// Lines starting with "#" and empty lines are skipped. In payloads and results
// "<hex>" stands for one UTF-16 unit (<09> a tab, <3c> a "<"); results are
// ASCII and name ROOT and SHARED by their variables.
//
// Kinds:
//   argv NAME: LINE          CommandLineToArgvW of LINE: the count and each argument
//   locale NAME: FROM LCID   SetThreadLocale(FROM), then SetThreadLocale(LCID): the
//                            second result and the thread locale after it
//   threadlocale NAME:       the thread locale
//   userlocale NAME:         the user default locale
//   strings NAME: LCID ID... SetThreadLocale(LCID), then LoadStringW of each id into
//                            256 units; one line per id, named NAME/ID
//   temppath NAME:           GetTempPathW into 1024 units ($TEMPPATH afterwards)
//   maketemp NAME: HINT      MakeTempName(HINT, "MSP")
//   attr NAME: PATH          GetFileAttributesW(PATH), and the error when it fails
//   pack NAME: CODE          PackProductCode(CODE)
//   productkey NAME: CODE    the product's install state, and whether the keys
//                            named by PackProductCode(CODE) open as the system
//                            opens them: Installer\Products\... of
//                            HKEY_CLASSES_ROOT for writing, and the UserData key
//   version NAME: PATH       GetModuleFileVersion(PATH)
//   fixed NAME: PATH         the version library itself: the size, and the file
//                            and product versions of the root block
// Setup kinds:
//   env: NAME=VALUE / unenv: NAME      set / remove an environment variable
//   envpad: NAME=VALUE LENGTH          set it to VALUE padded with "a" to LENGTH units
//   mkdir: PATH / mkfile: PATH         make a folder / an empty file
//   userlocale: LCID                   the user default locale (see probe_backend.h)
//   install: CODE                      an installed product (see probe_backend.h);
//                                      fails unless the installer then reports it installed
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "installer/versions.h"
#include "patching/transforms.h"
#include "payload/extract.h"
#include "platform/platform.h"
#include "tests/differential/probe_backend.h"

// The probe stands in for the program's entry, which records the module that
// every resource lookup names; linking the entry would bring in every mode.
win::HINSTANCE InstanceHandle = nullptr;

namespace {

constexpr int kStringChars = 256;
constexpr win::DWORD kTempPathChars = 1024;

std::u16string Root;
std::u16string Shared;
std::u16string LastTempPath;

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A payload as UTF-16: "<hex>" escapes decoded, $ROOT, $SHARED and $TEMPPATH replaced.
std::u16string Decode(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<') {
            const std::size_t end = text.find('>', i);
            bool hex = end != std::string::npos && end > i + 1 && end - i <= 5;
            for (std::size_t k = i + 1; hex && k < end; ++k) {
                hex = IsHexDigit(text[k]);
            }
            if (hex) {
                out.push_back(static_cast<char16_t>(std::strtoul(text.substr(i + 1, end - i - 1).c_str(), nullptr, 16)));
                i = end;
                continue;
            }
        }
        if (text[i] == '$') {
            const std::pair<const char*, const std::u16string*> variables[] = {
                {"$ROOT", &Root}, {"$SHARED", &Shared}, {"$TEMPPATH", &LastTempPath}};
            bool replaced = false;
            for (const auto& [variable, value] : variables) {
                const std::string name(variable);
                if (text.compare(i, name.size(), name) == 0) {
                    out += *value;
                    i += name.size() - 1;
                    replaced = true;
                    break;
                }
            }
            if (replaced) {
                continue;
            }
        }
        out.push_back(static_cast<unsigned char>(text[i]));
    }
    return out;
}

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool StartsWithFolded(std::u16string_view text, std::size_t at, std::u16string_view prefix) {
    if (prefix.empty() || text.size() - at < prefix.size()) {
        return false;
    }
    for (std::size_t k = 0; k < prefix.size(); ++k) {
        if (FoldAscii(text[at + k]) != FoldAscii(prefix[k])) {
            return false;
        }
    }
    return true;
}

// A result as ASCII: the two folders by name, "<hex>" for everything else.
std::string Encode(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (StartsWithFolded(text, i, Root)) {
            out += "$ROOT";
            i += Root.size() - 1;
            continue;
        }
        if (StartsWithFolded(text, i, Shared)) {
            out += "$SHARED";
            i += Shared.size() - 1;
            continue;
        }
        const char16_t c = text[i];
        if (c >= 0x20 && c < 0x7F && c != u'<') {
            out.push_back(static_cast<char>(c));
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, c < 0x100 ? "<%02x>" : "<%04x>", static_cast<unsigned>(c));
            out += escape;
        }
    }
    return out;
}

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "%04lx", value);
    return text;
}

unsigned long Number(const std::string& text) { return std::strtoul(text.c_str(), nullptr, 0); }

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = text.find_first_not_of(' ', i);
        if (start == std::string::npos) {
            break;
        }
        const std::size_t end = text.find(' ', start);
        words.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        i = end == std::string::npos ? text.size() : end;
    }
    return words;
}

void Result(const std::string& name, const std::string& result) { std::cout << name << '\t' << result << '\n'; }

std::string SplitArguments(const std::u16string& line) {
    int count = -1;
    win::LPWSTR* arguments = win::CommandLineToArgvW(line.c_str(), &count);
    if (arguments == nullptr) {
        return "null count=" + std::to_string(count) + " error=" + std::to_string(win::GetLastError());
    }
    std::string out = std::to_string(count);
    for (int k = 0; k < count; ++k) {
        out += " [" + Encode(arguments[k]) + "]";
    }
    if (arguments[count] != nullptr) {
        out += " (no terminating null)";
    }
    if (win::GlobalFree(arguments) != nullptr) {
        out += " (GlobalFree failed)";
    }
    return out;
}

std::string ChangeThreadLocale(win::LCID locale) {
    win::SetLastError(0);
    const win::BOOL changed = win::SetThreadLocale(locale);
    std::string out = "ret=" + std::to_string(changed != win::FALSE ? 1 : 0);
    if (changed == win::FALSE) {
        out += " error=" + std::to_string(win::GetLastError());
    }
    return out + " thread=" + Hex(win::GetThreadLocale());
}

std::string LoadString(unsigned id) {
    win::WCHAR buffer[kStringChars];
    buffer[0] = u'?';
    const int length = win::LoadStringW(probe::OwnModule(), id, buffer, kStringChars);
    return "len=" + std::to_string(length) + " \"" + Encode(std::u16string_view(buffer, length > 0 ? length : 0)) +
           "\"" + (length == 0 && buffer[0] != u'\0' ? " (buffer not emptied)" : "");
}

std::string TempPath() {
    win::WCHAR buffer[kTempPathChars];
    win::SetLastError(0);
    const win::DWORD length = win::GetTempPathW(kTempPathChars, buffer);
    if (length == 0 || length >= kTempPathChars) {
        LastTempPath.clear();
        return "ret=" + std::to_string(length) + " error=" + std::to_string(win::GetLastError());
    }
    LastTempPath.assign(buffer, length);
    return "ret=" + std::to_string(length) + " \"" + Encode(LastTempPath) + "\"";
}

std::string Attributes(const std::u16string& path) {
    win::SetLastError(0);
    const win::DWORD attributes = win::GetFileAttributesW(path.c_str());
    if (attributes == win::INVALID_FILE_ATTRIBUTES) {
        return "none error=" + std::to_string(win::GetLastError());
    }
    // Only the kind: the other bits say more about the file system than the platform.
    return (attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0 ? "directory" : "file";
}

std::string ModuleVersion(const std::u16string& path) {
    std::u16string text = u"untouched";
    const bool read = GetModuleFileVersion(path, text);
    return std::string(read ? "true" : "false") + " \"" + Encode(text) + "\"";
}

std::string FourParts(win::DWORD high, win::DWORD low) {
    return std::to_string(win::HIWORD(high)) + "." + std::to_string(win::LOWORD(high)) + "." +
           std::to_string(win::HIWORD(low)) + "." + std::to_string(win::LOWORD(low));
}

std::string FixedVersionInfo(const std::u16string& path) {
    win::DWORD handle = 1;
    win::SetLastError(0);
    const win::DWORD size = win::GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) {
        // Wine 8 gives 1812 for a module without version information and
        // the simulated library 1813; the system never reads which.
        const win::DWORD error = win::GetLastError();
        const bool noVersion = error == win::ERROR_RESOURCE_DATA_NOT_FOUND || error == win::ERROR_RESOURCE_TYPE_NOT_FOUND;
        return "size=0 error=" + (noVersion ? std::string("no-version-resource") : std::to_string(error));
    }
    std::vector<std::uint8_t> block(size);
    if (win::GetFileVersionInfoW(path.c_str(), 0, size, block.data()) == win::FALSE) {
        return "size=" + std::to_string(size) + " read failed error=" + std::to_string(win::GetLastError());
    }
    win::LPVOID record = nullptr;
    win::UINT length = 0;
    if (win::VerQueryValueW(block.data(), u"\\", &record, &length) == win::FALSE || record == nullptr) {
        return "size=" + std::to_string(size) + " no root record";
    }
    win::VS_FIXEDFILEINFO info{};
    std::memcpy(&info, record, std::min<std::size_t>(length, sizeof info));
    return "size=" + std::to_string(size) + " length=" + std::to_string(length) + " signature=" +
           Hex(info.dwSignature) + " file=" + FourParts(info.dwFileVersionMS, info.dwFileVersionLS) +
           " product=" + FourParts(info.dwProductVersionMS, info.dwProductVersionLS);
}

std::string OpenKey(win::HKEY root, const std::u16string& path, win::REGSAM access) {
    win::HKEY key = nullptr;
    const win::LSTATUS status = win::RegOpenKeyExW(root, path.c_str(), 0, access, &key);
    if (status != win::ERROR_SUCCESS) {
        return "error=" + std::to_string(status);
    }
    win::RegCloseKey(key);
    return "opens";
}

std::string ProductKeys(const std::u16string& productCode) {
    const std::u16string packed = PackProductCode(productCode);
    return "state=" + std::to_string(win::MsiQueryProductStateW(productCode.c_str())) +
           " classes=" + OpenKey(win::HKEY_CLASSES_ROOT, u"Installer\\Products\\" + packed, win::KEY_WRITE) +
           " userdata=" +
           OpenKey(win::HKEY_LOCAL_MACHINE,
                   u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\" + packed,
                   win::KEY_READ);
}

bool MakeFile(const std::u16string& path) {
    win::HANDLE file = win::CreateFileW(path.c_str(), win::GENERIC_WRITE, 0, nullptr, win::CREATE_NEW,
                                        win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == win::INVALID_HANDLE_VALUE) {
        return false;
    }
    win::CloseHandle(file);
    return true;
}

// A setup line; false when it could not be done.
bool Setup(const std::string& kind, const std::string& payload) {
    if (kind == "env") {
        const std::size_t equals = payload.find('=');
        if (equals == std::string::npos) {
            return false;
        }
        const std::u16string value = Decode(payload.substr(equals + 1));
        return probe::SetEnvironment(Decode(payload.substr(0, equals)), &value);
    }
    if (kind == "envpad") {
        const std::size_t equals = payload.find('=');
        const std::size_t space = payload.rfind(' ');
        if (equals == std::string::npos || space == std::string::npos || space < equals) {
            return false;
        }
        std::u16string value = Decode(payload.substr(equals + 1, space - equals - 1));
        const std::size_t length = Number(payload.substr(space + 1));
        if (value.size() > length) {
            return false;
        }
        value.append(length - value.size(), u'a');
        return probe::SetEnvironment(Decode(payload.substr(0, equals)), &value);
    }
    if (kind == "unenv") {
        return probe::SetEnvironment(Decode(payload), nullptr);
    }
    if (kind == "mkdir") {
        return probe::MakeDirectory(Decode(payload));
    }
    if (kind == "mkfile") {
        return MakeFile(Decode(payload));
    }
    if (kind == "userlocale") {
        return probe::RequireUserDefaultLocale(Number(payload));
    }
    if (kind == "install") {
        const std::u16string code = Decode(payload);
        return probe::RegisterInstalledProduct(code) &&
               win::MsiQueryProductStateW(code.c_str()) == win::INSTALLSTATE_DEFAULT;
    }
    return false;
}

// A case line; false for an unknown kind.
bool RunCase(const std::string& kind, const std::string& name, const std::string& payload) {
    if (kind == "argv") {
        Result(name, SplitArguments(Decode(payload)));
    } else if (kind == "locale") {
        const std::vector<std::string> words = Words(payload);
        if (words.size() != 2 || win::SetThreadLocale(Number(words[0])) == win::FALSE) {
            return false;
        }
        Result(name, ChangeThreadLocale(Number(words[1])));
    } else if (kind == "threadlocale") {
        Result(name, "thread=" + Hex(win::GetThreadLocale()));
    } else if (kind == "userlocale") {
        Result(name, "user=" + Hex(probe::UserDefaultLocale()));
    } else if (kind == "strings") {
        const std::vector<std::string> words = Words(payload);
        if (words.size() < 2) {
            return false;
        }
        const std::string locale = ChangeThreadLocale(Number(words[0]));
        for (std::size_t k = 1; k < words.size(); ++k) {
            Result(name + "/" + words[k], locale + " " + LoadString(Number(words[k])));
        }
    } else if (kind == "temppath") {
        Result(name, TempPath());
    } else if (kind == "maketemp") {
        const std::u16string made = MakeTempName(Decode(payload), u"MSP");
        Result(name, made.empty() ? "none" : "\"" + Encode(made) + "\"");
    } else if (kind == "attr") {
        Result(name, Attributes(Decode(payload)));
    } else if (kind == "pack") {
        Result(name, Encode(PackProductCode(Decode(payload))));
    } else if (kind == "productkey") {
        Result(name, ProductKeys(Decode(payload)));
    } else if (kind == "version") {
        Result(name, ModuleVersion(Decode(payload)));
    } else if (kind == "fixed") {
        Result(name, FixedVersionInfo(Decode(payload)));
    } else {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: probe ROOT SHARED < cases\n";
        return 2;
    }
    probe::StartProcess();
    InstanceHandle = probe::OwnModule();
    Root = Decode(argv[1]);
    Shared = Decode(argv[2]);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        // "KIND NAME: PAYLOAD" or "KIND: PAYLOAD"; the payload keeps its spaces
        // after the one that follows the colon.
        const std::size_t colon = line.find(':');
        const std::size_t space = line.find(' ');
        if (colon == std::string::npos) {
            Result("!setup", "malformed line: " + line);
            continue;
        }
        std::string payload = line.substr(colon + 1);
        if (!payload.empty() && payload[0] == ' ') {
            payload.erase(0, 1);
        }
        if (space == std::string::npos || space > colon) {
            const std::string kind = line.substr(0, colon);
            if (!Setup(kind, payload)) {
                Result("!setup", "failed: " + line);
            }
            continue;
        }
        const std::string kind = line.substr(0, space);
        const std::string name = line.substr(space + 1, colon - space - 1);
        if (!RunCase(kind, name, payload)) {
            Result("!setup", "unknown case: " + line);
        }
    }
    std::cout.flush();
    probe::FinishProcess();
    return 0;
}
