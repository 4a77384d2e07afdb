#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "ApplicationSettings.h"
#include "FakeUserInterface.h"
#include "LauncherTestSupport.h"
#include "ParameterBlockSample.h"

using launchertest::WriteBlock;

namespace {

// The block as the build left it, taken before any test writes into it.
const std::vector<unsigned char> kBuiltBlock(ParameterBlock, ParameterBlock + kParameterBlockSize);

class ParameterBlockTest : public ::testing::Test {
protected:
  void SetUp() override {
    fakeui::Reset();
    SessionParameters = SessionParametersRecord{};
  }
  void TearDown() override {
    std::copy(kBuiltBlock.begin(), kBuiltBlock.end(), ParameterBlock);
  }
  void Parse(const std::string& text, unsigned char session = 1, unsigned char autoRemove = 1) {
    WriteBlock(text, session, autoRemove);
    ParseParameterBlock();
  }
};

TEST_F(ParameterBlockTest, FreshBuildCarriesTheSampleAndBothFlags) {
  ASSERT_EQ(kParameterBlockSampleLength, 115u);
  EXPECT_EQ(std::string(kBuiltBlock.begin(), kBuiltBlock.begin() + 115), kParameterBlockSample);
  for (std::size_t i = 115; i < kParameterTextSize; ++i) ASSERT_EQ(kBuiltBlock[i], 0) << i;
  EXPECT_EQ(kBuiltBlock[kSessionEnabledOffset], 1);
  EXPECT_EQ(kBuiltBlock[kAutoRemoveEnabledOffset], 1);

  std::copy(kBuiltBlock.begin(), kBuiltBlock.end(), ParameterBlock);
  ParseParameterBlock();
  EXPECT_EQ(SessionParameters.url, "https://demo.zels.example/velmoran/");
  EXPECT_EQ(SessionParameters.lang, "en");
  EXPECT_EQ(SessionParameters.owner, "54213");
  EXPECT_EQ(SessionParameters.ac, "3308");
  EXPECT_EQ(SessionParameters.title, "ZELsupport");
  // code() is empty: the code is asked for and the copy stays on disk.
  EXPECT_EQ(fakeui::Count("AskSessionCode"), 1);
  EXPECT_EQ(AutoRemoveEnabled(), 0);
}

TEST_F(ParameterBlockTest, EmptyBlockTakesTheDefaultsAndAsksForTheCode) {
  fakeui::Reset(fakeui::WithCode("98 76", true));
  Parse("", 0, 1);
  const Customization* settings = ApplicationSettings::Get();
  EXPECT_EQ(SessionParameters.url, settings->GetDefaultServerUrl());
  EXPECT_EQ(SessionParameters.owner, "542");
  EXPECT_EQ(SessionParameters.title, "Session assignment");
  EXPECT_EQ(SessionParameters.lang, "en");
  ASSERT_FALSE(SessionParameters.ac.empty());
  EXPECT_LT(std::atol(SessionParameters.ac.c_str()), 100000);
  EXPECT_EQ(SessionParameters.ac.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(SessionParameters.code, "98 76");
  EXPECT_EQ(SessionEnabled(), 1);
  EXPECT_EQ(AutoRemoveEnabled(), 0);
}

TEST_F(ParameterBlockTest, CancelledCodeWindowDisablesTheSessionButKeepsTheText) {
  fakeui::Reset(fakeui::WithCode("half", false));
  Parse("code()url(http://h/)", 1, 1);
  EXPECT_EQ(SessionEnabled(), 0);
  EXPECT_EQ(AutoRemoveEnabled(), 0);
  EXPECT_EQ(SessionParameters.code, "half");
  EXPECT_EQ(SessionParameters.url, "http://h/");
}

TEST_F(ParameterBlockTest, PresentCodeKeepsBothStoredFlags) {
  for (unsigned char session : {0, 1}) {
    for (unsigned char autoRemove : {0, 1}) {
      fakeui::Reset();
      Parse("code(123)", session, autoRemove);
      EXPECT_EQ(fakeui::Count("AskSessionCode"), 0);
      EXPECT_EQ(SessionParameters.code, "123");
      EXPECT_EQ(SessionEnabled(), session);
      EXPECT_EQ(AutoRemoveEnabled(), autoRemove);
    }
  }
}

TEST_F(ParameterBlockTest, KeysMatchWithoutCaseButNotInsideAnotherWord) {
  Parse("code(1)URL(first)Url(second)");
  EXPECT_EQ(SessionParameters.url, "first");
  Parse("code(1)xurl(y)");
  EXPECT_EQ(SessionParameters.url, ApplicationSettings::Get()->GetDefaultServerUrl());
  Parse("code(1)-url(y)");
  EXPECT_EQ(SessionParameters.url, "y");
  Parse("code(1))url(z)");
  EXPECT_EQ(SessionParameters.url, "z");
  Parse("code(1)xac(1)ac(2)");
  EXPECT_EQ(SessionParameters.ac, "2");
  Parse("CODE(Ab12)LANG(De)");
  EXPECT_EQ(SessionParameters.code, "Ab12");
  EXPECT_EQ(SessionParameters.lang, "De");
}

TEST_F(ParameterBlockTest, ValuesEndAtTheFirstCloseAndAreNotTrimmed) {
  Parse("code(1)url(a(b)c)title( A B )lang(de");
  EXPECT_EQ(SessionParameters.url, "a(b");
  EXPECT_EQ(SessionParameters.title, " A B ");
  EXPECT_EQ(SessionParameters.lang, "de");  // no close at the end of the text
}

TEST_F(ParameterBlockTest, EmptyItemsFallBackToDefaults) {
  fakeui::Reset(fakeui::WithCode("5", true));
  Parse("owner()lang()code()url(u)owner(999)");
  EXPECT_EQ(SessionParameters.owner, "542");  // only the first match counts
  EXPECT_EQ(SessionParameters.lang, "en");
  EXPECT_EQ(fakeui::Count("AskSessionCode"), 1);
}

TEST_F(ParameterBlockTest, TextWithoutTerminatorStopsBeforeTheFlags) {
  std::string text = "code(7)title(";
  text.resize(kParameterTextSize, 'T');
  WriteBlock(text, 1, 1);
  const std::string read = ParameterBlockText();
  EXPECT_EQ(read.size(), kParameterTextSize);
  ParseParameterBlock();
  EXPECT_EQ(SessionParameters.title, std::string(kParameterTextSize - 13, 'T'));
  EXPECT_EQ(SessionParameters.code, "7");
}

TEST(SessionRules, ModeAboveTwoIsOperatorInBothBuilds) {
  EXPECT_STREQ(ClientRole("3"), "operator");
  EXPECT_STREQ(ClientRole("2"), "client");
  EXPECT_STREQ(ClientRole("abc"), "client");
  EXPECT_STREQ(ClientRole(""), "client");
  EXPECT_STREQ(ClientRole("  7x"), "operator");
  // Beyond 32 bits: a 32-bit conversion would wrap or clamp differently.
  EXPECT_STREQ(ClientRole("4294967296"), "operator");
  EXPECT_STREQ(ClientRole("99999999999999999999"), "operator");
  EXPECT_STREQ(ClientRole("-4294967296"), "client");
}

TEST(SessionRules, OnlyBlanksAndControlCharactersOfTheCodeAreEncoded) {
  EXPECT_EQ(EncodeSessionCode("123456"), "123456");
  EXPECT_EQ(EncodeSessionCode("a%b&c=d"), "a%b&c=d");
  EXPECT_EQ(EncodeSessionCode("12 34"), "12%2034");
  EXPECT_EQ(EncodeSessionCode("\t1\r\n\x7f"), "%091%0D%0A%7F");
}

TEST(SessionRules, PollUrlHasItsPartsInOrder) {
  SessionParameters = SessionParametersRecord{};
  SessionParameters.url = "http://s/velmoran/";
  SessionParameters.code = "c d";
  SessionParameters.owner = "54213";
  SessionParameters.lang = "de";
  EXPECT_EQ(BuildPollUrl("", 1234),
            "http://s/velmoran/interfaces/web/isd/session.asp?t=&c=c%20d&o=54213&l=de&1234");
  EXPECT_EQ(BuildPollUrl("T1", 18446744073709551615ull),
            "http://s/velmoran/interfaces/web/isd/session.asp?t=T1&c=c%20d&o=54213&l=de&18446744073709551615");
}

}  // namespace
