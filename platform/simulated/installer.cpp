// The simulated Windows Installer service: summary information of real
// package files read with libmsi, product state and properties answered from
// the product registrations in the simulated registry, and patch application
// that records the patch and brings the product to the version the patch
// package names.
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "platform/simulated/sim.h"
#include "platform/simulated/sim_installer.h"
#include "platform/simulated/sim_registry.h"
#include "platform/simulated/state.h"

// After the platform header: GLib defines TRUE and FALSE as macros. Only the
// declarations are used; the library itself is loaded when a package is read.
#include <libmsi.h>

namespace sim {
namespace {

// Property types of the summary information, as MsiSummaryInfoGetPropertyW gives them.
constexpr win::UINT kVtEmpty = 0;
constexpr win::UINT kVtI2 = 2;
constexpr win::UINT kVtI4 = 3;
constexpr win::UINT kVtLpstr = 30;
constexpr win::UINT kVtFiletime = 64;
constexpr win::UINT kSummaryPropertyCount = 20;
constexpr win::UINT kPidCodepage = 1;
constexpr win::INSTALLSTATE kInstallStateLocal = 3;
constexpr win::INSTALLSTATE kInstallStateSource = 4;
constexpr int kInstallLevelMaximum = 0xFFFF;

// Names the package to read in the environment of the reader program.
constexpr std::string_view kReaderVariable = "SIMWIN_PACKAGE_READER";

constexpr std::u16string_view kProductsKey = u"Installer\\Products\\";
constexpr std::u16string_view kUserDataProductsKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";

struct SummaryProperty {
    win::UINT type = kVtEmpty;
    win::INT integer = 0;
    win::FILETIME time{};
    std::u16string text;
};

struct PackageFacts {
    std::map<win::UINT, SummaryProperty> properties;
    // The product version the patch brings (its StandInPatch table), if it says.
    std::optional<std::u16string> newVersion;
    // The entries of the target list, upper case, for the membership test that
    // every patch application makes.
    std::unordered_set<std::u16string> targets;
};

// Facts are shared, never copied: a target list can hold megabytes.
using SharedFacts = std::shared_ptr<const PackageFacts>;

struct SummaryHandle {
    std::u16string path;
    SharedFacts facts;
};

struct InstallerState {
    std::map<win::MSIHANDLE, SummaryHandle> handles;
    win::MSIHANDLE nextHandle = 0;
    std::map<std::pair<std::u16string, std::u16string>, PropertyAnswer> imposed;
    std::map<win::UINT, PropertyAnswer> imposedSummary;
    std::vector<InstallerCall> calls;
    bool keepCalls = true;
    // The program started to read a package; empty: a fork reads it.
    std::string readerProgram;
};

InstallerState& Installer() {
    static InstallerState state;
    return state;
}

std::function<void(const InstallerCall&)>& Observer() {
    static std::function<void(const InstallerCall&)> observer;
    return observer;
}

void ResetInstaller() {
    Installer() = InstallerState{};
}
detail::ResetRegistration resetInstaller(&ResetInstaller);
detail::FailableRegistration registerMsiGetSummaryInformationW("MsiGetSummaryInformationW");
detail::FailableRegistration registerMsiSummaryInfoGetPropertyW("MsiSummaryInfoGetPropertyW");
detail::FailableRegistration registerMsiCloseHandle("MsiCloseHandle");
detail::FailableRegistration registerMsiQueryProductStateW("MsiQueryProductStateW");
detail::FailableRegistration registerMsiGetProductInfoW("MsiGetProductInfoW");
detail::FailableRegistration registerMsiConfigureProductExW("MsiConfigureProductExW");

// Handles are tracked beside files and keys under addresses of their own.
const void* TrackingAddress(win::MSIHANDLE handle) {
    return reinterpret_cast<const void*>(std::uintptr_t{0x7C000000} + handle);
}

std::u16string Upper(std::u16string_view text) {
    std::u16string upper(text);
    for (char16_t& c : upper) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - 32);
        }
    }
    return upper;
}

std::u16string TextArgument(win::LPCWSTR text) {
    return text == nullptr ? u"(null)" : std::u16string(text);
}

std::u16string NumberArgument(std::int64_t number) {
    return FromUtf8(std::to_string(number));
}

std::u16string CountArgument(const win::DWORD* count) {
    return count == nullptr ? u"(null)" : NumberArgument(*count);
}

// Whether a call's arguments are wanted: the texts are made only then.
bool Recording() {
    return Installer().keepCalls || static_cast<bool>(Observer());
}

std::int64_t Record(std::string function, std::vector<std::u16string> arguments, std::int64_t result) {
    InstallerState& state = Installer();
    if (!state.keepCalls && !Observer()) {
        return result;
    }
    InstallerCall call{std::move(function), std::move(arguments), result};
    if (state.keepCalls) {
        state.calls.push_back(std::move(call));
    }
    if (Observer()) {
        Observer()(state.keepCalls ? state.calls.back() : call);
    }
    return result;
}

bool IsHex(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool IsBracedGuid(std::u16string_view text) {
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') {
        return false;
    }
    for (std::size_t i = 1; i < 37; ++i) {
        const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
        if (hyphen ? text[i] != u'-' : !IsHex(text[i])) {
            return false;
        }
    }
    return true;
}

// Where each character of the packed form comes from in the braced GUID.
constexpr std::size_t kPackedSource[32] = {8,  7,  6,  5,  4,  3,  2,  1,  13, 12, 11, 10, 18, 17, 16, 15,
                                           21, 20, 23, 22, 26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35};

std::u16string UnpackedGuid(std::u16string_view packed) {
    if (packed.size() != 32 || !std::all_of(packed.begin(), packed.end(), IsHex)) {
        return {};
    }
    std::u16string guid = u"{00000000-0000-0000-0000-000000000000}";
    for (std::size_t i = 0; i < 32; ++i) {
        guid[kPackedSource[i]] = packed[i];
    }
    return Upper(guid);
}

