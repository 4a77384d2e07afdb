// Authentication challenges: real header sections, published NTLM messages,
// and hostile NTLM messages that must be refused without reading past the end.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "ProxyAuthChallenge.h"
#include "proxy_test_home.h"

namespace {

using Bytes = std::vector<uint8_t>;
using A = ProxyAuthChallenge;

std::string Fixture(const std::string& name) { return ProxyHome::Fixture(name); }
std::string NtlmFixture(const std::string& name) { return ProxyHome::Trimmed(Fixture("ntlm/" + name)); }

std::string Narrow(const WChar* text) {
    std::string out;
    for (; text && *text; ++text) out.push_back(static_cast<char>(*text & 0xFF));
    return out;
}

std::string Base64(const Bytes& bytes, bool pad = true) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k) v = (v << 8) | (k < n ? bytes[i + k] : 0);
        for (size_t k = 0; k <= n; ++k) out.push_back(kAlphabet[(v >> (18 - 6 * k)) & 63]);
        if (pad) out.append(3 - n, '=');
    }
    return out;
}

void Put(Bytes& m, size_t at, uint32_t v, int size) {
    for (int i = 0; i < size; ++i) m[at + i] = (v >> (8 * i)) & 0xFF;
}

// A CHALLENGE_MESSAGE: the 48-byte fixed part, then AV pairs {id, UTF-16 value}.
Bytes Challenge(const std::vector<std::pair<uint16_t, std::string>>& pairs = {},
                uint32_t targetInfoOffset = 48) {
    Bytes m(48, 0);
    const char sig[] = "NTLMSSP";
    std::copy(sig, sig + 8, m.begin());
    m[8] = 2;
    Put(m, 44, targetInfoOffset, 4);
    for (const auto& [id, value] : pairs) {
        const size_t at = m.size();
        m.resize(at + 4);
        Put(m, at, id, 2);
        Put(m, at + 2, static_cast<uint32_t>(value.size() * 2), 2);
        for (char c : value) m.insert(m.end(), {static_cast<uint8_t>(c), 0});
    }
    return m;
}

std::string Section(const std::string& lines) { return lines + "\r\n\r\n"; }

uint32_t Parse(A& c, const std::string& s) { return c.ParseChallenge(s.data(), s.size()); }

}  // namespace

TEST(ChallengeHeaders, RealHeaderSectionsAndPreferenceOrder) {
    const struct {
        std::string text;
        uint32_t type;
        const char* challengeText;
    } cases[] = {
        {Fixture("http-auth/moodle-squid27-407-basic-then-200.http"), A::AUTH_BASIC,
         "Squid proxy-caching web server"},
        {Fixture("http-auth/pubnub-407-digest-qop.http"), A::AUTH_DIGEST, "testrealm@host.com"},
        {Fixture("http-auth/curl-test2056-401-negotiate-only.http"), A::AUTH_NONE, ""},
        {Fixture("http-auth/curl-test209-407-ntlm-type2-CC.http"), A::AUTH_NTLM_CHALLENGE, "CC"},
        {Section("HTTP/1.1 407 x\r\nProxy-Authenticate: NTLM\r\nProxy-Authenticate: Basic realm=\"Corp\""),
         A::AUTH_BASIC, "Corp"},
        {Section("HTTP/1.1 401 Unauthorized\r\nWWW-AUTHENTICATE: BASIC REALM=\"Intranet Zone\""),
         A::AUTH_BASIC, "Intranet Zone"},
        {Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Digest realm=\"d\"\r\nProxy-Authenticate: NTLM"),
         A::AUTH_NTLM, ""},
        // No blank line, a blank line first, or a challenge only in a later section: none.
        {"HTTP/1.1 407 x\r\nProxy-Authenticate: Basic realm=\"A\"\r\n", A::AUTH_NONE, ""},
        {"\r\n\r\nProxy-Authenticate: Basic realm=\"A\"\r\n\r\n", A::AUTH_NONE, ""},
        {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\nHTTP/1.1 407 x\r\nProxy-Authenticate: Basic "
         "realm=\"L\"\r\n\r\n",
         A::AUTH_NONE, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 200));
        A parser;
        EXPECT_EQ(Parse(parser, c.text), c.type);
        if (c.type != A::AUTH_NTLM) {
            EXPECT_EQ(Narrow(parser.GetChallengeText()), c.challengeText);
        }
    }
    // The blank line lies behind the given length: not part of the text.
    A c;
    const std::string full = Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Basic realm=\"A\"");
    EXPECT_EQ(c.ParseChallenge(full.data(), full.size() - 2), A::AUTH_NONE);
    EXPECT_EQ(c.ParseChallenge(nullptr, 10), A::AUTH_NONE);
}

TEST(ChallengeHeaders, RealmSurvivesSectionsWithoutOne) {
    A c;
    Parse(c, Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Basic realm=\"First\""));
    EXPECT_EQ(Parse(c, Section("HTTP/1.1 200 OK\r\nServer: x")), A::AUTH_NONE);
    EXPECT_EQ(Parse(c, Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Basic charset=\"UTF-8\"")),
              A::AUTH_BASIC);
    Parse(c, Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Basic realm=\"open"));  // unclosed
    EXPECT_EQ(Narrow(c.GetChallengeText()), "First");

    Parse(c, Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Basic realm=\"\""));  // empty: none left
    EXPECT_EQ(c.realm(), nullptr);
    EXPECT_EQ(Narrow(c.GetChallengeText()), "");
}

