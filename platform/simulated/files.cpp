// Simulated file handles: CreateFileW with its dispositions and sharing rules,
// WriteFile, SetFilePointer, CloseHandle and DeleteFileW over Linux files.
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "platform/simulated/sim.h"
#include "platform/simulated/state.h"

namespace sim {
namespace {

struct OpenFile {
    int descriptor = -1;
    dev_t device = 0;
    ino_t inode = 0;
    win::DWORD access = 0;
    win::DWORD share = 0;
    std::u16string path;
};

struct FileState {
    std::vector<std::unique_ptr<OpenFile>> files;
    std::int64_t nextWriteLimit = -1;
};

FileState& Files() {
    static FileState state;
    return state;
}

void ResetFiles() {
    for (auto& file : Files().files) {
        close(file->descriptor);
    }
    Files() = FileState{};
}
detail::ResetRegistration resetFiles(&ResetFiles);
detail::FailableRegistration registerCreateFileW("CreateFileW");
detail::FailableRegistration registerWriteFile("WriteFile");
detail::FailableRegistration registerSetFilePointer("SetFilePointer");
detail::FailableRegistration registerDeleteFileW("DeleteFileW");

OpenFile* FindOpen(win::HANDLE handle) {
    for (auto& file : Files().files) {
        if (file.get() == handle) {
            return file.get();
        }
    }
    return nullptr;
}

win::DWORD ErrorFromErrno(int cause, const std::string& host) {
    switch (cause) {
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return win::ERROR_ACCESS_DENIED;
        case EEXIST:
            return win::ERROR_FILE_EXISTS;
        case ENOTDIR:
            return win::ERROR_PATH_NOT_FOUND;
        case ENOSPC:
            return win::ERROR_DISK_FULL;
        case ENAMETOOLONG:
            return win::ERROR_FILENAME_EXCED_RANGE;
        case ENOENT: {
            const std::string parent = host.substr(0, host.find_last_of('/'));
            struct stat info {};
            return (parent.empty() || (stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode)))
                       ? win::ERROR_FILE_NOT_FOUND
                       : win::ERROR_PATH_NOT_FOUND;
        }
        default:
            return win::ERROR_ACCESS_DENIED;
    }
}

// Whether a new open with access/share is compatible with every open handle of
// the same file: each side must share what the other one uses.
bool SharingAllows(dev_t device, ino_t inode, win::DWORD access, win::DWORD share) {
    for (auto& file : Files().files) {
        if (file->device != device || file->inode != inode) {
            continue;
        }
        const bool newReads = (access & win::GENERIC_READ) != 0;
        const bool newWrites = (access & win::GENERIC_WRITE) != 0;
        const bool oldReads = (file->access & win::GENERIC_READ) != 0;
        const bool oldWrites = (file->access & win::GENERIC_WRITE) != 0;
        if ((newReads && (file->share & win::FILE_SHARE_READ) == 0) ||
            (newWrites && (file->share & win::FILE_SHARE_WRITE) == 0) ||
            (oldReads && (share & win::FILE_SHARE_READ) == 0) ||
            (oldWrites && (share & win::FILE_SHARE_WRITE) == 0)) {
            return false;
        }
    }
    return true;
}

struct ImageRange {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
    int descriptor = -1;
    off_t fileOffset = 0;
};

// Mapped files that resources live in, besides the executable itself.
std::vector<ImageRange>& FileImages() {
    static std::vector<ImageRange> images;
    return images;
}

// The file-backed load segments of the executable itself.
const std::vector<ImageRange>& OwnImageRanges() {
    static const std::vector<ImageRange> ranges = [] {
        std::vector<ImageRange> found;
        const int image = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
        if (image < 0) {
            return found;
        }
        struct Search {
            std::vector<ImageRange>* list;
            int descriptor;
        } search{&found, image};
        dl_iterate_phdr(
            [](dl_phdr_info* info, std::size_t, void* data) {
                if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0') {
                    return 0;  // a shared library, not the executable
                }
                auto* search = static_cast<Search*>(data);
                for (int k = 0; k < info->dlpi_phnum; ++k) {
                    const ElfW(Phdr)& header = info->dlpi_phdr[k];
                    if (header.p_type == PT_LOAD && header.p_filesz > 0) {
                        const std::uintptr_t begin = info->dlpi_addr + header.p_vaddr;
                        search->list->push_back({begin, begin + header.p_filesz, search->descriptor,
                                                 static_cast<off_t>(header.p_offset)});
                    }
                }
                return 1;
            },
            &search);
        return found;
    }();
    return ranges;
}