std::u16string InstallPropertiesKey(std::u16string_view packed) {
    return std::u16string(kUserDataProductsKey) + std::u16string(packed) + u"\\InstallProperties";
}

std::u16string PatchesKey(std::u16string_view packed) {
    return std::u16string(kUserDataProductsKey) + std::u16string(packed) + u"\\Patches";
}

std::u16string ClassesKey(std::u16string_view packed) {
    return std::u16string(kProductsKey) + std::u16string(packed);
}

win::INSTALLSTATE StateOfPacked(std::u16string_view packed) {
    // Asked several times for every product: the key names are made in place.
    static std::u16string classes;
    static std::u16string properties;
    classes.assign(kProductsKey).append(packed);
    properties.assign(kUserDataProductsKey).append(packed).append(u"\\InstallProperties");
    const bool advertised = RegistryKeyExists(win::HKEY_CLASSES_ROOT, classes);
    const bool installed = RegistryKeyExists(win::HKEY_LOCAL_MACHINE, properties);
    if (advertised) {
        return installed ? win::INSTALLSTATE_DEFAULT : win::INSTALLSTATE_ADVERTISED;
    }
    return installed ? win::INSTALLSTATE_ABSENT : win::INSTALLSTATE_UNKNOWN;
}

// The Version DWORD of the installer: major in the top byte, minor in the next,
// build in the low word; a fourth field does not count.
win::DWORD VersionNumber(std::u16string_view text) {
    win::DWORD fields[3] = {0, 0, 0};
    std::size_t field = 0;
    for (char16_t c : text) {
        if (c == u'.') {
            if (++field == 3) {
                break;
            }
        } else if (c >= u'0' && c <= u'9') {
            fields[field] = std::min<win::DWORD>(fields[field] * 10 + (c - u'0'), 0xFFFF);
        } else {
            break;
        }
    }
    return ((fields[0] & 0xFF) << 24) | ((fields[1] & 0xFF) << 16) | (fields[2] & 0xFFFF);
}

void WriteVersion(std::u16string_view packed, std::u16string_view version) {
    const win::DWORD number = VersionNumber(version);
    const std::u16string properties = InstallPropertiesKey(packed);
    SetRegistryString(win::HKEY_LOCAL_MACHINE, properties, u"DisplayVersion", version);
    SetRegistryDword(win::HKEY_LOCAL_MACHINE, properties, u"Version", number);
    SetRegistryDword(win::HKEY_LOCAL_MACHINE, properties, u"VersionMajor", number >> 24);
    SetRegistryDword(win::HKEY_LOCAL_MACHINE, properties, u"VersionMinor", (number >> 16) & 0xFF);
    if (RegistryKeyExists(win::HKEY_CLASSES_ROOT, ClassesKey(packed))) {
        SetRegistryDword(win::HKEY_CLASSES_ROOT, ClassesKey(packed), u"Version", number);
    }
}

// ---- Reading packages ------------------------------------------------------------
// libmsi brings GLib, GIO, libgsf, libxml2 and ICU with it. A run that reads
// no package (the extract mode) should not pay for loading them, so the
// library is opened on the first package read, before the reader is forked.

struct MsiLibrary {
    decltype(&::libmsi_database_new) databaseNew = nullptr;
    decltype(&::libmsi_summary_info_new) summaryInfoNew = nullptr;
    decltype(&::libmsi_summary_info_get_property_type) summaryPropertyType = nullptr;
    decltype(&::libmsi_summary_info_get_string) summaryString = nullptr;
    decltype(&::libmsi_summary_info_get_int) summaryInt = nullptr;
    decltype(&::libmsi_summary_info_get_filetime) summaryFiletime = nullptr;
    decltype(&::libmsi_query_new) queryNew = nullptr;
    decltype(&::libmsi_query_execute) queryExecute = nullptr;
    decltype(&::libmsi_query_fetch) queryFetch = nullptr;
    decltype(&::libmsi_query_close) queryClose = nullptr;
    decltype(&::libmsi_record_get_string) recordString = nullptr;
    decltype(&::g_object_unref) objectUnref = nullptr;
    decltype(&::g_free) free = nullptr;
    decltype(&::g_clear_error) clearError = nullptr;
    decltype(&::g_log_set_handler) logSetHandler = nullptr;
};

// The library's SONAME, as the package libmsi0 installs it.
constexpr const char* kMsiLibraryName = "libmsi.so.0";

// The loaded library; null when it cannot be loaded (no package reads then).
const MsiLibrary* Msi() {
    static const std::optional<MsiLibrary> library = []() -> std::optional<MsiLibrary> {
        void* handle = dlopen(kMsiLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            return std::nullopt;
        }
        MsiLibrary functions;
        bool complete = true;
        auto bind = [&](auto& pointer, const char* name) {
            void* symbol = dlsym(handle, name);
            complete = complete && symbol != nullptr;
            pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(symbol);
        };
        bind(functions.databaseNew, "libmsi_database_new");
        bind(functions.summaryInfoNew, "libmsi_summary_info_new");
        bind(functions.summaryPropertyType, "libmsi_summary_info_get_property_type");
        bind(functions.summaryString, "libmsi_summary_info_get_string");
        bind(functions.summaryInt, "libmsi_summary_info_get_int");
        bind(functions.summaryFiletime, "libmsi_summary_info_get_filetime");
        bind(functions.queryNew, "libmsi_query_new");
        bind(functions.queryExecute, "libmsi_query_execute");
        bind(functions.queryFetch, "libmsi_query_fetch");
        bind(functions.queryClose, "libmsi_query_close");
        bind(functions.recordString, "libmsi_record_get_string");
        bind(functions.objectUnref, "g_object_unref");
        bind(functions.free, "g_free");
        bind(functions.clearError, "g_clear_error");
        bind(functions.logSetHandler, "g_log_set_handler");
        if (!complete) {
            return std::nullopt;
        }
        return functions;
    }();
    return library ? &*library : nullptr;
}

