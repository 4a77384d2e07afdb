// What make release puts into dist/ for each architecture: stripped, one
// fresh ParameterBlock, and nothing asked of the loader but libc, libm,
// libgcc_s and libX11 at glibc 2.34 at most (the floor in the README).

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "ParameterBlock.h"
#include "ParameterBlockSample.h"
#include "Subprocess.h"

namespace {

const struct Release {
    const char *arch, *elfClass, *machine, *loader;
} kReleases[] = {
    {"x86_64", "ELF64", "Advanced Micro Devices X86-64", "ld-linux-x86-64.so.2"},
    {"i386", "ELF32", "Intel 80386", "ld-linux.so.2"},
    {"arm64", "ELF64", "AArch64", "ld-linux-aarch64.so.1"},
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

TEST(ReleaseLauncher, NeedsOnlyTheBaseLibrariesAndCarriesOneFreshBlock) {
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

        const std::set<std::string> allowed = {release.loader, "libc.so.6", "libm.so.6", "libgcc_s.so.1",
                                               "libX11.so.6"};
        for (const auto& needed : ReadElf("-d", file, R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])"))
            EXPECT_TRUE(allowed.count(needed)) << "needs " << needed;
        const auto versions = ReadElf("-V", file, R"(Name: (\S+)\s+Flags)");
        EXPECT_FALSE(versions.empty());
        for (const auto& version : versions) {
            std::smatch m;
            const bool glibc = std::regex_match(version, m, std::regex(R"(GLIBC_2\.(\d+)(\.\d+)?)"));
            EXPECT_TRUE(version.rfind("GCC_", 0) == 0 || (glibc && std::stoi(m[1]) <= 34)) << version;
        }

        const std::string image = testsupport::ReadFile(file);
        const auto at = image.find(kParameterBlockSample);
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(image.find(kParameterBlockSample, at + 1), std::string::npos);
        EXPECT_TRUE(image.compare(at, kParameterBlockSize, fresh) == 0);
    }
}

}  // namespace
