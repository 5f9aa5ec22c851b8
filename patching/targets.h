// The installed products among the patch's targets.
#pragma once

#include <string>
#include <vector>

struct TargetProduct {
    std::u16string productCode;
    std::u16string targetVersion;
    std::u16string productName;
    std::u16string language;
    std::u16string patchCommandLine;
    std::u16string candidateVersions;
    std::u16string installedVersion;
};

// Filled once per install run, in target-list order; emptied by the entry.
extern std::vector<TargetProduct> TargetProducts;

// Appends one record for every installed or advertised product of the
// ";"-separated target list, up to its first empty entry.
void CollectTargetProducts(const std::u16string& targetList, const std::u16string& targetVersion,
                           const std::u16string& candidateVersions);
