// The launcher's words: every language of po/ has every text, each with the
// placeholders of the English, and the language follows the copy's lang
// item, else the desktop's, else English.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "Catalog.h"
#include "Texts.h"

namespace {

TEST(Texts, EveryLanguageHasEveryTextAndItsPlaceholders) {
    std::vector<std::string> languages;
    for (const Catalog& catalog : Catalogs()) languages.push_back(catalog.language());
    EXPECT_EQ(languages, (std::vector<std::string>{"cs", "da", "de", "el", "es", "fi",    "fr",   "hu",
                                                   "it", "ja", "ko", "nb", "nl", "pl",    "pt",   "ro",
                                                   "ru", "sk", "sv", "tr", "uk", "zh_CN", "zh_TW"}));
    for (const Catalog& catalog : Catalogs()) {
        ASSERT_TRUE(catalog.valid()) << catalog.language();
        for (int i = kFirstCatalogText; i < static_cast<int>(TextId::COUNT); ++i) {
            const std::string english = EnglishText(static_cast<TextId>(i));
            SCOPED_TRACE(catalog.language() + ": " + english);
            const char* translated = catalog.find(english.c_str());
            ASSERT_NE(translated, nullptr);
            bool ok = false;
            std::vector<int> theirs = Placeholders(translated, ok), ours = Placeholders(english, ok);
            std::sort(theirs.begin(), theirs.end());
            EXPECT_EQ(theirs, ours);
            // Each part shows once, wherever the language puts it.
            std::vector<UiText> parts;
            for (std::size_t n = 1; n <= ours.size(); ++n)
                parts.push_back(Verbatim("<" + std::to_string(n) + ">"));
            const std::string shown = ScreenText(Text(static_cast<TextId>(i), parts), &catalog);
            for (std::size_t n = 1; n <= ours.size(); ++n) {
                const std::string part = "<" + std::to_string(n) + ">";
                EXPECT_EQ(shown.find(part), shown.rfind(part)) << shown;
                EXPECT_NE(shown.find(part), std::string::npos) << shown;
            }
        }
    }
}

TEST(Texts, TheCopysLanguageElseTheDesktopsElseEnglish) {
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names)
        saved.push_back(getenv(name) ? std::optional<std::string>(getenv(name)) : std::nullopt);
    // clang-format off
    const struct { const char* item; const char* lcAll; const char* lcMessages; const char* lang; const char* shown; } rows[] = {
        {"de", "", "", "fr_FR.UTF-8", "de"},
        {"DE-at", "", "", "", "de"},
        {"pt-BR", "", "", "", "pt"},
        {"pt_PT", "", "", "", "pt"},
        {"zh-TW", "", "", "", "zh_TW"},
        {"zh_HK", "", "", "", "zh_TW"},
        {"zh-Hant", "", "", "", "zh_TW"},
        {"zh", "", "", "", "zh_CN"},
        {"zh-Hans-SG", "", "", "", "zh_CN"},
        {"no", "", "", "", "nb"},
        {"nn-NO", "", "", "", "nb"},
        {"en", "", "", "de_DE.UTF-8", ""},          // the copy's own language
        {"ar", "", "", "de_DE.UTF-8", ""},          // right to left stays English
        {"he-IL", "", "", "de_DE.UTF-8", ""},
        {"tlh", "", "", "de_DE.UTF-8@euro", "de"},  // no table: the desktop's
        {"tlh", "", "ja_JP.UTF-8", "de_DE.UTF-8", "ja"},
        {"tlh", "zh_TW.Big5", "ja_JP.UTF-8", "de_DE.UTF-8", "zh_TW"},
        {"tlh", "C", "", "de_DE.UTF-8", ""},
        {"tlh", "", "", "", ""},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.item) + " " + row.lcAll + " " + row.lcMessages + " " + row.lang);
        for (int i = 0; i < 3; ++i) {
            const char* value = i == 0 ? row.lcAll : i == 1 ? row.lcMessages : row.lang;
            *value ? setenv(names[i], value, 1) : unsetenv(names[i]);
        }
        const Catalog* chosen = ChooseCatalog(row.item);
        EXPECT_EQ(chosen ? chosen->language() : "", row.shown);
    }
    for (int i = 0; i < 3; ++i) saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
}

}  // namespace
