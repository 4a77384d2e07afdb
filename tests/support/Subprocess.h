#pragma once
// Child processes and small file helpers for tests: every wait is bounded.

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class Process {
public:
    // Starts argv[0] (from PATH) with the environment plus extraEnv ("NAME=value"; "NAME=" removes
    // NAME), stdout and stderr to logFile or /dev/null; null when the fork fails.
    static std::unique_ptr<Process> Start(const std::vector<std::string>& argv,
                                          const std::vector<std::string>& extraEnv = {},
                                          const std::string& logFile = "");
    ~Process();  // Stop()
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // True when the child ended within timeoutMs; status gets the raw wait status.
    bool Wait(int timeoutMs, int* status = nullptr);
    // SIGTERM to the child's process group, up to 2 s, then SIGKILL; reaps the child.
    void Stop();

private:
    explicit Process(pid_t pid) : pid_(pid) {}
    pid_t pid_;
    bool reaped_ = false;
    int status_ = 0;
};

struct RunResult {
    int exitCode = -1;  // exit status, or 128 + signal
    bool timedOut = false;
    std::string output;  // stdout and stderr together
};

// Runs a command to its end (killed after timeoutMs).
RunResult Run(const std::vector<std::string>& argv, int timeoutMs,
              const std::vector<std::string>& extraEnv = {});

// Polls pred every stepMs until it holds or timeoutMs passed.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs, int stepMs = 20);

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeTcpPort();

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& content, int mode = 0644);

}  // namespace testsupport
