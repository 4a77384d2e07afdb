// Authentication challenges: real header sections, published NTLM messages,
// and hostile NTLM messages that must be refused without reading past the end.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProxyAuthChallenge.h"

namespace {

std::string Fixture(const std::string& name) {
    std::ifstream in(std::string(SA_FIXTURES_DIR) + "/" + name, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

std::string Narrow(const WChar* text) {
    std::string out;
    for (; text && *text; ++text) out.push_back(static_cast<char>(*text & 0xFF));
    return out;
}

std::string Base64(const std::vector<uint8_t>& bytes, bool pad = true) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        for (int s = 18; s >= 0; s -= 6) out.push_back(kAlphabet[(v >> s) & 63]);
    }
    const size_t rest = bytes.size() - i;
    if (rest == 1) {
        const uint32_t v = bytes[i] << 16;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        if (pad) out += "==";
    } else if (rest == 2) {
        const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        if (pad) out += "=";
    }
    return out;
}

void Put16(std::vector<uint8_t>& m, size_t at, uint16_t v) {
    m[at] = v & 0xFF;
    m[at + 1] = v >> 8;
}

void Put32(std::vector<uint8_t>& m, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) m[at + i] = (v >> (8 * i)) & 0xFF;
}

void AddPair(std::vector<uint8_t>& m, uint16_t id, const std::string& value, bool utf16 = true) {
    const size_t at = m.size();
    std::vector<uint8_t> v;
    for (char c : value) {
        v.push_back(static_cast<uint8_t>(c));
        if (utf16) v.push_back(0);
    }
    m.resize(at + 4);
    Put16(m, at, id);
    Put16(m, at + 2, static_cast<uint16_t>(v.size()));
    m.insert(m.end(), v.begin(), v.end());
}

// A CHALLENGE_MESSAGE with the 48-byte fixed part; TargetInfo follows at 48.
std::vector<uint8_t> ChallengeHeader(uint32_t targetInfoOffset = 48) {
    std::vector<uint8_t> m(48, 0);
    const char sig[] = "NTLMSSP";
    std::copy(sig, sig + 8, m.begin());
    m[8] = 2;
    Put32(m, 44, targetInfoOffset);
    return m;
}

std::string Section(const std::string& lines) { return lines + "\r\n\r\n"; }

}  // namespace

TEST(ChallengeHeaders, RealSquidBasicChallengeGivesItsRealm) {
    const std::string text = Fixture("http-auth/moodle-squid27-407-basic-then-200.http");
    ProxyAuthChallenge c;
    EXPECT_EQ(c.ParseChallenge(text.data(), text.size()), ProxyAuthChallenge::AUTH_BASIC);
    EXPECT_EQ(Narrow(c.GetChallengeText()), "Squid proxy-caching web server");
}

TEST(ChallengeHeaders, RealDigestChallengeGivesItsRealm) {
    const std::string text = Fixture("http-auth/pubnub-407-digest-qop.http");
    ProxyAuthChallenge c;
    EXPECT_EQ(c.ParseChallenge(text.data(), text.size()), ProxyAuthChallenge::AUTH_DIGEST);
    EXPECT_EQ(Narrow(c.GetChallengeText()), "testrealm@host.com");
}

TEST(ChallengeHeaders, NegotiateOnlyIsNotRecognised) {
    const std::string text = Fixture("http-auth/curl-test2056-401-negotiate-only.http");
    ProxyAuthChallenge c;
    EXPECT_EQ(c.ParseChallenge(text.data(), text.size()), ProxyAuthChallenge::AUTH_NONE);
    EXPECT_EQ(Narrow(c.GetChallengeText()), "");
}

TEST(ChallengeHeaders, RealNtlmChallengeMessageGivesTheDomain) {
    const std::string text = Fixture("http-auth/curl-test209-407-ntlm-type2-CC.http");
    ProxyAuthChallenge c;
    EXPECT_EQ(c.ParseChallenge(text.data(), text.size()), ProxyAuthChallenge::AUTH_NTLM_CHALLENGE);
    EXPECT_EQ(Narrow(c.GetChallengeText()), "CC");
}

