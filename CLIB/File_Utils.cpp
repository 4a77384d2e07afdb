#include "File_Utils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Log.h"
#include "ChildProcess.h"
#include "UniqueFd.h"
#include "UniqueDir.h"

bool FileExists(const char* path, const char* name) {
    if (!path) return false;
    std::string full = path;
    if (name) {
        full += '/';
        full += name;
    }
    if (full.empty()) return false;
    struct stat st;
    return stat(full.c_str(), &st) == 0;
}

bool IsDirectory(const char* path) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const char* path) {
    struct stat st;
    return path && stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

uint64_t FileSize(const char* path) {
    struct stat st;
    if (!path || lstat(path, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

bool ReadAt(int fd, void* buffer, int64_t offset, size_t count, size_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int64_t size = st.st_size;
    int64_t start = offset;
    if (offset < 0) {
        start = size + offset;
        if (start < 0) return false;
    } else if (count == 0) {
        count = static_cast<size_t>(size);
    }
    if (count > 0 && !buffer) return false;

    // pread leaves the descriptor's position untouched, also for other threads.
    size_t done = 0;
    char* out = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t n =
            pread64(fd, out + done, count - done, static_cast<off64_t>(start) + static_cast<off64_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    if (bytesRead) *bytesRead = done;
    return true;
}

bool IsZipFile(const char* path) {
    if (!path) return false;
    UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return false;
    char magic[2];
    size_t got = 0;
    while (got < sizeof magic) {
        ssize_t n = read(fd.get(), magic + got, sizeof magic - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return magic[0] == 'P' && magic[1] == 'K';
}

bool Unzip(const char* archive, const char* target, int* exitStatus) {
    if (exitStatus) *exitStatus = -1;
    if (!IsZipFile(archive)) {
        LogWrite("ERROR: %s is invalid zip file", archive ? archive : "(null)");
        return false;
    }
    std::vector<std::string> argv = {"unzip", "-oqq", archive};
    if (target) argv.insert(argv.end(), {"-d", target});
    ChildProcess unzip;
    const int error = unzip.Start(argv, {});
    if (error != 0) LogWrite("ERROR: Cannot execute unzip - Error (%d) - %s", error, strerror(error));
    const int status = error == 0 ? unzip.Wait() : -1;
    if (exitStatus && status != -1 && WIFEXITED(status)) *exitStatus = WEXITSTATUS(status);
    if (status != 0) {
        LogWrite("ERROR: Unzipping Failed! %s into %s", archive, target ? target : "(null)");
        return false;
    }
    return true;
}

int WriteNewFile(const std::string& path, const void* data, size_t size, mode_t mode) {
    unlink(path.c_str());  // what cannot be removed makes the create below fail
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) return errno;
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    int error = 0;
    while (done < size && error == 0) {
        const ssize_t n = write(fd.get(), bytes + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            error = n == 0 ? EIO : errno;
        }
    }
    if (error == 0 && fchmod(fd.get(), mode) != 0) error = errno;
    if (fd.Close() != 0 && error == 0) error = errno;
    if (error != 0) unlink(path.c_str());  // nothing half written stays
    return error;
}

int MakePrivateFolder(const std::string& path) {
    // Missing folders above it are made too (~/.cache on a fresh account), as private.
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0700);
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) return errno;
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) return errno;
    if (st.st_uid != geteuid()) return EPERM;
    if ((st.st_mode & 077) != 0 && fchmod(fd.get(), 0700) != 0) return errno;
    return 0;
}

namespace {

int RemoveBelow(int folder) {
    UniqueDir dir(fdopendir(folder));
    if (!dir) {
        close(folder);
        return 0;
    }
    int removed = 0;
    while (struct dirent* entry = readdir(dir.get())) {
        const char* name = entry->d_name;
        if (!strcmp(name, ".") || !strcmp(name, "..")) continue;
        const int sub = openat(dirfd(dir.get()), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0) removed += RemoveBelow(sub);
        if (unlinkat(dirfd(dir.get()), name, sub >= 0 ? AT_REMOVEDIR : 0) == 0) ++removed;
    }
    return removed;
}

}  // namespace

int RemoveFolderContents(const std::string& path) {
    const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return folder < 0 ? 0 : RemoveBelow(folder);
}
