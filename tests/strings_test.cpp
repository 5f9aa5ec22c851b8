// The message table as compiled into the executable, in every language.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "app/entry.h"
#include "messages/report.h"
#include "tests/machine_fixture.h"

namespace {

using StringTable = std::map<unsigned, std::u16string>;

// Every string of the compiled image, by language and id, read from the
// string-table blocks themselves (no loader fallback in between).
const std::map<win::LANGID, StringTable>& CompiledStrings() {
    static const std::map<win::LANGID, StringTable> tables = [] {
        // The image carries the whole package: read it in one piece.
        std::ifstream in(SPINSTALL_RESOURCE_IMAGE, std::ios::binary | std::ios::ate);
        static std::vector<std::uint8_t> image(
            static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
        std::vector<sim::ResourceEntry> entries;
        std::map<win::LANGID, StringTable> result;
        if (!sim::ParseResourceImage(image.data(), image.size(), entries)) {
            return result;
        }
        for (const auto& entry : entries) {
            if (!entry.typeName.empty() || entry.typeId != win::RT_STRING_ID || !entry.name.empty()) {
                continue;
            }
            std::size_t offset = 0;
            for (unsigned index = 0; index < 16 && offset + 2 <= entry.size; ++index) {
                const std::size_t length = entry.data[offset] | (entry.data[offset + 1] << 8);
                offset += 2;
                std::u16string text;
                for (std::size_t k = 0; k < length && offset + 2 <= entry.size; ++k, offset += 2) {
                    text.push_back(static_cast<char16_t>(entry.data[offset] | (entry.data[offset + 1] << 8)));
                }
                if (!text.empty()) {
                    result[entry.language][(entry.nameId - 1u) * 16 + index] = text;
                }
            }
        }
        return result;
    }();
    return tables;
}

const win::LANGID kLanguages[] = {1028, 1029, 1031, 1033, 1034, 1036, 1038,
                                  1040, 1041, 1042, 1045, 1046, 1049, 2052};
const unsigned kMessageIds[] = {300, 301, 306, 307, 308, 309, 310, 311, 312, 313};

std::size_t Count(std::u16string_view text, char16_t c) {
    return std::count(text.begin(), text.end(), c);
}

// The "%" conversions of a text, in order ("d", "s", ...).
std::string Placeholders(std::u16string_view text) {
    std::string found;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%') {
            found += i + 1 < text.size() && text[i + 1] < 0x80 ? static_cast<char>(text[i + 1]) : '?';
        }
    }
    return found;
}