// Bytes that lie in a read-only file image (the executable's, or a resource
// file's) are copied by the kernel straight from that file: the same bytes
// write() would take from the mapping, without first faulting every page of a
// large resource into the process. done tells how far it got; the caller
// writes whatever remains.
void CopyFromFileImage(int descriptor, const void* buffer, std::size_t size, std::size_t& done) {
    const auto address = reinterpret_cast<std::uintptr_t>(buffer);
    if (size < (std::size_t{1} << 20)) {
        return;
    }
    const std::vector<ImageRange>* const images[] = {&FileImages(), &OwnImageRanges()};
    for (const auto* ranges : images) {
        for (const ImageRange& range : *ranges) {
            if (address < range.begin || address + size > range.end) {
                continue;
            }
            off_t offset = range.fileOffset + static_cast<off_t>(address - range.begin);
            while (done < size) {
                const ssize_t copied =
                    copy_file_range(range.descriptor, &offset, descriptor, nullptr, size - done, 0);
                if (copied <= 0) {
                    return;
                }
                done += static_cast<std::size_t>(copied);
            }
            return;
        }
    }
}

}  // namespace

namespace detail {

void RegisterFileImage(const void* begin, std::size_t size, int descriptor, std::int64_t offset) {
    const auto start = reinterpret_cast<std::uintptr_t>(begin);
    FileImages().push_back({start, start + size, descriptor, static_cast<off_t>(offset)});
}

}  // namespace detail

void LimitNextWrite(std::uint32_t bytes) { Files().nextWriteLimit = bytes; }

}  // namespace sim