void DiscardLibraryWarnings(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// libmsi warns on stderr about every file it cannot open; the service answers
// with result codes instead.
void QuietLibrary(const MsiLibrary& msi) {
    static std::once_flag once;
    std::call_once(once, [&msi] {
        msi.logSetHandler(nullptr,
                          static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE |
                                                      G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
                          DiscardLibraryWarnings, nullptr);
    });
}

std::optional<std::u16string> PatchVersionOf(const MsiLibrary& msi, LibmsiDatabase* database) {
    GError* error = nullptr;
    LibmsiQuery* query = msi.queryNew(
        database, "SELECT `Value` FROM `StandInPatch` WHERE `Property` = 'ProductVersion'", &error);
    msi.clearError(&error);
    if (query == nullptr) {
        return std::nullopt;
    }
    std::optional<std::u16string> version;
    if (msi.queryExecute(query, nullptr, &error)) {
        LibmsiRecord* record = msi.queryFetch(query, &error);
        if (record != nullptr) {
            gchar* text = msi.recordString(record, 1);
            if (text != nullptr) {
                version = FromUtf8(text);
                msi.free(text);
            }
            msi.objectUnref(record);
        }
    }
    msi.clearError(&error);
    msi.queryClose(query, nullptr);
    msi.objectUnref(query);
    return version;
}

// The facts of a package file as libmsi reads them; nothing when it is no package.
std::optional<PackageFacts> ReadPackageFile(const MsiLibrary& msi, const std::string& host) {
    QuietLibrary(msi);
    GError* error = nullptr;
    LibmsiDatabase* database = msi.databaseNew(host.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error);
    msi.clearError(&error);
    if (database == nullptr) {
        return std::nullopt;
    }
    LibmsiSummaryInfo* summary = msi.summaryInfoNew(database, 0, &error);
    msi.clearError(&error);
    if (summary == nullptr) {
        msi.objectUnref(database);
        return std::nullopt;
    }
    PackageFacts facts;
    for (win::UINT id = 0; id < kSummaryPropertyCount; ++id) {
        const auto property = static_cast<LibmsiProperty>(id);
        const LibmsiPropertyType type = msi.summaryPropertyType(summary, property, &error);
        if (error != nullptr) {
            msi.clearError(&error);
            continue;
        }
        SummaryProperty value;
        if (type == LIBMSI_PROPERTY_TYPE_STRING) {
            const gchar* text = msi.summaryString(summary, property, &error);
            value.type = kVtLpstr;
            value.text = text == nullptr ? std::u16string() : FromUtf8(text);
        } else if (type == LIBMSI_PROPERTY_TYPE_INT) {
            value.type = id == kPidCodepage ? kVtI2 : kVtI4;
            value.integer = msi.summaryInt(summary, property, &error);
        } else if (type == LIBMSI_PROPERTY_TYPE_FILETIME) {
            const guint64 time = msi.summaryFiletime(summary, property, &error);
            value.type = kVtFiletime;
            value.time.dwLowDateTime = static_cast<win::DWORD>(time);
            value.time.dwHighDateTime = static_cast<win::DWORD>(time >> 32);
        } else {
            continue;
        }
        msi.clearError(&error);
        facts.properties[id] = std::move(value);
    }
    facts.newVersion = PatchVersionOf(msi, database);
    msi.objectUnref(summary);
    msi.objectUnref(database);
    return facts;
}

// ---- Reading packages out of process --------------------------------------------
// libmsi trusts the structure of the compound file it opens, and some damaged
// files crash it. The real service reads packages in a process of its own, so a
// package can never bring down its caller; the simulated one does the same by
// reading each package in a child process. Results are kept by file identity,
// so that a package read for every product is parsed once.

void PutBytes(std::string& out, const void* data, std::size_t size) {
    out.append(static_cast<const char*>(data), size);
}

template <typename T>
void PutValue(std::string& out, const T& value) {
    PutBytes(out, &value, sizeof value);
}

void PutText(std::string& out, const std::u16string& text) {
    PutValue(out, static_cast<std::uint32_t>(text.size()));
    PutBytes(out, text.data(), text.size() * sizeof(char16_t));
}

std::string SerializeFacts(const PackageFacts& facts) {
    std::string out;
    PutValue(out, static_cast<std::uint32_t>(facts.properties.size()));
    for (const auto& [id, property] : facts.properties) {
        PutValue(out, id);
        PutValue(out, property.type);
        PutValue(out, property.integer);
        PutValue(out, property.time);
        PutText(out, property.text);
    }
    PutValue(out, static_cast<std::uint8_t>(facts.newVersion ? 1 : 0));
    PutText(out, facts.newVersion.value_or(u""));
    return out;
}

struct Reader {
    const std::string& data;
    std::size_t offset = 0;
    bool ok = true;

    void Bytes(void* target, std::size_t size) {
        if (!ok || data.size() - offset < size) {
            ok = false;
            return;
        }
        std::copy_n(data.data() + offset, size, static_cast<char*>(target));
        offset += size;
    }
    template <typename T>
    T Value() {
        T value{};
        Bytes(&value, sizeof value);
        return value;
    }
    std::u16string Text() {
        const auto length = Value<std::uint32_t>();
        if (!ok || (data.size() - offset) / sizeof(char16_t) < length) {
            ok = false;
            return {};
        }
        std::u16string text(length, u'\0');
        Bytes(text.data(), length * sizeof(char16_t));
        return text;
    }
};

std::optional<PackageFacts> DeserializeFacts(const std::string& data, std::size_t offset) {
    Reader reader{data, offset};
    PackageFacts facts;
    const auto count = reader.Value<std::uint32_t>();
    for (std::uint32_t k = 0; reader.ok && k < count; ++k) {
        const auto id = reader.Value<win::UINT>();
        SummaryProperty property;
        property.type = reader.Value<win::UINT>();
        property.integer = reader.Value<win::INT>();
        property.time = reader.Value<win::FILETIME>();
        property.text = reader.Text();
        facts.properties[id] = std::move(property);
    }
    const bool hasVersion = reader.Value<std::uint8_t>() != 0;
    const std::u16string version = reader.Text();
    if (!reader.ok) {
        return std::nullopt;
    }
    if (hasVersion) {
        facts.newVersion = version;
    }
    return facts;
}

unsigned& ReaderCrashCount() {
    static unsigned count = 0;
    return count;
}

void WriteAll(int descriptor, const std::string& message) {
    std::size_t written = 0;
    while (written < message.size()) {
        const ssize_t count = write(descriptor, message.data() + written, message.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        written += static_cast<std::size_t>(count);
    }
}

// The reader's answer: "1" and the facts, or "0" for no package.
std::string ReaderMessage(const MsiLibrary* msi, const std::string& host) {
    const auto facts = msi == nullptr ? std::nullopt : ReadPackageFile(*msi, host);
    return facts ? "1" + SerializeFacts(*facts) : std::string("0");
}

std::string& ReaderProgram() {
    return Installer().readerProgram;
}

extern "C" char** environ;

// Starts the reader program on the package; the child's pid, or -1.
pid_t SpawnReader(const std::string& host, int output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    // A crash there is an answer, not an event: no reports on the terminal.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> variables{std::string(kReaderVariable) + "=" + host};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::string_view(*variable).rfind(kReaderVariable, 0) != 0) {
            variables.emplace_back(*variable);
        }
    }
    std::vector<char*> environment;
    for (auto& variable : variables) {
        environment.push_back(variable.data());
    }
    environment.push_back(nullptr);
    std::string program = ReaderProgram();
    char* arguments[] = {program.data(), nullptr};
    pid_t child = -1;
    if (posix_spawn(&child, program.c_str(), &actions, nullptr, arguments, environment.data()) != 0) {
        child = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

// Runs the libmsi read in a child; a child that dies reads as no package. The
// child is the reader program when there is one: a fresh process costs the
// caller nothing, where a fork of a caller that holds a large registry copies
// its page tables and makes every later write to its memory fault once.
std::optional<PackageFacts> ReadPackageIsolated(const std::string& host) {
    const bool spawned = !ReaderProgram().empty();
    const MsiLibrary* msi = spawned ? nullptr : Msi();
    if (!spawned && msi == nullptr) {
        return std::nullopt;
    }
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    const pid_t child = spawned ? SpawnReader(host, channel[1]) : fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return std::nullopt;
    }
    if (child == 0) {
        close(channel[0]);
        // A crash here is an answer, not an event: die quietly, without reports.
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            dup2(quiet, STDERR_FILENO);
        }
        for (int signal : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) {
            std::signal(signal, SIG_DFL);
        }
        WriteAll(channel[1], ReaderMessage(msi, host));
        _exit(0);
    }
    close(channel[1]);
    std::string message;
    char buffer[65536];
    while (true) {
        const ssize_t count = read(channel[0], buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        message.append(buffer, static_cast<std::size_t>(count));
    }
    close(channel[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ++ReaderCrashCount();
        return std::nullopt;
    }
    if (message.empty() || message[0] != '1') {
        return std::nullopt;
    }
    return DeserializeFacts(message, 1);
}

std::u16string SummaryText(const PackageFacts& facts, win::UINT id) {
    auto it = facts.properties.find(id);
    return it == facts.properties.end() || it->second.type != kVtLpstr ? std::u16string() : it->second.text;
}

// Every entry of the target list, empty ones included, in upper case.
void IndexTargets(PackageFacts& facts) {
    auto it = facts.properties.find(win::PID_TEMPLATE);
    if (it == facts.properties.end() || it->second.type != kVtLpstr) {
        facts.targets.insert(std::u16string());
        return;
    }
    const std::u16string_view list = it->second.text;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(u';', start);
        if (end == std::u16string_view::npos) {
            end = list.size();
        }
        facts.targets.insert(Upper(list.substr(start, end - start)));
        start = end + 1;
    }
}

struct CachedFacts {
    dev_t device;
    ino_t inode;
    off_t size;
    struct timespec modified;
    SharedFacts facts;
};

// The facts of the package at a Windows path; null when it is no package.
// The last package path resolved, when it was found as it is spelt: the patch
// of every product names the same file, and while the paths stay as they were
// the same spelling still names it when it is still there.
struct ResolvedPackagePath {
    std::u16string windowsPath;
    std::uint64_t generation = 0;
    std::string host;
};

SharedFacts ReadPackage(std::u16string_view windowsPath) {
    static ResolvedPackagePath last;
    struct stat info {};
    bool known = false;
    std::string host;
    if (!last.host.empty() && last.generation == detail::PathsGeneration() &&
        last.windowsPath == windowsPath && lstat(last.host.c_str(), &info) == 0) {
        host = last.host;
        known = true;
    } else {
        last.host.clear();
        const std::u16string full = detail::FullWindowsPath(windowsPath);
        if (full.empty() || detail::AllAccessDenied(full)) {
            return nullptr;
        }
        host = detail::ResolveHostPath(full, &info, &known);
        if (known) {
            last = ResolvedPackagePath{std::u16string(windowsPath), detail::PathsGeneration(), host};
        }
    }
    // The resolution looked at the file already, unless it is reached through a link.
    if (host.empty() || ((!known || S_ISLNK(info.st_mode)) && stat(host.c_str(), &info) != 0) ||
        !S_ISREG(info.st_mode)) {
        return nullptr;
    }
    static std::map<std::string, CachedFacts> cache;
    auto found = cache.find(host);
    if (found != cache.end() && found->second.device == info.st_dev && found->second.inode == info.st_ino &&
        found->second.size == info.st_size && found->second.modified.tv_sec == info.st_mtim.tv_sec &&
        found->second.modified.tv_nsec == info.st_mtim.tv_nsec) {
        return found->second.facts;
    }
    SharedFacts facts;
    if (auto read = ReadPackageIsolated(host)) {
        IndexTargets(*read);
        facts = std::make_shared<const PackageFacts>(std::move(*read));
    }
    cache[host] = CachedFacts{info.st_dev, info.st_ino, info.st_size, info.st_mtim, facts};
    return facts;
}

// Copies a value to a caller's buffer by the installer's rules: the length
// without terminator in *count, ERROR_MORE_DATA and a cut, terminated copy when
// the buffer (of *count units) is too small.
win::UINT CopyValue(std::u16string_view value, win::LPWSTR buffer, win::DWORD* count) {
    const auto length = static_cast<win::DWORD>(value.size());
    if (buffer == nullptr) {
        if (count != nullptr) {
            *count = length;
        }
        return win::ERROR_SUCCESS;
    }
    if (length >= *count) {
        if (*count > 0) {
            std::copy_n(value.begin(), *count - 1, buffer);
            buffer[*count - 1] = u'\0';
        }
        *count = length;
        return win::ERROR_MORE_DATA;
    }
    std::copy(value.begin(), value.end(), buffer);
    buffer[length] = u'\0';
    *count = length;
    return win::ERROR_SUCCESS;
}

// What a caller gets from an answer a test imposed.
win::UINT ImposedAnswer(const PropertyAnswer& answer, win::LPWSTR buffer, win::DWORD* count) {
    if (!answer.terminated) {
        if (buffer != nullptr) {
            std::copy_n(answer.text.begin(),
                        std::min<win::DWORD>(*count, static_cast<win::DWORD>(answer.text.size())), buffer);
        }
        if (count != nullptr) {
            *count = answer.reportedLength.value_or(static_cast<win::DWORD>(answer.text.size()));
        }
        return answer.result;
    }
    if (answer.result != win::ERROR_SUCCESS) {
        return answer.result;
    }
    return CopyValue(answer.text, buffer, count);
}

// ---- Product properties ------------------------------------------------------------

struct PropertySource {
    std::u16string_view property;
    std::u16string_view value;
};

// Properties of installed products, kept in InstallProperties.
constexpr PropertySource kInstalledProperties[] = {
    {u"VersionString", u"DisplayVersion"},
    {u"InstalledProductName", u"DisplayName"},
    {u"LocalPackage", u"LocalPackage"},
    {u"InstallDate", u"InstallDate"},
    {u"InstallLocation", u"InstallLocation"},
    {u"InstallSource", u"InstallSource"},
    {u"Publisher", u"Publisher"},
    {u"HelpLink", u"HelpLink"},
    {u"HelpTelephone", u"HelpTelephone"},
    {u"URLInfoAbout", u"URLInfoAbout"},
    {u"URLUpdateInfo", u"URLUpdateInfo"},
    {u"VersionMajor", u"VersionMajor"},
    {u"VersionMinor", u"VersionMinor"},
    {u"ProductID", u"ProductID"},
    {u"RegCompany", u"RegCompany"},
    {u"RegOwner", u"RegOwner"},
};

// Properties of advertised (and so of installed) products, kept in the
// product's key under HKEY_CLASSES_ROOT.
constexpr std::u16string_view kAdvertisedProperties[] = {
    u"ProductName", u"Language",    u"Version",      u"PackageCode",    u"Transforms",
    u"PackageName", u"ProductIcon", u"InstanceType", u"AssignmentType", u"AuthorizedLUAApp",
};

// A stored value as the property's text: DWORDs in decimal, strings up to their
// NUL, nothing stored as an empty text.
std::u16string ValueText(win::HKEY root, const std::u16string& key, std::u16string_view name) {
    return ReadRegistryValueText(root, key, name).value_or(std::u16string());
}

// The property's value, or the installer's error for it.
win::UINT LookUpProperty(std::u16string_view packed, std::u16string_view property, std::u16string& value) {
    const win::INSTALLSTATE state = StateOfPacked(packed);
    if (state != win::INSTALLSTATE_DEFAULT && state != win::INSTALLSTATE_ADVERTISED) {
        return win::ERROR_UNKNOWN_PRODUCT;
    }
    for (const auto& source : kInstalledProperties) {
        if (source.property == property) {
            if (state != win::INSTALLSTATE_DEFAULT) {
                return win::ERROR_UNKNOWN_PROPERTY;
            }
            value = ValueText(win::HKEY_LOCAL_MACHINE, InstallPropertiesKey(packed), source.value);
            return win::ERROR_SUCCESS;
        }
    }
    for (const auto name : kAdvertisedProperties) {
        if (name == property) {
            value = ValueText(win::HKEY_CLASSES_ROOT, ClassesKey(packed), name);
            return win::ERROR_SUCCESS;
        }
    }
    return win::ERROR_UNKNOWN_PROPERTY;
}

// ---- The installer command line -------------------------------------------------

// Properties of a command line: NAME=value pairs separated by white space, a
// value either plain or in double quotes, in which "" stands for one quote.
std::optional<std::map<std::u16string, std::u16string>> ParseProperties(std::u16string_view line) {
    std::map<std::u16string, std::u16string> properties;
    std::size_t i = 0;
    auto skipSpace = [&] {
        while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) {
            ++i;
        }
    };
    skipSpace();
    while (i < line.size()) {
        std::u16string name;
        while (i < line.size() && line[i] != u'=' && line[i] != u' ' && line[i] != u'\t' && line[i] != u'"') {
            name.push_back(line[i++]);
        }
        if (name.empty() || i >= line.size() || line[i] != u'=') {
            return std::nullopt;
        }
        ++i;
        std::u16string value;
        if (i < line.size() && line[i] == u'"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == u'"') {
                    if (i + 1 < line.size() && line[i + 1] == u'"') {
                        value.push_back(u'"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value.push_back(line[i++]);
            }
            if (!closed || (i < line.size() && line[i] != u' ' && line[i] != u'\t')) {
                return std::nullopt;
            }
        } else {
            while (i < line.size() && line[i] != u' ' && line[i] != u'\t') {
                if (line[i] == u'"') {
                    return std::nullopt;
                }
                value.push_back(line[i++]);
            }
        }
        properties[name] = value;
        skipSpace();
    }
    return properties;
}

std::vector<std::u16string> SplitList(std::u16string_view text) {
    std::vector<std::u16string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(u';', start);
        if (end == std::u16string_view::npos) {
            end = text.size();
        }
        items.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

struct PatchToApply {
    std::u16string patchCode;
    std::optional<std::u16string> newVersion;
};

void RecordPatch(std::u16string_view packed, const std::u16string& patchCode) {
    const std::u16string patches = PatchesKey(packed);
    const std::u16string packedPatch = PackedGuid(patchCode);
    SetRegistryDword(win::HKEY_LOCAL_MACHINE, patches + u"\\" + packedPatch, u"State", 1);
    std::vector<std::u16string> all;
    if (const auto stored = ReadRegistryValue(win::HKEY_LOCAL_MACHINE, patches, u"AllPatches")) {
        std::u16string item;
        for (std::size_t i = 0; i + 1 < stored->data.size(); i += 2) {
            const auto c = static_cast<char16_t>(stored->data[i] | (stored->data[i + 1] << 8));
            if (c == u'\0') {
                if (!item.empty()) {
                    all.push_back(item);
                }
                item.clear();
            } else {
                item.push_back(c);
            }
        }
    }
    if (std::find(all.begin(), all.end(), packedPatch) == all.end()) {
        all.push_back(packedPatch);
    }
    std::vector<std::uint8_t> data;
    auto append = [&data](char16_t c) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    };
    for (const auto& item : all) {
        for (char16_t c : item) {
            append(c);
        }
        append(u'\0');
    }
    append(u'\0');
    SetRegistryValue(win::HKEY_LOCAL_MACHINE, patches, u"AllPatches", win::REG_MULTI_SZ, std::move(data));
}

// Configuring to the default state installs an advertised product: it gets its
// InstallProperties from what HKEY_CLASSES_ROOT knows.
void CompleteInstallation(std::u16string_view packed) {
    if (RegistryKeyExists(win::HKEY_LOCAL_MACHINE, InstallPropertiesKey(packed))) {
        return;
    }
    const std::u16string classes = ClassesKey(packed);
    const std::u16string properties = InstallPropertiesKey(packed);
    CreateRegistryKey(win::HKEY_LOCAL_MACHINE, properties);
    SetRegistryString(win::HKEY_LOCAL_MACHINE, properties, u"DisplayName",
                      ReadRegistryString(win::HKEY_CLASSES_ROOT, classes, u"ProductName").value_or(u""));
    if (const auto language = ReadRegistryDword(win::HKEY_CLASSES_ROOT, classes, u"Language")) {
        SetRegistryDword(win::HKEY_LOCAL_MACHINE, properties, u"Language", *language);
    }
    SetRegistryDword(win::HKEY_LOCAL_MACHINE, properties, u"WindowsInstaller", 1);
}

win::UINT Configure(win::LPCWSTR product, int installLevel, win::INSTALLSTATE installState,
                    win::LPCWSTR commandLine) {
    if (product == nullptr || installLevel < 0 || installLevel > kInstallLevelMaximum) {
        return win::ERROR_INVALID_PARAMETER;
    }
    if (installState != win::INSTALLSTATE_DEFAULT && installState != kInstallStateLocal &&
        installState != kInstallStateSource && installState != win::INSTALLSTATE_ABSENT) {
        return win::ERROR_INVALID_PARAMETER;
    }
    const auto properties = ParseProperties(commandLine == nullptr ? std::u16string_view() : commandLine);
    if (!properties) {
        return win::ERROR_INVALID_COMMAND_LINE;
    }
    const std::u16string packed = PackedGuid(product);
    if (packed.empty()) {
        return win::ERROR_INVALID_PARAMETER;
    }
    const win::INSTALLSTATE state = StateOfPacked(packed);
    if (state != win::INSTALLSTATE_DEFAULT && state != win::INSTALLSTATE_ADVERTISED) {
        return win::ERROR_UNKNOWN_PRODUCT;
    }
    if (installState == win::INSTALLSTATE_ABSENT) {
        // Removal: the registrations go, the patches with them.
        DeleteRegistryKey(win::HKEY_CLASSES_ROOT, ClassesKey(packed));
        DeleteRegistryKey(win::HKEY_LOCAL_MACHINE, std::u16string(kUserDataProductsKey) + packed);
        return win::ERROR_SUCCESS;
    }
    std::vector<PatchToApply> patches;
    if (auto it = properties->find(u"PATCH"); it != properties->end()) {
        for (const auto& path : SplitList(it->second)) {
            if (path.empty()) {
                continue;
            }
            const SharedFacts facts = ReadPackage(path);
            if (!facts) {
                return win::ERROR_PATCH_PACKAGE_OPEN_FAILED;
            }
            if (facts->targets.count(Upper(product)) == 0) {
                return win::ERROR_PATCH_TARGET_NOT_FOUND;
            }
            // The revision number of a patch starts with its own code.
            const std::u16string patchCode = SummaryText(*facts, win::PID_REVNUMBER).substr(0, 38);
            if (!IsBracedGuid(patchCode)) {
                return win::ERROR_PATCH_PACKAGE_INVALID;
            }
            patches.push_back(PatchToApply{Upper(patchCode), facts->newVersion});
        }
    }
    CompleteInstallation(packed);
    for (const auto& patch : patches) {
        RecordPatch(packed, patch.patchCode);
        if (patch.newVersion) {
            WriteVersion(packed, *patch.newVersion);
        }
    }
    return win::ERROR_SUCCESS;
}

}  // namespace

