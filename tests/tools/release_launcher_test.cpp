// What make release puts into dist/ for each architecture: stripped, one
// fresh ParameterBlock, and past scripts/check-release-floor (glibc 2.17 at
// most, nothing but the base libraries), the gate make release runs too.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "ParameterBlock.h"
#include "ParameterBlockSample.h"
#include "Subprocess.h"

namespace {

const struct Release {
    const char *arch, *elfClass, *machine;
} kReleases[] = {
    {"x86_64", "ELF64", "Advanced Micro Devices X86-64"},
    {"i386", "ELF32", "Intel 80386"},
    {"arm64", "ELF64", "AArch64"},
};

// The first group of every match of pattern in what readelf says of file.
std::vector<std::string> ReadElf(const std::string& option, const std::string& file,
                                 const std::string& pattern) {
    const std::string text = testsupport::Run({"readelf", "-W", option, file}, 30000).output;
    std::vector<std::string> found;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
        found.push_back((*it)[1]);
    return found;
}

TEST(ReleaseLauncher, PassesTheFloorAndCarriesOneFreshBlock) {
    std::string fresh = kParameterBlockSample;  // the sample, zeros, both flags set
    fresh.resize(kParameterBlockSize, '\0');
    fresh[kSessionEnabledOffset] = fresh[kAutoRemoveEnabledOffset] = 1;
    for (const Release& release : kReleases) {
        const std::string file = SA_SOURCE_DIR "/dist/launcher-" + std::string(release.arch);
        SCOPED_TRACE(file);
        if (access(file.c_str(), F_OK) != 0) GTEST_SKIP() << file << " is missing: make release builds it";

        EXPECT_EQ(ReadElf("-h", file, R"((?:Class|Machine):\s+(.+))"),
                  (std::vector<std::string>{release.elfClass, release.machine}));
        EXPECT_TRUE(ReadElf("-S", file, R"((\.symtab))").empty()) << "not stripped";

        const auto floor = testsupport::Run({SA_SOURCE_DIR "/scripts/check-release-floor", file}, 30000);
        EXPECT_EQ(floor.exitCode, 0) << floor.output;

        const std::string image = testsupport::ReadFile(file);
        const auto at = image.find(kParameterBlockSample);
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(image.find(kParameterBlockSample, at + 1), std::string::npos);
        EXPECT_TRUE(image.compare(at, kParameterBlockSize, fresh) == 0);
    }
}

// The gate names what is too new: this test program needs libstdc++ and a current glibc.
TEST(ReleaseLauncher, FloorRefusesAndNamesWhatIsTooNew) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const auto floor = testsupport::Run({SA_SOURCE_DIR "/scripts/check-release-floor", self}, 30000);
    EXPECT_EQ(floor.exitCode, 1);
    for (const char* named :
         {"needs libstdc++.so.6", "GLIBCXX_3.4", "GLIBC_2.34 (above GLIBC_2.17): ", "__libc_start_main"})
        EXPECT_NE(floor.output.find(named), std::string::npos) << named << " in\n" << floor.output;
}

}  // namespace