bool IsWellFormedUtf16(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        } else if (text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

TEST(StringTableTest, TheFourteenLanguagesAndNoOthers) {
    std::set<win::LANGID> present;
    for (const auto& [language, table] : CompiledStrings()) {
        present.insert(language);
    }
    EXPECT_EQ(present, std::set<win::LANGID>(std::begin(kLanguages), std::end(kLanguages)));
}

TEST(StringTableTest, EveryLanguageHoldsExactlyItsIds) {
    for (win::LANGID language : kLanguages) {
        std::set<unsigned> expected(std::begin(kMessageIds), std::end(kMessageIds));
        if (language == 1033) {
            expected.insert({700, 900});
        }
        std::set<unsigned> present;
        const auto found = CompiledStrings().find(language);
        if (found != CompiledStrings().end()) {
            for (const auto& [id, text] : found->second) {
                present.insert(id);
            }
        }
        EXPECT_EQ(present, expected) << "language " << language;
    }
}

TEST(StringTableTest, EnglishIsExactlyTheMessageTable) {
    const std::pair<unsigned, const char16_t*> english[] = {
        {300,
         u"A problem prevented the Service Pack from being installed. Contact your system administrator. "
         u"\n\n "
         u"Error Code: %d"},
        {301, u"The service pack was successfully installed and %s has been updated."},
        {306, u"Your version of %s is up-to-date and this service pack is not necessary"},
        {307,
         u"The service pack could not be installed because the expected Quorvane product could not be "
         u"located on "
         u"your computer.\nMake sure that you are using the correct service pack for the product."},
        {308,
         u"This service pack could not be installed because it is not designed for the version of %s that is "
         u"installed on your computer."},
        {309, u"The command line that you supplied is incorrect. Please check it for errors."},
        {310,
         u"You must supply a patch list with the command line to install this service pack installation."},
        {311, u"Installation Error"},
        {312, u"Installation Successful"},
        {313, u"Installation Unnecessary"},
        {700, u"7.2.0.2"},
        {900, u"7.0.43.3,7.0.43.6,7.1.0.5,"},
    };
    const StringTable& table = CompiledStrings().at(1033);
    for (const auto& [id, text] : english) {
        ASSERT_TRUE(table.count(id)) << id;
        EXPECT_EQ(table.at(id), text) << id;
    }
}

TEST(StringTableTest, TranslationsKeepPlaceholdersAndLineFeeds) {
    const StringTable& english = CompiledStrings().at(1033);
    for (win::LANGID language : kLanguages) {
        const auto found = CompiledStrings().find(language);
        ASSERT_NE(found, CompiledStrings().end()) << language;
        for (unsigned id : kMessageIds) {
            ASSERT_TRUE(found->second.count(id)) << language << "/" << id;
            const std::u16string& text = found->second.at(id);
            const std::u16string& reference = english.at(id);
            const std::string where =
                std::to_string(language) + "/" + std::to_string(id) + ": " + Narrow(text);
            EXPECT_EQ(Placeholders(text), Placeholders(reference)) << where;
            EXPECT_EQ(Count(text, u'\n'), Count(reference, u'\n')) << where;
            EXPECT_EQ(Count(text, u'\r'), 0u) << where;
            EXPECT_LE(text.size(), 255u) << where;
            EXPECT_TRUE(IsWellFormedUtf16(text)) << where;
            if (language != 1033) {
                EXPECT_NE(text, reference) << where << " is not translated";
            }
        }
        EXPECT_NE(found->second.at(307).find(u"Quorvane"), std::u16string::npos) << language;
    }
    // What the English table itself fixes.
    EXPECT_EQ(Placeholders(english.at(300)), "d");
    EXPECT_EQ(Count(english.at(300), u'\n'), 2u);
    EXPECT_EQ(Count(english.at(307), u'\n'), 1u);
    for (unsigned id : {301u, 306u, 308u}) {
        EXPECT_EQ(Placeholders(english.at(id)), "s") << id;
    }
}

class LocalizedLoadTest : public MachineTest {};

TEST_F(LocalizedLoadTest, EachThreadLocaleLoadsItsOwnTable) {
    for (win::LANGID language : kLanguages) {
        ASSERT_TRUE(win::SetThreadLocale(language)) << language;
        for (unsigned id : kMessageIds) {
            std::u16string text;
            const int loaded = LoadResourceString(InstanceHandle, id, text, kStringLoadChars);
            EXPECT_EQ(text, CompiledStrings().at(language).at(id)) << language << "/" << id;
            EXPECT_EQ(loaded, static_cast<int>(text.size()));
        }
    }
}

TEST_F(LocalizedLoadTest, TheUserDefaultLanguageServesAThreadThatKeptIt) {
    for (win::LANGID language : kLanguages) {
        sim::SetUserDefaultLocale(language);
        std::u16string caption;
        LoadResourceString(InstanceHandle, kCaptionError, caption, kStringLoadChars);
        EXPECT_EQ(caption, CompiledStrings().at(language).at(kCaptionError)) << language;
    }
}

TEST_F(LocalizedLoadTest, VersionStringsLoadUnderEveryLocale) {
    std::vector<win::LCID> locales(std::begin(kLanguages), std::end(kLanguages));
    locales.insert(locales.end(), {1043, 1053, 3082, 2057});  // without a table, or another sublanguage
    for (win::LCID locale : locales) {
        ASSERT_TRUE(win::SetThreadLocale(locale)) << locale;
        std::u16string target;
        std::u16string candidates;
        EXPECT_EQ(LoadResourceString(InstanceHandle, kStringTargetVersion, target, kStringLoadChars), 7)
            << locale;
        EXPECT_EQ(target, u"7.2.0.2") << locale;
        EXPECT_EQ(LoadResourceString(InstanceHandle, kStringCandidateVersions, candidates, kStringLoadChars),
                  26)
            << locale;
        EXPECT_EQ(candidates, u"7.0.43.3,7.0.43.6,7.1.0.5,") << locale;
    }
}

TEST_F(LocalizedLoadTest, AMissingStringEmptiesTheText) {
    for (unsigned id : {302u, 305u, 701u, 40000u}) {
        std::u16string text = u"previous";
        EXPECT_EQ(LoadResourceString(InstanceHandle, id, text, kStringLoadChars), 0) << id;
        EXPECT_TRUE(text.empty()) << id;
    }
}

TEST_F(LocalizedLoadTest, ALoadIsCutToTheBuffer) {
    std::u16string text = u"previous";
    EXPECT_EQ(LoadResourceString(InstanceHandle, kCaptionError, text, 8), 7);
    EXPECT_EQ(text, u"Install");
    // A buffer of no room must not turn into the loader's read-only pointer form.
    EXPECT_EQ(LoadResourceString(InstanceHandle, kCaptionError, text, 0), 0);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(LoadResourceString(InstanceHandle, kCaptionError, text, 1), 0);
    EXPECT_TRUE(text.empty());
}

}  // namespace