TEST(ChallengeHeaders, PreferenceOrderAndLetterCase) {
    ProxyAuthChallenge c;
    std::string s = Section("HTTP/1.1 407 Proxy Authentication Required\r\n"
                            "Proxy-Authenticate: NTLM\r\n"
                            "Proxy-Authenticate: Basic realm=\"Corp\"");
    EXPECT_EQ(c.ParseChallenge(s.data(), s.size()), ProxyAuthChallenge::AUTH_BASIC);
    EXPECT_EQ(Narrow(c.GetChallengeText()), "Corp");

    s = Section("HTTP/1.1 401 Unauthorized\r\nWWW-AUTHENTICATE: BASIC REALM=\"Intranet Zone\"");
    EXPECT_EQ(c.ParseChallenge(s.data(), s.size()), ProxyAuthChallenge::AUTH_BASIC);
    EXPECT_EQ(Narrow(c.GetChallengeText()), "Intranet Zone");

    s = Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Digest realm=\"d\"\r\nProxy-Authenticate: NTLM");
    EXPECT_EQ(c.ParseChallenge(s.data(), s.size()), ProxyAuthChallenge::AUTH_NTLM);
}

TEST(ChallengeHeaders, SectionMustEndWithABlankLineWithinTheLength) {
    ProxyAuthChallenge c;
    const std::string noBlank = "HTTP/1.1 407 x\r\nProxy-Authenticate: Basic realm=\"A\"\r\n";
    EXPECT_EQ(c.ParseChallenge(noBlank.data(), noBlank.size()), ProxyAuthChallenge::AUTH_NONE);
    const std::string atStart = "\r\n\r\nProxy-Authenticate: Basic realm=\"A\"\r\n\r\n";
    EXPECT_EQ(c.ParseChallenge(atStart.data(), atStart.size()), ProxyAuthChallenge::AUTH_NONE);
    // The blank line lies behind the given length: not part of the text.
    const std::string full = Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Basic realm=\"A\"");
    EXPECT_EQ(c.ParseChallenge(full.data(), full.size() - 2), ProxyAuthChallenge::AUTH_NONE);
    EXPECT_EQ(c.ParseChallenge(nullptr, 10), ProxyAuthChallenge::AUTH_NONE);
    EXPECT_EQ(Narrow(c.GetChallengeText()), "");
}

TEST(ChallengeHeaders, OnlyTheFirstSectionCounts) {
    ProxyAuthChallenge c;
    const std::string s = "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nHTTP/1.1 407 x\r\n"
                          "Proxy-Authenticate: Basic realm=\"Later\"\r\n\r\n";
    EXPECT_EQ(c.ParseChallenge(s.data(), s.size()), ProxyAuthChallenge::AUTH_NONE);
}

TEST(ChallengeHeaders, RealmSurvivesSectionsWithoutOne) {
    ProxyAuthChallenge c;
    std::string s = Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Basic realm=\"First\"");
    c.ParseChallenge(s.data(), s.size());
    EXPECT_EQ(Narrow(c.GetChallengeText()), "First");

    // No challenge at all: the text found earlier stays.
    s = Section("HTTP/1.1 200 OK\r\nServer: x");
    EXPECT_EQ(c.ParseChallenge(s.data(), s.size()), ProxyAuthChallenge::AUTH_NONE);
    EXPECT_EQ(Narrow(c.GetChallengeText()), "First");

    // Basic without realm, or with an unclosed one, keeps the old realm.
    s = Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Basic charset=\"UTF-8\"");
    EXPECT_EQ(c.ParseChallenge(s.data(), s.size()), ProxyAuthChallenge::AUTH_BASIC);
    EXPECT_EQ(Narrow(c.GetChallengeText()), "First");
    s = Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Basic realm=\"open");
    c.ParseChallenge(s.data(), s.size());
    EXPECT_EQ(Narrow(c.GetChallengeText()), "First");

    // An empty realm leaves none.
    s = Section("HTTP/1.1 407 x\r\nProxy-Authenticate: Basic realm=\"\"");
    c.ParseChallenge(s.data(), s.size());
    EXPECT_EQ(c.realm(), nullptr);
    EXPECT_EQ(Narrow(c.GetChallengeText()), "");
}

