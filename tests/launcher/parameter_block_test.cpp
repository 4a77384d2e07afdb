#include <gtest/gtest.h>

#include <regex>
#include <vector>

#include "ApplicationSettings.h"
#include "FakeUserInterface.h"
#include "LauncherTestSupport.h"
#include "ParameterBlockSample.h"

using launchertest::WriteBlock;
using R = SessionParametersRecord;

namespace {

// The block as the build left it, taken before any test writes into it.
const std::vector<unsigned char> kBuiltBlock(ParameterBlock, ParameterBlock + kParameterBlockSize);

class ParameterBlockTest : public ::testing::Test {
protected:
    void SetUp() override { fakeui::Reset(); }
    void TearDown() override { std::copy(kBuiltBlock.begin(), kBuiltBlock.end(), ParameterBlock); }
    bool Parse(const std::string& text, unsigned char session = 1, unsigned char autoRemove = 1) {
        SessionParameters = R{};
        WriteBlock(text, session, autoRemove);
        return ParseParameterBlock();
    }
};

TEST_F(ParameterBlockTest, ItemsAreFoundAndCutAsTheLauncherReadsThem) {
    const std::string defaultUrl = ApplicationSettings::Get()->GetDefaultServerUrl();
    const std::string cut = "code(1)url(a(b)c)title( A B )lang(de";
    const std::string empty = "owner()lang()code()url(u)owner(999)";
    std::string full = "code(7)title(";  // no terminator: the text stops before the flags
    full.resize(kParameterTextSize, 'T');
    // clang-format off
    const struct {
        std::string text;
        std::string R::*field;
        std::string expected;
    } cases[] = {
        {kParameterBlockSample, &R::url, "https://demo.zels.example/velmoran/"},
        {kParameterBlockSample, &R::ac, "3308"},
        {"code(1)URL(first)Url(second)", &R::url, "first"},  // any case; the first match counts
        {"code(1)xurl(y)", &R::url, defaultUrl},  // a preceding letter makes it another word
        {cut, &R::url, "a(b"}, {cut, &R::title, " A B "}, {cut, &R::lang, "de"},  // first close; kept; to the end
        {empty, &R::owner, "542"}, {empty, &R::lang, "en"},  // empty items take the defaults
        {"", &R::title, "Session assignment"}, {full, &R::title, std::string(kParameterTextSize - 13, 'T')},
    };
    // clang-format on
    for (const auto& c : cases) {
        Parse(c.text);
        EXPECT_EQ(SessionParameters.*c.field, c.expected) << c.text;
    }
    Parse("");  // a made-up ac of at most five digits
    EXPECT_TRUE(std::regex_match(SessionParameters.ac, std::regex("[0-9]{1,5}"))) << SessionParameters.ac;
}

TEST_F(ParameterBlockTest, FlagsFollowTheStoredBytesUnlessTheCodeIsAsked) {
    // A present code keeps both bytes. An asked copy keeps its files; OK enables the session, Cancel not.
    // clang-format off
    const struct {
        std::string text;
        int session, autoRemove;
        fakeui::Script ui;
        int sessionAfter, autoRemoveAfter;
        std::string code;
    } cases[] = {
        {"code(123)", 0, 1, {}, 0, 1, "123"}, {"code(123)", 1, 0, {}, 1, 0, "123"},
        {kParameterBlockSample, 1, 1, {}, 0, 0, ""},
        {"", 0, 1, {.sessionCode = "98 76", .sessionCodeConfirmed = true}, 1, 0, "98 76"},
        {"code()url(http://h/)", 1, 1, {.sessionCode = "half"}, 0, 0, "half"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " " + std::to_string(c.session) + std::to_string(c.autoRemove));
        fakeui::Reset(c.ui);
        Parse(c.text, c.session, c.autoRemove);
        EXPECT_EQ(fakeui::Count("AskSessionCode"), c.code == "123" ? 0 : 1);
        EXPECT_EQ(SessionParameters.code, c.code);
        EXPECT_EQ(SessionEnabled(), c.sessionAfter);
        EXPECT_EQ(AutoRemoveEnabled(), c.autoRemoveAfter);
    }
}

TEST_F(ParameterBlockTest, TlsItemGivesThePolicyOrAMisconfiguredCopyThatAsksNothing) {
    // Pins of RFC 7469's examples; a last character with low bits set never matches any key.
    const std::string pin = "sha256//d6qzRu9zOECb90Uez27xWltNsj0e1Md7GkYYkVoZWmM=",
                      backup = "sha256//E9CZ9INDbd+2eRQozYqqbQ2yXLVKB9+xcprMF+44U1g=",
                      https = "url(https://s/)";
    const int kMisconfigured = -1;
    // clang-format off
    const struct {
        std::string text;
        int mode;
        std::string pins;
    } cases[] = {
        {https, TlsPolicy::TLS_UNVERIFIED, ""}, {https + "tls()", TlsPolicy::TLS_UNVERIFIED, ""},
        {"URL(HTTPS://s/)TLS(verify)", TlsPolicy::TLS_VERIFY, ""},
        {https + "tls(" + pin + ";" + backup + ")", TlsPolicy::TLS_PINNED, pin + ";" + backup},
        {"url(http://s/)tls(verify)", kMisconfigured, ""}, {"tls(verify)", kMisconfigured, ""},  // default: http
        {https + "tls(verify;" + pin + ")", kMisconfigured, ""},
        {https + "tls(" + pin + ";)", kMisconfigured, ""}, {https + "tls(" + pin.substr(0, 51) + ")", kMisconfigured, ""},
        {https + "tls(" + pin.substr(0, 50) + "N=)", kMisconfigured, ""},
        {https + "tls(sha1//" + pin.substr(8) + ")", kMisconfigured, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        fakeui::Reset();
        const bool sound = c.mode != kMisconfigured;
        EXPECT_EQ(Parse(c.text), sound);
        EXPECT_EQ(fakeui::Count("AskSessionCode"), sound ? 1 : 0);
        EXPECT_EQ(SessionParameters.tls.mode, sound ? c.mode : TlsPolicy::TLS_UNVERIFIED);
        EXPECT_EQ(SessionParameters.tls.pins, c.pins);
    }
}

// A 32-bit conversion of the mode would wrap or clamp the long ones; only blanks and controls are encoded.
TEST(SessionRules, ModeAboveTwoIsOperatorAndCodesAreEncodedForTheUrl) {
    // clang-format off
    const std::pair<const char*, const char*> roles[] = {{"3", "operator"}, {"2", "client"}, {"abc", "client"},
        {"", "client"}, {"  7x", "operator"}, {"4294967296", "operator"}, {"99999999999999999999", "operator"},
        {"-4294967296", "client"}};
    const std::pair<const char*, const char*> codes[] = {{"123456", "123456"}, {"a%b&c=d", "a%b&c=d"},
        {"12 34", "12%2034"}, {"\t1\r\n\x7f", "%091%0D%0A%7F"}};
    // clang-format on
    for (const auto& [mode, role] : roles) EXPECT_STREQ(ClientRole(mode), role) << mode;
    for (const auto& [code, encoded] : codes) EXPECT_EQ(EncodeSessionCode(code), encoded) << code;
}

}  // namespace
