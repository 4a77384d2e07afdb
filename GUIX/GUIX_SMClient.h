#pragma once
// X session-management client: registers with the session manager named by
// SESSION_MANAGER, answers save-yourself at once with success, and ends the
// process with status 0 when told to die. The loop waits on descriptor()
// along with its others and calls processMessages() when it is readable.

#include <string>

typedef struct _SmcConn* SmcConn;
typedef struct _IceConn* IceConn;

class GUIX_SMClient {
public:
    explicit GUIX_SMClient(const char* clientIdText);
    virtual ~GUIX_SMClient();
    GUIX_SMClient(const GUIX_SMClient&) = delete;
    GUIX_SMClient& operator=(const GUIX_SMClient&) = delete;

    // Handles what the session manager sent. After an I/O error the
    // connection is closed and descriptor() is -1.
    void processMessages();

    // Runs on the GUI thread when the session manager says die, just before
    // the process ends with status 0.
    using DieHandler = void (*)();
    static void setDieHandler(DieHandler handler);

    bool connected() const { return m_smc != nullptr; }
    const std::string& clientId() const { return m_clientId; }
    int descriptor() const { return m_fd; }  // -1 without a connection

private:
    SmcConn m_smc = nullptr;
    IceConn m_ice = nullptr;
    int m_fd = -1;
    std::string m_clientId;
    const char* m_clientIdText;
};
