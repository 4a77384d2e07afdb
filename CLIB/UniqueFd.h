#pragma once
// Owns one file descriptor and closes it when it goes.

#include <unistd.h>

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    // Closes what is held and takes fd.
    void Reset(int fd = -1) {
        Close();
        m_fd = fd;
    }
    // The result of close(2), for callers that must know a write failed late.
    int Close() {
        int rc = 0;
        if (m_fd >= 0) rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};
