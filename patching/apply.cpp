#include "patching/apply.h"

#include "app/entry.h"
#include "common/text.h"
#include "installer/queries.h"
#include "installer/versions.h"
#include "messages/report.h"
#include "patching/targets.h"
#include "patching/transforms.h"
#include "payload/extract.h"
#include "platform/platform.h"

namespace {

// The installer command line is built in an area of this many characters.
constexpr std::size_t kPatchCommandLineChars = 1024;

void ApplyPatch(TargetProduct& product, const FourPartVersion& installed, const std::u16string& packagePath) {
    RemoveProductTransforms(product.productCode, installed);
    std::u16string commandLine = u"PATCH=\"" + packagePath + u"\"";
    // A path that does not fit the area is cut there rather than written past it.
    product.patchCommandLine =
        std::u16string(CutWithoutSplittingPair(commandLine, kPatchCommandLineChars - 1));
    const win::UINT result =
        win::MsiConfigureProductExW(product.productCode.c_str(), win::INSTALLLEVEL_DEFAULT,
                                    win::INSTALLSTATE_DEFAULT, product.patchCommandLine.c_str());
    if (result == win::ERROR_SUCCESS) {
        ReportMessage(kMessageInstalled);
    } else {
        win::SetLastError(result);
        ReportMessage(kMessageInstallProblem);
    }
}

enum class CandidateOutcome { Applied, NotDesigned, Unnecessary };

// Tries the candidates from left to right; a version is tried only when a ","
// follows it. The walk keeps an offset instead of cutting the text.
CandidateOutcome WalkCandidates(TargetProduct& product, const FourPartVersion& installed,
                                const FourPartVersion& target, const std::u16string& packagePath) {
    const std::u16string& candidates = product.candidateVersions;
    std::size_t start = 0;
    std::size_t comma = candidates.find(u',', start);
    while (comma != std::u16string::npos) {
        const FourPartVersion candidate = ParseVersion(candidates.substr(start, comma - start));
        if (VersionsEqual(installed, candidate)) {
            ApplyPatch(product, installed, packagePath);
            return CandidateOutcome::Applied;
        }
        if (VersionsEqual(candidate, target)) {
            return CandidateOutcome::Unnecessary;
        }
        start = comma + 1;
        comma = candidates.find(u',', start);
    }
    return CandidateOutcome::NotDesigned;
}

}  // namespace

bool ProcessTargetProducts(const std::u16string& packagePath) {
    std::size_t upToDate = 0;
    for (TargetProduct& product : TargetProducts) {
        CurrentProductName = product.productName;
        // The language's decimal text as the locale; its result is not looked at.
        win::SetThreadLocale(static_cast<win::LCID>(WideTextToInt(product.language)));
        const FourPartVersion installed = ParseVersion(product.installedVersion);
        const FourPartVersion target = ParseVersion(product.targetVersion);
        if (VersionsEqual(installed, target)) {
            ++upToDate;
            continue;
        }
        switch (WalkCandidates(product, installed, target, packagePath)) {
            case CandidateOutcome::Applied:
                break;
            case CandidateOutcome::NotDesigned:
                ReportMessage(kMessageWrongVersion);
                break;
            case CandidateOutcome::Unnecessary:
                ReportMessage(kMessageUpToDate);
                return false;
        }
    }
    if (upToDate == TargetProducts.size()) {
        win::SetThreadLocale(win::LOCALE_USER_DEFAULT);
        ReportMessage(kMessageUpToDate);
    }
    return true;
}

bool RunInstall() {
    std::u16string packagePath;
    if (!ExtractPackage(packagePath)) {
        ReportMessage(kMessageInstallProblem);
        return false;
    }
    std::u16string targetVersion;
    std::u16string candidateVersions;
    if (LoadResourceString(InstanceHandle, kStringTargetVersion, targetVersion, kStringLoadChars) == 0 ||
        LoadResourceString(InstanceHandle, kStringCandidateVersions, candidateVersions, kStringLoadChars) ==
            0) {
        ReportMessage(kMessageInstallProblem);
        return false;
    }
    std::u16string targetList;
    if (!ReadPatchTargets(packagePath, targetList)) {
        ReportMessage(kMessageInstallProblem);
        return false;
    }
    CollectTargetProducts(targetList, targetVersion, candidateVersions);
    if (TargetProducts.empty()) {
        ReportMessage(kMessageProductNotFound);
        return false;
    }
    if (!ProcessTargetProducts(packagePath)) {
        return false;
    }
    win::DeleteFileW(packagePath.c_str());
    return true;
}
