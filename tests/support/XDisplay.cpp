#include "XDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>

extern char** environ;

namespace testsupport {
namespace {

// argv run with this process's environment and DISPLAY set to display; it
// leads a process group of its own and dies with the test process.
pid_t Spawn(std::vector<std::string> argv, const std::string& display) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
    env.push_back("DISPLAY=" + display);
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    // Only async-signal-safe calls until exec.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int devnull = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) dup2(devnull, fd);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
}

void Stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (!WaitFor([&] { return waitpid(pid, nullptr, WNOHANG) != 0; }, 3000)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

std::unique_ptr<XDisplay> s_display;

}  // namespace

XDisplay::XDisplay(bool withWindowManager, int timeoutMs) {
    // A second try on a fresh server when openbox does not come up: now and
    // then it gives up at start.
    for (int attempt = 0; attempt < 2 && !ok_; ++attempt) {
        StopAll();
        ok_ = Start(withWindowManager, timeoutMs / 2);
    }
}

XDisplay::~XDisplay() { StopAll(); }

void XDisplay::StopAll() {
    Stop(wm_);
    Stop(xvfb_);
    // A server that was killed leaves its lock and socket behind.
    const std::string n = display_.substr(display_.empty() ? 0 : 1), lock = "/tmp/.X" + n + "-lock";
    if (!n.empty() && std::atoi(ReadFile(lock).c_str()) == xvfb_) {
        unlink(("/tmp/.X11-unix/X" + n).c_str());
        unlink(lock.c_str());
    }
    wm_ = xvfb_ = -1;
    display_.clear();
}

bool XDisplay::Start(bool withWindowManager, int timeoutMs) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    const int writeEnd = fcntl(fds[1], F_DUPFD, 3);  // inherited by Xvfb, without O_CLOEXEC
    close(fds[1]);
    xvfb_ = Spawn(
        {"Xvfb", "-displayfd", std::to_string(writeEnd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
        "");
    close(writeEnd);
    // Xvfb writes its display number and a newline once it accepts connections.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char buf[32];
    ssize_t n = 0;
    while (number.find('\n') == std::string::npos && poll(&p, 1, timeoutMs) > 0 &&
           (n = read(fds[0], buf, sizeof buf)) > 0)
        number.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    if (xvfb_ < 0 || number.find('\n') == std::string::npos) {
        error_ = "Xvfb did not report its display in time";
        return false;
    }
    display_ = ":" + number.substr(0, number.find('\n'));
    if (!withWindowManager) return true;
    wm_ = Spawn({"openbox", "--sm-disable"}, display_);
    bool ended = false;
    const bool up = WaitFor(
        [&] {
            return (ended = waitpid(wm_, nullptr, WNOHANG) != 0) || Run({"wmctrl", "-m"}, 2000).exitCode == 0;
        },
        timeoutMs, 50);
    if (ended) wm_ = -1;
    if (ended || !up) {
        error_ = ended ? "openbox ended at start" : "openbox did not answer in time";
        return false;
    }
    // openbox does not manage windows mapped in its first moments.
    usleep(500 * 1000);
    return true;
}

RunResult XDisplay::Run(const std::vector<std::string>& argv, int timeoutMs) const {
    return testsupport::Run(argv, timeoutMs, {"DISPLAY=" + display_});
}

std::string XDisplay::FindWindow(const std::string& title) const {
    // wmctrl -l: id, desktop, host, then the title (which may hold blanks).
    std::istringstream lines(Run({"wmctrl", "-l"}, 5000).output);
    for (std::string line, id, desktop, host, rest; std::getline(lines, line);) {
        std::istringstream fields(line);
        if (fields >> id >> desktop >> host && std::getline(fields >> std::ws, rest) && rest == title)
            return id;
    }
    return "";
}

std::string XDisplay::WaitForWindow(const std::string& title, int timeoutMs) const {
    std::string id;
    WaitFor([&] { return !(id = FindWindow(title)).empty(); }, timeoutMs, 50);
    return id;
}

bool XDisplay::WaitForWindowGone(const std::string& title) const {
    return WaitFor([&] { return FindWindow(title).empty(); }, 10000, 50);
}

// xdotool puts a character the keyboard lacks on a spare key only while it
// types it, and takes the key back at once: a program that reads the key
// after that (a loaded machine) finds nothing on it. So each such character
// gets a spare key of its own first, for as long as the display lives.
bool XDisplay::Type(const std::string& id, const std::string& text) const {
    std::vector<std::string> bind = {"xmodmap"};
    std::istringstream keys(Run({"xmodmap", "-pke"}).output);
    std::string line;
    std::set<unsigned long> bound;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        unsigned long c = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length && i + k < text.size(); ++k) c = c << 6 | (text[i + k] & 0x3F);
        i += length;
        if (c < 0x80 || !bound.insert(c).second) continue;
        int code = 0;
        char taken[2];
        while (std::getline(keys, line)) {
            if (std::sscanf(line.c_str(), "keycode %d = %1s", &code, taken) != 1 || code <= 8) continue;
            char entry[64];
            std::snprintf(entry, sizeof entry, "keycode %d = U%04lX U%04lX", code, c, c);
            bind.insert(bind.end(), {"-e", entry});
            break;
        }
    }
    return (bind.size() == 1 || Do(bind)) && Do({"xdotool", "windowactivate", "--sync", id}) &&
           Do({"xdotool", "type", "--delay", "15", text});
}

bool XDisplay::Key(const std::string& id, const std::string& keys) const {
    return Do({"xdotool", "windowactivate", "--sync", id}) && Do({"xdotool", "key", keys});
}

bool XDisplay::ClickAt(const std::string& id, int x, int y) const {
    return Do({"xdotool", "mousemove", "--window", id, std::to_string(x), std::to_string(y), "click", "1"});
}

void XDisplayEnvironment::SetUp() {
    if (s_display) return;
    s_display = std::make_unique<XDisplay>();
    if (s_display->ok()) setenv("DISPLAY", s_display->display().c_str(), 1);
    std::atexit([] { s_display.reset(); });
}

XDisplay* XDisplayEnvironment::Current() { return s_display.get(); }

}  // namespace testsupport
