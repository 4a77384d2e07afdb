#pragma once
// A root folder that holds only what a test puts into it, for running a
// program with chroot the way a bare desktop would: only the libraries named
// are there. /proc is mounted and /dev/null made inside, as every desktop has
// them. Needs root (chroot, mount); the destructor unmounts and removes it
// all, also when the test failed.

#include <string>
#include <vector>

#include "Subprocess.h"

namespace testsupport {

class MinimalRoot {
public:
    static constexpr const char* kNeedsRoot = "chroot and mount need root (CI runs as root)";

    MinimalRoot();
    ~MinimalRoot();
    MinimalRoot(const MinimalRoot&) = delete;
    MinimalRoot& operator=(const MinimalRoot&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }
    // The host path of a path inside.
    std::string operator/(const std::string& inside) const { return path_ + inside; }

    // Copies a program or library to the same path inside (or to `inside`),
    // links followed, with every library it needs as ldd finds them (the
    // loader included).
    bool Add(const std::string& file, const std::string& inside = "");
    // Copies a library found by its SONAME in the host's library folders, with its closure.
    bool AddLibrary(const std::string& soname);
    // A fresh tmpfs at inside (made when missing), with mount options such as
    // "noexec" or "size=4k"; unmounted with the root.
    bool Mount(const std::string& inside, const std::string& options);
    // Runs argv inside with only env as its environment; stdout and stderr together.
    RunResult Run(const std::vector<std::string>& argv, int timeoutMs, const std::vector<std::string>& env);

private:
    bool Copy(const std::string& file, const std::string& inside);

    bool ok_ = false;
    bool procMounted_ = false;
    bool devNullBound_ = false;
    std::vector<std::string> mounts_;
    std::string error_;
    std::string path_;
};

}  // namespace testsupport