namespace win {

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, SECURITY_ATTRIBUTES* /*security*/,
                   DWORD creationDisposition, DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("CreateFileW", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (fileName == nullptr || *fileName == u'\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string full = sim::detail::FullWindowsPath(fileName);
    const std::string host = sim::detail::ResolveHostPath(fileName);
    if (full.empty() || host.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (full.back() == u'\\') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    int flags = O_CLOEXEC;
    const bool reads = (desiredAccess & GENERIC_READ) != 0;
    const bool writes = (desiredAccess & GENERIC_WRITE) != 0;
    flags |= (reads && writes) ? O_RDWR : (writes ? O_WRONLY : O_RDONLY);
    bool creates = false;
    switch (creationDisposition) {
        case CREATE_NEW:
            // O_EXCL also refuses an existing link, dangling or not.
            flags |= O_CREAT | O_EXCL;
            creates = true;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            creates = true;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            creates = true;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
    }

    struct stat before {};
    const bool existed = stat(host.c_str(), &before) == 0;
    if (existed && S_ISDIR(before.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if ((writes || (creates && !existed) || creationDisposition == CREATE_ALWAYS ||
         creationDisposition == TRUNCATE_EXISTING) &&
        sim::detail::WriteDenied(full)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (existed && !sim::SharingAllows(before.st_dev, before.st_ino, desiredAccess, shareMode)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    if (existed && creationDisposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }

    const int descriptor = open(host.c_str(), flags, 0644);
    if (descriptor < 0) {
        SetLastError(sim::ErrorFromErrno(errno, host));
        return INVALID_HANDLE_VALUE;
    }
    struct stat info {};
    fstat(descriptor, &info);
    auto file = std::make_unique<sim::OpenFile>();
    file->descriptor = descriptor;
    file->device = info.st_dev;
    file->inode = info.st_ino;
    file->access = desiredAccess;
    file->share = shareMode;
    file->path = full;
    HANDLE handle = file.get();
    sim::detail::TrackOpen(handle, "file", sim::ToUtf8(full));
    sim::Files().files.push_back(std::move(file));
    // Opening an existing file with OPEN_ALWAYS or CREATE_ALWAYS says so.
    SetLastError((existed && (creationDisposition == OPEN_ALWAYS || creationDisposition == CREATE_ALWAYS))
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return handle;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, DWORD* bytesWritten, void* /*overlapped*/) {
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    sim::OpenFile* open = sim::FindOpen(file);
    if (open == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("WriteFile", ERROR_WRITE_FAULT, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if ((open->access & GENERIC_WRITE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::size_t allowed = bytesToWrite;
    bool limited = false;
    if (sim::Files().nextWriteLimit >= 0) {
        limited = static_cast<std::size_t>(sim::Files().nextWriteLimit) < allowed;
        allowed = std::min<std::size_t>(allowed, static_cast<std::size_t>(sim::Files().nextWriteLimit));
        sim::Files().nextWriteLimit = -1;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    if (!limited) {
        sim::CopyFromFileImage(open->descriptor, buffer, allowed, done);
    }
    while (done < allowed) {
        const ssize_t count = write(open->descriptor, bytes + done, allowed - done);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (bytesWritten != nullptr) {
                *bytesWritten = static_cast<DWORD>(done);
            }
            SetLastError(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
            return FALSE;
        }
        done += static_cast<std::size_t>(count);
    }
    if (bytesWritten != nullptr) {
        *bytesWritten = static_cast<DWORD>(done);
    }
    if (limited) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD moveMethod) {
    sim::OpenFile* open = sim::FindOpen(file);
    if (open == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("SetFilePointer", ERROR_INVALID_PARAMETER, &error)) {
        SetLastError(error);
        return INVALID_SET_FILE_POINTER;
    }
    std::int64_t distance = distanceToMove;
    if (distanceToMoveHigh != nullptr) {
        distance = (static_cast<std::int64_t>(*distanceToMoveHigh) << 32) |
                   static_cast<std::uint32_t>(distanceToMove);
    }
    std::int64_t origin = 0;
    if (moveMethod == FILE_CURRENT) {
        origin = lseek(open->descriptor, 0, SEEK_CUR);
    } else if (moveMethod == FILE_END) {
        struct stat info {};
        origin = fstat(open->descriptor, &info) == 0 ? info.st_size : -1;
    }
    if (origin < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    // Refused moves leave the position where it was: one before the start, and,
    // without a high word to return it in, one beyond 32 bits (a file of 4 GiB
    // or more for FILE_END).
    const std::int64_t wanted = origin + distance;
    if (wanted < 0) {
        SetLastError(131);  // ERROR_NEGATIVE_SEEK
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh == nullptr && wanted > 0xFFFFFFFFLL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    const off_t position = lseek(open->descriptor, static_cast<off_t>(wanted), SEEK_SET);
    if (position < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh != nullptr) {
        *distanceToMoveHigh = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(static_cast<std::uint64_t>(position) & 0xFFFFFFFFU);
}

BOOL CloseHandle(HANDLE object) {
    auto& files = sim::Files().files;
    auto it = std::find_if(files.begin(), files.end(), [&](const auto& file) { return file.get() == object; });
    if (it == files.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    close((*it)->descriptor);
    sim::detail::TrackClose(object);
    files.erase(it);
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR fileName) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("DeleteFileW", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (fileName == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const std::u16string full = sim::detail::FullWindowsPath(fileName);
    const std::string host = sim::detail::ResolveHostPath(fileName);
    struct stat info {};
    if (host.empty() || lstat(host.c_str(), &info) != 0) {
        SetLastError(host.empty() ? ERROR_PATH_NOT_FOUND : sim::ErrorFromErrno(errno, host));
        return FALSE;
    }
    if (S_ISDIR(info.st_mode) || sim::detail::WriteDenied(full)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    for (auto& file : sim::Files().files) {
        if (file->device == info.st_dev && file->inode == info.st_ino &&
            (file->share & FILE_SHARE_DELETE) == 0) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
    }
    if (unlink(host.c_str()) != 0) {
        SetLastError(sim::ErrorFromErrno(errno, host));
        return FALSE;
    }
    return TRUE;
}

}  // namespace win
