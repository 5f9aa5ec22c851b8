// Simulated module resources: the compiled resource image linked into the
// executable, modules built by tests, FindResourceW with the loader's language
// order, and LoadStringW over standard string-table blocks.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <set>

#include "platform/simulated/sim.h"
#include "platform/simulated/state.h"

// The compiled resource image, placed by the assembler; absent in programs that
// carry no resources.
extern "C" {
extern const std::uint8_t spinstall_resources_begin[] __attribute__((weak));
extern const std::uint8_t spinstall_resources_end[] __attribute__((weak));
}

namespace sim {
namespace {

// A resource type or name as FindResourceW takes it: an integer resource, "#n",
// or a name compared without regard to case (kept in upper case, id 0).
struct ResourceKey {
    std::u16string name;
    win::WORD id = 0;

    bool operator<(const ResourceKey& other) const {
        return name != other.name ? name < other.name : id < other.id;
    }
};

ResourceKey KeyOf(const std::u16string& name, win::WORD id) {
    return name.empty() ? ResourceKey{u"", id} : ResourceKey{name, 0};
}

// Entries indexed by type and name, so that a lookup costs the same in a module
// with thousands of resources as in one with a few.
struct Module {
    std::vector<ResourceEntry> entries;
    std::map<std::pair<ResourceKey, ResourceKey>, std::vector<std::size_t>> byTypeAndName;
    std::set<ResourceKey> types;

