// The simulated process: faults and call counts, open-resource tracking, the
// last-error code, global memory, the thread locale, the environment and the
// command line.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/simulated/sim.h"
#include "platform/simulated/state.h"

namespace sim {
namespace {

struct Fault {
    unsigned nth;
    std::uint32_t error;
};

struct OpenEntry {
    std::string kind;
    std::string description;
};

struct GlobalBlock {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
    bool moveable = false;
    unsigned lockCount = 0;
};

struct CoreState {
    std::map<std::string, unsigned, std::less<>> callCounts;
    std::multimap<std::string, Fault, std::less<>> faults;
    unsigned injectedFaults = 0;
    std::map<const void*, OpenEntry> open;
    std::uint32_t lastError = 0;
    win::LCID userDefaultLocale = 1033;
    win::LCID threadLocale = 1033;
    std::vector<std::pair<std::u16string, std::u16string>> environment;
    std::u16string commandLine = u"spinstall.exe";
    // Keyed by the handle GlobalAlloc gave out (the data pointer for fixed blocks).
    std::map<const void*, GlobalBlock> globalBlocks;
};

CoreState& Core() {
    static CoreState state;
    return state;
}

std::vector<void (*)()>& ResetHooks() {
    static std::vector<void (*)()> hooks;
    return hooks;
}

std::set<std::string>& FailableNames() {
    static std::set<std::string> names;
    return names;
}

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool EqualsFolded(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

// The languages a simulated machine knows, as Windows (here Wine 8's locale
// table) has them: per primary language, bit n set for each valid sublanguage
// n, and the locale that the sublanguage-neutral form stands for.
struct KnownLanguage {
    win::WORD primary;
    std::uint32_t sublanguages;
    win::LCID neutralMeans;
};

constexpr KnownLanguage kKnownLanguages[] = {
    {0x00, 0x00000038, 0x0000}, {0x01, 0x0001FFFE, 0x0401}, {0x02, 0x00000002, 0x0402}, {0x03, 0x00000006, 0x0403},
    {0x04, 0xC000003E, 0x0804}, {0x05, 0x00000002, 0x0405}, {0x06, 0x00000002, 0x0406}, {0x07, 0x0000003E, 0x0407},
    {0x08, 0x00000002, 0x0408}, {0x09, 0x000FFFFE, 0x0409}, {0x0A, 0x00FFFFFE, 0x0C0A}, {0x0B, 0x00000002, 0x040B},
    {0x0C, 0x0000FFFE, 0x040C}, {0x0D, 0x00000002, 0x040D}, {0x0E, 0x00000002, 0x040E}, {0x0F, 0x00000002, 0x040F},
    {0x10, 0x00000006, 0x0410}, {0x11, 0x00000002, 0x0411}, {0x12, 0x00000002, 0x0412}, {0x13, 0x00000006, 0x0413},
    {0x14, 0xC0000006, 0x0414}, {0x15, 0x00000002, 0x0415}, {0x16, 0x00000006, 0x0416}, {0x17, 0x00000002, 0x0417},
    {0x18, 0x00000006, 0x0418}, {0x19, 0x00000006, 0x0419}, {0x1A, 0xDE001FF2, 0x041A}, {0x1B, 0x00000002, 0x041B},
    {0x1C, 0x00000002, 0x041C}, {0x1D, 0x00000006, 0x041D}, {0x1E, 0x00000002, 0x041E}, {0x1F, 0x00000002, 0x041F},
    {0x20, 0x00000006, 0x0420}, {0x21, 0x00000002, 0x0421}, {0x22, 0x00000002, 0x0422}, {0x23, 0x00000002, 0x0423},
    {0x24, 0x00000002, 0x0424}, {0x25, 0x00000002, 0x0425}, {0x26, 0x00000002, 0x0426}, {0x27, 0x00000002, 0x0427},
    {0x28, 0x80000002, 0x0428}, {0x29, 0x00000002, 0x0429}, {0x2A, 0x00000002, 0x042A}, {0x2B, 0x00000002, 0x042B},
    {0x2C, 0x60000006, 0x042C}, {0x2D, 0x00000002, 0x042D}, {0x2E, 0x80000006, 0x042E}, {0x2F, 0x00000002, 0x042F},
    {0x30, 0x00000002, 0x0430}, {0x31, 0x00000002, 0x0431}, {0x32, 0x00000006, 0x0432}, {0x33, 0x00000002, 0x0433},
    {0x34, 0x00000002, 0x0434}, {0x35, 0x00000002, 0x0435}, {0x36, 0x00000002, 0x0436}, {0x37, 0x00000002, 0x0437},
    {0x38, 0x00000002, 0x0438}, {0x39, 0x00000002, 0x0439}, {0x3A, 0x00000002, 0x043A}, {0x3B, 0xF00003FE, 0x043B},
    {0x3C, 0x00000004, 0x083C}, {0x3D, 0x00000002, 0x043D}, {0x3E, 0x00000006, 0x043E}, {0x3F, 0x00000002, 0x043F},
    {0x40, 0x00000002, 0x0440}, {0x41, 0x00000002, 0x0441}, {0x42, 0x00000002, 0x0442}, {0x43, 0xC0000006, 0x0443},
    {0x44, 0x00000002, 0x0444}, {0x45, 0x00000006, 0x0845}, {0x46, 0x80000006, 0x0446}, {0x47, 0x00000002, 0x0447},
    {0x48, 0x00000002, 0x0448}, {0x49, 0x00000006, 0x0449}, {0x4A, 0x00000002, 0x044A}, {0x4B, 0x00000002, 0x044B},
    {0x4C, 0x00000002, 0x044C}, {0x4D, 0x00000002, 0x044D}, {0x4E, 0x00000002, 0x044E}, {0x4F, 0x00000002, 0x044F},
    {0x50, 0xC000000E, 0x0450}, {0x51, 0x0000000A, 0x0451}, {0x52, 0x00000002, 0x0452}, {0x53, 0x00000002, 0x0453},
    {0x54, 0x00000002, 0x0454}, {0x55, 0x00000002, 0x0455}, {0x56, 0x00000002, 0x0456}, {0x57, 0x00000002, 0x0457},
    {0x58, 0x00000002, 0x0458}, {0x59, 0x80000006, 0x0859}, {0x5A, 0x00000002, 0x045A}, {0x5B, 0x00000002, 0x045B},
    {0x5C, 0x80000002, 0x045C}, {0x5D, 0xC0000006, 0x085D}, {0x5E, 0x00000002, 0x045E}, {0x5F, 0x80000004, 0x085F},
    {0x60, 0x00000006, 0x1000}, {0x61, 0x00000006, 0x0461}, {0x62, 0x00000002, 0x0462}, {0x63, 0x00000002, 0x0463},
    {0x64, 0x00000002, 0x0464}, {0x65, 0x00000002, 0x0465}, {0x66, 0x00000002, 0x0466}, {0x67, 0x80000006, 0x0867},
    {0x68, 0x80000002, 0x0468}, {0x6A, 0x00000002, 0x046A}, {0x6B, 0x0000000E, 0x046B}, {0x6C, 0x00000002, 0x046C},
    {0x6D, 0x00000002, 0x046D}, {0x6E, 0x00000002, 0x046E}, {0x6F, 0x00000002, 0x046F}, {0x70, 0x00000002, 0x0470},
    {0x71, 0x00000002, 0x0471}, {0x72, 0x00000002, 0x0472}, {0x73, 0x00000006, 0x0873}, {0x74, 0x00000002, 0x0474},
    {0x75, 0x00000002, 0x0475}, {0x76, 0x00000002, 0x0476}, {0x77, 0x00000002, 0x0477}, {0x78, 0x00000002, 0x0478},
    {0x7A, 0x00000002, 0x047A}, {0x7C, 0x00000002, 0x047C}, {0x7E, 0x00000002, 0x047E}, {0x7F, 0x00000000, 0x007F},
    {0x80, 0x00000002, 0x0480}, {0x81, 0x00000002, 0x0481}, {0x82, 0x00000002, 0x0482}, {0x83, 0x00000002, 0x0483},
    {0x84, 0x00000002, 0x1000}, {0x85, 0x00000002, 0x0485}, {0x86, 0x80000002, 0x0486}, {0x87, 0x00000002, 0x0487},
    {0x88, 0x00000002, 0x0488}, {0x8C, 0x00000002, 0x048C}, {0x91, 0x00000002, 0x0491}, {0x92, 0x80000002, 0x0492},
};

constexpr win::LCID kLocaleInvariant = 0x007F;

// The language of a locale id without a sort id; null for any other.
const KnownLanguage* FindKnownLanguage(win::LCID locale) {
    if ((locale >> 16) != 0) {
        return nullptr;
    }
    const win::WORD primary = win::PRIMARYLANGID(win::LANGIDFROMLCID(locale));
    auto it = std::lower_bound(std::begin(kKnownLanguages), std::end(kKnownLanguages), primary,
                               [](const KnownLanguage& language, win::WORD key) { return language.primary < key; });
    return (it != std::end(kKnownLanguages) && it->primary == primary) ? &*it : nullptr;
}

detail::FailableRegistration registerGlobalAlloc("GlobalAlloc");
detail::FailableRegistration registerGlobalLock("GlobalLock");
detail::FailableRegistration registerCommandLineToArgvW("CommandLineToArgvW");

}  // namespace

namespace detail {

bool ShouldFail(const char* function, std::uint32_t fallbackError, std::uint32_t* error) {
    CoreState& core = Core();
    // Found without making a key: this runs for every platform call.
    auto counted = core.callCounts.find(std::string_view(function));
    if (counted == core.callCounts.end()) {
        counted = core.callCounts.emplace(function, 0).first;
    }
    const unsigned count = ++counted->second;
    auto [begin, end] = core.faults.equal_range(std::string_view(function));
    for (auto it = begin; it != end; ++it) {
        if (it->second.nth == 0 || it->second.nth == count) {
            ++core.injectedFaults;
            if (error != nullptr) {
                *error = it->second.error != 0 ? it->second.error : fallbackError;
            }
            return true;
        }
    }
    return false;
}

FailableRegistration::FailableRegistration(const char* function) { FailableNames().insert(function); }

ResetRegistration::ResetRegistration(void (*hook)()) { ResetHooks().push_back(hook); }

void TrackOpen(const void* handle, std::string kind, std::string description) {
    Core().open[handle] = OpenEntry{std::move(kind), std::move(description)};
}

bool IsTracked(const void* handle, std::string_view kind) {
    auto it = Core().open.find(handle);
    return it != Core().open.end() && it->second.kind == kind;
}

void TrackClose(const void* handle) { Core().open.erase(handle); }

void SetLastErrorCode(std::uint32_t error) { Core().lastError = error; }

bool LookupEnvironment(std::u16string_view name, std::u16string& value) {
    for (const auto& [key, stored] : Core().environment) {
        if (EqualsFolded(key, name)) {
            value = stored;
            return true;
        }
    }
    return false;
}

bool IsKnownLocale(win::LCID locale) {
    // Sort ids other than the default are refused, and so are the neutral forms.
    const KnownLanguage* language = FindKnownLanguage(locale);
    const win::WORD sub = win::SUBLANGID(win::LANGIDFROMLCID(locale));
    return language != nullptr && (language->sublanguages & (std::uint32_t{1} << sub)) != 0;
}

}  // namespace detail

void ResetMachine(const std::string& sandboxRoot) {
    CoreState& core = Core();
    core = CoreState{};
    std::error_code ignored;
    const std::filesystem::path drive = std::filesystem::path(sandboxRoot) / "c";
    std::filesystem::create_directories(drive / "users" / "simuser" / "Temp", ignored);
    std::filesystem::create_directories(drive / "windows", ignored);
    for (auto hook : ResetHooks()) {
        hook();
    }
    MapDrive('C', drive.string());
    SetCurrentDirectory(u"C:\\users\\simuser");
    core.environment = {
        {u"TMP", u"C:\\users\\simuser\\Temp"},
        {u"TEMP", u"C:\\users\\simuser\\Temp"},
        {u"USERPROFILE", u"C:\\users\\simuser"},
        {u"windir", u"C:\\windows"},
        {u"SystemRoot", u"C:\\windows"},
    };
}

void SetEnvironmentVariable(std::u16string_view name, std::optional<std::u16string_view> value) {
    auto& environment = Core().environment;
    environment.erase(std::remove_if(environment.begin(), environment.end(),
                                     [&](const auto& entry) { return EqualsFolded(entry.first, name); }),
                      environment.end());
    if (value) {
        environment.emplace_back(std::u16string(name), std::u16string(*value));
    }
}

void SetUserDefaultLocale(win::LCID locale) {
    Core().userDefaultLocale = locale;
    Core().threadLocale = locale;
}

win::LCID UserDefaultLocale() { return Core().userDefaultLocale; }

void SetCommandLine(std::u16string_view commandLine) { Core().commandLine = std::u16string(commandLine); }

std::u16string QuoteCommandLine(const std::vector<std::u16string>& arguments) {
    std::u16string line;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::u16string& argument = arguments[index];
        if (index > 0) {
            line.push_back(u' ');
        }
        if (index == 0) {
            // The program name ends at the next quote: it is quoted whole and never escaped.
            const bool needsQuotes = argument.empty() || argument.find_first_of(u" \t") != std::u16string::npos;
            line += needsQuotes ? u"\"" + argument + u"\"" : argument;
            continue;
        }
        if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string::npos) {
            line += argument;
            continue;
        }
        line.push_back(u'"');
        std::size_t backslashes = 0;
        for (char16_t c : argument) {
            if (c == u'\\') {
                ++backslashes;
                continue;
            }
            if (c == u'"') {
                // 2n+1 backslashes before a quote give n backslashes and a literal quote.
                line.append(backslashes * 2 + 1, u'\\');
            } else {
                line.append(backslashes, u'\\');
            }
            backslashes = 0;
            line.push_back(c);
        }
        // Backslashes before the closing quote are doubled so that it still closes.
        line.append(backslashes * 2, u'\\');
        line.push_back(u'"');
    }
    return line;
}