// ---- Hooks -----------------------------------------------------------------------

unsigned PackageReaderCrashes() { return ReaderCrashCount(); }

void UsePackageReaderProgram(const std::string& program) {
    ReaderProgram() = program;
}

bool RunAsPackageReader() {
    const char* host = std::getenv(std::string(kReaderVariable).c_str());
    if (host == nullptr) {
        return false;
    }
    WriteAll(STDOUT_FILENO, ReaderMessage(Msi(), host));
    return true;
}

std::u16string PackedGuid(std::u16string_view guid) {
    if (!IsBracedGuid(guid)) {
        return {};
    }
    std::u16string packed(32, u'0');
    for (std::size_t i = 0; i < 32; ++i) {
        packed[i] = guid[kPackedSource[i]];
    }
    return Upper(packed);
}

std::u16string ProductClassesKey(std::u16string_view productCode) {
    return ClassesKey(PackedGuid(productCode));
}

std::u16string ProductUserDataKey(std::u16string_view productCode) {
    return std::u16string(kUserDataProductsKey) + PackedGuid(productCode);
}

bool RegisterProduct(const ProductRegistration& product) {
    const std::u16string packed = PackedGuid(product.productCode);
    if (packed.empty()) {
        return false;
    }
    const win::DWORD version = VersionNumber(product.version);
    if (product.state == win::INSTALLSTATE_DEFAULT || product.state == win::INSTALLSTATE_ADVERTISED) {
        const std::u16string classes = ClassesKey(packed);
        SetRegistryString(win::HKEY_CLASSES_ROOT, classes, u"ProductName", product.name);
        SetRegistryDword(win::HKEY_CLASSES_ROOT, classes, u"Language", product.language);
        SetRegistryDword(win::HKEY_CLASSES_ROOT, classes, u"Version", version);
        SetRegistryString(win::HKEY_CLASSES_ROOT, classes, u"PackageName", u"product.msi");
    }
    if (product.state == win::INSTALLSTATE_DEFAULT || product.state == win::INSTALLSTATE_ABSENT) {
        const std::u16string properties = InstallPropertiesKey(packed);
        SetRegistryString(win::HKEY_LOCAL_MACHINE, properties, u"DisplayName", product.name);
        SetRegistryDword(win::HKEY_LOCAL_MACHINE, properties, u"Language", product.language);
        SetRegistryString(win::HKEY_LOCAL_MACHINE, properties, u"LocalPackage",
                          u"C:\\windows\\Installer\\" + packed.substr(0, 8) + u".msi");
        SetRegistryDword(win::HKEY_LOCAL_MACHINE, properties, u"WindowsInstaller", 1);
        WriteVersion(packed, product.version);
    }
    return true;
}

