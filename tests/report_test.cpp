// The message reporter: what each message box shows, in which language, and quiet runs.
#include "messages/report.h"

#include <gtest/gtest.h>

#include "app/entry.h"
#include "app/options.h"
#include "tests/machine_fixture.h"

namespace {

constexpr win::UINT kErrorStyle = 0x50010;
constexpr win::UINT kInformationStyle = 0x50040;

const char16_t kInstallProblem[] =
    u"A problem prevented the Service Pack from being installed. Contact your system administrator. \n\n "
    u"Error Code: ";
const char16_t kInstalledFormat[] = u"The service pack was successfully installed and %s has been updated.";

class ReportTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        CurrentProductName.clear();
    }
    void TearDown() override {
        CurrentProductName.clear();
        MachineTest::TearDown();
    }

    const sim::MessageBoxRecord& OnlyBox() {
        EXPECT_EQ(sim::MessageBoxes().size(), 1u);
        static const sim::MessageBoxRecord none;
        return sim::MessageBoxes().empty() ? none : sim::MessageBoxes().back();
    }

    static std::u16string Replace(std::u16string format, std::u16string_view placeholder,
                                  std::u16string_view value) {
        return format.replace(format.find(placeholder), placeholder.size(), value);
    }
};

TEST_F(ReportTest, QuietShowsNothingAndLeavesTheLastErrorAlone) {
    RunOptions.quiet = true;
    for (unsigned id : {300u, 301u, 306u, 307u, 308u, 309u, 310u}) {
        win::SetLastError(0xC0DE0000U + id);
        ReportMessage(id);
        EXPECT_EQ(win::GetLastError(), 0xC0DE0000U + id) << id;
    }
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_EQ(sim::CallCount("LoadStringW"), 0u);
    EXPECT_EQ(sim::CallCount("MessageBoxW"), 0u);
}

TEST_F(ReportTest, InstallProblemEndsInTheLastErrorAsSignedDecimal) {
    const std::pair<win::DWORD, const char16_t*> cases[] = {
        {5, u"5"},
        {0, u"0"},
        {1603, u"1603"},
        {0x7FFFFFFFU, u"2147483647"},
        {0x80070005U, u"-2147024891"},
        {0x80000000U, u"-2147483648"},
        {0xFFFFFFFFU, u"-1"},
    };
    for (const auto& [code, shown] : cases) {
        sim::ClearMessageBoxes();
        win::SetLastError(code);
        ReportMessage(kMessageInstallProblem);
        EXPECT_EQ(OnlyBox().text, std::u16string(kInstallProblem) + shown) << code;
    }
}

TEST_F(ReportTest, EachMessageHasItsCaptionIconAndValue) {
    CurrentProductName = u"Mervolt Designer";
    struct Case {
        unsigned id;
        std::u16string text;
        const char16_t* caption;
        win::UINT style;
    };
    const Case cases[] = {
        {301, Replace(kInstalledFormat, u"%s", u"Mervolt Designer"), u"Installation Successful",
         kInformationStyle},
        {306, u"Your version of Mervolt Designer is up-to-date and this service pack is not necessary",
         u"Installation Unnecessary", kErrorStyle},
        {307,
         u"The service pack could not be installed because the expected Quorvane product could not be "
         u"located on "
         u"your computer.\nMake sure that you are using the correct service pack for the product.",
         u"Installation Error", kErrorStyle},
        {308,
         u"This service pack could not be installed because it is not designed for the version of Mervolt "
         u"Designer "
         u"that is installed on your computer.",
         u"Installation Error", kErrorStyle},
        {309, u"The command line that you supplied is incorrect. Please check it for errors.",
         u"Installation Error", kErrorStyle},
        {310,
         u"You must supply a patch list with the command line to install this service pack installation.",
         u"Installation Error", kErrorStyle},
    };
    for (const auto& c : cases) {
        sim::ClearMessageBoxes();
        ReportMessage(c.id);
        const sim::MessageBoxRecord& box = OnlyBox();
        EXPECT_EQ(box.owner, nullptr) << c.id;
        EXPECT_EQ(box.text, c.text) << c.id;
        EXPECT_EQ(box.caption, c.caption) << c.id;
        EXPECT_EQ(box.style, c.style) << c.id;
    }
    // 309 is shown exactly as 307 is, but for its text.
    sim::ClearMessageBoxes();
    ReportMessage(kMessageProductNotFound);
    ReportMessage(kMessageBadCommandLine);
    ASSERT_EQ(sim::MessageBoxes().size(), 2u);
    EXPECT_EQ(sim::MessageBoxes()[0].caption, sim::MessageBoxes()[1].caption);
    EXPECT_EQ(sim::MessageBoxes()[0].style, sim::MessageBoxes()[1].style);
}

