#include "File_Utils.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "Log.h"
#include "ChildProcess.h"
#include "UniqueFd.h"

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

bool Unzip(const char* archive, const char* target) {
    if (!IsZipFile(archive)) {
        LogWrite("ERROR: %s is invalid zip file", archive ? archive : "(null)");
        return false;
    }
    std::vector<std::string> argv = {"unzip", "-oqq", archive};
    if (target) argv.insert(argv.end(), {"-d", target});
    ChildProcess unzip;
    const int error = unzip.Start(argv, {});
    if (error != 0) LogWrite("ERROR: Cannot execute unzip - Error (%d) - %s", error, strerror(error));
    if (error != 0 || unzip.Wait() != 0) {
        LogWrite("ERROR: Unzipping Failed! %s into %s", archive, target ? target : "(null)");
        return false;
    }
    return true;
}
