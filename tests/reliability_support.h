// What a run left behind on a simulated machine, and which messages a recorded
// box can stand for: the checks that the fault sweep and the hostile-surroundings
// tests share.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/simulated/sim.h"

// One entry of a folder tree: a file with its bytes, a folder, or a link with its target.
struct TreeEntry {
    char kind = 'f';  // 'f', 'd' or 'l'
    std::string bytes;
    bool operator==(const TreeEntry&) const = default;
};

// Every entry below root, keyed by its path relative to root ("/" separated).
using TreeSnapshot = std::map<std::string, TreeEntry>;
TreeSnapshot SnapshotTree(const std::filesystem::path& root);

// The simulated registry, one block of value lines per key, keyed by the key's
// full name in upper case.
using RegistryBlocks = std::map<std::string, std::string>;
RegistryBlocks SnapshotRegistry();

// Keys added, removed or changed between two snapshots (upper-case names).
std::vector<std::string> ChangedKeys(const RegistryBlocks& before, const RegistryBlocks& after);

// The full registry-file name of a key of HKEY_CLASSES_ROOT or HKEY_LOCAL_MACHINE, in upper case.
std::string ClassesKeyName(std::u16string_view subKey);
std::string MachineKeyName(std::u16string_view subKey);

// Whether bytes are the first bytes of the package the executable carries.
bool IsPackagePrefix(const std::string& bytes);

// The list box of the list mode: not an id of the message table.
constexpr unsigned kListBox = 0;

// The ids of the message table (300, 301, 306 to 310) that a recorded box may
// stand for, or kListBox: its style must be the id's, its caption the id's
// caption in the box's thread locale, and its text what the reporter composes
// for the id there, the value being a signed decimal for 300 and one of names
// for 301, 306 and 308. A text or caption that is empty (its string load
// failed) fits every id of that style. Call it with no faults injected.
std::set<unsigned> MessageIdsOf(const sim::MessageBoxRecord& box, const std::vector<std::u16string>& names);

// A readable line for a box, for assertion messages.
std::string Describe(const sim::MessageBoxRecord& box);