TEST(NtlmChallenge, PublishedSampleMessagesGiveTheirDomains) {
    ProxyAuthChallenge c;
    EXPECT_TRUE(c.ParseNtlmChallenge(Trimmed(Fixture("ntlm/ms-nlmp-4.2.4.3-Domain.b64")).c_str()));
    EXPECT_EQ(Narrow(c.GetChallengeText()), "Domain");
    EXPECT_TRUE(c.ParseNtlmChallenge(Trimmed(Fixture("ntlm/curl-test209-CC.b64")).c_str()));
    EXPECT_EQ(Narrow(c.GetChallengeText()), "CC");
}

TEST(NtlmChallenge, DomainAfterComputerNameIsFoundAndEolFirstGivesNothingNew) {
    ProxyAuthChallenge c;
    auto m = ChallengeHeader();
    AddPair(m, 1, "SERVER");
    AddPair(m, 2, "WORKGROUP");
    AddPair(m, 0, "");
    EXPECT_TRUE(c.ParseNtlmChallenge(Base64(m).c_str()));
    EXPECT_EQ(Narrow(c.GetChallengeText()), "WORKGROUP");

    auto eol = ChallengeHeader();
    AddPair(eol, 0, "");
    AddPair(eol, 2, "OTHER");
    EXPECT_TRUE(c.ParseNtlmChallenge(Base64(eol).c_str()));
    EXPECT_EQ(Narrow(c.GetChallengeText()), "WORKGROUP");
}

TEST(NtlmChallenge, WalkStopsAfterFourPairs) {
    ProxyAuthChallenge c;
    auto m = ChallengeHeader();
    AddPair(m, 1, "a");
    AddPair(m, 3, "b");
    AddPair(m, 4, "c");
    AddPair(m, 1, "d");
    AddPair(m, 2, "TOOLATE");
    EXPECT_TRUE(c.ParseNtlmChallenge(Base64(m).c_str()));
    EXPECT_EQ(Narrow(c.GetChallengeText()), "");
}

TEST(NtlmChallenge, DomainPairEndingExactlyAtTheEndIsRead) {
    ProxyAuthChallenge c;
    auto m = ChallengeHeader();
    AddPair(m, 2, "EDGE");
    for (bool pad : {true, false}) {
        EXPECT_TRUE(c.ParseNtlmChallenge(Base64(m, pad).c_str()));
        EXPECT_EQ(Narrow(c.GetChallengeText()), "EDGE");
    }
}

// Every message below lies about its sizes; none may change the text found
// before, and asan checks that nothing past the decoded bytes is read.
TEST(NtlmChallenge, HostileAndTruncatedMessagesLeaveTheTextAlone) {
    ProxyAuthChallenge c;
    ASSERT_TRUE(c.ParseNtlmChallenge(Trimmed(Fixture("ntlm/ms-nlmp-4.2.4.3-Domain.b64")).c_str()));

    std::vector<std::vector<uint8_t>> hostile;
    {
        auto m = ChallengeHeader();  // AvLen far beyond the message
        m.resize(52);
        Put16(m, 48, 2);
        Put16(m, 50, 0xFFFF);
        m.push_back('X');
        m.push_back(0);
        hostile.push_back(m);
    }
    {
        auto m = ChallengeHeader();  // AvLen one byte too long
        AddPair(m, 2, "EVIL");
        Put16(m, 50, 9);
        hostile.push_back(m);
    }
    {
        auto m = ChallengeHeader(0xFFFFFFFEu);  // offset past the end, wraps when added to
        AddPair(m, 2, "EVIL");
        hostile.push_back(m);
    }
    {
        auto m = ChallengeHeader();  // offset leaves fewer than 4 bytes for a pair
        AddPair(m, 2, "EVIL");
        Put32(m, 44, static_cast<uint32_t>(m.size() - 3));
        hostile.push_back(m);
    }
    {
        auto m = ChallengeHeader();  // a walked-past pair jumps beyond the end
        AddPair(m, 1, "S");
        AddPair(m, 2, "EVIL");
        Put16(m, 50, 0xFFF0);
        hostile.push_back(m);
    }
    {
        auto m = ChallengeHeader();  // fixed part cut short: offset field incomplete
        m.resize(46);
        hostile.push_back(m);
    }
    for (size_t i = 0; i < hostile.size(); ++i) {
        for (bool pad : {true, false}) {
            c.ParseNtlmChallenge(Base64(hostile[i], pad).c_str());
            EXPECT_EQ(Narrow(c.GetChallengeText()), "Domain") << "message " << i << " pad " << pad;
        }
    }
}

