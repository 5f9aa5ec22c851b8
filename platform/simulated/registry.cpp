// The simulated registry: an in-memory tree of keys with typed values behind
// RegOpenKeyExW, RegQueryValueExW, RegDeleteValueW and RegCloseKey, and its
// text form, the registry file format that regedit writes.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "platform/simulated/sim.h"
#include "platform/simulated/sim_registry.h"
#include "platform/simulated/state.h"

namespace sim {
namespace {

constexpr win::DWORD kErrorKeyDeleted = 1018;
constexpr win::REGSAM kKeyCreateLink = 0x0020;
constexpr win::REGSAM kDelete = 0x00010000;
constexpr win::REGSAM kWriteDac = 0x00040000;
constexpr win::REGSAM kWriteOwner = 0x00080000;
constexpr win::REGSAM kMaximumAllowed = 0x02000000;
constexpr win::REGSAM kGenericAll = 0x10000000;
constexpr win::REGSAM kGenericWrite = 0x40000000;
constexpr win::REGSAM kGenericRead = 0x80000000;
constexpr win::REGSAM kKeyAllAccess = 0x000F003F;
constexpr win::REGSAM kWritingAccess =
    win::KEY_SET_VALUE | win::KEY_CREATE_SUB_KEY | kKeyCreateLink | kDelete | kWriteDac | kWriteOwner;

struct Value {
    win::DWORD type = win::REG_NONE;
    std::vector<std::uint8_t> data;
};

constexpr char16_t FoldChar(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

// Value names compare without regard to the case of ASCII letters, in the order
// of their upper-case forms; a value keeps its name as stored.
struct NameLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const {
        const std::size_t common = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < common; ++i) {
            const char16_t x = FoldChar(a[i]);
            const char16_t y = FoldChar(b[i]);
            if (x != y) {
                return x < y;
            }
        }
        return a.size() < b.size();
    }
};

// Value names are few and repeat in every product's keys: each is kept once,
// and a value holds its name's address. Comparing with a name reads that one
// copy, which stays in the cache, instead of a copy of its own for every value.
const std::u16string* InternedName(std::u16string_view name) {
    static std::unordered_set<std::u16string> names;
    return &*names.emplace(name).first;
}

struct InternedLess {
    using is_transparent = void;
    static std::u16string_view View(const std::u16string* name) { return *name; }
    static std::u16string_view View(std::u16string_view name) { return name; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
        return NameLess{}(View(a), View(b));
    }
};

using Values = std::map<const std::u16string*, Value, InternedLess>;

// Stores a value under name, the name's letter case included; false when the
// value was there already exactly so.
bool StoreValue(Values& values, std::u16string_view name, win::DWORD type, std::vector<std::uint8_t> data) {
    auto it = values.find(name);
    if (it == values.end()) {
        values.emplace(InternedName(name), Value{type, std::move(data)});
        return true;
    }
    bool changed = false;
    if (*it->first != name) {
        auto node = values.extract(it);
        node.key() = InternedName(name);
        it = values.insert(std::move(node)).position;
        changed = true;
    }
    if (it->second.type != type || it->second.data != data) {
        it->second = Value{type, std::move(data)};
        changed = true;
    }
    return changed;
}

bool EraseValue(Values& values, std::u16string_view name) {
    auto it = values.find(name);
    if (it == values.end()) {
        return false;
    }
    values.erase(it);
    return true;
}

// The same rule for the hash table of a key with many subkeys. Each entry
// keeps its name's hash, so that walking a bucket reads no names.
struct HashedName {
    std::size_t hash = 0;
    std::u16string_view name;

    explicit HashedName(std::u16string_view text) : name(text) {
        std::uint64_t value = 14695981039346656037ULL;
        for (char16_t c : text) {
            value = (value ^ FoldChar(c)) * 1099511628211ULL;
        }
        hash = static_cast<std::size_t>(value);
    }
};

struct NameHash {
    std::size_t operator()(const HashedName& name) const { return name.hash; }
};

struct NameEqual {
    bool operator()(const HashedName& a, const HashedName& b) const {
        return a.hash == b.hash && a.name.size() == b.name.size() &&
               std::equal(a.name.begin(), a.name.end(), b.name.begin(),
                          [](char16_t x, char16_t y) { return FoldChar(x) == FoldChar(y); });
    }
};

struct Key;
using Subkeys = std::map<std::u16string, std::shared_ptr<Key>, NameLess>;

struct Key {
    Values values;
    // Keyed by each subkey's name as it was created.
    Subkeys subkeys;
    // Beside the ordered map, for a key with many subkeys (the installer's key
    // of every product): the same subkeys by name in a hash table, so that a
    // lookup does not climb a deep tree of long names.
    std::unique_ptr<std::unordered_map<HashedName, std::shared_ptr<Key>*, NameHash, NameEqual>> index;
    bool readOnly = false;
    bool deleted = false;

