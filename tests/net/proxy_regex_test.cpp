#include <gtest/gtest.h>
#include <regex.h>

#include <string>
#include <vector>

#include "RegexMatchIterator.h"

namespace {

using Groups = std::vector<std::string>;

std::vector<Groups> All(const std::string& pattern, const std::string& text, int flags = REG_EXTENDED) {
    std::vector<Groups> matches;
    for (RegexMatchIterator it(pattern, text, flags), end; it != end && matches.size() <= 100; ++it)
        matches.push_back(*it);  // the bound catches a loop that does not advance
    return matches;
}

}  // namespace

TEST(RegexMatchIterator, WalksMatchesWithTheirGroups) {
    const std::string text = " use_http_proxy = true\n host = proxy.example\n port = 3128\n";
    EXPECT_EQ((std::vector<Groups>{{"use_http_proxy = true", "use_http_proxy", "true"},
                                   {"host = proxy.example", "host", "proxy.example"},
                                   {"port = 3128", "port", "3128"}}),
              All("([a-z_]+) = ([^\n]*)", text));
    // Case-insensitive and newline-sensitive: "$" ends each line.
    auto port = All("PORT[[:blank:]]*=[[:blank:]]*([0-9]+)[[:blank:]]*$", text,
                    REG_EXTENDED | REG_ICASE | REG_NEWLINE);
    ASSERT_EQ(1u, port.size());
    EXPECT_EQ("3128", port[0][1]);

    EXPECT_TRUE(RegexMatchIterator("([", "text", REG_EXTENDED) == RegexMatchIterator());  // does not compile
    EXPECT_TRUE(RegexMatchIterator("t", "text", REG_EXTENDED | REG_NOSUB) == RegexMatchIterator());
    RegexMatchIterator it("[0-9]+", "a1b22c333", REG_EXTENDED);
    RegexMatchIterator copy = it++;
    EXPECT_EQ("1", (*copy)[0]);
    EXPECT_EQ("22", (*it)[0]);
    EXPECT_TRUE(++copy == it);
}

TEST(RegexMatchIterator, EmptyMatchesAdvanceAndLineStartsHold) {
    EXPECT_EQ(4u, All("x*", "abc").size());  // before a, b, c and at the end
    EXPECT_EQ((std::vector<Groups>{{""}, {"bb"}, {""}, {""}}), All("b*", "abba"));
    // Later matches are not at the start of the text (REG_NOTBOL).
    EXPECT_EQ(1u, All("^a", "aaa").size());
    EXPECT_EQ(2u, All("^a", "aa\naa", REG_EXTENDED | REG_NEWLINE).size());
    EXPECT_EQ((std::vector<Groups>{{"one"}, {"three"}}),
              All("^[a-z]+", "one two\nthree", REG_EXTENDED | REG_NEWLINE));
}

TEST(RegexMatchIterator, ManyAndMissingGroups) {
    // Twelve groups: more than the first room for ten sub-matches.
    std::string pattern, text;
    for (int i = 0; i < 12; ++i) {
        pattern += "(.)";
        text += static_cast<char>('a' + i);
    }
    auto m = All(pattern, text);
    ASSERT_EQ(1u, m.size());
    ASSERT_EQ(13u, m[0].size());
    EXPECT_EQ("l", m[0][12]);
    // Groups stop at the first one that did not take part.
    EXPECT_EQ((std::vector<Groups>{{"b"}}), All("(a)?(b)", "b"));
}
