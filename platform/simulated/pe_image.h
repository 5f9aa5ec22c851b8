// Builds small Windows PE32+ images and version blocks byte by byte: the host
// modules of simulated machines, and well-formed and deliberately damaged
// files for the version library's tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pe_image {

using ImageBytes = std::vector<std::uint8_t>;

// One resource of a test image.
struct TestResource {
    std::uint16_t type = 0;
    std::uint16_t name = 0;
    std::uint16_t language = 0;
    ImageBytes data;
};

// Where the interesting fields of a built image lie (file offsets).
struct PeLayout {
    std::size_t peHeader = 0;                  // "PE\0\0"
    std::size_t optionalHeader = 0;            // its magic
    std::size_t resourceDirectory = 0;         // the resource data directory entry (RVA, size)
    std::size_t sectionHeader = 0;             // the ".rsrc" section header
    std::size_t resourceSection = 0;           // the root resource directory
    std::vector<std::size_t> typeEntries;      // root entries, in resource order of types
    std::vector<std::size_t> languageEntries;  // one per resource, in the order given
    std::vector<std::size_t> dataEntries;      // one per resource, in the order given
    std::vector<std::size_t> data;             // one per resource, in the order given
};

// A DLL image whose ".rsrc" section holds the resources; with none, the image
// has no resource section at all. Resources of one type and name are grouped
// in the order given.
ImageBytes BuildPeImage(const std::vector<TestResource>& resources, PeLayout* layout = nullptr);

// A version node: key, value (valueLength as stored, in characters for text)
// and children, laid out with the 32-bit alignment the format uses.
ImageBytes VersionNode(const std::u16string& key, const ImageBytes& value, std::uint16_t valueLength,
                       std::uint16_t type, const std::vector<ImageBytes>& children);

// The 52-byte fixed file info with the given versions.
ImageBytes FixedFileInfo(std::uint32_t fileMS, std::uint32_t fileLS, std::uint32_t productMS,
                         std::uint32_t productLS);

// A complete VS_VERSIONINFO block: the fixed info, a StringFileInfo with
// FileVersion text for 040904B0, and a VarFileInfo translation.
ImageBytes VersionBlock(std::uint32_t fileMS, std::uint32_t fileLS, std::uint32_t productMS,
                        std::uint32_t productLS);

void Put16At(ImageBytes& bytes, std::size_t offset, std::uint16_t value);
void Put32At(ImageBytes& bytes, std::size_t offset, std::uint32_t value);
std::uint16_t Get16At(const ImageBytes& bytes, std::size_t offset);
std::uint32_t Get32At(const ImageBytes& bytes, std::size_t offset);

}  // namespace pe_image