    Key() = default;
    // The index points into this key's own map.
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
};

struct OpenKey {
    std::shared_ptr<Key> key;
    win::REGSAM access = 0;
    std::u16string path;
};

struct RegistryState {
    std::shared_ptr<Key> machine = std::make_shared<Key>();
    std::shared_ptr<Key> user = std::make_shared<Key>();
    std::map<std::uintptr_t, OpenKey> open;
    // Handles are tokens, never reused, so a stale handle is always recognised.
    std::uintptr_t nextHandle = 0x7D000000;
};

RegistryState& Registry() {
    static RegistryState state;
    return state;
}

// Raised by every change of a key or value, so that the machine file can tell
// whether there is anything to save without comparing whole registries.
std::uint64_t& Generation() {
    static std::uint64_t generation = 0;
    return generation;
}

void Changed() {
    ++Generation();
}

// Raised whenever keys leave the registry, which ends every remembered path.
std::uint64_t& RemovalEpoch() {
    static std::uint64_t epoch = 0;
    return epoch;
}

constexpr std::size_t kIndexedSubkeys = 64;

// Whether a name sorts after every subkey of the key.
bool AfterLastSubkey(const Key& key, std::u16string_view name) {
    return !key.subkeys.empty() && NameLess{}(key.subkeys.rbegin()->first, name);
}

// The slot of the subkey of that name; null when there is none.
std::shared_ptr<Key>* FindSubkey(Key& key, std::u16string_view name) {
    if (key.index) {
        auto it = key.index->find(HashedName(name));
        return it == key.index->end() ? nullptr : it->second;
    }
    auto it = key.subkeys.find(name);
    return it == key.subkeys.end() ? nullptr : &it->second;
}

// Adds a new, empty subkey that the caller knows to be missing.
std::shared_ptr<Key>* AddSubkey(Key& key, std::u16string_view name) {
    // Files are written in name order, so reading one adds each key at the end.
    auto hint = AfterLastSubkey(key, name) ? key.subkeys.end() : key.subkeys.lower_bound(name);
    auto it = key.subkeys.emplace_hint(hint, std::u16string(name), std::make_shared<Key>());
    if (key.index) {
        key.index->emplace(HashedName(it->first), &it->second);
    } else if (key.subkeys.size() >= kIndexedSubkeys) {
        key.index =
            std::make_unique<std::unordered_map<HashedName, std::shared_ptr<Key>*, NameHash, NameEqual>>();
        for (auto& [childName, slot] : key.subkeys) {
            key.index->emplace(HashedName(childName), &slot);
        }
    }
    Changed();
    return &it->second;
}

void EraseSubkey(Key& key, Subkeys::iterator it) {
    if (key.index) {
        key.index->erase(HashedName(it->first));
    }
    key.subkeys.erase(it);
}

void MarkDeleted(Key& key) {
    ++RemovalEpoch();
    key.deleted = true;
    for (auto& [name, child] : key.subkeys) {
        (void)name;
        MarkDeleted(*child);
    }
}

std::shared_ptr<Key> FindOrCreate(const std::shared_ptr<Key>& top,
                                  const std::vector<std::u16string>& components);
void Changed();

// Every machine has HKEY_LOCAL_MACHINE\Software\Classes, the key behind
// HKEY_CLASSES_ROOT.
void AddClassesKey(const std::shared_ptr<Key>& machine) {
    FindOrCreate(machine, {u"Software", u"Classes"});
}

void ResetRegistry() {
    Changed();
    RegistryState& registry = Registry();
    MarkDeleted(*registry.machine);
    MarkDeleted(*registry.user);
    registry = RegistryState{};
    AddClassesKey(registry.machine);
}
detail::ResetRegistration resetRegistry(&ResetRegistry);
detail::FailableRegistration registerRegOpenKeyExW("RegOpenKeyExW");
detail::FailableRegistration registerRegQueryValueExW("RegQueryValueExW");
detail::FailableRegistration registerRegDeleteValueW("RegDeleteValueW");
detail::FailableRegistration registerRegCloseKey("RegCloseKey");

std::u16string Folded(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& c : folded) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - 32);
        }
    }
    return folded;
}

// Calls visit with every non-empty backslash-separated component of path, in
// order, until it returns false; false then.
template <typename Visit>
bool ForEachComponent(std::u16string_view path, Visit visit) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) {
            end = path.size();
        }
        if (end > start && !visit(path.substr(start, end - start))) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

// The slot of the key a lenient path names below a key's slot; null when a key
// on the way is missing.
const std::shared_ptr<Key>* FindBelow(const std::shared_ptr<Key>* slot, std::u16string_view path) {
    ForEachComponent(path, [&](std::u16string_view component) {
        slot = FindSubkey(**slot, component);
        return slot != nullptr;
    });
    return slot;
}

// The same, creating every missing key on the way.
const std::shared_ptr<Key>* CreateBelow(const std::shared_ptr<Key>* slot, std::u16string_view path) {
    ForEachComponent(path, [&](std::u16string_view component) {
        std::shared_ptr<Key>* found = FindSubkey(**slot, component);
        slot = found != nullptr ? found : AddSubkey(**slot, component);
        return true;
    });
    return slot;
}

// The tree behind a predefined key and the path of its top below the tree's
// top; false for any other handle.
bool RootPath(win::HKEY root, const std::shared_ptr<Key>*& tree, std::u16string_view& prefix) {
    RegistryState& registry = Registry();
    if (root == win::HKEY_LOCAL_MACHINE || root == win::HKEY_CURRENT_USER) {
        tree = root == win::HKEY_LOCAL_MACHINE ? &registry.machine : &registry.user;
        prefix = u"";
        return true;
    }
    if (root == win::HKEY_CLASSES_ROOT) {
        tree = &registry.machine;
        prefix = u"Software\\Classes";
        return true;
    }
    return false;
}

// A root and the path of components below the tree's top that it stands for.
struct RootKey {
    std::shared_ptr<Key> tree;
    std::vector<std::u16string> prefix;
    std::u16string name;
};

std::optional<RootKey> Root(win::HKEY root) {
    RegistryState& registry = Registry();
    if (root == win::HKEY_LOCAL_MACHINE) {
        return RootKey{registry.machine, {}, u"HKEY_LOCAL_MACHINE"};
    }
    if (root == win::HKEY_CURRENT_USER) {
        return RootKey{registry.user, {}, u"HKEY_CURRENT_USER"};
    }
    if (root == win::HKEY_CLASSES_ROOT) {
        return RootKey{registry.machine, {u"Software", u"Classes"}, u"HKEY_CLASSES_ROOT"};
    }
    return std::nullopt;
}

