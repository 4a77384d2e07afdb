#include "Subprocess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

void ApplyEnv(const std::vector<std::string>& extraEnv) {
    for (const auto& kv : extraEnv) {
        auto eq = kv.find('=');
        if (eq == std::string::npos) continue;
        std::string name = kv.substr(0, eq);
        std::string value = kv.substr(eq + 1);
        if (value.empty()) {
            unsetenv(name.c_str());
        } else {
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
}

[[noreturn]] void ExecChild(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                            int outFd) {
    setpgid(0, 0);
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (outFd >= 0) {
        dup2(outFd, 1);
        dup2(outFd, 2);
    }
    ApplyEnv(extraEnv);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

}  // namespace

std::unique_ptr<Process> Process::Start(const std::vector<std::string>& argv,
                                        const std::vector<std::string>& extraEnv,
                                        const std::string& logFile) {
    if (argv.empty()) return nullptr;
    int outFd = logFile.empty() ? open("/dev/null", O_WRONLY | O_CLOEXEC)
                                : open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    pid_t pid = fork();
    if (pid < 0) {
        if (outFd >= 0) close(outFd);
        return nullptr;
    }
    if (pid == 0) ExecChild(argv, extraEnv, outFd);
    if (outFd >= 0) close(outFd);
    return std::unique_ptr<Process>(new Process(pid));
}

Process::~Process() { Stop(); }

bool Process::running() {
    if (reaped_) return false;
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        reaped_ = true;
        status_ = st;
        return false;
    }
    return r == 0;
}

bool Process::Wait(int timeoutMs, int* status) {
    bool done = WaitFor([this] { return !running(); }, timeoutMs, 10);
    if (done && status) *status = status_;
    return done;
}

void Process::Stop() {
    if (reaped_ || pid_ <= 0) return;
    // The child leads its own process group: stop its helpers with it.
    kill(-pid_, SIGTERM);
    kill(pid_, SIGTERM);
    if (!Wait(2000)) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        Wait(5000);
    }
}

RunResult Run(const std::vector<std::string>& argv, int timeoutMs, const std::vector<std::string>& extraEnv) {
    RunResult result;
    char tmpl[] = "/tmp/sa-run-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) return result;
    close(fd);
    {
        auto p = Process::Start(argv, extraEnv, tmpl);
        if (!p) {
            unlink(tmpl);
            return result;
        }
        int st = 0;
        if (p->Wait(timeoutMs, &st)) {
            result.exitCode = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        } else {
            result.timedOut = true;
            p->Stop();
        }
    }
    result.output = ReadFile(tmpl);
    unlink(tmpl);
    return result;
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs, int stepMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
}

int FreeTcpPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int port = -1;
    socklen_t len = sizeof(addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    close(fd);
    return port;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool WriteFile(const std::string& path, const std::string& content, int mode) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return false;
    fchmod(fd, static_cast<mode_t>(mode));
    size_t off = 0;
    while (off < content.size()) {
        ssize_t n = write(fd, content.data() + off, content.size() - off);
        if (n <= 0) {
            close(fd);
            return false;
        }
        off += static_cast<size_t>(n);
    }
    return close(fd) == 0;
}

}  // namespace testsupport
