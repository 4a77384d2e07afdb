#include "MinimalRoot.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace testsupport {

MinimalRoot::MinimalRoot() {
    const char* base = getenv("TMPDIR");
    std::string name = std::string(base && *base ? base : "/tmp") + "/sa-root-XXXXXX";
    if (!mkdtemp(name.data())) {
        error_ = std::string("cannot make a temporary folder: ") + std::strerror(errno);
        return;
    }
    path_ = name;
    chmod(path_.c_str(), 0755);
    std::error_code ec;
    for (const char* dir : {"/proc", "/dev", "/tmp", "/home"}) fs::create_directory(path_ + dir, ec);
    chmod((path_ + "/tmp").c_str(), 01777);
    if (geteuid() != 0) {
        error_ = kNeedsRoot;
        return;
    }
    if (mount("proc", (path_ + "/proc").c_str(), "proc", 0, nullptr) != 0) {
        error_ = std::string("mount /proc: ") + std::strerror(errno);
        return;
    }
    procMounted_ = true;
    const std::string devNull = path_ + "/dev/null";
    if (mknod(devNull.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        // Some containers allow no device nodes: the host's, bound in its place.
        if (!WriteFile(devNull, "") || mount("/dev/null", devNull.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            error_ = std::string("cannot make /dev/null: ") + std::strerror(errno);
            return;
        }
        devNullBound_ = true;
    }
    chmod(devNull.c_str(), 0666);
    ok_ = true;
}

MinimalRoot::~MinimalRoot() {
    if (path_.empty()) return;
    bool mounted = false;
    for (const std::string& at : mounts_) mounted |= umount2(at.c_str(), MNT_DETACH) != 0;
    if (devNullBound_ && umount2((path_ + "/dev/null").c_str(), MNT_DETACH) != 0) mounted = true;
    if (procMounted_ && umount2((path_ + "/proc").c_str(), MNT_DETACH) != 0) mounted = true;
    // Never delete through a mount that is still there.
    if (mounted) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

bool MinimalRoot::Copy(const std::string& file, const std::string& inside) {
    std::error_code ec;
    const std::string target = path_ + (inside.empty() ? file : inside);
    fs::create_directories(fs::path(target).parent_path(), ec);
    if (fs::exists(target, ec)) return true;
    if (!fs::copy_file(fs::canonical(file, ec), target, ec) || ec) {
        error_ = "cannot copy " + file + ": " + ec.message();
        return false;
    }
    return true;
}

bool MinimalRoot::Add(const std::string& file, const std::string& inside) {
    if (!Copy(file, inside)) return false;
    const RunResult r = testsupport::Run({"ldd", file}, 10000);
    // "libX.so.1 => /lib/.../libX.so.1 (0x...)" and "/lib64/ld-linux-x86-64.so.2 (0x...)"
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        std::string library;
        if (w.size() >= 3 && w[1] == "=>" && w[2][0] == '/')
            library = w[2];
        else if (!w.empty() && w[0][0] == '/')
            library = w[0];
        if (!library.empty() && !Copy(library, "")) return false;
    }
    return true;
}

bool MinimalRoot::AddLibrary(const std::string& soname) {
    for (const char* dir : {"/lib/x86_64-linux-gnu/", "/usr/lib/x86_64-linux-gnu/"}) {
        if (access((dir + soname).c_str(), F_OK) == 0) return Add(dir + soname);
    }
    error_ = soname + " is not installed";
    return false;
}

bool MinimalRoot::Mount(const std::string& inside, const std::string& options) {
    std::error_code ec;
    fs::create_directories(path_ + inside, ec);
    // "noexec" is a flag of the mount, the rest the file system's own options.
    std::string data = "," + options + ",";
    const size_t noexec = data.find(",noexec,");
    if (noexec != std::string::npos) data.erase(noexec, 7);
    data = data.substr(1, data.size() > 1 ? data.size() - 2 : 0);
    if (mount("tmpfs", (path_ + inside).c_str(), "tmpfs", noexec != std::string::npos ? MS_NOEXEC : 0,
              data.c_str()) != 0) {
        error_ = "mount " + inside + " (" + options + "): " + std::strerror(errno);
        return false;
    }
    mounts_.push_back(path_ + inside);
    return true;
}

RunResult MinimalRoot::Run(const std::vector<std::string>& argv, int timeoutMs,
                           const std::vector<std::string>& env) {
    std::vector<std::string> command = {"env", "-i"};
    command.insert(command.end(), env.begin(), env.end());
    command.insert(command.end(), {"/usr/sbin/chroot", path_});
    command.insert(command.end(), argv.begin(), argv.end());
    return testsupport::Run(command, timeoutMs);
}

}  // namespace testsupport
