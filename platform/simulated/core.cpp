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

detail::FailableRegistration registerGlobalAlloc("GlobalAlloc");
detail::FailableRegistration registerGlobalLock("GlobalLock");
detail::FailableRegistration registerCommandLineToArgvW("CommandLineToArgvW");

}  // namespace

namespace detail {

bool ShouldFail(const char* function, std::uint32_t fallbackError, std::uint32_t* error) {
    CoreState& core = Core();
    const unsigned count = ++core.callCounts[function];
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
    // The languages a simulated machine knows: the primary languages with a
    // national locale, each with its usual sublanguages (1 to 4). Sort ids
    // other than the default are rejected, as are the neutral forms.
    if ((locale >> 16) != 0) {
        return false;
    }
    const win::WORD primary = win::PRIMARYLANGID(win::LANGIDFROMLCID(locale));
    const win::WORD sub = win::SUBLANGID(win::LANGIDFROMLCID(locale));
    if (primary == 0 || primary > 0x7F || sub == 0 || sub > 4) {
        return false;
    }
    return true;
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
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
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
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        std::uint32_t code = utf16[i];
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

BOOL SetThreadLocale(LCID locale) {
    sim::CoreState& core = sim::Core();
    if (locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT) {
        core.threadLocale = core.userDefaultLocale;
        return TRUE;
    }
    if (!sim::detail::IsKnownLocale(locale)) {
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