TEST(NtlmChallenge, NotAChallengeMessageIsRefused) {
    ProxyAuthChallenge c;
    ASSERT_TRUE(c.ParseNtlmChallenge(Trimmed(Fixture("ntlm/curl-test209-CC.b64")).c_str()));

    auto shortMsg = ChallengeHeader();
    shortMsg.resize(47);
    EXPECT_FALSE(c.ParseNtlmChallenge(Base64(shortMsg).c_str()));

    auto type3 = ChallengeHeader();
    AddPair(type3, 2, "EVIL");
    type3[8] = 3;
    EXPECT_FALSE(c.ParseNtlmChallenge(Base64(type3).c_str()));

    auto badSig = ChallengeHeader();
    AddPair(badSig, 2, "EVIL");
    badSig[7] = 'X';
    EXPECT_FALSE(c.ParseNtlmChallenge(Base64(badSig).c_str()));

    EXPECT_FALSE(c.ParseNtlmChallenge(""));
    EXPECT_FALSE(c.ParseNtlmChallenge("!!!!"));
    EXPECT_FALSE(c.ParseNtlmChallenge(nullptr));
    EXPECT_EQ(Narrow(c.GetChallengeText()), "CC");
}

TEST(WStringBufferTest, AppendsGrowAndStayTerminated) {
    WStringBuffer b;
    EXPECT_EQ(b.capacity(), 128u);
    EXPECT_EQ(b.length(), 0u);
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        const std::string piece = "piece" + std::to_string(i) + ";";
        ASSERT_TRUE(b.Append(piece.c_str()));
        expected += piece;
        ASSERT_EQ(b.length(), expected.size());
        ASSERT_GE(b.capacity(), b.length() + 1);
        ASSERT_EQ(b.data()[b.length()], 0);
    }
    EXPECT_EQ(Narrow(b.data()), expected);

    const WChar wide[] = {0x0141, 0x00E9};
    ASSERT_TRUE(b.Append(wide, 2));
    EXPECT_EQ(b.data()[expected.size()], 0x0141);
    EXPECT_EQ(b.data()[expected.size() + 1], 0x00E9);
    EXPECT_TRUE(b.Append(wide, 0));
    EXPECT_TRUE(b.Append(nullptr, 5));
    EXPECT_EQ(b.length(), expected.size() + 2);
    // A count that cannot fit is refused before anything is touched.
    EXPECT_FALSE(b.Append(wide, UINT32_MAX - 32));
    EXPECT_EQ(b.length(), expected.size() + 2);
    EXPECT_EQ(b.data()[b.length()], 0);

    b.Clear();
    EXPECT_EQ(b.length(), 0u);
    EXPECT_EQ(b.data()[0], 0);
    b.Release();
    EXPECT_EQ(b.data(), nullptr);
    ASSERT_TRUE(b.Append("again"));
    EXPECT_EQ(Narrow(b.data()), "again");
}
