#include <gtest/gtest.h>

#include <string>

#include "String_Utils_Unix.h"

namespace {

TEST(CoreStrings, SixteenBitFunctions) {
    WChar buf[32] = {};
    EXPECT_EQ(w16::wcscpy(buf, u"ab"), buf);
    EXPECT_EQ(w16::wcscpy(buf, nullptr), nullptr);
    w16::wcsncat(buf, u"cd", 10);  // n beyond the source appends it whole
    w16::wcsncat(buf, u"efgh", 2);
    w16::wcscat(buf, u"\u0141");
    EXPECT_EQ(std::u16string(buf), u"abcdef\u0141");
    EXPECT_EQ(w16::wcsstr(buf, u"cde"), buf + 2);
    EXPECT_EQ(w16::wcsstr(buf, u"cdx"), nullptr);
    EXPECT_EQ(w16::wcschr(buf, u'\u0141'), buf + 6);
    EXPECT_GT(w16::wcscmp(u"\u0100", u"\u00ff"), 0);  // 16-bit units, not bytes
    WChar small[4] = {1, 1, 1, 1};
    w16::wcsncpy(small, u"a", 4);
    EXPECT_EQ(std::u16string(small, 4), std::u16string(u"a\0\0\0", 4));
}

TEST(CoreStrings, ConversionsAndSubstrings) {
    WString w = nullptr;
    EXPECT_FALSE(ToWString(nullptr, w));
    ASSERT_TRUE(ToWString("\xE9z", w));
    EXPECT_EQ(std::u16string(w), u"\u00e9z");  // bytes are not decoded, only widened
    FreeWString(w);
    EXPECT_EQ(w, nullptr);
    const WChar units[] = {0x0141, u'b', 0x0100, u'c', 0};
    EXPECT_EQ(ToNarrow(units), "Ab");  // 0x0141 -> 'A'; 0x0100 ends the text

    char* sub = nullptr;
    CopySubstring(sub, "abcdef", 3, 2);
    EXPECT_EQ(sub, nullptr);
    CopySubstring(sub, "abcdef", 1, 3);
    ASSERT_NE(sub, nullptr);
    EXPECT_STREQ(sub, "bcd");
    FreeString(sub);
    WString wsub = nullptr;
    CopySubstring(wsub, u"wxyz", 2, 10);  // clamped to the end
    ASSERT_NE(wsub, nullptr);
    EXPECT_EQ(std::u16string(wsub), u"yz");
    FreeWString(wsub);

    char text[] = "AbZ-\xC4";
    EXPECT_STREQ(StrToUpper(text), "ABZ-\xC4");  // only a..z
    StrToLower(text);
    EXPECT_STREQ(text, "abz-\xC4");
    EXPECT_EQ(FindSubstring(2, "abcabc", "bc"), 4);
    EXPECT_EQ(FindSubstring(9, "abc", "c"), -1);  // start past the end
}

TEST(CoreStrings, FindParameterCornerCases) {
    const struct {
        const char *text, *key;
        char sep, term;
        const char* value;
    } cases[] = {
        {"url(a)lang(en)code()", "lang", '(', ')', "en"},
        {"url(a)lang(en)code()", "code", '(', ')', nullptr},  // empty value: not found
        {"url(a)lang(en)code()", "ng", '(', ')', nullptr},    // letter before the hit
        {"CODE(Ab12)", "Code", '(', ')', "Ab12"},             // the key ignores case, the value keeps it
        {"xurl(a)url(b)", "url", '(', ')', "b"},
        {"lUid=7&mod=1", "luid", '=', '&', "7"},
        {"lUid=7&mod=1", "mod", '=', '&', "1"},  // no terminator: runs to the end
        {"ticket=T1\rerror=\r", "ticket", '=', '\r', "T1"},
        {"ticket=T1\rerror=\r", "error", '=', '\r', nullptr},
        {"\xE9key=v", "key", '=', '&', "v"},   // a byte above 127 is no letter, any locale
        {"9key=v", "key", '=', '&', nullptr},  // a digit before the hit
        {"_key=v", "key", '=', '&', "v"},
        {nullptr, "a", '=', '&', nullptr},
        {"a=1", "", '=', '&', nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text ? c.text : "<null>") + " / " + c.key);
        std::string v;
        EXPECT_EQ(FindParameter(c.text, c.key, c.sep, c.term, v), c.value != nullptr);
        EXPECT_EQ(GetParameter(c.text, c.key, c.sep, c.term, "-"), c.value ? c.value : "-");
    }
}

}  // namespace
