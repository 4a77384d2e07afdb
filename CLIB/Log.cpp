#include "Log.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "CriticalSection.h"
#include "Crypto.h"
#include "UniqueFd.h"
#include "String_Utils_Unix.h"

namespace {

// Plain data only: a late LogWrite while the process exits must still find it intact.
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;  // serialises LogInit/LogWrite
char g_name[260];                                    // guarded by g_lock
std::atomic<bool> g_protect{false};
std::atomic<bool> g_enabled{true};

constexpr off_t kSizeLimit = 2000000;
constexpr std::size_t kBufferSize = 4096;
constexpr std::size_t kMessageLimit = 4093;
constexpr std::size_t kSaltLength = 4;

class MutexGuard {
public:
    explicit MutexGuard(pthread_mutex_t& m) : m_m(m) { pthread_mutex_lock(&m_m); }
    ~MutexGuard() { pthread_mutex_unlock(&m_m); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    pthread_mutex_t& m_m;
};

void LockFile(int fd, int operation) {
    // Without lock support (some network file systems) we still write.
    while (flock(fd, operation) != 0 && errno == EINTR) {}
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Per-thread salt generator, seeded once from the kernel (no shared C library state).
thread_local std::uint64_t t_saltState;
thread_local bool t_saltSeeded;

char SaltChar() {
    if (!t_saltSeeded) {
        std::uint64_t seed = 0;
        if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed))
            seed = TickCountMs() ^ (static_cast<std::uint64_t>(getpid()) << 32) ^
                   reinterpret_cast<std::uintptr_t>(&t_saltState);
        t_saltState = seed;
        t_saltSeeded = true;
    }
    for (;;) {
        // splitmix64
        std::uint64_t z = (t_saltState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        const char c = static_cast<char>(z & 0xFF);
        if (c != 0) return c;
    }
}

// ctime_r text without its newline: exactly 24 characters.
void TimeText(char (&out)[64]) {
    time_t now = time(nullptr);
    if (!ctime_r(&now, out)) out[0] = 0;
    std::size_t n = std::strlen(out);
    if (n > 0) out[n - 1] = 0;
}

void ReportOpenFailure() { std::fputs("Error Creating LOG!\n", stderr); }

// Opens (creating when needed) the log file; -1 on failure.
int OpenLogFile(const std::string& folder, const std::string& path) {
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    }
    return ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
}

std::string BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// The line key: line hash + time text + log file name, widened to 16 bits.
WString LineKeyText(const std::string& hash, const std::string& timeText, const std::string& name) {
    return ToWString(hash + timeText + name);
}

}  // namespace

std::string LogFolder() {
    const char* home = std::getenv("HOME");
    if (!home || std::strlen(home) < 2) home = "/root";
    return std::string(home) + "/ZEL";
}

void LogInit(const char* name, bool protectLines, bool enabled) {
    MutexGuard guard(g_lock);
    std::snprintf(g_name, sizeof g_name, "%s", name ? name : "");
    g_protect = protectLines;
    g_enabled = enabled;
}

void LogWrite(const char* format, ...) {
    if (!g_enabled || !format || !*format) return;

    MutexGuard guard(g_lock);
    if (!g_name[0]) return;
    const std::string name(g_name);
    const bool protect = g_protect;

    const std::string folder = LogFolder();
    const std::string path = folder + "/" + name;
    UniqueFd fd;
    struct stat st;
    // The file may be replaced by another process between our open and our lock;
    // a file that is no longer linked is opened afresh.
    for (int attempt = 0;; ++attempt) {
        fd.Reset(OpenLogFile(folder, path));
        if (fd.get() < 0) {
            ReportOpenFailure();
            return;
        }
        if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
        LockFile(fd.get(), LOCK_EX);
        if (fstat(fd.get(), &st) != 0) return;
        if (st.st_nlink > 0 || attempt >= 3) break;
    }

    off_t size = st.st_size;
    if (size > kSizeLimit) {
        if (ftruncate(fd.get(), 0) != 0) {
            ReportOpenFailure();
            return;
        }
        size = 0;
    }

    // The previous line's hash stands just before its CR LF. A file too short to
    // hold one (only plain lines before) chains to an empty hash.
    char previous[33] = {};
    if (size >= 34) {
        ssize_t n = pread(fd.get(), previous, 32, size - 34);
        if (n < 0) n = 0;
        previous[n] = 0;
    }

    char timeText[64];
    TimeText(timeText);

    char buffer[kBufferSize];
    std::size_t used = 0;
    if (protect) {
        for (; used < kSaltLength; ++used) buffer[used] = SaltChar();
    }
    buffer[used] = 0;
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(buffer + used, kMessageLimit - used, format, args) < 0) buffer[used] = 0;
    va_end(args);
    used += std::strlen(buffer + used);

    std::string line;
    if (!protect) {
        line.reserve(used + 32);
        line.append(timeText).append(" ").append(buffer, used).append("\r\n");
    } else {
        buffer[used++] = '\r';
        buffer[used++] = '\n';
        buffer[used] = 0;
        const std::string hash = Md5HexUpper(buffer + kSaltLength, previous);
        WString key = LineKeyText(hash, timeText, name);
        ByteBuffer body;
        bool ok = key && body.SetLength(2 * used);
        if (ok) {
            for (std::size_t i = 0; i < used; ++i) {
                body.data[2 * i] = static_cast<unsigned char>(buffer[i]);
                body.data[2 * i + 1] = 0;
            }
        }
        ByteBuffer hex;
        ok = ok && EncryptBytesToHex(body, key, hex);
        FreeWString(key);
        if (!ok) return;
        line.reserve(hex.length + 64);
        line.append(timeText)
            .append(" ")
            .append(reinterpret_cast<const char*>(hex.data), hex.length)
            .append(hash)
            .append("\r\n");
    }
    WriteAll(fd.get(), line.data(), line.size());
}

