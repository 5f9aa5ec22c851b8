// The option parser over the process command line, and the splitting rules of
// the command line itself.
#include <gtest/gtest.h>

#include "app/options.h"
#include "tests/machine_fixture.h"

namespace {

struct OptionCase {
    const char* name;
    std::vector<std::u16string> arguments;  // after the program name
    bool quiet;
    bool extractRequested;
    std::u16string extractPath;
    bool patchListRequested;
    std::u16string patchListPath;
    bool listRequested;
    bool installMode;
};

const OptionCase kOptionCases[] = {
    {"NoArguments", {}, false, false, u"", false, u"", false, true},
    {"QuietAlone", {u"/q"}, true, false, u"", false, u"", false, true},
    {"UpperCaseForms", {u"/Q", u"/E", u"x", u"/P", u"y", u"/I"}, true, true, u"x", true, u"y", true, false},
    {"UnknownSkipped", {u"/x", u"/e", u"out.msp"}, false, true, u"out.msp", false, u"", false, false},
    {"ExtractLast", {u"/e"}, false, true, u"", false, u"", false, false},
    {"PatchListLast", {u"/p"}, false, false, u"", true, u"", false, false},
    {"LastExtractPathWins", {u"/e", u"a", u"/e", u"b"}, false, true, u"b", false, u"", false, false},
    {"ExtractWithoutPathKeepsEarlier", {u"/e", u"a", u"/e"}, false, true, u"a", false, u"", false, false},
    {"ListStopsParsing", {u"/i", u"/q"}, false, false, u"", false, u"", true, false},
    {"QuietThenList", {u"/q", u"/i"}, true, false, u"", false, u"", true, false},
    {"AllSideModes", {u"/e", u"x", u"/p", u"y", u"/i"}, false, true, u"x", true, u"y", true, false},
    {"ListBeforeExtract", {u"/i", u"/e", u"x"}, false, false, u"", false, u"", true, false},
    {"QuietSwallowedAsPath", {u"/e", u"/q"}, false, true, u"/q", false, u"", false, false},
    {"ListSwallowedAsPath", {u"/e", u"/i"}, false, true, u"/i", false, u"", false, false},
    {"PatchListSwallowsExtract", {u"/p", u"/e"}, false, false, u"", true, u"/e", false, false},
    {"NoPrefixOrOtherForms", {u"-q", u"/quiet", u"q", u"/e2", u"e"}, false, false, u"", false, u"", false, true},
    {"PathWithSpacesKept", {u"/p", u"C:\\my lists\\all.txt"}, false, false, u"", true, u"C:\\my lists\\all.txt",
     false, false},
    // Only A to Z are folded: a dotless capital I is not the letter I.
    {"OnlyAsciiFolded", {u"/\u0130"}, false, false, u"", false, u"", false, true},
};

void PrintTo(const OptionCase& c, std::ostream* out) { *out << c.name; }

class OptionParsing : public MachineTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionParsing, FillsTheRecord) {
    const OptionCase& c = GetParam();
    std::vector<std::u16string> arguments = {u"C:\\programs\\spinstall.exe"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    UseArguments(arguments);

    EXPECT_TRUE(ParseCommandLine());
    EXPECT_EQ(RunOptions.quiet, c.quiet);
    EXPECT_EQ(RunOptions.extractRequested, c.extractRequested);
    EXPECT_EQ(Narrow(RunOptions.extractPath), Narrow(c.extractPath));
    EXPECT_EQ(RunOptions.patchListRequested, c.patchListRequested);
    EXPECT_EQ(Narrow(RunOptions.patchListPath), Narrow(c.patchListPath));
    EXPECT_EQ(RunOptions.listRequested, c.listRequested);
    EXPECT_EQ(RunOptions.installMode, c.installMode);
    EXPECT_TRUE(sim::OpenHandles().empty()) << "the argument array is released";
}

INSTANTIATE_TEST_SUITE_P(Cases, OptionParsing, ::testing::ValuesIn(kOptionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MachineTest, ArgumentZeroIsNeverAnOption) {
    sim::SetCommandLine(u"/e x");
    ParseCommandLine();
    EXPECT_FALSE(RunOptions.extractRequested);
    EXPECT_TRUE(RunOptions.installMode);
}

TEST_F(MachineTest, ParserResetsEarlierValuesButListFlagStays) {
    RunOptions.quiet = true;
    RunOptions.extractPath = u"stale";
    RunOptions.installMode = false;
    RunOptions.listRequested = true;
    UseArguments({u"spinstall.exe"});
    ParseCommandLine();
    EXPECT_FALSE(RunOptions.quiet);
    EXPECT_TRUE(RunOptions.extractPath.empty());
    EXPECT_TRUE(RunOptions.installMode);
    EXPECT_TRUE(RunOptions.listRequested) << "set once per process, never reset by the parser";
}

TEST_F(MachineTest, FailedSplitYieldsTheInstallMode) {
    UseArguments({u"spinstall.exe", u"/e", u"x", u"/q"});
    sim::InjectFault("CommandLineToArgvW", 1);
    EXPECT_TRUE(ParseCommandLine());
    EXPECT_TRUE(RunOptions.installMode);
    EXPECT_FALSE(RunOptions.quiet);
    EXPECT_FALSE(RunOptions.extractRequested);
}

// ---- Splitting the command line ---------------------------------------------

struct SplitCase {
    const char16_t* line;
    std::vector<std::u16string> arguments;
};

const SplitCase kSplitCases[] = {
    {u"prog.exe", {u"prog.exe"}},
    {u"prog.exe a b", {u"prog.exe", u"a", u"b"}},
    {u"prog.exe   a\t\tb  ", {u"prog.exe", u"a", u"b"}},
    {u"\"C:\\Program Files\\prog.exe\" /e", {u"C:\\Program Files\\prog.exe", u"/e"}},
    // The program name keeps its backslashes and ends at the next quote.
    {u"\"C:\\dir\\\"x y", {u"C:\\dir\\", u"x", u"y"}},
    {u"C:\\a\\prog.exe\"q a", {u"C:\\a\\prog.exe\"q", u"a"}},
    {u"p \"a b\" c", {u"p", u"a b", u"c"}},
    {u"p a\"b c\"d", {u"p", u"ab cd"}},
    {u"p \"\"", {u"p", u""}},
    // 2n backslashes and a quote: n backslashes, the quote toggles.
    {u"p a\\\\\"b c\"", {u"p", u"a\\b c"}},
    // 2n+1 backslashes and a quote: n backslashes and a literal quote.
    {u"p a\\\"b", {u"p", u"a\"b"}},
    {u"p a\\\\\\\"b", {u"p", u"a\\\"b"}},
    // Backslashes without a quote are literal.
    {u"p C:\\dir\\ x\\\\y", {u"p", u"C:\\dir\\", u"x\\\\y"}},
    {u"p \"C:\\dir\\\\\"", {u"p", u"C:\\dir\\"}},
    // A quote right after a closing quote inside a quoted run is literal.
    {u"p \"a\"\"b\"", {u"p", u"a\"b"}},
    {u"p \"\"\"\"", {u"p", u"\""}},
    {u"p a\"\"b", {u"p", u"ab"}},
    {u" p", {u"", u"p"}},
};

void PrintTo(const SplitCase& c, std::ostream* out) { *out << Narrow(c.line); }

class CommandLineSplitting : public MachineTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(CommandLineSplitting, FollowsTheDocumentedRules) {
    const SplitCase& c = GetParam();
    int count = -1;
    win::LPWSTR* arguments = win::CommandLineToArgvW(c.line, &count);
    ASSERT_NE(arguments, nullptr);
    std::vector<std::u16string> split(arguments, arguments + count);
    EXPECT_EQ(split, c.arguments) << Narrow(c.line);
    EXPECT_EQ(arguments[count], nullptr);
    EXPECT_EQ(win::GlobalFree(arguments), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineSplitting, ::testing::ValuesIn(kSplitCases));

TEST_F(MachineTest, QuotingGivesTheArgumentsBack) {
    const std::vector<std::vector<std::u16string>> lists = {
        {u"Z:\\work\\spinstall", u"/e", u"out.msp"},
        {u"Z:\\my dir\\spinstall", u"", u"a b", u"tab\there"},
        {u"p", u"quote\"inside", u"\"", u"trailing\\", u"both\\ \\", u"C:\\dir with space\\"},
        {u"p", u"\\\\server\\share", u"back\\\\\"slash", u"\u00e9\u30b5\U0001F600"},
    };
    for (const auto& list : lists) {
        const std::u16string line = sim::QuoteCommandLine(list);
        int count = 0;
        win::LPWSTR* arguments = win::CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(arguments, nullptr);
        EXPECT_EQ(std::vector<std::u16string>(arguments, arguments + count), list) << Narrow(line);
        win::GlobalFree(arguments);
    }
}

}  // namespace
