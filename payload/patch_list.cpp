#include "payload/patch_list.h"

#include "app/entry.h"
#include "common/text.h"
#include "installer/queries.h"
#include "messages/report.h"
#include "payload/extract.h"
#include "platform/platform.h"

namespace {

constexpr int kFirstDescriptionId = 206;
constexpr std::size_t kNameCharsFromList = 4;

// "patchlist" + up to four characters of the target list + ".txt": those that
// follow the first "-" of the text after the first ":" (the whole text when it
// has none), or its first four when it has no "-".
std::u16string DefaultPatchListName(const std::u16string& targetList) {
    const std::size_t colon = targetList.find(u':');
    const std::u16string_view text = colon == std::u16string::npos
                                         ? std::u16string_view(targetList)
                                         : std::u16string_view(targetList).substr(colon + 1);
    const std::size_t dash = text.find(u'-');
    const std::u16string_view piece = dash == std::u16string_view::npos
                                          ? text.substr(0, kNameCharsFromList)
                                          : text.substr(dash + 1, kNameCharsFromList);
    return u"patchlist" + std::u16string(piece) + u".txt";
}

bool WriteAll(win::HANDLE file, const void* bytes, win::DWORD count) {
    win::DWORD written = 0;
    return win::WriteFile(file, bytes, count, &written, nullptr) == win::TRUE;
}

}  // namespace

bool AppendPatchList(std::u16string path) {
    if (path.empty()) {
        path = u"patchlist.txt";
        std::u16string packagePath;
        std::u16string targetList;
        // The temporary package stays where it was written.
        if (ExtractPackage(packagePath) && ReadPatchTargets(packagePath, targetList)) {
            path = DefaultPatchListName(targetList);
        }
    }

    win::HANDLE file =
        win::CreateFileW(path.c_str(), win::GENERIC_READ | win::GENERIC_WRITE, win::FILE_SHARE_READ, nullptr,
                         win::OPEN_ALWAYS, win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == win::INVALID_HANDLE_VALUE) {
        ReportMessage(kMessageNoPatchList);
        return false;
    }
    // The entries go behind what the file holds. A move that fails (without a
    // high word it does for any list of 4 GiB or more) would leave the position
    // at the start and the entries would overwrite earlier ones: nothing is
    // written then.
    win::LONG positionHigh = 0;
    win::SetLastError(win::ERROR_SUCCESS);
    if (win::SetFilePointer(file, 0, &positionHigh, win::FILE_END) == win::INVALID_SET_FILE_POINTER &&
        win::GetLastError() != win::ERROR_SUCCESS) {
        win::CloseHandle(file);
        ReportMessage(kMessageNoPatchList);
        return false;
    }

    static const char kSeparator[] = "*****\r\n";
    static const char kLineBreak[] = "\r\n";
    for (int n = 0;; ++n) {
        std::u16string name = u"#";
        name += DecimalText(kFirstDescriptionId + n);
        win::HRSRC resource = win::FindResourceW(InstanceHandle, name.c_str(), u"TXT");
        if (resource == nullptr) {
            if (n == 0) {
                ReportMessage(kMessageNoPatchList);
            }
            break;
        }
        const win::DWORD size = win::SizeofResource(InstanceHandle, resource);
        win::HGLOBAL loaded = size == 0 ? nullptr : win::LoadResource(InstanceHandle, resource);
        const void* bytes = loaded == nullptr ? nullptr : win::LockResource(loaded);
        if (bytes == nullptr) {
            ReportMessage(kMessageInstallProblem);
            break;
        }
        // A failed separator drops the whole entry; a failed body drops its line break.
        if (!WriteAll(file, kSeparator, sizeof kSeparator - 1)) {
            continue;
        }
        if (!WriteAll(file, bytes, size)) {
            continue;
        }
        WriteAll(file, kLineBreak, sizeof kLineBreak - 1);
    }
    win::CloseHandle(file);
    return true;
}
