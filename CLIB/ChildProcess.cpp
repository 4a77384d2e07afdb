#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "CriticalSection.h"

extern char** environ;

namespace {

// posix_spawn's attribute and file-action objects, released on every path.
struct SpawnAttributes {
    posix_spawnattr_t value;
    SpawnAttributes() { posix_spawnattr_init(&value); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&value); }
};

struct SpawnActions {
    posix_spawn_file_actions_t value;
    SpawnActions() { posix_spawn_file_actions_init(&value); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&value); }
};

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

ChildProcess::~ChildProcess() { Kill(); }

int ChildProcess::Start(const std::vector<std::string>& argv, const Options& options) {
    Kill();
    if (argv.empty()) return EINVAL;

    UniqueFd writeEnd;
    if (options.captureOutput) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return errno;
        m_output.Reset(ends[0]);
        writeEnd.Reset(ends[1]);
    }

    SpawnActions actions;
    posix_spawn_file_actions_addopen(&actions.value, 0, "/dev/null", O_RDONLY, 0);
    if (options.captureOutput) posix_spawn_file_actions_adddup2(&actions.value, writeEnd.get(), 1);
    if (options.quiet) posix_spawn_file_actions_addopen(&actions.value, 2, "/dev/null", O_WRONLY, 0);

    // The caller's threads may block or ignore signals; the program gets none of that.
    SpawnAttributes attributes;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.ownProcessGroup) flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setflags(&attributes.value, flags);
    posix_spawnattr_setsigmask(&attributes.value, &none);
    posix_spawnattr_setsigdefault(&attributes.value, &all);
    posix_spawnattr_setpgroup(&attributes.value, 0);

    std::vector<char*> args = Pointers(argv);
    std::vector<char*> env;
    if (options.environment) env = Pointers(*options.environment);
    pid_t pid = -1;
    const int error =
        posix_spawnp(&pid, options.program ? options.program : args[0], &actions.value, &attributes.value,
                     args.data(), options.environment ? env.data() : environ);
    if (error != 0) {
        m_output.Reset();
        return error;
    }
    m_pid = pid;
    m_ownGroup = options.ownProcessGroup;
    return 0;
}

bool ChildProcess::ReadOutput(std::string& text, std::uint64_t deadlineMs, const std::string& last) {
    if (m_output.get() < 0) return false;
    char piece[4096];
    for (;;) {
        // Past the deadline what the child already wrote is still taken.
        const std::uint64_t now = TickCountMs();
        pollfd ready{m_output.get(), POLLIN, 0};
        const int n = poll(&ready, 1, now < deadlineMs ? static_cast<int>(deadlineMs - now) : 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        const ssize_t got = read(m_output.get(), piece, sizeof piece);
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
