#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ChildProcess.h"
#include "Launcher.h"
#include "Log.h"
#include "ParameterBlock.h"
#include "UniqueFd.h"

namespace {

// Started by bare name through PATH, argv[0] names some file in the working
// folder, not us: delete only the file that is the running executable.
bool IsRunningExecutable(const char* path) {
    struct stat self {};
    struct stat target {};
    if (stat("/proc/self/exe", &self) != 0) return false;
    if (lstat(path, &target) != 0) return false;
    return S_ISREG(target.st_mode) && target.st_dev == self.st_dev && target.st_ino == self.st_ino;
}

// The client must be our own regular file; a package may carry mode 777, so
// group and other lose write permission before it runs. 0 or an errno value.
int PrepareClient(const std::string& path) {
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return errno;
    int error = 0;
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        error = EACCES;
    } else if (st.st_uid != geteuid()) {
        error = EPERM;
    } else if (fchmod(fd.get(), st.st_mode & 0755) != 0) {
        error = errno;
    }
    return error;
}

}  // namespace

void RemoveSelf(const char* launcherPath) {
    if (AutoRemoveEnabled() == 0 || KeepCopy) return;
    struct stat entry {};
    if (lstat(launcherPath, &entry) == 0 && S_ISLNK(entry.st_mode)) {
        // The link's target may not be ours to remove.
        LogWrite(
            "Cannot autoremove Session Assignment binary \"%s\": it is a symbolic link, not this program",
            launcherPath);
        return;
    }
    if (!IsRunningExecutable(launcherPath)) {
        LogWrite("Cannot autoremove Session Assignment binary \"%s\": Error (%d) - %s", launcherPath, ENOENT,
                 std::strerror(ENOENT));
        return;
    }
    if (unlink(launcherPath) != 0) {
        const int error = errno;
        LogWrite("Cannot autoremove Session Assignment binary \"%s\": Error (%d) - %s", launcherPath, error,
                 std::strerror(error));
    }
    const std::string zipPath = std::string(launcherPath) + ".zip";
    if (unlink(zipPath.c_str()) != 0) {
        const int error = errno;
        LogWrite("Cannot autoremove Session Assignment ZIP file \"%s\": Error (%d) - %s", zipPath.c_str(),
                 error, std::strerror(error));
    }
}

void LaunchClient() {
    if (!ClientReady) return;
    const int error = PrepareClient(ClientPath);
    if (error != 0) {
        LogWrite("Cannot execute %s - Error (%d) - %s", ClientPath.c_str(), error, std::strerror(error));
        return;
    }
    // In the background and never waited for; in a process group of its own,
    // so a Ctrl-C meant for the launcher does not reach it.
    ChildProcess client;
    const int spawnError = client.Start({ClientPath}, {.ownProcessGroup = true});
    if (spawnError != 0) {
        LogWrite("Cannot execute %s - Error (%d) - %s", ClientPath.c_str(), spawnError,
                 std::strerror(spawnError));
        return;
    }
    client.Detach();
    LogWrite("Successfully launched RC client [%s]", ClientPath.c_str());
}
