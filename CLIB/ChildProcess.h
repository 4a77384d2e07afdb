#pragma once
// A program started from an argument vector, never through a shell: no
// quoting question, no extra process. Started with fork and exec and a
// close-on-exec pipe that carries a failed exec's error number back, so that
// Start tells a program that really runs from one that could not be executed
// on every C library. The program gets standard input from /dev/null and no
// descriptor of ours but standard output and error.

#include <sys/types.h>
#include <sys/wait.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "UniqueFd.h"

class ChildProcess {
public:
    struct Options {
        bool captureOutput = false;    // standard output into a pipe, read with ReadOutput
        bool quiet = false;            // standard error to /dev/null
        bool ownProcessGroup = false;  // apart from the terminal's signals; Kill ends the whole group
        // Killed when the thread that started it ends (the process, for the
        // main thread), also by SIGKILL: a helper must not outlive us.
        bool dieWithParent = false;
        const std::vector<std::string>* environment = nullptr;  // "NAME=value"; null: ours
        const char* program = nullptr;                          // the file to run when it is not argv[0]
    };

    ChildProcess() = default;
    // A child that was neither reaped nor detached is killed and reaped.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (or the program), searched in PATH when it holds no '/'.
    // 0 once the program is executing, or the error number of the failed
    // start (the exec's included); signals start with their default handling.
    int Start(const std::vector<std::string>& argv, const Options& options);
    bool running() const { return m_pid > 0; }

    // Appends the captured output up to its end, or up to a text that ends
    // with last when one is given; false when it did not end by deadlineMs
    // (TickCountMs), when limit bytes came first, or when the pipe failed.
    bool ReadOutput(std::string& text, std::uint64_t deadlineMs, const std::string& last = "",
                    std::size_t limit = SIZE_MAX);
    // Waits for the end; the raw wait status, -1 when there is no child.
    int Wait();
    // Same, killed at deadlineMs (TickCountMs): -1 then.
    int Wait(std::uint64_t deadlineMs);
    // A program that ran but could not start what it was for: a shell
    // wrapper whose target is missing ends with 127.
    static bool NotExecuted(int status) {
        return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 127;
    }
    // SIGKILL (to the group when it has one of its own), then reaped.
    void Kill();
    // Left running on its own: never waited for, never killed.
    void Detach() { m_pid = -1; }

private:
    pid_t m_pid = -1;
    bool m_ownGroup = false;
    UniqueFd m_output;
};