// Components of a path as the hooks take it: empty components are skipped.
std::vector<std::u16string> LenientComponents(std::u16string_view path) {
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            parts.emplace_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

// Components of a path as RegOpenKeyExW takes it. Windows rejects an empty
// component (two backslashes in a row) at least some of the time; the
// simulation always does, and a leading backslash too. One trailing backslash is
// accepted.
std::optional<std::vector<std::u16string>> StrictComponents(std::u16string_view path) {
    if (!path.empty() && path.back() == u'\\') {
        path.remove_suffix(1);
    }
    std::vector<std::u16string> parts;
    if (path.empty()) {
        return parts;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find(u'\\', start);
        const std::u16string_view part =
            path.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
        if (part.empty()) {
            return std::nullopt;
        }
        parts.emplace_back(part);
        if (end == std::u16string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::shared_ptr<Key> Find(const std::shared_ptr<Key>& top, const std::vector<std::u16string>& components) {
    const std::shared_ptr<Key>* slot = &top;
    for (const auto& component : components) {
        slot = FindSubkey(**slot, component);
        if (slot == nullptr) {
            return nullptr;
        }
    }
    return *slot;
}

// The subkey of that name, added when missing.
std::shared_ptr<Key> ChildOrNew(const std::shared_ptr<Key>& key, std::u16string_view component) {
    // A name after the last one is new: reading a file in name order adds
    // each key without looking for it first.
    std::shared_ptr<Key>* found = AfterLastSubkey(*key, component) ? nullptr : FindSubkey(*key, component);
    return found != nullptr ? *found : *AddSubkey(*key, component);
}

std::shared_ptr<Key> FindOrCreate(const std::shared_ptr<Key>& top,
                                  const std::vector<std::u16string>& components) {
    const std::shared_ptr<Key>* slot = &top;
    for (const auto& component : components) {
        Key& key = **slot;
        std::shared_ptr<Key>* found = AfterLastSubkey(key, component) ? nullptr : FindSubkey(key, component);
        slot = found != nullptr ? found : AddSubkey(key, component);
    }
    return *slot;
}

std::vector<std::u16string> Joined(std::vector<std::u16string> prefix,
                                   const std::vector<std::u16string>& rest) {
    prefix.insert(prefix.end(), rest.begin(), rest.end());
    return prefix;
}

// The keys that hooks named last. The installer service asks about the same
// few keys of a product many times in a row, and each remembered one spares a
// walk through a key that may hold every product of the machine. An entry holds
// while no key has left the registry since.
struct RememberedKey {
    win::HKEY root = nullptr;
    std::u16string path;
    Key* key = nullptr;
    std::uint64_t epoch = 0;
};

struct RememberedKeys {
    RememberedKey entries[8];
    std::size_t next = 0;
};

RememberedKeys& Remembered() {
    static RememberedKeys remembered;
    return remembered;
}

Key* RecallKey(win::HKEY root, std::u16string_view path) {
    const std::uint64_t epoch = RemovalEpoch();
    for (const RememberedKey& entry : Remembered().entries) {
        if (entry.key != nullptr && entry.epoch == epoch && entry.root == root &&
            entry.path.size() == path.size() &&
            std::memcmp(entry.path.data(), path.data(), path.size() * sizeof(char16_t)) == 0) {
            return entry.key;
        }
    }
    return nullptr;
}

Key* RememberKey(win::HKEY root, std::u16string_view path, Key* key) {
    RememberedKeys& remembered = Remembered();
    RememberedKey& entry = remembered.entries[remembered.next];
    remembered.next = (remembered.next + 1) % std::size(remembered.entries);
    entry.root = root;
    entry.path.assign(path);
    entry.key = key;
    entry.epoch = RemovalEpoch();
    return key;
}

// The last path walked below each root, with the key at the end of each of its
// components: the paths of different products share everything up to the
// product's own key, and a walk starts where the last one parted from it.
struct WalkedPath {
    win::HKEY root = nullptr;
    std::u16string path;
    std::vector<std::pair<std::size_t, const std::shared_ptr<Key>*>> ends;
    std::uint64_t epoch = 0;
};

WalkedPath& LastWalk(win::HKEY root) {
    static WalkedPath walks[3];
    const std::size_t index = root == win::HKEY_LOCAL_MACHINE ? 0 : (root == win::HKEY_CURRENT_USER ? 1 : 2);
    return walks[index];
}

// The slot of the key a hook names, creating the missing ones when create is
// set; null when one is missing otherwise.
const std::shared_ptr<Key>* WalkHookPath(win::HKEY root, std::u16string_view subKey, bool create) {
    const std::shared_ptr<Key>* slot = nullptr;
    std::u16string_view prefix;
    if (!RootPath(root, slot, prefix)) {
        return nullptr;
    }
    slot = create ? CreateBelow(slot, prefix) : FindBelow(slot, prefix);
    if (slot == nullptr) {
        return nullptr;
    }
    WalkedPath& last = LastWalk(root);
    std::size_t start = 0;
    std::size_t kept = 0;
    if (last.root == root && last.epoch == RemovalEpoch()) {
        std::size_t same = 0;
        const std::size_t limit = std::min(last.path.size(), subKey.size());
        while (same < limit && last.path[same] == subKey[same]) {
            ++same;
        }
        // The deepest component that ends in both paths within what they share.
        while (kept < last.ends.size() && last.ends[kept].first <= same &&
               (last.ends[kept].first == subKey.size() || subKey[last.ends[kept].first] == u'\\')) {
            ++kept;
        }
        if (kept > 0) {
            start = last.ends[kept - 1].first;
            slot = last.ends[kept - 1].second;
        }
    }
    last.root = root;
    last.epoch = RemovalEpoch();
    last.path.assign(subKey);
    last.ends.resize(kept);
    std::size_t position = start;
    while (slot != nullptr && position < subKey.size()) {
        while (position < subKey.size() && subKey[position] == u'\\') {
            ++position;
        }
        if (position >= subKey.size()) {
            break;
        }
        std::size_t end = subKey.find(u'\\', position);
        if (end == std::u16string_view::npos) {
            end = subKey.size();
        }
        const std::u16string_view component = subKey.substr(position, end - position);
        std::shared_ptr<Key>* found = FindSubkey(**slot, component);
        if (found == nullptr && create) {
            found = AddSubkey(**slot, component);
        }
        slot = found;
        if (slot != nullptr) {
            last.ends.emplace_back(end, slot);
        }
        position = end;
    }
    if (slot == nullptr) {
        // A path that ends nowhere is no place to start from.
        last.epoch = RemovalEpoch() - 1;
    }
    return slot;
}

// The key a hook names; null when it does not exist. The hooks are called for
// every product of a machine, so the path is walked in place.
Key* FindHookKey(win::HKEY root, std::u16string_view subKey) {
    if (Key* known = RecallKey(root, subKey)) {
        return known;
    }
    const std::shared_ptr<Key>* slot = WalkHookPath(root, subKey, false);
    return slot == nullptr ? nullptr : RememberKey(root, subKey, slot->get());
}

Key* CreateHookKey(win::HKEY root, std::u16string_view subKey) {
    if (Key* known = RecallKey(root, subKey)) {
        return known;
    }
    const std::shared_ptr<Key>* slot = WalkHookPath(root, subKey, true);
    return slot == nullptr ? nullptr : RememberKey(root, subKey, slot->get());
}

// What a requested access amounts to on a key, or nothing when it is refused.
std::optional<win::REGSAM> GrantedAccess(const Key& key, win::REGSAM desired) {
    win::REGSAM access = desired & ~(kGenericRead | kGenericWrite | kGenericAll | kMaximumAllowed);
    if ((desired & kGenericRead) != 0) {
        access |= win::KEY_READ;
    }
    if ((desired & kGenericWrite) != 0) {
        access |= win::KEY_WRITE;
    }
    if ((desired & kGenericAll) != 0) {
        access |= kKeyAllAccess;
    }
    if ((desired & kMaximumAllowed) != 0) {
        access |= key.readOnly ? win::KEY_READ : kKeyAllAccess;
    }
    if (key.readOnly && (access & kWritingAccess) != 0) {
        return std::nullopt;
    }
    return access;
}

struct ResolvedHandle {
    std::shared_ptr<Key> key;
    win::REGSAM access = 0;
    std::u16string path;
};

// The key behind a predefined or opened handle.
std::optional<ResolvedHandle> Resolve(win::HKEY handle) {
    if (const auto rootKey = Root(handle)) {
        std::shared_ptr<Key> key = FindOrCreate(rootKey->tree, rootKey->prefix);
        return ResolvedHandle{key, key->readOnly ? win::KEY_READ : kKeyAllAccess, rootKey->name};
    }
    auto& open = Registry().open;
    auto it = open.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == open.end()) {
        return std::nullopt;
    }
    return ResolvedHandle{it->second.key, it->second.access, it->second.path};
}

std::u16string ValueName(win::LPCWSTR name) {
    return name == nullptr ? std::u16string() : std::u16string(name);
}

// ---- The registry file format --------------------------------------------------

constexpr std::string_view kFileHeader = "Windows Registry Editor Version 5.00";

// Appends text as UTF-8 with backslash and double quote escaped.
void AppendEscaped(std::string& out, std::u16string_view text) {
    const bool ascii = std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
    const std::string converted = ascii ? std::string() : ToUtf8(text);
    auto append = [&out](char c) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    };
    if (ascii) {
        for (char16_t c : text) {
            append(static_cast<char>(c));
        }
    } else {
        for (char c : converted) {
            append(c);
        }
    }
}


// The text of a REG_SZ value when it can be written as "text" and read back to
// the same bytes: one terminating NUL and no other, no line break, no lone
// surrogate.
std::optional<std::u16string> PlainStringData(const Value& value) {
    if (value.type != win::REG_SZ || value.data.size() < 2 || value.data.size() % 2 != 0) {
        return std::nullopt;
    }
    std::u16string text;
    for (std::size_t i = 0; i < value.data.size(); i += 2) {
        text.push_back(static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
    }
    if (text.back() != u'\0') {
        return std::nullopt;
    }
    text.pop_back();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\0' || c == u'\r' || c == u'\n') {
            return std::nullopt;
        }
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return std::nullopt;
            }
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return std::nullopt;
        }
    }
    return text;
}

