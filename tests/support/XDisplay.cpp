#include "XDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::vector<char*> cstrings(std::vector<std::string>& v) {
    std::vector<char*> out;
    for (auto& s : v) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Environment of this process with DISPLAY replaced (when display is not empty).
std::vector<std::string> environmentWith(const std::string& display) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    return env;
}

pid_t spawn(std::vector<std::string> argv, const std::vector<std::string>& env,
            const std::string& errFile = "") {
    auto args = cstrings(argv);
    std::vector<std::string> envCopy = env;
    auto envp = cstrings(envCopy);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid != 0) return pid;  // parent, or -1
    // Child: only async-signal-safe calls until exec. The server and the
    // window manager must not outlive a test that is killed on its time limit.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
    }
    if (!errFile.empty()) {
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0) dup2(err, 2);
    }
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
}

// Waits for pid to exit within timeoutMs; returns the exit status or -1.
int waitExit(pid_t pid, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        if (r < 0) return -1;
        if (Clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string readAll(const std::string& path) {
    std::string out;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return out;
    char buf[1024];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 && out.size() < 4096)
        out.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return out;
}

XDisplay* s_current = nullptr;
std::unique_ptr<XDisplay> s_owned;

}  // namespace

XDisplay::XDisplay(bool withWindowManager, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // A second try on a fresh server when the window manager does not come up
    // (it gives up when it finds another one on the display).
    for (int attempt = 0; attempt < 2 && !ok_; ++attempt) {
        if (attempt > 0) {
            stop(wm_);
            stop(xvfb_);
        }
        if (!startServer(msLeft(deadline))) return;
        ok_ = !withWindowManager || startWindowManager(msLeft(deadline) / (attempt == 0 ? 2 : 1));
    }
}

XDisplay::~XDisplay() {
    stop(wm_);
    stop(xvfb_);
}

void XDisplay::stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (waitExit(pid, 3000) < 0) {
        kill(pid, SIGKILL);
        waitExit(pid, 3000);
    }
    pid = -1;
}

bool XDisplay::startServer(int timeoutMs) {
    int fds[2];
    if (pipe(fds) != 0) {
        error_ = "pipe failed";
        return false;
    }
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    xvfb_ = spawn(
        {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
        environmentWith(""));  // the pipe's write end is inherited
    close(fds[1]);
    if (xvfb_ < 0) {
        close(fds[0]);
        error_ = "cannot start Xvfb";
        return false;
    }
    // Xvfb writes the display number and a newline once it accepts connections.
    std::string number;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (number.find('\n') == std::string::npos) {
        pollfd p{fds[0], POLLIN, 0};
        int rc = poll(&p, 1, msLeft(deadline));
        if (rc <= 0) break;
        char buf[32];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        error_ = "Xvfb did not report its display in time";
        return false;
    }
    number.erase(number.find('\n'));
    display_ = ":" + number;
    return true;
}

bool XDisplay::startWindowManager(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto env = environmentWith(display_);
    std::string errFile = "/tmp/sa-openbox-" + std::to_string(getpid()) + ".err";
    wm_ = spawn({"openbox", "--sm-disable"}, env, errFile);
    if (wm_ < 0) {
        error_ = "cannot start openbox";
        return false;
    }
    int last = -1;
    for (;;) {
        pid_t probe = spawn({"wmctrl", "-m"}, env);
        if (probe > 0) {
            last = waitExit(probe, std::max(1, msLeft(deadline)));
            if (last == 0) break;
            if (last < 0) {
                kill(probe, SIGKILL);
                waitExit(probe, 1000);
            }
        }
        int status = 0;
        if (waitpid(wm_, &status, WNOHANG) == wm_) {
            wm_ = -1;
            error_ = "openbox ended at start (status " + std::to_string(status) + "): " + readAll(errFile);
            unlink(errFile.c_str());
            return false;
        }
        if (msLeft(deadline) == 0) {
            error_ = "openbox did not answer in time (last wmctrl -m: " + std::to_string(last) +
                     "): " + readAll(errFile);
            unlink(errFile.c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    unlink(errFile.c_str());
    // Windows mapped in the window manager's first moments are not managed.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(500, msLeft(deadline) + 1)));
    return true;
}

void XDisplayEnvironment::SetUp() {
    if (s_owned) return;
    s_owned = std::make_unique<XDisplay>(withWm_);
    s_current = s_owned.get();
    if (s_owned->ok()) setenv("DISPLAY", s_owned->display().c_str(), 1);
    // Stopped at exit, after objects made later (a toolkit's display
    // connection, closed in a static destructor) are gone.
    std::atexit([] {
        s_current = nullptr;
        s_owned.reset();
    });
}

void XDisplayEnvironment::TearDown() {}

XDisplay* XDisplayEnvironment::Current() { return s_current; }

}  // namespace testsupport