TEST(NtlmChallenge, PublishedAndBuiltMessagesGiveTheirDomains) {
    A c;
    EXPECT_TRUE(c.ParseNtlmChallenge(NtlmFixture("ms-nlmp-4.2.4.3-Domain.b64").c_str()));
    EXPECT_EQ(Narrow(c.GetChallengeText()), "Domain");
    EXPECT_TRUE(c.ParseNtlmChallenge(NtlmFixture("curl-test209-CC.b64").c_str()));
    EXPECT_EQ(Narrow(c.GetChallengeText()), "CC");

    const struct {
        Bytes message;
        const char* domain;
    } cases[] = {
        {Challenge({{1, "SERVER"}, {2, "WORKGROUP"}, {0, ""}}), "WORKGROUP"},
        {Challenge({{2, "EDGE"}}), "EDGE"},        // ends exactly at the end of the message
        {Challenge({{0, ""}, {2, "OTHER"}}), ""},  // after the end-of-list pair
        {Challenge({{1, "a"}, {3, "b"}, {4, "c"}, {1, "d"}, {2, "TOOLATE"}}),
         ""},  // the walk stops after four
    };
    for (const auto& k : cases) {
        for (bool pad : {true, false}) {
            SCOPED_TRACE(std::string(k.domain) + (pad ? " padded" : ""));
            A fresh;
            EXPECT_TRUE(fresh.ParseNtlmChallenge(Base64(k.message, pad).c_str()));
            EXPECT_EQ(Narrow(fresh.GetChallengeText()), k.domain);
        }
    }
}

// Every message below lies about its sizes; none may change the text found
// before, and asan checks that nothing past the decoded bytes is read.
TEST(NtlmChallenge, HostileTruncatedAndForeignMessagesLeaveTheTextAlone) {
    A c;
    ASSERT_TRUE(c.ParseNtlmChallenge(NtlmFixture("ms-nlmp-4.2.4.3-Domain.b64").c_str()));
    std::vector<Bytes> hostile;
    hostile.push_back(Challenge({{2, "X"}}));  // AvLen far beyond the message
    Put(hostile.back(), 50, 0xFFFF, 2);
    hostile.push_back(Challenge({{2, "EVIL"}}));  // AvLen one byte too long
    Put(hostile.back(), 50, 9, 2);
    hostile.push_back(Challenge({{2, "EVIL"}}, 0xFFFFFFFEu));  // offset past the end, wraps when added to
    hostile.push_back(Challenge({{2, "EVIL"}}));               // offset leaves fewer than 4 bytes for a pair
    Put(hostile.back(), 44, static_cast<uint32_t>(hostile.back().size() - 3), 4);
    hostile.push_back(Challenge({{1, "S"}, {2, "EVIL"}}));  // a walked-past pair jumps beyond the end
    Put(hostile.back(), 50, 0xFFF0, 2);
    hostile.push_back(Challenge());  // fixed part cut short: offset field incomplete
    hostile.back().resize(46);
    for (size_t i = 0; i < hostile.size(); ++i) {
        for (bool pad : {true, false}) {
            c.ParseNtlmChallenge(Base64(hostile[i], pad).c_str());
            EXPECT_EQ(Narrow(c.GetChallengeText()), "Domain") << "message " << i << " pad " << pad;
        }
    }

    // Short, not a type 2 message, wrong signature, not base64: refused.
    Bytes shortMsg = Challenge(), type3 = Challenge({{2, "EVIL"}}), badSig = type3;
    shortMsg.resize(47);
    type3[8] = 3;
    badSig[7] = 'X';
    for (const std::string& text :
         {Base64(shortMsg), Base64(type3), Base64(badSig), std::string(), std::string("!!!!")}) {
        EXPECT_FALSE(c.ParseNtlmChallenge(text.c_str())) << text;
    }
    EXPECT_FALSE(c.ParseNtlmChallenge(nullptr));
    EXPECT_EQ(Narrow(c.GetChallengeText()), "Domain");
}

TEST(WStringBufferTest, AppendsGrowStayTerminatedAndRefuseOverflow) {
    WStringBuffer b;
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        const std::string piece = "piece" + std::to_string(i) + ";";
        ASSERT_TRUE(b.Append(piece.c_str()));
        expected += piece;
        ASSERT_EQ(b.data()[b.length()], 0);
    }
    EXPECT_EQ(Narrow(b.data()), expected);
    const WChar wide[] = {0x0141, 0x00E9};
    ASSERT_TRUE(b.Append(wide, 2));
    EXPECT_EQ(b.data()[expected.size()], 0x0141);
    // A count that cannot fit is refused before anything is touched.
    EXPECT_FALSE(b.Append(wide, UINT32_MAX - 32));
    EXPECT_EQ(b.length(), expected.size() + 2);
    EXPECT_EQ(b.data()[b.length()], 0);
    b.Release();
    ASSERT_TRUE(b.Append("again"));
    EXPECT_EQ(Narrow(b.data()), "again");
}