std::optional<std::u16string> InstalledProductVersion(std::u16string_view productCode) {
    const std::u16string packed = PackedGuid(productCode);
    if (packed.empty() || StateOfPacked(packed) != win::INSTALLSTATE_DEFAULT) {
        return std::nullopt;
    }
    return ValueText(win::HKEY_LOCAL_MACHINE, InstallPropertiesKey(packed), u"DisplayVersion");
}

std::vector<std::u16string> ProductPatches(std::u16string_view productCode) {
    std::vector<std::u16string> codes;
    const std::u16string packed = PackedGuid(productCode);
    if (packed.empty()) {
        return codes;
    }
    const auto stored = ReadRegistryValue(win::HKEY_LOCAL_MACHINE, PatchesKey(packed), u"AllPatches");
    if (!stored) {
        return codes;
    }
    std::u16string item;
    for (std::size_t i = 0; i + 1 < stored->data.size(); i += 2) {
        const auto c = static_cast<char16_t>(stored->data[i] | (stored->data[i + 1] << 8));
        if (c != u'\0') {
            item.push_back(c);
            continue;
        }
        if (!item.empty()) {
            codes.push_back(UnpackedGuid(item));
        }
        item.clear();
    }
    return codes;
}

void ImposeProductProperty(std::u16string_view productCode, std::u16string_view property,
                           PropertyAnswer answer) {
    Installer().imposed[{Upper(productCode), std::u16string(property)}] = std::move(answer);
}

