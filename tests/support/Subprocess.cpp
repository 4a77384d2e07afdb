#include "Subprocess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "UniqueFd.h"

namespace testsupport {

std::unique_ptr<Process> Process::Start(const std::vector<std::string>& argv,
                                        const std::vector<std::string>& extraEnv,
                                        const std::string& logFile) {
    if (argv.empty()) return nullptr;
    const UniqueFd out(logFile.empty()
                           ? open("/dev/null", O_WRONLY | O_CLOEXEC)
                           : open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    const pid_t pid = fork();
    if (pid < 0) return nullptr;
    if (pid == 0) {
        // A group of its own, so Stop() reaches whatever the child starts.
        setpgid(0, 0);
        signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
        if (out.get() >= 0) dup2(out.get(), 1), dup2(out.get(), 2);
        for (const auto& kv : extraEnv) {
            const auto eq = kv.find('=');
            if (eq != std::string::npos && eq + 1 == kv.size()) unsetenv(kv.substr(0, eq).c_str());
            if (eq != std::string::npos && eq + 1 < kv.size())
                setenv(kv.substr(0, eq).c_str(), &kv[eq + 1], 1);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return std::unique_ptr<Process>(new Process(pid));
}

Process::~Process() { Stop(); }

bool Process::running() {
    if (reaped_) return false;
    const pid_t r = waitpid(pid_, &status_, WNOHANG);
    reaped_ = r == pid_;
    return r == 0;
}

bool Process::Wait(int timeoutMs, int* status) {
    const bool done = WaitFor([this] { return !running(); }, timeoutMs, 10);
    if (done && status) *status = status_;
    return done;
}

void Process::Stop() {
    if (reaped_ || pid_ <= 0) return;
    for (int sig : {SIGTERM, SIGKILL}) {
        kill(-pid_, sig);
        kill(pid_, sig);
        if (Wait(sig == SIGTERM ? 2000 : 5000)) return;
    }
}

RunResult Run(const std::vector<std::string>& argv, int timeoutMs, const std::vector<std::string>& extraEnv) {
    RunResult result;
    char log[] = "/tmp/sa-run-XXXXXX";
    const UniqueFd fd(mkstemp(log));
    if (fd.get() < 0) return result;
    if (auto p = Process::Start(argv, extraEnv, log)) {
        int st = 0;
        result.timedOut = !p->Wait(timeoutMs, &st);
        if (!result.timedOut) result.exitCode = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    result.output = ReadFile(log);
    unlink(log);
    return result;
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs, int stepMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
}

int FreeTcpPort() {
    const UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return -1;
    return ntohs(addr.sin_port);
}

std::string ReadFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

bool WriteFile(const std::string& path, const std::string& content, int mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!(out << content)) return false;
    }
    return chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

}  // namespace testsupport