void InjectFault(std::string_view function, unsigned nth, std::uint32_t error) {
    Core().faults.emplace(std::string(function), Fault{nth, error});
}

void ClearFaults() { Core().faults.clear(); }

unsigned CallCount(std::string_view function) {
    auto it = Core().callCounts.find(function);
    return it == Core().callCounts.end() ? 0 : it->second;
}

unsigned InjectedFaultCount() { return Core().injectedFaults; }

std::vector<std::string> FailableFunctions() {
    return {FailableNames().begin(), FailableNames().end()};
}

std::vector<std::string> OpenHandles() {
    std::vector<std::string> lines;
    for (const auto& [handle, entry] : Core().open) {
        (void)handle;
        lines.push_back(entry.kind + ": " + entry.description);
    }
    return lines;
}

std::u16string FromUtf8(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        // Registry files and paths are mostly ASCII: one unit a byte.
        if (byte < 0x80) {
            out.push_back(static_cast<char16_t>(byte));
            ++i;
            continue;
        }
        std::uint32_t code = 0xFFFD;
        std::size_t length = 1;
        if (byte < 0x80) {
            code = byte;
        } else if ((byte & 0xE0) == 0xC0) {
            length = 2;
            code = byte & 0x1F;
        } else if ((byte & 0xF0) == 0xE0) {
            length = 3;
            code = byte & 0x0F;
        } else if ((byte & 0xF8) == 0xF0) {
            length = 4;
            code = byte & 0x07;
        } else {
            length = 0;
        }
        bool valid = length != 0 && i + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!valid) {
            code = 0xFFFD;
            length = 1;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

std::string ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        std::uint32_t code = utf16[i];
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
            continue;
        }
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace sim

