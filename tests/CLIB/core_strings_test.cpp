#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "String_Utils_Unix.h"

namespace {

std::u16string U(const WChar* s) { return s ? std::u16string(s) : std::u16string(u"<null>"); }

TEST(CoreStrings, SixteenBitFunctions) {
  WChar buf[32] = {};
  EXPECT_EQ(w16::wcscpy(buf, u"ab"), buf);
  EXPECT_EQ(U(buf), u"ab");
  EXPECT_EQ(w16::wcscpy(nullptr, u"x"), nullptr);
  EXPECT_EQ(w16::wcscpy(buf, nullptr), nullptr);

  // n larger than the source appends the whole source; smaller n cuts.
  w16::wcsncat(buf, u"cd", 10);
  EXPECT_EQ(U(buf), u"abcd");
  w16::wcsncat(buf, u"efgh", 2);
  EXPECT_EQ(U(buf), u"abcdef");
  w16::wcscat(buf, u"\u0141");
  EXPECT_EQ(w16::wcslen(buf), 7u);
  EXPECT_EQ(w16::wcsncat(nullptr, u"x", 1), nullptr);

  EXPECT_EQ(w16::wcsstr(buf, u""), buf);
  EXPECT_EQ(w16::wcsstr(buf, u"cde"), buf + 2);
  EXPECT_EQ(w16::wcsstr(buf, u"cdx"), nullptr);
  EXPECT_EQ(w16::wcsstr(nullptr, u"a"), nullptr);
  EXPECT_EQ(w16::wcschr(buf, u'\u0141'), buf + 6);
  EXPECT_EQ(w16::wcschr(buf, u'z'), nullptr);

  EXPECT_EQ(w16::wcscmp(u"abc", u"abc"), 0);
  EXPECT_LT(w16::wcscmp(u"abc", u"abd"), 0);
  EXPECT_GT(w16::wcscmp(u"\u0100", u"\u00ff"), 0); // 16-bit units, not bytes
  EXPECT_EQ(w16::wcsncmp(u"abcx", u"abcy", 3), 0);

  WChar small[4] = {1, 1, 1, 1};
  w16::wcsncpy(small, u"a", 4);
  EXPECT_EQ(small[0], u'a');
  EXPECT_EQ(small[3], 0);
}

TEST(CoreStrings, Conversions) {
  WString w = nullptr;
  EXPECT_FALSE(ToWString(nullptr, w));
  EXPECT_EQ(w, nullptr);
  ASSERT_TRUE(ToWString("\xE9z", w));
  EXPECT_EQ(w[0], 0x00E9); // bytes are not decoded, only widened
  EXPECT_EQ(w[1], u'z');
  EXPECT_EQ(w[2], 0);
  FreeWString(w);
  EXPECT_EQ(w, nullptr);
  FreeWString(w); // null is accepted

  const WChar units[] = {0x0141, u'b', 0x0100, u'c', 0};
  char* n = ToNarrowString(units);
  ASSERT_NE(n, nullptr);
  EXPECT_STREQ(n, "Ab"); // 0x0141 -> 'A'; 0x0100 ends the text
  FreeString(n);
  EXPECT_EQ(n, nullptr);
  EXPECT_EQ(ToNarrow(units), "Ab");

  char* sub = nullptr;
  CopySubstring(sub, "abcdef", 1, 3);
  ASSERT_NE(sub, nullptr);
  EXPECT_STREQ(sub, "bcd");
  FreeString(sub);
  CopySubstring(sub, "abcdef", 3, 2);
  EXPECT_EQ(sub, nullptr);
  CopySubstring(sub, nullptr, 0, 2);
  EXPECT_EQ(sub, nullptr);
  CopyFrom(sub, "abcdef", 4);
  ASSERT_NE(sub, nullptr);
  EXPECT_STREQ(sub, "ef");
  FreeString(sub);

  WString wsub = nullptr;
  CopySubstring(wsub, u"wxyz", 2, 10); // clamped to the end
  EXPECT_EQ(U(wsub), u"yz");
  FreeWString(wsub);
}

TEST(CoreStrings, EightBitHelpers) {
  char text[] = "AbZ-\xC4";
  StrToLower(text);
  EXPECT_STREQ(text, "abz-\xC4"); // only A..Z
  EXPECT_STREQ(StrToUpper(text), "ABZ-\xC4");
  EXPECT_EQ(LastIndexOf("/a/b", '/'), 2);
  EXPECT_EQ(LastIndexOf("ab", '/'), -1);
  EXPECT_EQ(LastIndexOf(nullptr, '/'), -1);
  EXPECT_EQ(FindSubstring(0, "abcabc", "bc"), 1);
  EXPECT_EQ(FindSubstring(2, "abcabc", "bc"), 4);
  EXPECT_EQ(FindSubstring(5, "abcabc", "bc"), -1);
  EXPECT_EQ(FindSubstring(0, nullptr, "bc"), -1);
  EXPECT_EQ(FindSubstring(9, "abc", "c"), -1); // start past the end
}

TEST(CoreStrings, FindParameterBlockAndQueryForms) {
  std::string v;
  const char* block = "url(a)lang(en)code()";
  ASSERT_TRUE(FindParameter(block, "lang", '(', ')', v));
  EXPECT_EQ(v, "en");
  EXPECT_FALSE(FindParameter(block, "code", '(', ')', v)); // empty value
  EXPECT_EQ(GetParameter(block, "code", '(', ')', "dflt"), "dflt");
  EXPECT_FALSE(FindParameter(block, "ng", '(', ')', v)); // letter before the hit

  ASSERT_TRUE(FindParameter("CODE(Ab12)", "Code", '(', ')', v));
  EXPECT_EQ(v, "Ab12"); // the key ignores case, the value keeps it
  ASSERT_TRUE(FindParameter("xurl(a)url(b)", "url", '(', ')', v));
  EXPECT_EQ(v, "b");
  ASSERT_TRUE(FindParameter("lUid=7&mod=1", "luid", '=', '&', v));
  EXPECT_EQ(v, "7");
  ASSERT_TRUE(FindParameter("lUid=7&mod=1", "mod", '=', '&', v));
  EXPECT_EQ(v, "1"); // no terminator: runs to the end
  EXPECT_EQ(GetParameter(std::string("ticket=T1\rerror=\r"), std::string("ticket"), '=', '\r', "-"),
            "T1");
  EXPECT_EQ(GetParameter("ticket=T1\rerror=\r", "error", '=', '\r', "-"), "-");

  EXPECT_FALSE(FindParameter(nullptr, "a", '=', '&', v));
  EXPECT_FALSE(FindParameter("a=1", "", '=', '&', v));
  EXPECT_FALSE(FindParameter("", "a", '=', '&', v));
  EXPECT_FALSE(FindParameter("b=1", "a", '=', '&', v));
}

TEST(CoreStrings, FindParameterBoundaryIsAsciiOnly) {
  std::string v;
  // A byte above 127 before the key is not a letter or digit, whatever the locale.
  ASSERT_TRUE(FindParameter("\xE9key=v", "key", '=', '&', v));
  EXPECT_EQ(v, "v");
  EXPECT_FALSE(FindParameter("9key=v", "key", '=', '&', v));
  ASSERT_TRUE(FindParameter("_key=v", "key", '=', '&', v));
  ASSERT_TRUE(FindParameter("a&key=w", "KEY", '=', '&', v));
  EXPECT_EQ(v, "w");
}

} // namespace
