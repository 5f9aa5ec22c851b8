#include "tests/module_builder.h"

#include <algorithm>
#include <list>

#include "platform/simulated/sim.h"
#include "tests/machine_fixture.h"

namespace {

// Keeps the bytes of every built module alive for the whole test run.
std::list<std::vector<std::uint8_t>>& Storage() {
    static std::list<std::vector<std::uint8_t>> storage;
    return storage;
}

const std::vector<std::uint8_t>& ResourceImage() {
    static const std::vector<std::uint8_t> image = ReadBytes(SPINSTALL_RESOURCE_IMAGE);
    return image;
}

const std::uint8_t* Keep(std::vector<std::uint8_t> bytes) {
    Storage().push_back(std::move(bytes));
    return Storage().back().empty() ? nullptr : Storage().back().data();
}

// The 16 strings of a string-table block.
std::vector<std::u16string> BlockStrings(const sim::ResourceEntry& entry) {
    std::vector<std::u16string> strings;
    std::size_t offset = 0;
    for (int index = 0; index < 16 && offset + 2 <= entry.size; ++index) {
        const std::size_t length = entry.data[offset] | (entry.data[offset + 1] << 8);
        offset += 2;
        std::u16string text;
        for (std::size_t k = 0; k < length && offset + 2 <= entry.size; ++k, offset += 2) {
            text.push_back(static_cast<char16_t>(entry.data[offset] | (entry.data[offset + 1] << 8)));
        }
        strings.push_back(text);
    }
    strings.resize(16);
    return strings;
}

}  // namespace

win::HINSTANCE BuildModule(const ModuleChanges& changes) {
    std::vector<sim::ResourceEntry> entries;
    sim::ParseResourceImage(ResourceImage().data(), ResourceImage().size(), entries);

    if (changes.dropPackage) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [](const sim::ResourceEntry& e) { return e.typeName == u"MSP"; }),
                      entries.end());
    } else if (changes.package) {
        for (auto& entry : entries) {
            if (entry.typeName == u"MSP") {
                entry.size = static_cast<win::DWORD>(changes.package->size());
                entry.data = Keep(*changes.package);
            }
        }
    }

    for (const auto& [id, text] : changes.englishStrings) {
        const auto blockId = static_cast<win::WORD>(id / 16 + 1);
        auto block = std::find_if(entries.begin(), entries.end(), [&](const sim::ResourceEntry& e) {
            return e.typeName.empty() && e.typeId == 6 && e.nameId == blockId && e.language == 0x409;
        });
        std::vector<std::u16string> strings(16);
        if (block == entries.end()) {
            sim::ResourceEntry fresh;
            fresh.typeId = 6;
            fresh.nameId = blockId;
            fresh.language = 0x409;
            entries.push_back(fresh);
            block = entries.end() - 1;
        } else {
            strings = BlockStrings(*block);
        }
        strings[id % 16] = text;
        std::vector<std::pair<unsigned, std::u16string>> numbered;
        for (unsigned index = 0; index < 16; ++index) {
            numbered.emplace_back((blockId - 1U) * 16U + index, strings[index]);
        }
        std::vector<std::uint8_t> bytes = sim::BuildStringBlock(numbered, blockId);
        block->size = static_cast<win::DWORD>(bytes.size());
        block->data = Keep(std::move(bytes));
    }

    auto isDescription = [](const sim::ResourceEntry& e, unsigned id) {
        return e.typeName == u"TXT" && e.name.empty() && e.nameId == id;
    };
    for (unsigned id : changes.dropDescriptions) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const sim::ResourceEntry& e) { return isDescription(e, id); }),
                      entries.end());
    }
    for (const auto& [id, text] : changes.descriptions) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const sim::ResourceEntry& e) { return isDescription(e, id); }),
                      entries.end());
        sim::ResourceEntry entry;
        entry.typeName = u"TXT";
        entry.nameId = static_cast<win::WORD>(id);
        entry.language = 1046;
        entry.size = static_cast<win::DWORD>(text.size());
        entry.data = Keep(std::vector<std::uint8_t>(text.begin(), text.end()));
        entries.push_back(entry);
    }
    return sim::RegisterModule(std::move(entries));
}
