#include "platform/simulated/machine_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/simulated/pe_image.h"
#include "platform/simulated/sim.h"
#include "platform/simulated/sim_installer.h"
#include "platform/simulated/sim_registry.h"
#include "platform/simulated/state.h"

namespace sim {
namespace {

struct MachineFileState {
    std::string path;
    // The registry's generation when it was loaded or saved: a run that changed
    // nothing leaves the file alone, hand-edited layout and all, without the
    // registry being written out to find that out.
    std::uint64_t savedGeneration = 0;
    // The file's text as read, so that changes that came to nothing do not
    // rewrite it either: the file mapped, or read when it cannot be.
    std::string_view savedText;
    std::string readText;
    void* mapping = nullptr;
    std::size_t mappingSize = 0;
    // The mapped file as it was, so that one changed in place since (which
    // would take pages from under the mapping) is written without comparing.
    struct stat mappedInfo {};
    bool savedTextKnown = false;
    bool mustWrite = false;

    void ForgetText() {
        if (mapping != nullptr) {
            munmap(mapping, mappingSize);
        }
        mapping = nullptr;
        mappingSize = 0;
        readText.clear();
        savedText = {};
        savedTextKnown = false;
    }
};

MachineFileState& MachineFile() {
    static MachineFileState state;
    return state;
}

void ResetMachineFile() {
    MachineFile().ForgetText();
    MachineFile() = MachineFileState{};
}

std::optional<std::string> ReadWholeFile(const std::string& path, int& cause);

// A machine file of many products is tens of megabytes: mapped, its pages come
// from the page cache instead of being copied into fresh memory. False with
// the cause when it cannot be opened; nothing mapped for an empty file.
bool MapWholeFile(const std::string& path, MachineFileState& state, int& cause) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        cause = errno;
        return false;
    }
    struct stat info {};
    void* mapped = MAP_FAILED;
    if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        mapped = mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, descriptor, 0);
    }
    close(descriptor);
    if (mapped == MAP_FAILED) {
        auto text = ReadWholeFile(path, cause);
        if (!text) {
            return false;
        }
        state.readText = std::move(*text);
        state.savedText = state.readText;
        return true;
    }
    state.mapping = mapped;
    state.mappingSize = static_cast<std::size_t>(info.st_size);
    state.mappedInfo = info;
    state.savedText = std::string_view(static_cast<const char*>(mapped), state.mappingSize);
    return true;
}
detail::ResetRegistration resetMachineFile(&ResetMachineFile);

constexpr std::u16string_view kInternationalKey = u"Control Panel\\International";

// Windows keeps the user's locale as eight hexadecimal digits ("00000411").
void ApplyUserLocale() {
    const auto text = ReadRegistryString(win::HKEY_CURRENT_USER, kInternationalKey, u"Locale");
    if (!text || text->empty() || text->size() > 8) {
        return;
    }
    win::LCID locale = 0;
    for (char16_t c : *text) {
        int digit = -1;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (c >= u'a' && c <= u'f') {
            digit = c - u'a' + 10;
        } else if (c >= u'A' && c <= u'F') {
            digit = c - u'A' + 10;
        }
        if (digit < 0) {
            return;
        }
        locale = (locale << 4) | static_cast<win::LCID>(digit);
    }
    if (detail::IsKnownLocale(locale)) {
        SetUserDefaultLocale(locale);
    }
}

std::optional<std::string> ReadWholeFile(const std::string& path, int& cause) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        cause = errno;
        return std::nullopt;
    }
    std::string text;
    // Read in one piece when the size is known: a machine file can hold megabytes.
    struct stat info {};
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        text.resize(static_cast<std::size_t>(info.st_size));
        text.resize(std::fread(text.data(), 1, text.size(), file));
    }
    char chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        cause = EIO;
        return std::nullopt;
    }
    return text;
}

}  // namespace

