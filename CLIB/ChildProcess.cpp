#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "CriticalSection.h"

extern char** environ;

namespace {

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// The file execvp would run; an error number when there is none.
int FindProgram(const std::string& name, std::string& path) {
    if (name.find('/') != std::string::npos) {
        path = name;
        return 0;
    }
    const char* value = getenv("PATH");
    const std::string list = value && *value ? value : "/usr/local/bin:/usr/bin:/bin";
    int error = ENOENT;
    for (size_t start = 0; start <= list.size();) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const std::string folder = end > start ? list.substr(start, end - start) : ".";
        start = end + 1;
        const std::string candidate = folder + "/" + name;
        struct stat st {};
        if (stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (access(candidate.c_str(), X_OK) == 0) {
            path = candidate;
            return 0;
        }
        error = errno;
    }
    return error;
}

// Everything the child needs, made before the fork: between fork and exec
// it only makes system calls.
struct ChildPlan {
    const char* path;
    char* const* argv;
    char* const* envp;
    int output;  // the pipe's write end, or -1
    int status;  // close-on-exec; a failed exec writes its errno here
    bool quiet, ownGroup, dieWithParent;
    pid_t parent;
    int lastFd;
};

// Closes first..last (the system call's ~0U: all above first); kernels
// before 5.9 have no such call, and every possible one is closed.
void CloseRange(int first, unsigned last, int lastFd) {
    if (first > static_cast<int>(std::min<unsigned>(last, INT32_MAX))) return;
#ifdef SYS_close_range
    if (syscall(SYS_close_range, first, last, 0) == 0) return;
#endif
    for (int fd = first; fd <= lastFd && static_cast<unsigned>(fd) <= last; ++fd) close(fd);
}

[[noreturn]] void RunChild(ChildPlan plan) {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &defaults, nullptr);
    if (plan.ownGroup) setpgid(0, 0);
    // Set before the check: a parent that died in between is seen by getppid.
    if (plan.dieWithParent && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != plan.parent)) _exit(127);
    // Our two pipe ends out of the way of the three standard descriptors.
    if (plan.output >= 0 && plan.output < 3) plan.output = fcntl(plan.output, F_DUPFD_CLOEXEC, 3);
    if (plan.status < 3) plan.status = fcntl(plan.status, F_DUPFD_CLOEXEC, 3);
    const int null = open("/dev/null", O_RDWR);
    if (null < 0 || dup2(null, 0) < 0 || (plan.quiet && dup2(null, 2) < 0) ||
        (plan.output >= 0 && dup2(plan.output, 1) < 0)) {
        const int error = errno;
        (void)!write(plan.status, &error, sizeof error);
        _exit(127);
    }
    // Nothing of ours reaches the program: no connection, no file, no pipe.
    CloseRange(3, static_cast<unsigned>(plan.status - 1), plan.lastFd);
    CloseRange(plan.status + 1, ~0U, plan.lastFd);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(plan.path, plan.argv, plan.envp);
    const int error = errno;
    (void)!write(plan.status, &error, sizeof error);
    _exit(127);
}

}  // namespace

ChildProcess::~ChildProcess() { Kill(); }

int ChildProcess::Start(const std::vector<std::string>& argv, const Options& options) {
    Kill();
    if (argv.empty()) return EINVAL;
    std::string path;
    if (const int error = FindProgram(options.program ? options.program : argv[0], path)) return error;

    UniqueFd writeEnd;
    if (options.captureOutput) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return errno;
        m_output.Reset(ends[0]);
        writeEnd.Reset(ends[1]);
    }
    int statusEnds[2];
    if (pipe2(statusEnds, O_CLOEXEC) != 0) {
        m_output.Reset();
        return errno;
    }
    UniqueFd statusRead(statusEnds[0]), statusWrite(statusEnds[1]);

    std::vector<char*> args = Pointers(argv);
    std::vector<char*> env;
    if (options.environment) env = Pointers(*options.environment);
    rlimit files{};
    const int lastFd =
        getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY && files.rlim_cur < 65536
            ? static_cast<int>(files.rlim_cur) - 1
            : 65535;
    const ChildPlan plan{path.c_str(),
                         args.data(),
                         options.environment ? env.data() : environ,
                         writeEnd.get(),
                         statusWrite.get(),
                         options.quiet,
                         options.ownProcessGroup,
                         options.dieWithParent,
                         getpid(),
                         lastFd};

    // No handler of ours may run in the child before it resets them.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid = fork();
    if (pid == 0) RunChild(plan);
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (pid < 0) {
        m_output.Reset();
        return forkError;
    }
    statusWrite.Reset();
    writeEnd.Reset();

    // End of file: the exec closed the pipe. An error number: it failed.
    int error = 0;
    ssize_t n;
    while ((n = read(statusRead.get(), &error, sizeof error)) < 0 && errno == EINTR) {}
    if (n == sizeof error) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
        m_output.Reset();
        return error != 0 ? error : EIO;
    }
    m_pid = pid;
    m_ownGroup = options.ownProcessGroup;
    return 0;
}

bool ChildProcess::ReadOutput(std::string& text, std::uint64_t deadlineMs, const std::string& last,
                              std::size_t limit) {
    if (m_output.get() < 0) return false;
    char piece[4096];
    for (;;) {
        if (text.size() >= limit) return false;
        // Past the deadline what the child already wrote is still taken.
        const std::uint64_t now = TickCountMs();
        pollfd ready{m_output.get(), POLLIN, 0};
        const int n = poll(&ready, 1, now < deadlineMs ? static_cast<int>(deadlineMs - now) : 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        const ssize_t got = read(m_output.get(), piece, std::min(sizeof piece, limit - text.size()));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        text.append(piece, static_cast<size_t>(got));
        if (!last.empty() && text.size() >= last.size() &&
            text.compare(text.size() - last.size(), last.size(), last) == 0)
            return true;
    }
}

int ChildProcess::Wait() {
    if (m_pid <= 0) return -1;
    int status = -1;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {}
    m_pid = -1;
    m_output.Reset();
    return status;
}

int ChildProcess::Wait(std::uint64_t deadlineMs) {
    // Looked at once even past the deadline: a child that ended long ago
    // (while a window was open, say) still gives its status.
    while (m_pid > 0) {
        int status = 0;
        const pid_t ended = waitpid(m_pid, &status, WNOHANG);
        if (ended == m_pid) {
            m_pid = -1;
            m_output.Reset();
            return status;
        }
        if ((ended < 0 && errno != EINTR) || TickCountMs() >= deadlineMs) break;
        usleep(1000);
    }
    Kill();
    return -1;
}

void ChildProcess::Kill() {
    if (m_pid > 0) {
        // Until it is reaped its id cannot be reused, so the signal reaches only it.
        kill(m_ownGroup ? -m_pid : m_pid, SIGKILL);
        Wait();
    }
    m_output.Reset();
}
