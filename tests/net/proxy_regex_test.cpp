#include <gtest/gtest.h>
#include <regex.h>

#include <string>
#include <vector>

#include "RegexMatchIterator.h"

namespace {

using Groups = std::vector<std::string>;

std::vector<Groups> All(const std::string& pattern, const std::string& text, int flags)
{
    std::vector<Groups> matches;
    for (RegexMatchIterator it(pattern, text, flags), end; it != end; ++it) {
        matches.push_back(*it);
        if (matches.size() > 100)
            break;  // a loop that does not advance
    }
    return matches;
}

}  // namespace

TEST(RegexMatchIterator, WalksMatchesWithTheirGroups)
{
    const std::string text = " use_http_proxy = true\n host = proxy.example\n port = 3128\n";
    auto m = All("([a-z_]+) = ([^\n]*)", text, REG_EXTENDED);
    ASSERT_EQ(3u, m.size());
    EXPECT_EQ((Groups{"use_http_proxy = true", "use_http_proxy", "true"}), m[0]);
    EXPECT_EQ((Groups{"host = proxy.example", "host", "proxy.example"}), m[1]);
    EXPECT_EQ((Groups{"port = 3128", "port", "3128"}), m[2]);

    // Case-insensitive and newline-sensitive: "$" ends each line.
    auto port = All("PORT[[:blank:]]*=[[:blank:]]*([0-9]+)[[:blank:]]*$", text, REG_EXTENDED | REG_ICASE | REG_NEWLINE);
    ASSERT_EQ(1u, port.size());
    EXPECT_EQ("3128", port[0][1]);
}

TEST(RegexMatchIterator, EndStatesAndCopies)
{
    RegexMatchIterator end;
    EXPECT_TRUE(end.AtEnd());
    EXPECT_TRUE(RegexMatchIterator("([", "text", REG_EXTENDED) == end);  // does not compile
    EXPECT_TRUE(RegexMatchIterator("z", "text", REG_EXTENDED) == end);
    RegexMatchIterator it("[0-9]+", "a1b22c333", REG_EXTENDED);
    RegexMatchIterator copy = it++;
    EXPECT_EQ("1", (*copy)[0]);
    EXPECT_EQ("22", (*it)[0]);
    EXPECT_FALSE(copy == it);
    ++copy;
    EXPECT_TRUE(copy == it);
}

TEST(RegexMatchIterator, EmptyMatchesAdvance)
{
    auto m = All("x*", "abc", REG_EXTENDED);
    EXPECT_EQ(4u, m.size());  // before a, b, c and at the end
    auto n = All("b*", "abba", REG_EXTENDED);
    ASSERT_EQ(4u, n.size());  // before a, bb, before a, at the end
    EXPECT_EQ("", n[0][0]);
    EXPECT_EQ("bb", n[1][0]);
    EXPECT_EQ("", n[2][0]);
}

TEST(RegexMatchIterator, LineStartOnlyAtLineStarts)
{
    EXPECT_EQ(1u, All("^a", "aaa", REG_EXTENDED).size());
    EXPECT_EQ(2u, All("^a", "aa\naa", REG_EXTENDED | REG_NEWLINE).size());
    auto lines = All("^[a-z]+", "one two\nthree", REG_EXTENDED | REG_NEWLINE);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("three", lines[1][0]);
}

TEST(RegexMatchIterator, ManyAndMissingGroups)
{
    // Twelve groups: more than the first room for ten sub-matches.
    std::string pattern, text;
    for (int i = 0; i < 12; ++i) {
        pattern += "(.)";
        text += static_cast<char>('a' + i);
    }
    auto m = All(pattern, text, REG_EXTENDED);
    ASSERT_EQ(1u, m.size());
    ASSERT_EQ(13u, m[0].size());
    EXPECT_EQ("l", m[0][12]);

    // Groups stop at the first one that did not take part.
    auto opt = All("(a)?(b)", "b", REG_EXTENDED);
    ASSERT_EQ(1u, opt.size());
    EXPECT_EQ((Groups{"b"}), opt[0]);
}