void WriteValueLine(std::u16string_view name, const Value& value, std::string& out) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    auto appendName = [name](std::string& to) {
        if (name.empty()) {
            to += "@=";
            return;
        }
        to += '"';
        AppendEscaped(to, name);
        to += "\"=";
    };
    if (const auto text = PlainStringData(value)) {
        appendName(out);
        out += '"';
        AppendEscaped(out, *text);
        out += "\"\n";
        return;
    }
    if (value.type == win::REG_DWORD && value.data.size() == 4) {
        appendName(out);
        out += "dword:";
        for (int k = 3; k >= 0; --k) {
            out += kHexDigits[value.data[k] >> 4];
            out += kHexDigits[value.data[k] & 0xF];
        }
        out += '\n';
        return;
    }
    std::string line;
    appendName(line);
    char number[16];
    if (value.type == win::REG_BINARY) {
        line += "hex:";
    } else {
        std::snprintf(number, sizeof number, "%x", value.type);
        line += std::string("hex(") + number + "):";
    }
    // Long data is wrapped the way regedit does it: a backslash, then two spaces.
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        line += kHexDigits[value.data[i] >> 4];
        line += kHexDigits[value.data[i] & 0xF];
        if (i + 1 < value.data.size()) {
            line += ",";
            if (line.size() > 76) {
                out += line + "\\\n";
                line = "  ";
            }
        }
    }
    out += line + "\n";
}