void ImposeSummaryProperty(win::UINT property, PropertyAnswer answer) {
    Installer().imposedSummary[property] = std::move(answer);
}

const std::vector<InstallerCall>& InstallerCalls() {
    return Installer().calls;
}

std::vector<InstallerCall> InstallerCallsOf(std::string_view function) {
    std::vector<InstallerCall> calls;
    for (const auto& call : Installer().calls) {
        if (call.function == function) {
            calls.push_back(call);
        }
    }
    return calls;
}

void KeepInstallerCalls(bool keep) {
    Installer().keepCalls = keep;
}

void SetInstallerCallObserver(std::function<void(const InstallerCall&)> observer) {
    Observer() = std::move(observer);
}

}  // namespace sim

// ---- The Windows functions ---------------------------------------------------

namespace win {

UINT MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR databasePath, UINT updateCount,
                               MSIHANDLE* summaryInfo) {
    std::vector<std::u16string> arguments;
    if (sim::Recording()) {
        arguments = {sim::NumberArgument(database), sim::TextArgument(databasePath),
                     sim::NumberArgument(updateCount)};
    }
    auto finish = [&](UINT result) {
        return static_cast<UINT>(sim::Record("MsiGetSummaryInformationW", std::move(arguments), result));
    };
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("MsiGetSummaryInformationW", ERROR_INSTALL_PACKAGE_INVALID, &error)) {
        return finish(error);
    }
    if (summaryInfo == nullptr) {
        return finish(ERROR_INVALID_PARAMETER);
    }
    if (database != 0) {
        // The simulation opens no databases, so no database handle is valid.
        return finish(ERROR_INVALID_HANDLE);
    }
    if (databasePath == nullptr) {
        return finish(ERROR_INVALID_PARAMETER);
    }
    const sim::SharedFacts facts = sim::ReadPackage(databasePath);
    if (!facts) {
        return finish(ERROR_INSTALL_PACKAGE_INVALID);
    }
    sim::InstallerState& state = sim::Installer();
    const MSIHANDLE handle = ++state.nextHandle;
    state.handles[handle] = sim::SummaryHandle{databasePath, facts};
    sim::detail::TrackOpen(sim::TrackingAddress(handle), "installer",
                           "summary information of " + sim::ToUtf8(databasePath));
    *summaryInfo = handle;
    return finish(ERROR_SUCCESS);
}