// ---- The Windows functions ---------------------------------------------------

namespace win {

DWORD GetLastError() { return sim::Core().lastError; }

void SetLastError(DWORD errorCode) { sim::Core().lastError = errorCode; }

// The default forms name the user default locale (the simulated machine has no
// system locale of its own); a sublanguage-neutral form names its language's
// default locale (0x0007 gives 0x0407). LOCALE_NEUTRAL (0) is refused, where
// Wine takes it for the user default as well.
BOOL SetThreadLocale(LCID locale) {
    sim::CoreState& core = sim::Core();
    // The default values convert as ConvertDefaultLocale does; LOCALE_NEUTRAL
    // (0) is one of them and names the user's default, as Wine shows.
    if (locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT || locale == 0) {
        core.threadLocale = core.userDefaultLocale;
        return TRUE;
    }
    const sim::KnownLanguage* language = sim::FindKnownLanguage(locale);
    if (language != nullptr && locale != 0 && SUBLANGID(LANGIDFROMLCID(locale)) == 0) {
        locale = language->neutralMeans;
    }
    if (!sim::detail::IsKnownLocale(locale) && locale != sim::kLocaleInvariant) {
        core.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    core.threadLocale = locale;
    return TRUE;
}

LCID GetThreadLocale() { return sim::Core().threadLocale; }

LPWSTR GetCommandLineW() { return sim::Core().commandLine.data(); }

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return nullptr;
    }
    sim::GlobalBlock block;
    block.size = bytes;
    block.moveable = (flags & GMEM_MOVEABLE) != 0;
    block.bytes.reset(new (std::nothrow) std::uint8_t[bytes == 0 ? 1 : bytes]);
    if (!block.bytes) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if ((flags & GMEM_ZEROINIT) != 0) {
        std::memset(block.bytes.get(), 0, bytes);
    }
    // A moveable block is named by a handle distinct from its data.
    // Moveable handles are tokens that are never dereferenced.
    static std::uintptr_t nextToken = 0x7E000000;
    const void* key = block.moveable ? reinterpret_cast<const void*>(nextToken += 16) : block.bytes.get();
    sim::detail::TrackOpen(key, "global", std::to_string(bytes) + " bytes");
    sim::Core().globalBlocks.emplace(key, std::move(block));
    return const_cast<void*>(key);
}

