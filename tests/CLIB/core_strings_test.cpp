#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "String_Utils_Unix.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

TEST(CoreStrings, BytesAreWidenedAndUnitsNarrowedNotDecoded) {
    WString w = nullptr;
    ASSERT_TRUE(ToWString("\xE9z", w));
    EXPECT_EQ(std::u16string(w), u"\u00e9z");
    FreeWString(w);
    const WChar units[] = {0x0141, u'b', 0x0100, u'c', 0};
    EXPECT_EQ(ToNarrow(units), "Ab");  // the low byte; 0x0100 ends the text
}

// LC_CTYPE in Latin-1, where isalnum takes 0xE9 for a letter, from a locale made here.
struct Latin1 {
    testsupport::TempDir dir;
    bool ready =
        testsupport::Run({"localedef", "-i", "en_US", "-f", "ISO-8859-1", dir / "l1"}, 60000).exitCode == 0 &&
        setenv("LOCPATH", dir.path().c_str(), 1) == 0 && setlocale(LC_CTYPE, "l1") && isalnum(0xE9);
    ~Latin1() { setlocale(LC_CTYPE, "C"), unsetenv("LOCPATH"); }
};

TEST(CoreStrings, FindParameterAlsoUnderLatin1) {
    const Latin1 locale;
    if (!locale.ready) GTEST_SKIP() << "no Latin-1 locale here (localedef, package locales)";
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
        {"lUid=7&mod=1", "mod", '=', '&', "1"},  // no terminator: runs to the end
        {"ticket=T1\rerror=\r", "ticket", '=', '\r', "T1"},
        {"ticket=T1\rerror=\r", "error", '=', '\r', nullptr},
        {"\xE9key=v", "key", '=', '&', "v"},  // a byte above 127 is no letter, in any locale
        {"9key=v", "key", '=', '&', nullptr},
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