void BuildDemoMachine() {
    // An English-speaking user whose German Mervolt 9.2 is at 7.0.43.6, one of
    // the versions the patch is built for, with a host module of another
    // version and a transforms registration that the install removes.
    SetRegistryString(win::HKEY_CURRENT_USER, kInternationalKey, u"Locale", u"00000409");
    constexpr std::u16string_view kCode = u"{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}";
    constexpr std::u16string_view kFolder = u"C:\\Program Files\\Quorvane\\Mervolt 9.2";
    ProductRegistration product;
    product.productCode = kCode;
    product.name = u"Quorvane Mervolt 9.2";
    product.version = u"7.0.43.6";
    product.language = 1031;
    RegisterProduct(product);
    SetRegistryString(win::HKEY_CLASSES_ROOT, ProductClassesKey(kCode), u"Transforms",
                      u"C:\\Windows\\Installer\\{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}\\MervoltDE.mst");
    SetRegistryString(win::HKEY_LOCAL_MACHINE, u"Software\\Quorvane\\Mervolt\\V9.2\\Mrvt-C3E:B61", u"MrvtLocation",
                      kFolder);
    const std::string module = detail::ResolveHostPath(std::u16string(kFolder) + u"\\kelmora.zpq");
    if (!module.empty()) {
        const auto image = pe_image::BuildPeImage(
            {{win::RT_VERSION_ID, 1, 0x0409, pe_image::VersionBlock(0x00070000, 0x002B0002, 0x00090002, 0)}});
        // Every run of the built-in machine lays this out; a module that is
        // already there as it should be is left alone rather than rewritten.
        int cause = 0;
        const auto present = ReadWholeFile(module, cause);
        if (!present || present->size() != image.size() ||
            !std::equal(image.begin(), image.end(), present->begin(),
                        [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); })) {
            std::error_code ignored;
            std::filesystem::create_directories(std::filesystem::path(module).parent_path(), ignored);
            std::ofstream out(module, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(image.data()),
                      static_cast<std::streamsize>(image.size()));
        }
    }
}

bool LoadMachine() {
    MachineFileState& state = MachineFile();
    state.ForgetText();
    state = MachineFileState{};
    const char* named = std::getenv("SIMWIN_MACHINE");
    state.path = named == nullptr ? "" : named;
    if (state.path.empty()) {
        BuildDemoMachine();
        ApplyUserLocale();
        return true;
    }
    int cause = 0;
    if (!MapWholeFile(state.path, state, cause)) {
        if (cause != ENOENT) {
            std::fprintf(stderr, "SIMWIN_MACHINE %s: %s\n", state.path.c_str(), std::strerror(cause));
            state.path.clear();
            return false;
        }
        BuildDemoMachine();
        state.mustWrite = true;
    } else {
        std::string error;
        if (!LoadRegistryFileText(state.savedText, error)) {
            std::fprintf(stderr, "SIMWIN_MACHINE %s: %s\n", state.path.c_str(), error.c_str());
            state.ForgetText();
            state.path.clear();
            return false;
        }
        state.savedTextKnown = true;
    }
    state.savedGeneration = RegistryGeneration();
    ApplyUserLocale();
    return true;
}

void SaveMachine() {
    MachineFileState& state = MachineFile();
    if (state.path.empty()) {
        return;
    }
    if (!state.mustWrite && RegistryGeneration() == state.savedGeneration) {
        return;
    }
    // Written beside the file and renamed over it, so that a failed write never
    // leaves half a machine behind. The text goes out in pieces as it is made,
    // compared on the way with what the file holds.
    const std::string temporary = state.path + ".tmp-" + std::to_string(getpid());
    FILE* file = std::fopen(temporary.c_str(), "wb");
    bool written = file != nullptr;
    bool same = !state.mustWrite && state.savedTextKnown;
    if (same && state.mapping != nullptr) {
        struct stat now {};
        same = stat(state.path.c_str(), &now) == 0 && now.st_dev == state.mappedInfo.st_dev &&
               now.st_ino == state.mappedInfo.st_ino && now.st_size == state.mappedInfo.st_size &&
               now.st_mtim.tv_sec == state.mappedInfo.st_mtim.tv_sec &&
               now.st_mtim.tv_nsec == state.mappedInfo.st_mtim.tv_nsec;
    }
    std::size_t offset = 0;
    WriteRegistryFileText([&](std::string_view piece) {
        same = same && offset + piece.size() <= state.savedText.size() &&
               state.savedText.compare(offset, piece.size(), piece) == 0;
        offset += piece.size();
        written = written && std::fwrite(piece.data(), 1, piece.size(), file) == piece.size();
    });
    same = same && offset == state.savedText.size();
    if (file != nullptr) {
        written = (std::fclose(file) == 0) && written;
    }
    if (same) {
        // Changes that came to nothing: the file already says it all.
        std::remove(temporary.c_str());
        state.savedGeneration = RegistryGeneration();
        return;
    }
    if (!written || std::rename(temporary.c_str(), state.path.c_str()) != 0) {
        std::fprintf(stderr, "SIMWIN_MACHINE %s: cannot be written: %s\n", state.path.c_str(),
                     std::strerror(errno));
        std::remove(temporary.c_str());
        return;
    }
    // The file now holds a text that is not kept; the next change that comes to
    // nothing is written once more.
    state.ForgetText();
    state.savedGeneration = RegistryGeneration();
    state.mustWrite = false;
}

}  // namespace sim