UINT MsiSummaryInfoGetPropertyW(MSIHANDLE summaryInfo, UINT property, UINT* dataType, INT* integerValue,
                                FILETIME* fileTimeValue, LPWSTR valueBuffer, DWORD* valueLength) {
    std::vector<std::u16string> arguments;
    if (sim::Recording()) {
        arguments = {sim::NumberArgument(summaryInfo), sim::NumberArgument(property),
                     sim::CountArgument(valueLength)};
    }
    auto finish = [&](UINT result) {
        return static_cast<UINT>(sim::Record("MsiSummaryInfoGetPropertyW", std::move(arguments), result));
    };
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("MsiSummaryInfoGetPropertyW", ERROR_INVALID_HANDLE, &error)) {
        return finish(error);
    }
    auto& handles = sim::Installer().handles;
    auto it = handles.find(summaryInfo);
    if (it == handles.end()) {
        return finish(ERROR_INVALID_HANDLE);
    }
    if (property >= sim::kSummaryPropertyCount) {
        return finish(ERROR_UNKNOWN_PROPERTY);
    }
    if (valueBuffer != nullptr && valueLength == nullptr) {
        return finish(ERROR_INVALID_PARAMETER);
    }
    auto& imposed = sim::Installer().imposedSummary;
    if (auto answer = imposed.find(property); answer != imposed.end()) {
        if (dataType != nullptr) {
            *dataType = sim::kVtLpstr;
        }
        return finish(sim::ImposedAnswer(answer->second, valueBuffer, valueLength));
    }
    const auto& properties = it->second.facts->properties;
    static const sim::SummaryProperty kAbsent{};
    auto found = properties.find(property);
    const sim::SummaryProperty& value = found == properties.end() ? kAbsent : found->second;
    if (dataType != nullptr) {
        *dataType = value.type;
    }
    switch (value.type) {
        case sim::kVtLpstr:
            return finish(sim::CopyValue(value.text, valueBuffer, valueLength));
        case sim::kVtI2:
        case sim::kVtI4:
            if (integerValue != nullptr) {
                *integerValue = value.integer;
            }
            return finish(ERROR_SUCCESS);
        case sim::kVtFiletime:
            if (fileTimeValue != nullptr) {
                *fileTimeValue = value.time;
            }
            return finish(ERROR_SUCCESS);
        default:
            // An absent property is empty.
            return finish(sim::CopyValue(u"", valueBuffer, valueLength));
    }
}

