// Our resource compiler against windres, and its errors on broken scripts.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "tests/machine_fixture.h"

namespace {

namespace fs = std::filesystem;

int RunShell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Compile(const fs::path& script, const fs::path& output) {
    return std::string(SPINSTALL_RCCOMPILE) + " -I " + SPINSTALL_RESOURCE_BUILD_DIR + " -o '" + output.string() +
           "' '" + script.string() + "'";
}

TEST_F(MachineTest, ResourceImageIsTheSameAsWindresWrites) {
    if (RunShell("command -v x86_64-w64-mingw32-windres") != 0) {
        GTEST_SKIP() << "windres is not installed";
    }
    const fs::path ours = sandbox_ / "ours.res";
    const fs::path theirs = sandbox_ / "windres.res";
    ASSERT_EQ(RunShell(Compile(SPINSTALL_RESOURCE_SCRIPT, ours)), 0);
    ASSERT_EQ(RunShell(std::string("x86_64-w64-mingw32-windres --include-dir ") + SPINSTALL_RESOURCE_BUILD_DIR +
                  " --include-dir " + fs::path(SPINSTALL_RESOURCE_SCRIPT).parent_path().string() + " -O res -i " +
                  SPINSTALL_RESOURCE_SCRIPT + " -o " + theirs.string()),
              0);
    const auto ourBytes = ReadBytes(ours.string());
    EXPECT_GT(ourBytes.size(), PackageBytes().size());
    EXPECT_TRUE(ourBytes == ReadBytes(theirs.string()));
}

TEST_F(MachineTest, ResourceImageCarriesEveryEntryItDeclares) {
    WriteText((sandbox_ / "blob.bin").string(), "abc");
    WriteText((sandbox_ / "s.rc").string(),
              "#pragma code_page(65001)\n"
              "LANGUAGE 0x11, 1\n"
              "STRINGTABLE\nBEGIN\n  17, \"\xe3\x82\xb5\\n\"\"q\"\"\"\n  18 L\"x\\x41\\101\"\nEND\n"
              "LANGUAGE 9, 1\n"
              "Name  Custom \"blob.bin\" /* a comment */\n"
              "7 300 \"blob.bin\" // another\n");
    const fs::path image = sandbox_ / "s.res";
    ASSERT_EQ(RunShell(Compile(sandbox_ / "s.rc", image)), 0);
    const auto bytes = ReadBytes(image.string());
    std::vector<sim::ResourceEntry> entries;
    ASSERT_TRUE(sim::ParseResourceImage(bytes.data(), bytes.size(), entries));
    ASSERT_EQ(entries.size(), 3U);
    win::HINSTANCE module = sim::RegisterModule(entries);
    win::HRSRC custom = win::FindResourceW(module, u"name", u"CUSTOM");
    ASSERT_NE(custom, nullptr);
    EXPECT_EQ(win::SizeofResource(module, custom), 3U);
    EXPECT_NE(win::FindResourceW(module, u"#7", u"#300"), nullptr);
    char16_t buffer[16];
    win::SetThreadLocale(1041);
    EXPECT_EQ(win::LoadStringW(module, 17, buffer, 16), 5);
    EXPECT_EQ(std::u16string(buffer), u"\u30b5\n\"q\"");
    EXPECT_EQ(win::LoadStringW(module, 18, buffer, 16), 3);
    EXPECT_EQ(std::u16string(buffer), u"xAA");
}

struct BrokenScript {
    const char* name;
    const char* text;
};

const BrokenScript kBrokenScripts[] = {
    {"UnterminatedString", "STRINGTABLE\nBEGIN\n 1 \"abc\nEND\n"},
    {"UnterminatedComment", "/* no end"},
    {"MissingEnd", "STRINGTABLE\nBEGIN\n 1 \"a\"\n"},
    {"StringIdTooLarge", "STRINGTABLE\nBEGIN\n 70000 \"a\"\nEND\n"},
    {"DuplicateString", "STRINGTABLE\nBEGIN\n 1 \"a\"\n 1 \"b\"\nEND\n"},
    {"MissingFile", "X MSP \"no-such-file.bin\"\n"},
    {"UnsupportedDirective", "#include \"other.h\"\n"},
    {"BadNumber", "LANGUAGE 0x1G, 1\n"},
    {"LanguageWithoutComma", "LANGUAGE 9 1\n"},
    {"StrayPunctuation", "}\n"},
    {"InvalidUtf8", "STRINGTABLE\nBEGIN\n 1 \"\xff\xfe\"\nEND\n"},
    {"UnknownEscape", "STRINGTABLE\nBEGIN\n 1 \"\\q\"\nEND\n"},
    {"TypeMissing", "X"},
};

void PrintTo(const BrokenScript& c, std::ostream* out) { *out << c.name; }

class BrokenScripts : public MachineTest, public ::testing::WithParamInterface<BrokenScript> {};

TEST_P(BrokenScripts, FailWithAnErrorAndNoImage) {
    WriteText((sandbox_ / "bad.rc").string(), GetParam().text);
    const fs::path image = sandbox_ / "bad.res";
    EXPECT_EQ(RunShell(Compile(sandbox_ / "bad.rc", image)), 1);
    EXPECT_FALSE(fs::exists(image));
}

INSTANTIATE_TEST_SUITE_P(Cases, BrokenScripts, ::testing::ValuesIn(kBrokenScripts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
