#include "patching/targets.h"

#include "installer/queries.h"

std::vector<TargetProduct> TargetProducts;

void CollectTargetProducts(const std::u16string& targetList, const std::u16string& targetVersion,
                           const std::u16string& candidateVersions) {
    // The walk moves an offset through the list instead of copying what remains,
    // so that long target lists cost linear time.
    const std::u16string working = targetList + u";";
    std::size_t start = 0;
    while (true) {
        const std::size_t separator = working.find(u';', start);
        // An empty entry ends the walk: entries behind it are never looked at.
        if (separator == std::u16string::npos || separator == start) {
            return;
        }
        TargetProduct record;
        record.targetVersion = targetVersion;
        record.candidateVersions = candidateVersions;
        record.productCode = working.substr(start, separator - start);
        if (IsProductInstalled(record.productCode)) {
            record.installedVersion = GetInstalledVersion(record.productCode);
            GetProductNameAndLanguage(record.productCode, record.productName, record.language);
            TargetProducts.push_back(std::move(record));
        }
        start = separator + 1;
    }
}
