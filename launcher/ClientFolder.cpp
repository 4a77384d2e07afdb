// Where the client is unpacked and started. /tmp as it always was, where
// programs may run; else a folder of the user's own (hardened desktops mount
// /tmp noexec, and fapolicyd, SELinux or AppArmor may refuse it without that).

#include <dirent.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ApplicationSettings.h"
#include "File_Utils.h"
#include "Launcher.h"
#include "Log.h"
#include "UniqueDir.h"

namespace {

// An XDG variable that is not an absolute path is to be ignored.
std::string AbsoluteFromEnvironment(const char* name) {
    const char* value = getenv(name);
    return value && value[0] == '/' ? value : "";
}

std::vector<std::string> PrivateFolders() {
    const std::string name = ApplicationSettings::Get()->GetRemoteControlName();
    std::vector<std::string> folders;
    const std::string runtime = AbsoluteFromEnvironment("XDG_RUNTIME_DIR");
    if (!runtime.empty()) folders.push_back(runtime + "/" + name);
    std::string cache = AbsoluteFromEnvironment("XDG_CACHE_HOME");
    if (cache.empty()) {
        const std::string home = AbsoluteFromEnvironment("HOME");
        if (!home.empty()) cache = home + "/.cache";
    }
    if (!cache.empty()) folders.push_back(cache + "/" + name);
    return folders;
}

// Why no program may run from folder (or, while it is not made yet, from
// the nearest folder above it); empty when they may.
std::string WhyNoPrograms(std::string folder) {
    struct statvfs fs {};
    while (statvfs(folder.c_str(), &fs) != 0) {
        const size_t slash = folder.rfind('/');
        if (errno != ENOENT || slash == std::string::npos || slash == 0)
            return "Error (" + std::to_string(errno) + ") - " + std::strerror(errno);
        folder.erase(slash);
    }
    if (fs.f_flag & ST_NOEXEC) return "programs may not run there (mounted noexec)";
    if (fs.f_flag & ST_RDONLY) return "it is read-only";
    return "";
}

// Whether a process of ours runs a program from folder.
bool ProgramRunsFrom(const std::string& folder) {
    UniqueDir proc(opendir("/proc"));
    if (!proc) return true;  // cannot tell: leave it
    const std::string prefix = folder + "/";
    while (struct dirent* entry = readdir(proc.get())) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        char target[4096];
        const std::string link = std::string("/proc/") + entry->d_name + "/exe";
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)).rfind(prefix, 0) == 0) return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> ClientFolders() {
    std::vector<std::string> folders = {Tuning().clientFolder};
    for (const std::string& folder : PrivateFolders()) folders.push_back(folder);
    std::vector<std::string> usable;
    for (const std::string& folder : folders) {
        const std::string why = WhyNoPrograms(folder);
        if (why.empty()) {
            usable.push_back(folder);
        } else {
            LogWrite("Client folder %s passed over: %s", folder.c_str(), why.c_str());
        }
    }
    return usable;
}

void RemoveLeftClients() {
    for (const std::string& folder : PrivateFolders()) {
        if (access(folder.c_str(), F_OK) != 0 || ProgramRunsFrom(folder)) continue;
        const int removed = RemoveFolderContents(folder);
        if (removed > 0) LogWrite("Removed %d entries an earlier run left in %s", removed, folder.c_str());
    }
}
