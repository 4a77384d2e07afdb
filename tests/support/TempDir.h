#pragma once
#include <string>

namespace testsupport {

// A fresh folder under $TMPDIR (or /tmp), removed with its content on destruction.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "sa-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace testsupport
