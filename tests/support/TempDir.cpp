#include "TempDir.h"

#include <cstdlib>
#include <filesystem>

namespace testsupport {

TempDir::TempDir(const std::string& prefix) {
    const char* base = getenv("TMPDIR");
    std::string path = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (mkdtemp(path.data())) path_ = path;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace testsupport
