#include "tests/msi_packages.h"

#include <libmsi.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

bool BuildPatchPackage(const std::string& hostPath, const std::string& targets, const std::string& revision,
                       const std::optional<std::string>& newVersion) {
    std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
    std::filesystem::remove(hostPath);
    if (!Run("msibuild " + ShellQuoted(hostPath) + " -s 'Test patch' 'Tests' " + ShellQuoted(targets) + " " +
             ShellQuoted(revision))) {
        return false;
    }
    if (!newVersion) {
        return true;
    }
    // msibuild names the table after the file.
    const std::string table = hostPath + ".d/StandInPatch.idt";
    std::filesystem::create_directories(std::filesystem::path(table).parent_path());
    {
        std::ofstream out(table, std::ios::binary | std::ios::trunc);
        out << "Property\tValue\ns72\tl0\nStandInPatch\tProperty\nProductVersion\t" << *newVersion << "\n";
    }
    const bool imported = Run("msibuild " + ShellQuoted(hostPath) + " -i " + ShellQuoted(table));
    std::filesystem::remove_all(std::filesystem::path(table).parent_path());
    return imported;
}

std::optional<std::string> PackageTemplate(const std::string& hostPath) {
    GError* error = nullptr;
    LibmsiDatabase* database =
        libmsi_database_new(hostPath.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error);
    g_clear_error(&error);
    if (database == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> text;
    LibmsiSummaryInfo* summary = libmsi_summary_info_new(database, 0, &error);
    g_clear_error(&error);
    if (summary != nullptr) {
        if (libmsi_summary_info_get_property_type(summary, LIBMSI_PROPERTY_TEMPLATE, nullptr) ==
            LIBMSI_PROPERTY_TYPE_STRING) {
            text = libmsi_summary_info_get_string(summary, LIBMSI_PROPERTY_TEMPLATE, nullptr);
        }
        g_object_unref(summary);
    }
    g_object_unref(database);
    return text;
}
