// Builds a patch package like the stand-in one, but with a target list of any
// length: summary property 7 names every product code of a file (one a line),
// the revision number carries the patch GUID, and the StandInPatch table gives
// the product version the patch brings, which the simulated installer service
// reads. A target list of megabytes cannot pass through msibuild's command
// line, so the package is written through libmsi directly. No payload stream:
// the package stays small whatever the list.
//
// Usage: make-scaled-package OUT.msp CODES.txt [PATCH_GUID [NEW_VERSION]]
#include <libmsi.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

bool Check(bool ok, GError* error, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "make-scaled-package: %s: %s\n", what,
                     error != nullptr ? error->message : "failed");
    }
    g_clear_error(&error);
    return ok;
}

bool Execute(LibmsiDatabase* database, const char* statement) {
    GError* error = nullptr;
    LibmsiQuery* query = libmsi_query_new(database, statement, &error);
    if (!Check(query != nullptr, error, statement)) {
        return false;
    }
    const bool executed = libmsi_query_execute(query, nullptr, &error);
    const bool ok = Check(executed, error, statement);
    libmsi_query_close(query, nullptr);
    g_object_unref(query);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: make-scaled-package OUT.msp CODES.txt [PATCH_GUID [NEW_VERSION]]\n");
        return 2;
    }
    const std::string out = argv[1];
    const std::string patchGuid = argc > 3 ? argv[3] : "{7C1E9A42-5B3D-4E80-9F26-D8A4B06C1E37}";
    const std::string newVersion = argc > 4 ? argv[4] : "7.2.0.2";
    std::ifstream codes(argv[2]);
    if (!codes) {
        std::fprintf(stderr, "make-scaled-package: cannot read %s\n", argv[2]);
        return 1;
    }
    std::string targets;
    std::string line;
    while (std::getline(codes, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        if (!targets.empty()) {
            targets.push_back(';');
        }
        targets += line;
    }
    // Characters in front of the version would reach the SQL text.
    if (newVersion.find('\'') != std::string::npos) {
        std::fprintf(stderr, "make-scaled-package: the version may not hold a quote\n");
        return 2;
    }

    std::remove(out.c_str());
    GError* error = nullptr;
    LibmsiDatabase* database = libmsi_database_new(out.c_str(), LIBMSI_DB_FLAGS_CREATE, nullptr, &error);
    if (!Check(database != nullptr, error, "creating the database")) {
        return 1;
    }
    bool ok =
        Execute(database,
                "CREATE TABLE `StandInPatch` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
                "PRIMARY KEY `Property`)") &&
        Execute(database, ("INSERT INTO `StandInPatch` (`Property`, `Value`) VALUES ('ProductVersion', '" +
                           newVersion + "')")
                              .c_str());

    LibmsiSummaryInfo* summary = ok ? libmsi_summary_info_new(database, 16, &error) : nullptr;
    ok = ok && Check(summary != nullptr, error, "opening the summary information");
    error = nullptr;
    // The fields msibuild -s writes, with the scaled target list.
    auto setString = [&](LibmsiProperty property, const std::string& text) {
        ok = ok && Check(libmsi_summary_info_set_string(summary, property, text.c_str(), &error), error,
                         "setting a summary property");
        error = nullptr;
    };
    auto setInt = [&](LibmsiProperty property, int value) {
        ok = ok && Check(libmsi_summary_info_set_int(summary, property, value, &error), error,
                         "setting a summary property");
        error = nullptr;
    };
    if (ok) {
        setString(LIBMSI_PROPERTY_TITLE, "Installation Database");
        setString(LIBMSI_PROPERTY_SUBJECT, "Quorvane Mervolt 9.2 Service Pack 3 (scaled target list)");
        setString(LIBMSI_PROPERTY_AUTHOR, "Quorvane");
        setString(LIBMSI_PROPERTY_KEYWORDS, "Installer, MSI");
        setString(LIBMSI_PROPERTY_TEMPLATE, targets);
        setString(LIBMSI_PROPERTY_UUID, patchGuid);
        setInt(LIBMSI_PROPERTY_VERSION, 200);
        setInt(LIBMSI_PROPERTY_SOURCE, 0);
        setInt(LIBMSI_PROPERTY_RESTRICT, 0);
        setString(LIBMSI_PROPERTY_APPNAME, "spinstall make-scaled-package");
        ok = ok &&
             Check(libmsi_summary_info_persist(summary, &error), error, "writing the summary information");
        error = nullptr;
    }
    if (summary != nullptr) {
        g_object_unref(summary);
    }
    ok = ok && Check(libmsi_database_commit(database, &error), error, "committing the database");
    g_object_unref(database);
    return ok ? 0 : 1;
}