    void Index(std::size_t position) {
        const ResourceEntry& entry = entries[position];
        const ResourceKey type = KeyOf(entry.typeName, entry.typeId);
        types.insert(type);
        byTypeAndName[{type, KeyOf(entry.name, entry.nameId)}].push_back(position);
    }
};

std::list<Module>& Modules() {
    static std::list<Module> modules;
    return modules;
}

detail::FailableRegistration registerFindResourceW("FindResourceW");
detail::FailableRegistration registerSizeofResource("SizeofResource");
detail::FailableRegistration registerLoadResource("LoadResource");
detail::FailableRegistration registerLockResource("LockResource");
detail::FailableRegistration registerLoadStringW("LoadStringW");

char16_t UpperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

std::u16string Upper(std::u16string_view text) {
    std::u16string result(text);
    std::transform(result.begin(), result.end(), result.begin(), UpperAscii);
    return result;
}

bool ParseKey(win::LPCWSTR text, ResourceKey& key) {
    if (win::IS_INTRESOURCE(text)) {
        key.id = static_cast<win::WORD>(reinterpret_cast<win::UINT_PTR>(text));
        return true;
    }
    const std::u16string_view view(text);
    if (!view.empty() && view[0] == u'#') {
        unsigned value = 0;
        for (char16_t c : view.substr(1)) {
            if (c < u'0' || c > u'9') {
                return false;
            }
            value = value * 10 + static_cast<unsigned>(c - u'0');
            if (value > 0xFFFF) {
                return false;
            }
        }
        key.id = static_cast<win::WORD>(value);
        return true;
    }
    key.name = Upper(view);
    return true;
}

Module* ModuleOf(win::HMODULE module) {
    if (module == nullptr) {
        module = EmbeddedModule();
    }
    for (auto& candidate : Modules()) {
        if (reinterpret_cast<win::HMODULE>(&candidate) == module) {
            return &candidate;
        }
    }
    return nullptr;
}

const ResourceEntry* FindEntry(Module& module, const ResourceKey& type, const ResourceKey& name) {
    auto indexed = module.byTypeAndName.find({type, name});
    if (indexed == module.byTypeAndName.end()) {
        detail::SetLastErrorCode(module.types.count(type) != 0 ? win::ERROR_RESOURCE_NAME_NOT_FOUND
                                                               : win::ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    std::vector<const ResourceEntry*> found;
    for (std::size_t position : indexed->second) {
        found.push_back(&module.entries[position]);
    }
    // The loader's order for a lookup that names no language: neutral, the
    // thread locale's language, its primary language, the user default, its
    // primary language, English (United States), and at last the first entry.
    // This follows the thread locale, as Wine's loader and the Windows of the
    // NT 4 to XP era do.
    const win::LANGID thread = win::LANGIDFROMLCID(win::GetThreadLocale());
    const win::LANGID user = win::LANGIDFROMLCID(UserDefaultLocale());
    const win::LANGID order[] = {
        0,
        thread,
        win::MAKELANGID(win::PRIMARYLANGID(thread), 0),
        user,
        win::MAKELANGID(win::PRIMARYLANGID(user), 0),
        0x0409,
    };
    if (found.size() == 1) {
        return found.front();
    }
    for (win::LANGID language : order) {
        for (const ResourceEntry* entry : found) {
            if (entry->language == language) {
                return entry;
            }
        }
    }
    return found.front();
}

}  // namespace

win::HINSTANCE RegisterModule(std::vector<ResourceEntry> entries) {
    for (auto& entry : entries) {
        entry.typeName = Upper(entry.typeName);
        entry.name = Upper(entry.name);
    }
    Module& module = Modules().emplace_back();
    module.entries = std::move(entries);
    for (std::size_t position = 0; position < module.entries.size(); ++position) {
        module.Index(position);
    }
    return reinterpret_cast<win::HINSTANCE>(&module);
}

bool UpdateModuleResources(win::HINSTANCE handle, const std::string& resourceFile, std::string& error) {
    Module* module = ModuleOf(handle);
    if (module == nullptr) {
        error = "no such module";
        return false;
    }
    const int descriptor = open(resourceFile.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (descriptor < 0 || fstat(descriptor, &info) != 0) {
        error = std::strerror(errno);
        if (descriptor >= 0) {
            close(descriptor);
        }
        return false;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    // Mapped, not read: like the module's own resources, the bytes are only
    // paged in where a program looks at them, and they stay for the process.
    void* mapped = size == 0 ? nullptr : mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
    if (mapped == MAP_FAILED) {
        error = std::strerror(errno);
        close(descriptor);
        return false;
    }
    std::vector<ResourceEntry> entries;
    if (size != 0 && !ParseResourceImage(static_cast<const std::uint8_t*>(mapped), size, entries)) {
        error = "not a compiled resource file";
        munmap(mapped, size);
        close(descriptor);
        return false;
    }
    if (size != 0) {
        detail::RegisterFileImage(mapped, size, descriptor, 0);
    } else {
        close(descriptor);
    }
    for (auto& entry : entries) {
        entry.typeName = Upper(entry.typeName);
        entry.name = Upper(entry.name);
        const ResourceKey type = KeyOf(entry.typeName, entry.typeId);
        const ResourceKey name = KeyOf(entry.name, entry.nameId);
        bool replaced = false;
        if (auto indexed = module->byTypeAndName.find({type, name}); indexed != module->byTypeAndName.end()) {
            for (std::size_t position : indexed->second) {
                if (module->entries[position].language == entry.language) {
                    module->entries[position] = entry;
                    replaced = true;
                }
            }
        }
        if (!replaced) {
            module->entries.push_back(entry);
            module->Index(module->entries.size() - 1);
        }
    }
    return true;
}

bool ParseResourceImage(const std::uint8_t* image, std::size_t size, std::vector<ResourceEntry>& entries) {
    auto read16 = [&](std::size_t offset) {
        return static_cast<std::uint16_t>(image[offset] | (image[offset + 1] << 8));
    };
    auto read32 = [&](std::size_t offset) {
        return static_cast<std::uint32_t>(read16(offset)) | (static_cast<std::uint32_t>(read16(offset + 2)) << 16);
    };
    // A type or name: 0xFFFF and an id, or a NUL-terminated UTF-16 text.
    auto readKey = [&](std::size_t& offset, std::size_t limit, std::u16string& name, win::WORD& id) {
        if (offset + 2 > limit) {
            return false;
        }
        if (read16(offset) == 0xFFFF) {
            if (offset + 4 > limit) {
                return false;
            }
            id = read16(offset + 2);
            offset += 4;
            return true;
        }
        while (true) {
            if (offset + 2 > limit) {
                return false;
            }
            const char16_t c = read16(offset);
            offset += 2;
            if (c == 0) {
                return true;
            }
            name.push_back(c);
        }
    };
    std::size_t offset = 0;
    while (offset < size) {
        if (offset + 8 > size) {
            return false;
        }
        const std::uint32_t dataSize = read32(offset);
        const std::uint32_t headerSize = read32(offset + 4);
        if (headerSize < 16 || offset + headerSize > size || dataSize > size - offset - headerSize) {
            return false;
        }
        const std::size_t headerEnd = offset + headerSize;
        std::size_t position = offset + 8;
        ResourceEntry entry;
        if (!readKey(position, headerEnd, entry.typeName, entry.typeId) ||
            !readKey(position, headerEnd, entry.name, entry.nameId)) {
            return false;
        }
        position = (position + 3) & ~std::size_t{3};
        if (position + 16 > headerEnd) {
            return false;
        }
        entry.language = read16(position + 6);
        entry.data = image + headerEnd;
        entry.size = dataSize;
        // The leading empty entry of a resource file carries type 0 and no data.
        if (!(entry.typeName.empty() && entry.typeId == 0)) {
            entries.push_back(std::move(entry));
        }
        offset = (headerEnd + dataSize + 3) & ~std::size_t{3};
    }
    return true;
}

win::HINSTANCE EmbeddedModule() {
    static win::HINSTANCE module = [] {
        std::vector<ResourceEntry> entries;
        // Weak symbols: their addresses are null in a program without the image.
        const std::uint8_t* begin = spinstall_resources_begin;
        const std::uint8_t* end = spinstall_resources_end;
        asm("" : "+r"(begin), "+r"(end));
        if (begin != nullptr && end != nullptr) {
            ParseResourceImage(begin, static_cast<std::size_t>(end - begin), entries);
        }
        return RegisterModule(std::move(entries));
    }();
    return module;
}

std::vector<std::uint8_t> BuildStringBlock(const std::vector<std::pair<unsigned, std::u16string>>& strings,
                                           unsigned blockId) {
    std::vector<std::uint8_t> block;
    for (unsigned index = 0; index < 16; ++index) {
        const unsigned id = (blockId - 1) * 16 + index;
        std::u16string text;
        for (const auto& [stringId, value] : strings) {
            if (stringId == id) {
                text = value;
            }
        }
        block.push_back(static_cast<std::uint8_t>(text.size() & 0xFF));
        block.push_back(static_cast<std::uint8_t>(text.size() >> 8));
        for (char16_t c : text) {
            block.push_back(static_cast<std::uint8_t>(c & 0xFF));
            block.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    }
    return block;
}

}  // namespace sim

namespace win {

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("FindResourceW", ERROR_RESOURCE_NAME_NOT_FOUND, &error)) {
        SetLastError(error);
        return nullptr;
    }
    sim::Module* owner = sim::ModuleOf(module);
    sim::ResourceKey typeKey;
    sim::ResourceKey nameKey;
    if (owner == nullptr || name == nullptr || type == nullptr || !sim::ParseKey(type, typeKey) ||
        !sim::ParseKey(name, nameKey)) {
        SetLastError(owner == nullptr ? ERROR_INVALID_HANDLE : ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    const sim::ResourceEntry* entry = sim::FindEntry(*owner, typeKey, nameKey);
    return reinterpret_cast<HRSRC>(const_cast<sim::ResourceEntry*>(entry));
}

DWORD SizeofResource(HMODULE /*module*/, HRSRC resource) {
    std::uint32_t error = 0;
    if (resource == nullptr || sim::detail::ShouldFail("SizeofResource", ERROR_RESOURCE_DATA_NOT_FOUND, &error)) {
        SetLastError(resource == nullptr ? ERROR_INVALID_HANDLE : error);
        return 0;
    }
    return reinterpret_cast<const sim::ResourceEntry*>(resource)->size;
}

HGLOBAL LoadResource(HMODULE /*module*/, HRSRC resource) {
    std::uint32_t error = 0;
    if (resource == nullptr || sim::detail::ShouldFail("LoadResource", ERROR_RESOURCE_DATA_NOT_FOUND, &error)) {
        SetLastError(resource == nullptr ? ERROR_INVALID_HANDLE : error);
        return nullptr;
    }
    // Like the real loader: the handle of a loaded resource is its address in the image.
    return const_cast<std::uint8_t*>(reinterpret_cast<const sim::ResourceEntry*>(resource)->data);
}

LPVOID LockResource(HGLOBAL resourceData) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("LockResource", ERROR_RESOURCE_DATA_NOT_FOUND, &error)) {
        SetLastError(error);
        return nullptr;
    }
    return resourceData;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("LoadStringW", ERROR_RESOURCE_NAME_NOT_FOUND, &error)) {
        SetLastError(error);
        if (buffer != nullptr && bufferMax > 0) {
            buffer[0] = u'\0';
        }
        return 0;
    }
    if (buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    sim::Module* owner = sim::ModuleOf(instance);
    // Only the low 16 bits name the string, as in the loader.
    id = LOWORD(id);
    sim::ResourceKey typeKey;
    typeKey.id = RT_STRING_ID;
    sim::ResourceKey blockKey;
    blockKey.id = static_cast<WORD>((id >> 4) + 1);
    const sim::ResourceEntry* entry = owner == nullptr ? nullptr : sim::FindEntry(*owner, typeKey, blockKey);
    if (entry == nullptr) {
        // Without a block in any language the buffer is left as it was; an
        // empty string inside a block does empty it.
        return 0;
    }
    // A block holds 16 counted strings; skip to the one asked for.
    std::size_t offset = 0;
    const std::uint8_t* data = entry->data;
    auto unitAt = [&](std::size_t position) {
        return static_cast<char16_t>(data[position] | (data[position + 1] << 8));
    };
    for (UINT index = 0; index < (id & 0xF); ++index) {
        if (offset + 2 > entry->size) {
            buffer[0] = u'\0';
            return 0;
        }
        offset += 2 + 2 * static_cast<std::size_t>(unitAt(offset));
    }
    if (offset + 2 > entry->size) {
        if (bufferMax > 0) {
            buffer[0] = u'\0';
        }
        return 0;
    }
    std::size_t length = unitAt(offset);
    offset += 2;
    length = std::min<std::size_t>(length, (entry->size - offset) / 2);
    if (bufferMax == 0) {
        // The documented read-only form: the address of the text itself.
        *reinterpret_cast<LPCWSTR*>(buffer) = reinterpret_cast<LPCWSTR>(data + offset);
        return static_cast<int>(length);
    }
    const std::size_t copied = std::min<std::size_t>(length, static_cast<std::size_t>(bufferMax) - 1);
    for (std::size_t k = 0; k < copied; ++k) {
        buffer[k] = unitAt(offset + 2 * k);
    }
    buffer[copied] = u'\0';
    return static_cast<int>(copied);
}

}  // namespace win
