// The launcher as the build made it: one fresh ParameterBlock, found by its
// sample text, also after strip.

#include <gtest/gtest.h>

#include <string>

#include "ParameterBlock.h"
#include "ParameterBlockSample.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

const std::string kLauncher = SA_BINARY_DIR "/launcher/launcher";

TEST(BuiltLauncher, CarriesTheSampleBlockOnceAlsoWhenStripped) {
    testsupport::TempDir temp;
    const auto strip = testsupport::Run({"strip", "--strip-all", "-o", temp / "stripped", kLauncher}, 30000);
    ASSERT_EQ(strip.exitCode, 0) << strip.output;
    std::string fresh = kParameterBlockSample;  // the sample, zeros, both flags set
    fresh.resize(kParameterBlockSize, '\0');
    fresh[kSessionEnabledOffset] = fresh[kAutoRemoveEnabledOffset] = 1;
    for (const std::string& path : {kLauncher, temp / "stripped"}) {
        const std::string image = testsupport::ReadFile(path);
        const auto at = image.find(kParameterBlockSample);
        ASSERT_NE(at, std::string::npos) << path;
        EXPECT_EQ(image.find(kParameterBlockSample, at + 1), std::string::npos) << path;
        EXPECT_TRUE(image.compare(at, kParameterBlockSize, fresh) == 0) << path;
    }
}

}  // namespace
