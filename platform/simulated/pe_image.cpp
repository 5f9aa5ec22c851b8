#include "platform/simulated/pe_image.h"

#include <algorithm>

namespace pe_image {

namespace {

constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::size_t kHeadersSize = 0x200;
constexpr std::size_t kOptionalHeaderSize = 240;

void Put16(ImageBytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Align4(ImageBytes& out) {
    while (out.size() % 4 != 0) {
        out.push_back(0);
    }
}

std::size_t AlignUp(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

}  // namespace

void Put16At(ImageBytes& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value & 0xFF);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void Put32At(ImageBytes& bytes, std::size_t offset, std::uint32_t value) {
    Put16At(bytes, offset, static_cast<std::uint16_t>(value & 0xFFFF));
    Put16At(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t Get16At(const ImageBytes& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}

std::uint32_t Get32At(const ImageBytes& bytes, std::size_t offset) {
    return Get16At(bytes, offset) | (static_cast<std::uint32_t>(Get16At(bytes, offset + 2)) << 16);
}

ImageBytes BuildPeImage(const std::vector<TestResource>& resources, PeLayout* layout) {
    PeLayout where;
    ImageBytes image(kHeadersSize, 0);
    image[0] = 'M';
    image[1] = 'Z';
    where.peHeader = 0x40;
    Put32At(image, 0x3C, static_cast<std::uint32_t>(where.peHeader));
    image[where.peHeader] = 'P';
    image[where.peHeader + 1] = 'E';
    const std::size_t fileHeader = where.peHeader + 4;
    Put16At(image, fileHeader, 0x8664);
    Put16At(image, fileHeader + 2, resources.empty() ? 0 : 1);
    Put16At(image, fileHeader + 16, kOptionalHeaderSize);
    Put16At(image, fileHeader + 18, 0x2022);  // executable, large-address aware, DLL
    where.optionalHeader = fileHeader + 20;
    Put16At(image, where.optionalHeader, 0x20B);
    Put32At(image, where.optionalHeader + 32, 0x1000);  // section alignment
    Put32At(image, where.optionalHeader + 36, 0x200);   // file alignment
    Put32At(image, where.optionalHeader + 60, static_cast<std::uint32_t>(kHeadersSize));
    Put16At(image, where.optionalHeader + 68, 2);  // GUI subsystem
    Put32At(image, where.optionalHeader + 108, 16);
    where.resourceDirectory = where.optionalHeader + 112 + 2 * 8;
    where.sectionHeader = where.optionalHeader + kOptionalHeaderSize;
    if (resources.empty()) {
        Put32At(image, where.optionalHeader + 56, kSectionRva);
        if (layout != nullptr) {
            *layout = where;
        }
        return image;
    }

    // The tree: types, then names per type, then languages per name.
    std::vector<std::uint16_t> types;
    for (const auto& resource : resources) {
        if (std::find(types.begin(), types.end(), resource.type) == types.end()) {
            types.push_back(resource.type);
        }
    }
    std::vector<std::pair<std::uint16_t, std::vector<std::uint16_t>>> namesByType;
    for (std::uint16_t type : types) {
        std::vector<std::uint16_t> names;
        for (const auto& resource : resources) {
            if (resource.type == type &&
                std::find(names.begin(), names.end(), resource.name) == names.end()) {
                names.push_back(resource.name);
            }
        }
        namesByType.emplace_back(type, names);
    }
    auto languagesOf = [&](std::uint16_t type, std::uint16_t name) {
        std::vector<std::size_t> indexes;
        for (std::size_t i = 0; i < resources.size(); ++i) {
            if (resources[i].type == type && resources[i].name == name) {
                indexes.push_back(i);
            }
        }
        return indexes;
    };

    // Offsets inside the section: all directories, then data entries, then data.
    std::size_t next = 16 + 8 * types.size();
    std::vector<std::size_t> nameDirectories;
    for (const auto& [type, names] : namesByType) {
        nameDirectories.push_back(next);
        next += 16 + 8 * names.size();
    }
    std::vector<std::vector<std::size_t>> languageDirectories;
    for (const auto& [type, names] : namesByType) {
        std::vector<std::size_t> offsets;
        for (std::uint16_t name : names) {
            offsets.push_back(next);
            next += 16 + 8 * languagesOf(type, name).size();
        }
        languageDirectories.push_back(offsets);
    }
    const std::size_t dataEntries = next;
    next += 16 * resources.size();
    std::vector<std::size_t> dataOffsets;
    for (const auto& resource : resources) {
        next = AlignUp(next, 4);
        dataOffsets.push_back(next);
        next += resource.data.size();
    }
    ImageBytes section(AlignUp(next, 0x200), 0);

    auto putDirectory = [&](std::size_t at, std::size_t count) {
        Put16At(section, at + 14, static_cast<std::uint16_t>(count));
    };
    where.resourceSection = kHeadersSize;
    where.languageEntries.resize(resources.size());
    where.dataEntries.resize(resources.size());
    where.data.resize(resources.size());
    putDirectory(0, types.size());
    for (std::size_t t = 0; t < namesByType.size(); ++t) {
        const auto& [type, names] = namesByType[t];
        const std::size_t typeEntry = 16 + 8 * t;
        where.typeEntries.push_back(kHeadersSize + typeEntry);
        Put32At(section, typeEntry, type);
        Put32At(section, typeEntry + 4, 0x80000000U | static_cast<std::uint32_t>(nameDirectories[t]));
        putDirectory(nameDirectories[t], names.size());
        for (std::size_t n = 0; n < names.size(); ++n) {
            const std::size_t nameEntry = nameDirectories[t] + 16 + 8 * n;
            Put32At(section, nameEntry, names[n]);
            Put32At(section, nameEntry + 4,
                    0x80000000U | static_cast<std::uint32_t>(languageDirectories[t][n]));
            const auto indexes = languagesOf(type, names[n]);
            putDirectory(languageDirectories[t][n], indexes.size());
            for (std::size_t l = 0; l < indexes.size(); ++l) {
                const std::size_t index = indexes[l];
                const std::size_t languageEntry = languageDirectories[t][n] + 16 + 8 * l;
                const std::size_t dataEntry = dataEntries + 16 * index;
                Put32At(section, languageEntry, resources[index].language);
                Put32At(section, languageEntry + 4, static_cast<std::uint32_t>(dataEntry));
                Put32At(section, dataEntry, kSectionRva + static_cast<std::uint32_t>(dataOffsets[index]));
                Put32At(section, dataEntry + 4, static_cast<std::uint32_t>(resources[index].data.size()));
                std::copy(resources[index].data.begin(), resources[index].data.end(),
                          section.begin() + static_cast<std::ptrdiff_t>(dataOffsets[index]));
                where.languageEntries[index] = kHeadersSize + languageEntry;
                where.dataEntries[index] = kHeadersSize + dataEntry;
                where.data[index] = kHeadersSize + dataOffsets[index];
            }
        }
    }

    Put32At(image, where.optionalHeader + 56,
            kSectionRva + static_cast<std::uint32_t>(AlignUp(section.size(), 0x1000)));
    Put32At(image, where.resourceDirectory, kSectionRva);
    Put32At(image, where.resourceDirectory + 4, static_cast<std::uint32_t>(next));
    const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    std::copy(name, name + 8, image.begin() + static_cast<std::ptrdiff_t>(where.sectionHeader));
    Put32At(image, where.sectionHeader + 8, static_cast<std::uint32_t>(next));
    Put32At(image, where.sectionHeader + 12, kSectionRva);
    Put32At(image, where.sectionHeader + 16, static_cast<std::uint32_t>(section.size()));
    Put32At(image, where.sectionHeader + 20, static_cast<std::uint32_t>(kHeadersSize));
    Put32At(image, where.sectionHeader + 36, 0x40000040U);  // initialised data, readable
    image.insert(image.end(), section.begin(), section.end());
    if (layout != nullptr) {
        *layout = where;
    }
    return image;
}

ImageBytes VersionNode(const std::u16string& key, const ImageBytes& value, std::uint16_t valueLength,
                       std::uint16_t type, const std::vector<ImageBytes>& children) {
    ImageBytes node(6, 0);
    for (char16_t c : key) {
        Put16(node, c);
    }
    Put16(node, 0);
    Align4(node);
    node.insert(node.end(), value.begin(), value.end());
    for (const ImageBytes& child : children) {
        Align4(node);
        node.insert(node.end(), child.begin(), child.end());
    }
    Put16At(node, 0, static_cast<std::uint16_t>(node.size()));
    Put16At(node, 2, valueLength);
    Put16At(node, 4, type);
    return node;
}

ImageBytes FixedFileInfo(std::uint32_t fileMS, std::uint32_t fileLS, std::uint32_t productMS,
                         std::uint32_t productLS) {
    ImageBytes info(52, 0);
    Put32At(info, 0, 0xFEEF04BDU);
    Put32At(info, 4, 0x00010000U);
    Put32At(info, 8, fileMS);
    Put32At(info, 12, fileLS);
    Put32At(info, 16, productMS);
    Put32At(info, 20, productLS);
    Put32At(info, 24, 0x3F);
    Put32At(info, 32, 0x40004);
    Put32At(info, 36, 2);
    return info;
}

ImageBytes VersionBlock(std::uint32_t fileMS, std::uint32_t fileLS, std::uint32_t productMS,
                        std::uint32_t productLS) {
    std::u16string versionText;
    for (std::uint32_t part : {fileMS >> 16, fileMS & 0xFFFF, fileLS >> 16, fileLS & 0xFFFF}) {
        if (!versionText.empty()) {
            versionText += u'.';
        }
        for (char c : std::to_string(part)) {
            versionText += static_cast<char16_t>(c);
        }
    }
    ImageBytes text;
    for (char16_t c : versionText) {
        Put16(text, c);
    }
    Put16(text, 0);
    const ImageBytes fileVersion =
        VersionNode(u"FileVersion", text, static_cast<std::uint16_t>(versionText.size() + 1), 1, {});
    const ImageBytes table = VersionNode(u"040904B0", {}, 0, 1, {fileVersion});
    const ImageBytes strings = VersionNode(u"StringFileInfo", {}, 0, 1, {table});
    ImageBytes translation;
    Put16(translation, 0x0409);
    Put16(translation, 1200);
    const ImageBytes variables =
        VersionNode(u"VarFileInfo", {}, 0, 1, {VersionNode(u"Translation", translation, 4, 0, {})});
    return VersionNode(u"VS_VERSION_INFO", FixedFileInfo(fileMS, fileLS, productMS, productLS), 52, 0,
                       {strings, variables});
}

}  // namespace pe_image
