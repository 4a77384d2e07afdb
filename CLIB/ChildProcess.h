#pragma once
// A program started from an argument vector with posix_spawn, never through
// a shell: no quoting question, no extra process, and a program that cannot
// be executed is an error number here instead of a shell's exit status.

#include <sys/types.h>
#include <sys/wait.h>

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
        const std::vector<std::string>* environment = nullptr;  // "NAME=value"; null: ours
        const char* program = nullptr;                          // the file to run when it is not argv[0]
    };

    ChildProcess() = default;
    // A child that was neither reaped nor detached is killed and reaped.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (or the program), searched in PATH when it holds no '/'. Standard input
    // is /dev/null; signals start with their default handling. 0, or the
    // error number of the failed start (an exec failure included).
    int Start(const std::vector<std::string>& argv, const Options& options);
    bool running() const { return m_pid > 0; }

    // Appends the captured output up to its end, or up to a text that ends
    // with last when one is given; false when it did not end by deadlineMs
    // (TickCountMs) or the pipe failed.
    bool ReadOutput(std::string& text, std::uint64_t deadlineMs, const std::string& last = "");
    // Waits for the end; the raw wait status, -1 when there is no child.
    int Wait();
    // Same, killed at deadlineMs (TickCountMs): -1 then.
    int Wait(std::uint64_t deadlineMs);
    // A status that says the program could not be executed at all: where
    // posix_spawn cannot report that (qemu-user, for one), the child ends with 127.
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
