// The personalisation tool on the launcher as the build made it. It runs the
// built tool, so it is no unit test (the 32-bit tool may need an emulator).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "ParameterBlock.h"
#include "ParameterBlockSample.h"
#include "Subprocess.h"
#include "TempDir.h"

using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

const std::string kLauncher = SA_BINARY_DIR "/launcher/launcher";
const std::string kTool = SA_BINARY_DIR "/tools/personalise";
const std::string kSample(kParameterBlockSample, kParameterBlockSampleLength);

TEST(Personalise, WritesTheItemsAndFlagsIntoACopy) {
  TempDir temp;
  const std::string copy = temp / "copy";
  const auto r = testsupport::Run({kTool, kLauncher, copy, "--url", "http://127.0.0.1:8/velmoran/", "--lang", "de",
                      "--owner", "77", "--code", "12 34", "--ac", "4242", "--title", "A B",
                      "--cownerid", "77__site", "--session-enabled", "0", "--auto-remove", "1"},
                     30000);
  ASSERT_EQ(r.exitCode, 0) << r.output;

  const std::string original = ReadFile(kLauncher);
  const std::string patched = ReadFile(copy);
  ASSERT_EQ(patched.size(), original.size());
  const auto at = original.find(kSample);
  const std::string text =
      "url(http://127.0.0.1:8/velmoran/)lang(de)owner(77)code(12 34)ac(4242)title(A B)cownerid(77__site)";
  EXPECT_EQ(patched.compare(at, text.size(), text), 0);
  for (std::size_t i = text.size(); i < kParameterTextSize; ++i) ASSERT_EQ(patched[at + i], '\0') << i;
  EXPECT_EQ(patched[at + kSessionEnabledOffset], 0);
  EXPECT_EQ(patched[at + kAutoRemoveEnabledOffset], 1);
  // Nothing else changed.
  EXPECT_EQ(patched.compare(0, at, original, 0, at), 0);
  const auto end = at + kParameterBlockSize;
  EXPECT_EQ(patched.compare(end, std::string::npos, original, end, std::string::npos), 0);

  struct stat st {};
  ASSERT_EQ(stat(copy.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IXUSR, 0u);

  // A copy is no longer a fresh build: it cannot be personalised again.
  const auto again = testsupport::Run({kTool, copy, temp / "again", "--code", "1"}, 30000);
  EXPECT_NE(again.exitCode, 0);
  EXPECT_NE(again.output.find("no parameter block"), std::string::npos) << again.output;
  EXPECT_NE(access((temp / "again").c_str(), F_OK), 0);
}

TEST(Personalise, RefusesWhatWouldNotReadBackAndWritesNothing) {
  TempDir temp;
  const std::string out = temp / "out";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string longTitle(1010, 't');  // code(1) + title(...) = 1024
  const std::vector<Case> cases = {
      {{"--title", "a)b"}, "must not contain"},
      {{"--code", "x(1"}, "must not contain"},
      {{"--title", longTitle, "--code", "1"}, "at most 1023"},
      {{"--auto-remove", "2"}, "0 or 1"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {kTool, kLauncher, out};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const auto r = testsupport::Run(argv, 30000);
    EXPECT_NE(r.exitCode, 0) << c.message;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_NE(access(out.c_str(), F_OK), 0) << c.message;
  }

  // Exactly 1023 characters still fit.
  const std::string fitting(1009, 'f');
  const auto fits = testsupport::Run({kTool, kLauncher, out, "--code", "1", "--title", fitting}, 30000);
  EXPECT_EQ(fits.exitCode, 0) << fits.output;
  unlink(out.c_str());

  // Two candidate blocks: which one the launcher reads is unknown.
  const std::string image = ReadFile(kLauncher);
  ASSERT_TRUE(testsupport::WriteFile(temp / "double", image + image, 0755));
  const auto twice = testsupport::Run({kTool, temp / "double", out, "--code", "1"}, 30000);
  EXPECT_NE(twice.exitCode, 0);
  EXPECT_NE(twice.output.find("2 candidate"), std::string::npos) << twice.output;
  EXPECT_NE(access(out.c_str(), F_OK), 0);
}

}  // namespace
