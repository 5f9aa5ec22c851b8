// Modules like the executable's own, with parts replaced, for tests that need
// another package, other version strings or other descriptions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

struct ModuleChanges {
    // The package resource's bytes; nullopt keeps the built one.
    std::optional<std::vector<std::uint8_t>> package;
    bool dropPackage = false;
    // English strings to replace; an empty text removes the string.
    std::vector<std::pair<unsigned, std::u16string>> englishStrings;
    // Descriptions by id to add or replace (type "TXT", language 1046).
    std::vector<std::pair<unsigned, std::string>> descriptions;
    // Description ids to remove.
    std::vector<unsigned> dropDescriptions;
};

// A module holding the executable's resources with the changes applied.
win::HINSTANCE BuildModule(const ModuleChanges& changes);