// Where the text goes: out fills up and is handed on in pieces of about this size.
constexpr std::size_t kFilePieceBytes = std::size_t{1} << 20;

// path is the key's own path; it is lengthened for each subkey and given back
// as it came.
void WriteKey(const Key& key, std::string& path, bool isTop, std::string& out,
              const std::function<void(std::string_view)>& sink) {
    if (!isTop || !key.values.empty()) {
        out += '[';
        out += path;
        out += "]\n";
        for (const auto& [name, value] : key.values) {
            WriteValueLine(*name, value, out);
        }
        out += '\n';
        if (out.size() >= kFilePieceBytes) {
            sink(out);
            out.clear();
        }
    }
    const std::size_t length = path.size();
    for (const auto& [name, child] : key.subkeys) {
        path += '\\';
        path += ToUtf8(name);
        WriteKey(*child, path, false, out, sink);
        path.resize(length);
    }
}

// The lines of a registry file, without their line breaks, each decoded only
// when it is read: a machine with many products has a file of many megabytes.
class FileLines {
public:
    explicit FileLines(std::string_view bytes);
    // The next line; false after the last one.
    bool Next(std::u16string& line);

private:
    bool utf16_ = false;
    std::u16string wide_;      // the text of a UTF-16 file
    std::string_view narrow_;  // the bytes of a UTF-8 file, after any byte-order mark
    std::size_t position_ = 0;
    bool done_ = false;
};

struct FileParser {
    explicit FileParser(std::string_view bytes) : lines(bytes) {}
    FileLines lines;
    std::size_t index = 0;
    std::string error;
    std::shared_ptr<Key> machine = std::make_shared<Key>();
    std::shared_ptr<Key> user = std::make_shared<Key>();
    std::shared_ptr<Key> current;
    // The path of the last key line below its root and the key at the end of
    // each component: key lines in the writer's order share most of their path
    // with the line before.
    const Key* lastStart = nullptr;
    std::u16string lastBelow;
    std::vector<std::pair<std::size_t, std::shared_ptr<Key>>> lastEnds;

    bool Fail(std::size_t lineIndex, const std::string& what) {
        error = "line " + std::to_string(lineIndex + 1) + ": " + what;
        return false;
    }
};

std::u16string_view TrimmedView(std::u16string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t')) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::u16string Trimmed(std::u16string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t')) {
        --end;
    }
    return std::u16string(text.substr(begin, end - begin));
}

FileLines::FileLines(std::string_view bytes) {
    utf16_ = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
             static_cast<unsigned char>(bytes[1]) == 0xFE;
    if (utf16_) {
        // regedit's own files are UTF-16LE with a byte-order mark.
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            wide_.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                  (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        }
    } else {
        if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
            bytes.remove_prefix(3);
        }
        narrow_ = bytes;
    }
}

