// The launcher as the build made it: one fresh ParameterBlock, found by its
// sample text, also after strip.

#include <gtest/gtest.h>

#include <string>

#include "ParameterBlock.h"
#include "ParameterBlockSample.h"
#include "Subprocess.h"
#include "TempDir.h"

using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

const std::string kLauncher = SA_BINARY_DIR "/launcher/launcher";
const std::string kSample(kParameterBlockSample, kParameterBlockSampleLength);

int Occurrences(const std::string& image, const std::string& text) {
  int n = 0;
  for (auto at = image.find(text); at != std::string::npos; at = image.find(text, at + 1)) ++n;
  return n;
}

void ExpectFreshBlock(const std::string& image) {
  ASSERT_EQ(Occurrences(image, kSample), 1);
  const auto at = image.find(kSample);
  ASSERT_GE(image.size(), at + kParameterBlockSize);
  for (std::size_t i = kSample.size(); i < kParameterTextSize; ++i) ASSERT_EQ(image[at + i], '\0') << i;
  EXPECT_EQ(image[at + kSessionEnabledOffset], 1);
  EXPECT_EQ(image[at + kAutoRemoveEnabledOffset], 1);
}

TEST(BuiltLauncher, CarriesTheSampleBlockOnceAlsoWhenStripped) {
  const std::string image = ReadFile(kLauncher);
  ASSERT_FALSE(image.empty());
  ExpectFreshBlock(image);

  TempDir temp;
  const auto strip = testsupport::Run({"strip", "--strip-all", "-o", temp / "stripped", kLauncher}, 30000);
  ASSERT_EQ(strip.exitCode, 0) << strip.output;
  ExpectFreshBlock(ReadFile(temp / "stripped"));
}

}  // namespace