LPVOID GlobalLock(HGLOBAL memory) {
    auto& blocks = sim::Core().globalBlocks;
    auto it = blocks.find(memory);
    if (it == blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("GlobalLock", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return nullptr;
    }
    if (it->second.moveable) {
        ++it->second.lockCount;
    }
    return it->second.bytes.get();
}

BOOL GlobalUnlock(HGLOBAL memory) {
    auto& blocks = sim::Core().globalBlocks;
    auto it = blocks.find(memory);
    if (it == blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!it->second.moveable || it->second.lockCount == 0) {
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    }
    --it->second.lockCount;
    return it->second.lockCount > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
    auto& blocks = sim::Core().globalBlocks;
    auto it = blocks.find(memory);
    if (it == blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return memory;
    }
    blocks.erase(it);
    sim::detail::TrackClose(memory);
    return nullptr;
}

// Splits a command line by the documented rules: the program name runs to the
// next quote when it starts with one, else to the first space or tab; after it,
// 2n backslashes and a quote give n backslashes and toggle quoting, 2n+1 give n
// and a literal quote, other backslashes are literal, and a quote that follows
// a closing quote inside a quoted run is literal.
LPWSTR* CommandLineToArgvW(LPCWSTR commandLine, int* argumentCount) {
    if (argumentCount == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("CommandLineToArgvW", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return nullptr;
    }
    std::vector<std::u16string> arguments;
    const std::u16string_view line = commandLine == nullptr ? std::u16string_view() : commandLine;
    if (line.empty()) {
        // An empty line names the program itself.
        arguments.emplace_back(u"spinstall.exe");
    } else {
        std::size_t i = 0;
        std::u16string program;
        if (line[0] == u'"') {
            ++i;
            while (i < line.size() && line[i] != u'"') {
                program.push_back(line[i++]);
            }
            if (i < line.size()) {
                ++i;
            }
        } else {
            while (i < line.size() && line[i] != u' ' && line[i] != u'\t') {
                program.push_back(line[i++]);
            }
        }
        arguments.push_back(program);
        while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) {
            ++i;
        }
        while (i < line.size()) {
            std::u16string argument;
            bool inQuotes = false;
            while (i < line.size()) {
                const char16_t c = line[i];
                if ((c == u' ' || c == u'\t') && !inQuotes) {
                    break;
                }
                if (c == u'\\') {
                    std::size_t backslashes = 0;
                    while (i < line.size() && line[i] == u'\\') {
                        ++backslashes;
                        ++i;
                    }
                    if (i < line.size() && line[i] == u'"') {
                        argument.append(backslashes / 2, u'\\');
                        if (backslashes % 2 == 1) {
                            argument.push_back(u'"');
                            ++i;
                        }
                        // An even count leaves the quote to the quote rule below.
                    } else {
                        argument.append(backslashes, u'\\');
                    }
                    continue;
                }
                if (c == u'"') {
                    ++i;
                    if (inQuotes && i < line.size() && line[i] == u'"') {
                        // "" inside a quoted run: a literal quote, and the run ends.
                        argument.push_back(u'"');
                        ++i;
                        inQuotes = false;
                        continue;
                    }
                    inQuotes = !inQuotes;
                    continue;
                }
                argument.push_back(c);
                ++i;
            }
            arguments.push_back(std::move(argument));
            while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) {
                ++i;
            }
        }
    }

    // One block: the pointer array followed by the texts, freed with one GlobalFree.
    std::size_t bytes = (arguments.size() + 1) * sizeof(LPWSTR);
    for (const auto& argument : arguments) {
        bytes += (argument.size() + 1) * sizeof(WCHAR);
    }
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, bytes);
    if (block == nullptr) {
        return nullptr;
    }
    auto* pointers = static_cast<LPWSTR*>(block);
    auto* text = reinterpret_cast<WCHAR*>(pointers + arguments.size() + 1);
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        pointers[k] = text;
        std::copy(arguments[k].begin(), arguments[k].end(), text);
        text += arguments[k].size();
        *text++ = u'\0';
    }
    pointers[arguments.size()] = nullptr;
    *argumentCount = static_cast<int>(arguments.size());
    return pointers;
}

}  // namespace win
