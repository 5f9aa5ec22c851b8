// Writes the assembler padding that puts one resource's data of a compiled
// resource file (.res) on a page boundary once the file is placed, page-aligned,
// into the Linux executable. The kernel copies a page-aligned range from the
// executable to a new file page by page; an unaligned one costs it a third more.
//
// Usage: resource-data-offset RES TYPE NAME OUT.s   (TYPE and NAME as names, e.g. MSP IDR_MSP)
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kPage = 4096;

std::uint32_t Read32(const std::vector<unsigned char>& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

// A type or name at position: an id (0xFFFF and a number) gives "#n", a text
// gives itself (ASCII); position moves past it. False when it runs past limit.
bool ReadKey(const std::vector<unsigned char>& bytes, std::size_t& position, std::size_t limit,
             std::string& key) {
    if (position + 2 > limit) {
        return false;
    }
    if (bytes[position] == 0xFF && bytes[position + 1] == 0xFF) {
        if (position + 4 > limit) {
            return false;
        }
        key = "#" + std::to_string(bytes[position + 2] | (bytes[position + 3] << 8));
        position += 4;
        return true;
    }
    key.clear();
    while (position + 2 <= limit) {
        const unsigned c = bytes[position] | (bytes[position + 1] << 8);
        position += 2;
        if (c == 0) {
            return true;
        }
        // Names compare without regard to case.
        key.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32)
                                           : (c < 0x80 ? static_cast<char>(c) : '?'));
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: resource-data-offset RES TYPE NAME OUT.s\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                           std::istreambuf_iterator<char>()};
    std::size_t padding = 0;
    std::size_t offset = 0;
    while (offset + 8 <= bytes.size()) {
        const std::uint32_t dataSize = Read32(bytes, offset);
        const std::uint32_t headerSize = Read32(bytes, offset + 4);
        if (headerSize < 16 || offset + headerSize > bytes.size()) {
            break;
        }
        std::size_t position = offset + 8;
        std::string type;
        std::string name;
        if (!ReadKey(bytes, position, offset + headerSize, type) ||
            !ReadKey(bytes, position, offset + headerSize, name)) {
            break;
        }
        const std::size_t data = offset + headerSize;
        auto upper = [](std::string text) {
            for (char& c : text) {
                c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
            }
            return text;
        };
        if (type == upper(argv[2]) && name == upper(argv[3])) {
            padding = (kPage - data % kPage) % kPage;
            break;
        }
        offset = (data + dataSize + 3) & ~std::size_t{3};
    }
    std::ofstream out(argv[4], std::ios::trunc);
    out << "    .skip " << padding << "\n";
    return out ? 0 : 1;
}
