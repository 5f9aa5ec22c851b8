#include "tests/reliability_support.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

#include "messages/report.h"
#include "platform/simulated/sim_registry.h"
#include "tests/machine_fixture.h"

namespace fs = std::filesystem;

namespace {

// In one read: the packages are 10 MB, too many for a byte-wise stream.
std::string WholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string bytes(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

}  // namespace

TreeSnapshot SnapshotTree(const fs::path& root) {
    TreeSnapshot tree;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::none, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string relative = fs::relative(it->path(), root).generic_string();
        TreeEntry entry;
        if (it->is_symlink()) {
            entry.kind = 'l';
            entry.bytes = fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            entry.kind = 'd';
        } else {
            entry.bytes = WholeFile(it->path());
        }
        tree[relative] = std::move(entry);
    }
    return tree;
}

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

RegistryBlocks SnapshotRegistry() {
    RegistryBlocks blocks;
    std::istringstream in(sim::RegistryFileText());
    std::string line;
    std::string* current = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            current = &blocks[Upper(line.substr(1, line.size() - 2))];
        } else if (current != nullptr && !line.empty()) {
            *current += line + "\n";
        }
    }
    return blocks;
}

std::vector<std::string> ChangedKeys(const RegistryBlocks& before, const RegistryBlocks& after) {
    std::vector<std::string> changed;
    for (const auto& [key, lines] : before) {
        auto it = after.find(key);
        if (it == after.end() || it->second != lines) {
            changed.push_back(key);
        }
    }
    for (const auto& [key, lines] : after) {
        if (before.count(key) == 0) {
            changed.push_back(key);
        }
    }
    return changed;
}

std::string ClassesKeyName(std::u16string_view subKey) {
    return Upper("HKEY_LOCAL_MACHINE\\Software\\Classes\\" + sim::ToUtf8(subKey));
}

std::string MachineKeyName(std::u16string_view subKey) { return Upper("HKEY_LOCAL_MACHINE\\" + sim::ToUtf8(subKey)); }

bool IsPackagePrefix(const std::string& bytes) {
    const auto& package = PackageBytes();
    return bytes.size() <= package.size() && std::memcmp(bytes.data(), package.data(), bytes.size()) == 0;
}

namespace {

constexpr win::UINT kErrorStyle = 0x50010;
constexpr win::UINT kInformationStyle = 0x50040;
constexpr win::UINT kListStyle = 0x50000;

struct TableMessage {
    unsigned id;
    unsigned caption;
    win::UINT style;
    const char16_t* placeholder;  // empty: no value
};

constexpr TableMessage kTable[] = {
    {300, 311, kErrorStyle, u"%d"}, {301, 312, kInformationStyle, u"%s"}, {306, 313, kErrorStyle, u"%s"},
    {307, 311, kErrorStyle, u""},   {308, 311, kErrorStyle, u"%s"},       {309, 311, kErrorStyle, u""},
    {310, 311, kErrorStyle, u""},
};

bool IsSignedDecimal(std::u16string_view text) {
    if (!text.empty() && text.front() == u'-') {
        text.remove_prefix(1);
    }
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }) &&
           (text.size() == 1 || text.front() != u'0');
}

bool TextFits(const std::u16string& text, const std::u16string& format, std::u16string_view placeholder,
              const std::vector<std::u16string>& names) {
    if (text.empty()) {
        return true;  // the format's load failed
    }
    const std::size_t at = placeholder.empty() ? std::u16string::npos : format.find(placeholder);
    if (at == std::u16string::npos) {
        return text == format;
    }
    const std::u16string before = format.substr(0, at);
    const std::u16string after = format.substr(at + placeholder.size());
    if (text.size() < before.size() + after.size() || text.compare(0, before.size(), before) != 0 ||
        text.compare(text.size() - after.size(), after.size(), after) != 0) {
        return false;
    }
    const std::u16string value = text.substr(before.size(), text.size() - before.size() - after.size());
    if (placeholder == u"%d") {
        return IsSignedDecimal(value);
    }
    return std::find(names.begin(), names.end(), value) != names.end();
}

}  // namespace

std::set<unsigned> MessageIdsOf(const sim::MessageBoxRecord& box, const std::vector<std::u16string>& names) {
    std::set<unsigned> ids;
    if (box.owner != nullptr) {
        return ids;
    }
    if (box.style == kListStyle && box.caption == u"List of Products") {
        ids.insert(kListBox);
        return ids;
    }
    const win::LCID previous = win::GetThreadLocale();
    win::SetThreadLocale(box.threadLocale);
    for (const TableMessage& message : kTable) {
        if (box.style != message.style) {
            continue;
        }
        std::u16string format;
        std::u16string caption;
        LoadResourceString(sim::EmbeddedModule(), message.id, format, kStringLoadChars);
        LoadResourceString(sim::EmbeddedModule(), message.caption, caption, kStringLoadChars);
        if ((box.caption.empty() || box.caption == caption) && TextFits(box.text, format, message.placeholder, names)) {
            ids.insert(message.id);
        }
    }
    win::SetThreadLocale(previous);
    return ids;
}

std::string Describe(const sim::MessageBoxRecord& box) {
    std::ostringstream out;
    out << "box 0x" << std::hex << box.style << std::dec << " locale " << box.threadLocale << " \""
        << sim::ToUtf8(box.caption) << "\": \"" << sim::ToUtf8(box.text) << "\"";
    return out.str();
}