// A line break byte never occurs inside a UTF-8 sequence, so splitting the
// bytes gives the lines that decoding first would.
bool FileLines::Next(std::u16string& line) {
    if (done_) {
        return false;
    }
    auto take = [this](const auto& text, auto lineFeed, auto carriageReturn) {
        std::size_t end = text.find(lineFeed, position_);
        if (end == text.npos) {
            end = text.size();
        }
        std::size_t length = end - position_;
        if (length > 0 && text[end - 1] == carriageReturn) {
            --length;
        }
        const auto piece = text.substr(position_, length);
        position_ = end + 1;
        done_ = position_ > text.size();
        return piece;
    };
    if (utf16_) {
        line.assign(take(std::u16string_view(wide_), u'\n', u'\r'));
    } else {
        const std::string_view bytes = take(narrow_, '\n', '\r');
        if (std::all_of(bytes.begin(), bytes.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
            line.assign(bytes.begin(), bytes.end());
        } else {
            line = FromUtf8(bytes);
        }
    }
    return true;
}

// Reads a quoted text starting at text[position] == '"'; position ends after the
// closing quote.
bool ReadQuoted(std::u16string_view text, std::size_t& position, std::u16string& out, std::string& fault) {
    ++position;
    while (position < text.size()) {
        const char16_t c = text[position++];
        if (c == u'"') {
            return true;
        }
        if (c == u'\\') {
            if (position >= text.size() || (text[position] != u'\\' && text[position] != u'"')) {
                fault = "unknown escape in a quoted text (only \\\\ and \\\" are allowed)";
                return false;
            }
            out.push_back(text[position++]);
            continue;
        }
        out.push_back(c);
    }
    fault = "quoted text without its closing quote";
    return false;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

std::optional<win::DWORD> ParseHexNumber(std::u16string_view text) {
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    win::DWORD number = 0;
    for (char16_t c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        number = (number << 4) | static_cast<win::DWORD>(digit);
    }
    return number;
}

bool ParseHexBytes(std::u16string_view text, std::vector<std::uint8_t>& bytes) {
    const std::u16string trimmed = Trimmed(text);
    if (trimmed.empty()) {
        return true;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = trimmed.find(u',', start);
        const std::u16string item = Trimmed(std::u16string_view(trimmed).substr(
            start, comma == std::u16string::npos ? std::u16string::npos : comma - start));
        const auto number = ParseHexNumber(item);
        if (item.size() > 2 || !number) {
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(*number));
        if (comma == std::u16string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

bool ParseKeyLine(FileParser& parser, std::size_t lineIndex, std::u16string_view line) {
    if (line.back() != u']') {
        return parser.Fail(lineIndex, "key name without its closing ]");
    }
    std::u16string_view path = line.substr(1, line.size() - 2);
    const bool removal = !path.empty() && path.front() == u'-';
    if (removal) {
        path.remove_prefix(1);
    }
    const std::size_t slash = path.find(u'\\');
    const std::u16string rootName = Folded(path.substr(0, slash));
    std::shared_ptr<Key> tree;
    const bool classes = rootName == u"HKEY_CLASSES_ROOT";
    if (rootName == u"HKEY_LOCAL_MACHINE" || classes) {
        tree = parser.machine;
    } else if (rootName == u"HKEY_CURRENT_USER") {
        tree = parser.user;
    } else {
        return parser.Fail(lineIndex, "unknown root key \"" + ToUtf8(path.substr(0, slash)) + "\"");
    }
    const std::u16string_view below =
        slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash);
    if (removal) {
        parser.current = nullptr;
        parser.lastStart = nullptr;
        std::vector<std::u16string> components = LenientComponents(below);
        if (classes) {
            components = Joined({u"Software", u"Classes"}, components);
        }
        if (components.empty()) {
            return parser.Fail(lineIndex, "a root key cannot be removed");
        }
        std::vector<std::u16string> parent(components.begin(), components.end() - 1);
        if (auto key = Find(tree, parent)) {
            if (auto it = key->subkeys.find(std::u16string_view(components.back()));
                it != key->subkeys.end()) {
                EraseSubkey(*key, it);
            }
        }
        return true;
    }
    const std::shared_ptr<Key> start = classes ? FindOrCreate(tree, {u"Software", u"Classes"}) : tree;
    std::shared_ptr<Key> key = start;
    std::size_t position = 0;
    std::size_t kept = 0;
    if (parser.lastStart == start.get()) {
        std::size_t same = 0;
        const std::size_t limit = std::min(parser.lastBelow.size(), below.size());
        while (same < limit && parser.lastBelow[same] == below[same]) {
            ++same;
        }
        while (kept < parser.lastEnds.size() && parser.lastEnds[kept].first <= same &&
               (parser.lastEnds[kept].first == below.size() || below[parser.lastEnds[kept].first] == u'\\')) {
            ++kept;
        }
        if (kept > 0) {
            position = parser.lastEnds[kept - 1].first;
            key = parser.lastEnds[kept - 1].second;
        }
    }
    parser.lastEnds.resize(kept);
    while (position < below.size()) {
        if (below[position] == u'\\') {
            ++position;
            continue;
        }
        std::size_t end = below.find(u'\\', position);
        if (end == std::u16string_view::npos) {
            end = below.size();
        }
        key = ChildOrNew(key, below.substr(position, end - position));
        parser.lastEnds.emplace_back(end, key);
        position = end;
    }
    parser.lastStart = start.get();
    parser.lastBelow.assign(below);
    parser.current = key;
    return true;
}

bool ParseValueLine(FileParser& parser, std::size_t lineIndex, std::u16string_view line) {
    if (!parser.current) {
        return parser.Fail(lineIndex, "value outside a key");
    }
    std::u16string name;
    std::size_t position = 0;
    std::string fault;
    if (line[0] == u'@') {
        position = 1;
    } else if (!ReadQuoted(line, position, name, fault)) {
        return parser.Fail(lineIndex, fault);
    }
    while (position < line.size() && (line[position] == u' ' || line[position] == u'\t')) {
        ++position;
    }
    if (position >= line.size() || line[position] != u'=') {
        return parser.Fail(lineIndex, "value name not followed by =");
    }
    ++position;
    const std::u16string_view data = TrimmedView(line.substr(position));
    Value value;
    if (data == u"-") {
        EraseValue(parser.current->values, name);
        return true;
    }
    if (!data.empty() && data[0] == u'"') {
        std::size_t end = 0;
        std::u16string text;
        if (!ReadQuoted(data, end, text, fault)) {
            return parser.Fail(lineIndex, fault);
        }
        if (end != data.size()) {
            return parser.Fail(lineIndex, "text after the closing quote of a value");
        }
        value.type = win::REG_SZ;
        text.push_back(u'\0');
        value.data.reserve(text.size() * 2);
        for (char16_t c : text) {
            value.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
            value.data.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    } else if (Folded(data.substr(0, 6)) == u"DWORD:") {
        const auto number = ParseHexNumber(data.substr(6));
        if (!number) {
            return parser.Fail(lineIndex, "dword: needs one to eight hexadecimal digits");
        }
        value.type = win::REG_DWORD;
        value.data.reserve(4);
        for (int shift = 0; shift < 32; shift += 8) {
            value.data.push_back(static_cast<std::uint8_t>(*number >> shift));
        }
    } else if (Folded(data.substr(0, 3)) == u"HEX") {
        std::size_t colon = data.find(u':');
        if (colon == std::u16string::npos) {
            return parser.Fail(lineIndex, "hex data without its colon");
        }
        const std::u16string typeText(data.substr(3, colon - 3));
        if (typeText.empty()) {
            value.type = win::REG_BINARY;
        } else {
            const auto type =
                typeText.size() > 2 && typeText.front() == u'(' && typeText.back() == u')'
                    ? ParseHexNumber(std::u16string_view(typeText).substr(1, typeText.size() - 2))
                    : std::nullopt;
            if (!type) {
                return parser.Fail(lineIndex, "hex(...) needs a hexadecimal type number");
            }
            value.type = *type;
        }
        std::u16string bytes(data.substr(colon + 1));
        // Continuation lines: the data goes on while a line ends in a backslash.
        while (!bytes.empty() && bytes.back() == u'\\') {
            bytes.pop_back();
            std::u16string next;
            if (!parser.lines.Next(next)) {
                return parser.Fail(lineIndex, "continued hex data at the end of the file");
            }
            ++parser.index;
            bytes += Trimmed(next);
        }
        if (!ParseHexBytes(bytes, value.data)) {
            return parser.Fail(lineIndex, "malformed hex bytes");
        }
    } else {
        return parser.Fail(lineIndex, "unknown kind of value data");
    }
    StoreValue(parser.current->values, name, value.type, std::move(value.data));
    return true;
}

}  // namespace

// ---- Hooks ---------------------------------------------------------------------

void CreateRegistryKey(win::HKEY root, std::u16string_view subKey) {
    CreateHookKey(root, subKey);
}

bool DeleteRegistryKey(win::HKEY root, std::u16string_view subKey) {
    const auto rootKey = Root(root);
    if (!rootKey) {
        return false;
    }
    const std::vector<std::u16string> components = Joined(rootKey->prefix, LenientComponents(subKey));
    if (components.empty()) {
        return false;
    }
    std::shared_ptr<Key> parent =
        Find(rootKey->tree, std::vector<std::u16string>(components.begin(), components.end() - 1));
    if (!parent) {
        return false;
    }
    auto it = parent->subkeys.find(std::u16string_view(components.back()));
    if (it == parent->subkeys.end()) {
        return false;
    }
    MarkDeleted(*it->second);
    EraseSubkey(*parent, it);
    Changed();
    return true;
}

bool RegistryKeyExists(win::HKEY root, std::u16string_view subKey) {
    return FindHookKey(root, subKey) != nullptr;
}

std::vector<std::u16string> RegistrySubkeyNames(win::HKEY root, std::u16string_view subKey) {
    std::vector<std::u16string> names;
    if (Key* key = FindHookKey(root, subKey)) {
        for (const auto& [name, child] : key->subkeys) {
            (void)child;
            names.push_back(name);
        }
    }
    return names;
}

void SetRegistryValue(win::HKEY root, std::u16string_view subKey, std::u16string_view name, win::DWORD type,
                      std::vector<std::uint8_t> data) {
    if (Key* key = CreateHookKey(root, subKey)) {
        // Storing what is already there is no change.
        if (StoreValue(key->values, name, type, std::move(data))) {
            Changed();
        }
    }
}

void SetRegistryString(win::HKEY root, std::u16string_view subKey, std::u16string_view name,
                       std::u16string_view text, win::DWORD type) {
    std::vector<std::uint8_t> data;
    for (char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    SetRegistryValue(root, subKey, name, type, std::move(data));
}

void SetRegistryDword(win::HKEY root, std::u16string_view subKey, std::u16string_view name,
                      win::DWORD value) {
    SetRegistryValue(root, subKey, name, win::REG_DWORD,
                     {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

bool DeleteRegistryValue(win::HKEY root, std::u16string_view subKey, std::u16string_view name) {
    Key* key = FindHookKey(root, subKey);
    if (key == nullptr || !EraseValue(key->values, name)) {
        return false;
    }
    Changed();
    return true;
}

std::optional<RegistryValue> ReadRegistryValue(win::HKEY root, std::u16string_view subKey,
                                               std::u16string_view name) {
    Key* key = FindHookKey(root, subKey);
    if (key == nullptr) {
        return std::nullopt;
    }
    auto it = key->values.find(name);
    if (it == key->values.end()) {
        return std::nullopt;
    }
    return RegistryValue{it->second.type, it->second.data};
}

std::optional<std::u16string> ReadRegistryValueText(win::HKEY root, std::u16string_view subKey,
                                                    std::u16string_view name) {
    Key* key = FindHookKey(root, subKey);
    if (key == nullptr) {
        return std::nullopt;
    }
    auto it = key->values.find(name);
    if (it == key->values.end()) {
        return std::nullopt;
    }
    const Value& value = it->second;
    if (value.type == win::REG_DWORD && value.data.size() == 4) {
        const win::DWORD number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                  (static_cast<win::DWORD>(value.data[3]) << 24);
        return FromUtf8(std::to_string(number));
    }
    if (value.type != win::REG_SZ && value.type != win::REG_EXPAND_SZ) {
        return std::nullopt;
    }
    std::u16string text;
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const auto c = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
        if (c == u'\0') {
            break;
        }
        text.push_back(c);
    }
    return text;
}

std::optional<std::u16string> ReadRegistryString(win::HKEY root, std::u16string_view subKey,
                                                 std::u16string_view name) {
    const auto value = ReadRegistryValue(root, subKey, name);
    if (!value || (value->type != win::REG_SZ && value->type != win::REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    std::u16string text;
    for (std::size_t i = 0; i + 1 < value->data.size(); i += 2) {
        const auto c = static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8));
        if (c == u'\0') {
            break;
        }
        text.push_back(c);
    }
    return text;
}

std::optional<win::DWORD> ReadRegistryDword(win::HKEY root, std::u16string_view subKey,
                                            std::u16string_view name) {
    const auto value = ReadRegistryValue(root, subKey, name);
    if (!value || value->type != win::REG_DWORD || value->data.size() != 4) {
        return std::nullopt;
    }
    return value->data[0] | (value->data[1] << 8) | (value->data[2] << 16) |
           (static_cast<win::DWORD>(value->data[3]) << 24);
}

bool MakeRegistryKeyReadOnly(win::HKEY root, std::u16string_view subKey) {
    Key* key = FindHookKey(root, subKey);
    if (key == nullptr) {
        return false;
    }
    key->readOnly = true;
    return true;
}

void WriteRegistryFileText(const std::function<void(std::string_view)>& sink) {
    std::string out = std::string(kFileHeader) + "\n\n";
    out.reserve(kFilePieceBytes + 4096);
    std::string path = "HKEY_LOCAL_MACHINE";
    WriteKey(*Registry().machine, path, true, out, sink);
    path = "HKEY_CURRENT_USER";
    WriteKey(*Registry().user, path, true, out, sink);
    if (!out.empty()) {
        sink(out);
    }
}

std::string RegistryFileText() {
    std::string text;
    WriteRegistryFileText([&text](std::string_view piece) { text += piece; });
    return text;
}

std::uint64_t RegistryGeneration() {
    return Generation();
}

bool LoadRegistryFileText(std::string_view text, std::string& error) {
    FileParser parser(text);
    bool headerSeen = false;
    std::u16string raw;
    while (parser.lines.Next(raw)) {
        const std::size_t lineIndex = parser.index++;
        const std::u16string_view line = TrimmedView(raw);
        if (line.empty() || line[0] == u';') {
            continue;
        }
        if (!headerSeen) {
            if (line != FromUtf8(kFileHeader)) {
                parser.Fail(lineIndex, "the file does not start with \"" + std::string(kFileHeader) + "\"");
                error = parser.error;
                return false;
            }
            headerSeen = true;
            continue;
        }
        bool parsed = false;
        if (line[0] == u'[') {
            parsed = ParseKeyLine(parser, lineIndex, line);
        } else if (line[0] == u'"' || line[0] == u'@') {
            parsed = ParseValueLine(parser, lineIndex, line);
        } else {
            parsed = parser.Fail(lineIndex, "neither a key nor a value: \"" + ToUtf8(line) + "\"");
        }
        if (!parsed) {
            error = parser.error;
            return false;
        }
    }
    if (!headerSeen) {
        error = "the file is empty: no \"" + std::string(kFileHeader) + "\" line";
        return false;
    }
    RegistryState& registry = Registry();
    MarkDeleted(*registry.machine);
    MarkDeleted(*registry.user);
    registry.machine = parser.machine;
    registry.user = parser.user;
    AddClassesKey(registry.machine);
    Changed();
    return true;
}

}  // namespace sim

// ---- The Windows functions ---------------------------------------------------

namespace win {

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD /*options*/, REGSAM desired, PHKEY result) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("RegOpenKeyExW", ERROR_ACCESS_DENIED, &error)) {
        if (result != nullptr) {
            *result = nullptr;
        }
        return static_cast<LSTATUS>(error);
    }
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    const auto parent = sim::Resolve(key);
    if (!parent) {
        return ERROR_INVALID_HANDLE;
    }
    if (parent->key->deleted) {
        return sim::kErrorKeyDeleted;
    }
    const auto components = sim::StrictComponents(subKey == nullptr ? std::u16string_view() : subKey);
    if (!components) {
        return ERROR_INVALID_PARAMETER;
    }
    std::shared_ptr<sim::Key> target = sim::Find(parent->key, *components);
    if (!target) {
        return ERROR_FILE_NOT_FOUND;
    }
    const auto access = sim::GrantedAccess(*target, desired);
    if (!access) {
        return ERROR_ACCESS_DENIED;
    }
    std::u16string path = parent->path;
    for (const auto& component : *components) {
        path += u"\\" + component;
    }
    sim::RegistryState& registry = sim::Registry();
    registry.nextHandle += 4;
    const std::uintptr_t handle = registry.nextHandle;
    registry.open[handle] = sim::OpenKey{target, *access, path};
    sim::detail::TrackOpen(reinterpret_cast<const void*>(handle), "key", sim::ToUtf8(path));
    *result = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("RegQueryValueExW", ERROR_ACCESS_DENIED, &error)) {
        return static_cast<LSTATUS>(error);
    }
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    const auto resolved = sim::Resolve(key);
    if (!resolved) {
        return ERROR_INVALID_HANDLE;
    }
    if (resolved->key->deleted) {
        return sim::kErrorKeyDeleted;
    }
    if ((resolved->access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    auto it = resolved->key->values.find(sim::ValueName(valueName));
    if (it == resolved->key->values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const sim::Value& value = it->second;
    if (type != nullptr) {
        *type = value.type;
    }
    const auto size = static_cast<DWORD>(value.data.size());
    if (dataSize == nullptr) {
        return ERROR_SUCCESS;
    }
    if (data == nullptr) {
        *dataSize = size;
        return ERROR_SUCCESS;
    }
    if (*dataSize < size) {
        // The buffer's contents are undefined then; the simulation leaves them alone.
        *dataSize = size;
        return static_cast<LSTATUS>(ERROR_MORE_DATA);
    }
    // The bytes as stored: a string stored without its NUL comes back without one.
    std::copy(value.data.begin(), value.data.end(), data);
    *dataSize = size;
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("RegDeleteValueW", ERROR_ACCESS_DENIED, &error)) {
        return static_cast<LSTATUS>(error);
    }
    const auto resolved = sim::Resolve(key);
    if (!resolved) {
        return ERROR_INVALID_HANDLE;
    }
    if (resolved->key->deleted) {
        return sim::kErrorKeyDeleted;
    }
    if ((resolved->access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (!sim::EraseValue(resolved->key->values, sim::ValueName(valueName))) {
        return ERROR_FILE_NOT_FOUND;
    }
    sim::Changed();
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("RegCloseKey", ERROR_INVALID_HANDLE, &error)) {
        return static_cast<LSTATUS>(error);
    }
    if (sim::Root(key)) {
        // Closing a predefined key is allowed and changes nothing.
        return ERROR_SUCCESS;
    }
    auto& open = sim::Registry().open;
    auto it = open.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == open.end()) {
        return ERROR_INVALID_HANDLE;
    }
    open.erase(it);
    sim::detail::TrackClose(key);
    return ERROR_SUCCESS;
}

}  // namespace win