bool LogVerify(const char* logPath, const char* reportPath, bool removeReportFirst, int* damagedLines) {
    if (damagedLines) *damagedLines = 0;
    if (!logPath || !reportPath) return false;
    if (removeReportFirst) unlink(reportPath);
    // The decrypted log must not reach a file that another user planted
    // under the name, or a link of theirs.
    const int flags =
        O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | (removeReportFirst ? O_EXCL : O_APPEND);
    const UniqueFd report(::open(reportPath, flags, 0600));
    return LogVerifyTo(logPath, report.get(), damagedLines);
}

bool LogVerifyTo(const char* logPath, int reportFd, int* damagedLines) {
    if (damagedLines) *damagedLines = 0;
    if (!logPath) return false;
    std::string errors = "\r\n\r\n";

    std::string content;
    {
        UniqueFd fd(::open(logPath, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat st;
        if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        // Shared lock: never read a line a writer has only half written.
        LockFile(fd.get(), LOCK_SH);
        char chunk[65536];
        for (;;) {
            ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) break;
            content.append(chunk, static_cast<std::size_t>(n));
        }
    }

    const std::string name = BaseName(logPath);
    std::string previous;  // hash of the nearest earlier line that had one
    int damaged = 0;
    int number = 0;
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t end = content.find("\r\n", pos);
        // A last line without CR LF was cut short; it is still judged (and reported).
        const std::size_t next = end == std::string::npos ? content.size() : end + 2;
        if (end == std::string::npos) end = content.size();
        const std::string line = content.substr(pos, end - pos);
        pos = next;
        ++number;

        int status = 0;
        const std::size_t space = line.rfind(' ');
        if (space == std::string::npos || line.size() - space - 1 <= 32) {
            status = 4;
        } else {
            const std::string timeText = line.substr(0, space);
            const std::string token = line.substr(space + 1);
            const std::string cipher = token.substr(0, token.size() - 32);
            const std::string hash = token.substr(token.size() - 32);
            const std::string chainedTo = previous;
            previous = hash;

            WString key = LineKeyText(hash, timeText, name);
            WString hex = ToWString(cipher);
            WString plain = DecryptHexToText(hex, key);
            std::string text;
            if (plain && w16::wcslen(plain) > kSaltLength) text = ToNarrow(plain + kSaltLength);
            FreeWString(key);
            FreeWString(hex);
            FreeWString(plain);

            if (text.empty()) {
                status = 2;
            } else if (Md5HexUpper(text.c_str(), chainedTo.c_str()) != hash) {
                status = 1;
            } else {
                const std::string out = timeText + " " + text;
                if (reportFd < 0 || !WriteAll(reportFd, out.data(), out.size())) status = 3;
            }
        }

        static const char* const kErrors[] = {
            nullptr,
            "Error on data validation (line %d)\r\n",
            "Error on data decryption (line %d)\r\n",
            "Error on writing data (line %d)\r\n",
            "Error possibly data lost (line %d)\r\n",
        };
        if (status != 0) {
            char text[96];
            std::snprintf(text, sizeof text, kErrors[status], number);
            errors += text;
            ++damaged;
        }
    }
    if (reportFd >= 0) WriteAll(reportFd, errors.data(), errors.size());
    if (damagedLines) *damagedLines = damaged;
    return true;
}