UINT MsiCloseHandle(MSIHANDLE handle) {
    std::vector<std::u16string> arguments;
    if (sim::Recording()) {
        arguments = {sim::NumberArgument(handle)};
    }
    auto finish = [&](UINT result) {
        return static_cast<UINT>(sim::Record("MsiCloseHandle", std::move(arguments), result));
    };
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("MsiCloseHandle", ERROR_INVALID_HANDLE, &error)) {
        return finish(error);
    }
    if (handle == 0) {
        return finish(ERROR_SUCCESS);
    }
    auto& handles = sim::Installer().handles;
    if (handles.erase(handle) == 0) {
        return finish(ERROR_INVALID_HANDLE);
    }
    sim::detail::TrackClose(sim::TrackingAddress(handle));
    return finish(ERROR_SUCCESS);
}

INSTALLSTATE MsiQueryProductStateW(LPCWSTR product) {
    std::vector<std::u16string> arguments;
    if (sim::Recording()) {
        arguments = {sim::TextArgument(product)};
    }
    auto finish = [&](INSTALLSTATE state) {
        return static_cast<INSTALLSTATE>(sim::Record("MsiQueryProductStateW", std::move(arguments), state));
    };
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("MsiQueryProductStateW", static_cast<std::uint32_t>(INSTALLSTATE_UNKNOWN),
                                &error)) {
        return finish(static_cast<INSTALLSTATE>(error));
    }
    const std::u16string packed = product == nullptr ? std::u16string() : sim::PackedGuid(product);
    if (packed.empty()) {
        return finish(INSTALLSTATE_INVALIDARG);
    }
    return finish(sim::StateOfPacked(packed));
}

UINT MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR valueBuffer, DWORD* valueLength) {
    std::vector<std::u16string> arguments;
    if (sim::Recording()) {
        arguments = {sim::TextArgument(product), sim::TextArgument(property),
                     sim::CountArgument(valueLength)};
    }
    auto finish = [&](UINT result) {
        return static_cast<UINT>(sim::Record("MsiGetProductInfoW", std::move(arguments), result));
    };
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("MsiGetProductInfoW", ERROR_UNKNOWN_PRODUCT, &error)) {
        return finish(error);
    }
    if (product == nullptr || property == nullptr || (valueBuffer != nullptr && valueLength == nullptr)) {
        return finish(ERROR_INVALID_PARAMETER);
    }
    const std::u16string packed = sim::PackedGuid(product);
    if (packed.empty()) {
        return finish(ERROR_INVALID_PARAMETER);
    }
    auto& imposed = sim::Installer().imposed;
    if (auto it =
            imposed.empty() ? imposed.end() : imposed.find({sim::Upper(product), std::u16string(property)});
        it != imposed.end()) {
        return finish(sim::ImposedAnswer(it->second, valueBuffer, valueLength));
    }
    std::u16string value;
    const UINT result = sim::LookUpProperty(packed, property, value);
    if (result != ERROR_SUCCESS) {
        return finish(result);
    }
    return finish(sim::CopyValue(value, valueBuffer, valueLength));
}

UINT MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE installState,
                            LPCWSTR commandLine) {
    std::vector<std::u16string> arguments;
    if (sim::Recording()) {
        arguments = {sim::TextArgument(product), sim::NumberArgument(installLevel),
                     sim::NumberArgument(installState), sim::TextArgument(commandLine)};
    }
    std::uint32_t error = 0;
    UINT result = 0;
    if (sim::detail::ShouldFail("MsiConfigureProductExW", ERROR_INSTALL_FAILURE, &error)) {
        result = error;
    } else {
        result = sim::Configure(product, installLevel, installState, commandLine);
    }
    return static_cast<UINT>(sim::Record("MsiConfigureProductExW", std::move(arguments), result));
}

}  // namespace win
