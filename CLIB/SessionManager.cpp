#include "SessionManager.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Log.h"

const char* const kIceSocketFolder = "/tmp/.ICE-unix/";

namespace {

class Folder {
public:
    explicit Folder(const char* path) : dir_(opendir(path)) {}
    ~Folder() {
        if (dir_) closedir(dir_);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

bool LoginName(uid_t uid, std::string& name) {
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
    name = found->pw_name;
    return true;
}

}  // namespace

bool FindSessionManager(std::string& userName, std::string& sessionManager, const char* folder) {
    if (!folder) folder = kIceSocketFolder;
    Folder dir(folder);
    if (!dir.get()) {
        int err = errno;
        LogWrite("Unable to open folder [%s]: %s", folder, strerror(err));
        return false;
    }

    const uid_t me = getuid();
    while (struct dirent* entry = readdir(dir.get())) {
        const char* name = entry->d_name;
        if (!isdigit(static_cast<unsigned char>(name[0]))) continue;
        struct stat st;
        std::string proc = std::string("/proc/") + name;
        if (stat(proc.c_str(), &st) != 0) continue;
        // The folder is world-writable: only a socket of our own user can be
        // our session manager, anything else may have been planted.
        std::string socketPath = std::string(folder) + name;
        if (lstat(socketPath.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != me) continue;
        std::string owner;
        if (!LoginName(st.st_uid, owner)) continue;

        char host[257];
        if (gethostname(host, 256) != 0) host[0] = '\0';
        host[256] = '\0';

        userName = owner;
        sessionManager = "local/" + std::string(host) + ":" + socketPath + ",local/" + host + ":@" +
                         socketPath + ",unix/unix:" + socketPath + ",local/unix:" + socketPath;
        return true;
    }
    return false;
}
