#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ApplicationSettings.h"
#include "ChildProcess.h"
#include "File_Utils.h"
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

// The client must be our own regular file, executable; a package may carry
// mode 777, so group and other lose write permission before it runs. 0 or an
// errno value.
int PrepareClient(const std::string& path) {
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return errno;
    int error = 0;
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode) || (st.st_mode & S_IXUSR) == 0) {
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

LaunchResult LaunchClient(const std::string& clientPath) {
    const int error = PrepareClient(clientPath);
    if (error != 0) {
        LogWrite("Cannot execute %s - Error (%d) - %s", clientPath.c_str(), error, std::strerror(error));
        return LaunchResult::FAILED;
    }
    // In the background and never waited for; in a process group of its own,
    // so a Ctrl-C meant for the launcher does not reach it.
    ChildProcess client;
    const int startError = client.Start({clientPath}, {.ownProcessGroup = true});
    if (startError != 0) {
        LogWrite("Cannot execute %s - Error (%d) - %s", clientPath.c_str(), startError,
                 std::strerror(startError));
        // An executable file of ours that may not run: the folder's rules (noexec, a policy).
        return startError == EACCES || startError == EPERM ? LaunchResult::REFUSED_HERE
                                                           : LaunchResult::FAILED;
    }
    client.Detach();
    LogWrite("Successfully launched RC client [%s]", clientPath.c_str());
    return LaunchResult::STARTED;
}

namespace {

enum class Install { STARTED, PASSED_OVER, FAILED };

std::string ErrorText(int error) { return "Error (" + std::to_string(error) + ") - " + std::strerror(error); }

// unzip -o would replace a file or follow a link that someone else put at
// the client's name; only our own regular file (or nothing) may be there.
bool ClientPathIsOurs(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

Install InstallIn(const std::string& folder, const std::vector<char>& package, std::string& why) {
    if (folder != Tuning().clientFolder) {
        if (const int error = MakePrivateFolder(folder)) {
            why = "it cannot be made: " + ErrorText(error);
            return Install::PASSED_OVER;
        }
    }
    struct statvfs fs {};
    if (statvfs(folder.c_str(), &fs) == 0 &&
        static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize < package.size()) {
        why = "no room for the package (" + std::to_string(package.size()) + " bytes)";
        return Install::PASSED_OVER;
    }
    const std::string clientPath =
        folder + "/" + ApplicationSettings::Get()->GetRemoteControlName() + "_" + SessionParameters.ac;
    const std::string packagePath = clientPath + ".zip";
    ClientPath = clientPath;
    if (!ClientPathIsOurs(clientPath)) {
        LogWrite("ERROR: %s is not a file of this user, %s not unpacked", clientPath.c_str(),
                 packagePath.c_str());
        why = "another user's file has the client's name";
        return Install::PASSED_OVER;
    }
    if (const int error = WriteNewFile(packagePath, package.data(), package.size(), 0644)) {
        why = "the package cannot be written there: " + ErrorText(error);
        return Install::PASSED_OVER;
    }
    int unzipStatus = -1;
    if (!Unzip(packagePath.c_str(), folder.c_str(), &unzipStatus)) {
        if (unzipStatus != kUnzipDiskFull) return Install::FAILED;  // the package stays, to be looked at
        unlink(packagePath.c_str());
        unlink(clientPath.c_str());
        why = "no room to unpack the package";
        return Install::PASSED_OVER;
    }
    unlink(packagePath.c_str());
    switch (LaunchClient(clientPath)) {
    case LaunchResult::STARTED: return Install::STARTED;
    case LaunchResult::FAILED: return Install::FAILED;
    case LaunchResult::REFUSED_HERE: break;
    }
    unlink(clientPath.c_str());
    why = "programs may not run there";
    return Install::PASSED_OVER;
}

}  // namespace

bool InstallClient(const std::vector<char>& package, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        LogWrite("Client folder: %s", folder.c_str());
        std::string why;
        switch (InstallIn(folder, package, why)) {
        case Install::STARTED: return true;
        case Install::FAILED: return false;
        case Install::PASSED_OVER: LogWrite("Client folder %s passed over: %s", folder.c_str(), why.c_str());
        }
    }
    LogWrite("ERROR: %s: no folder where it may run", EnglishText(TextId::CANNOT_START_CLIENT));
    return false;
}