TEST_F(ReportTest, JapaneseThreadLocaleGivesJapaneseTextAndCaption) {
    ASSERT_TRUE(win::SetThreadLocale(1041));
    CurrentProductName = u"Mervolt";
    ReportMessage(kMessageInstalled);
    const sim::MessageBoxRecord& box = OnlyBox();
    EXPECT_EQ(box.text, u"Service Pack は正常にインストールされ、Mervolt が更新されました。");
    EXPECT_EQ(box.caption, u"インストール完了");
    EXPECT_EQ(box.style, kInformationStyle);
    EXPECT_EQ(box.threadLocale, 1041u);
}

TEST_F(ReportTest, ALanguageWithoutATableFallsBackToEnglish) {
    ASSERT_TRUE(win::SetThreadLocale(1043));
    win::SetLastError(5);
    ReportMessage(kMessageInstallProblem);
    EXPECT_EQ(OnlyBox().text, std::u16string(kInstallProblem) + u"5");
    EXPECT_EQ(OnlyBox().caption, u"Installation Error");
}

TEST_F(ReportTest, AProductNameIsInsertedVerbatim) {
    for (const char16_t* name : {u"Mervolt %s %d %% %n %1000000s", u"%", u"", u"100%d"}) {
        sim::ClearMessageBoxes();
        CurrentProductName = name;
        ReportMessage(kMessageInstalled);
        EXPECT_EQ(OnlyBox().text, Replace(kInstalledFormat, u"%s", name)) << Narrow(name);
    }
}

TEST_F(ReportTest, ALongProductNameIsCutAtTheTextsBound) {
    const std::u16string format = kInstalledFormat;
    const std::size_t maxChars = format.size() + 511;  // room of format + 512, terminator included
    bool cutBeforeAPair = false;
    // Names of 1023 units, made of surrogate pairs, shifted by one unit so that
    // the bound falls once between the halves of a pair and once after a pair.
    for (std::size_t shift : {0u, 1u}) {
        std::u16string name(shift, u'a');
        while (name.size() + 2 <= 1023) {
            name += u"\U0001F600";
        }
        name.resize(1023, u'z');
        sim::ClearMessageBoxes();
        CurrentProductName = name;
        ReportMessage(kMessageInstalled);
        const std::u16string full = Replace(format, u"%s", name);
        const std::u16string& text = OnlyBox().text;
        const bool pairAtBound = full[maxChars - 1] >= 0xD800 && full[maxChars - 1] <= 0xDBFF;
        cutBeforeAPair = cutBeforeAPair || pairAtBound;
        EXPECT_EQ(text.size(), pairAtBound ? maxChars - 1 : maxChars) << shift;
        EXPECT_EQ(full.compare(0, text.size(), text), 0) << shift;
        EXPECT_FALSE(text.back() >= 0xD800 && text.back() <= 0xDBFF) << shift;
    }
    EXPECT_TRUE(cutBeforeAPair);

    // A plain name of 1023 characters: exactly the bound.
    sim::ClearMessageBoxes();
    CurrentProductName = std::u16string(1023, u'N');
    ReportMessage(kMessageUpToDate);
    EXPECT_EQ(
        OnlyBox().text.size(),
        std::u16string(u"Your version of %s is up-to-date and this service pack is not necessary").size() +
            511);
}

TEST_F(ReportTest, TheLastErrorIsReadBeforeAnyStringLoad) {
    // A module whose format exists but whose caption does not: the failed
    // caption load changes the last error after the code was taken.
    static const std::vector<std::uint8_t> block =
        sim::BuildStringBlock({{300, u"Failed: %d"}}, (300 >> 4) + 1);
    InstanceHandle = sim::RegisterModule({{u"", win::RT_STRING_ID, u"", (300 >> 4) + 1, 1033, block.data(),
                                           static_cast<win::DWORD>(block.size())}});
    win::SetLastError(32);
    ReportMessage(kMessageInstallProblem);
    EXPECT_EQ(OnlyBox().text, u"Failed: 32");
    EXPECT_EQ(OnlyBox().caption, u"") << "a missing caption still shows the box";
    EXPECT_NE(win::GetLastError(), 32u) << "the caption load did change it";
}

TEST_F(ReportTest, AMissingFormatStillShowsTheBox) {
    InstanceHandle = sim::RegisterModule({});
    CurrentProductName = u"Mervolt";
    ReportMessage(kMessageInstalled);
    EXPECT_EQ(OnlyBox().text, u"");
    EXPECT_EQ(OnlyBox().caption, u"");
    EXPECT_EQ(OnlyBox().style, kInformationStyle);
}

}  // namespace
