#pragma once
// A stand-in for the support server's two pages, on loopback, for the demo
// and the tests. It records and prints what it receives.
//
// Session page (any path ending in interfaces/web/isd/session.asp): every
// poll gets "ticket=<ticket>"; poll number pollsBeforeResult + 1 and later
// also carry the result: an assignment ("script=" EncryptForServer of
// "isd=..&mode=..&lUid=.."), an error text, or nothing ever.
// Components page (any path ending in components/linux/default.asp): checks
// the posted form and answers with a ZIP that holds the client script, named
// after the remote-control name and the posted ac.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace demo {

enum class Outcome { Assignment, Error, Never };

struct Options {
    std::string host = "127.0.0.1";
    int port = 0;  // 0: any free port
    std::string ticket = "T1";
    std::string laterTicket;  // handed out from the second poll on, when not empty
    int pollsBeforeResult = 1;
    Outcome outcome = Outcome::Assignment;
    std::string errorText = "Session code unknown";
    std::string isd = "4711";
    std::string mode = "1";
    std::string lUid = "lu-815";
    std::string script;  // sent as it is instead of the encrypted assignment
    std::string remoteControlName = "ZELsupportRC";
    std::string marker;          // file the client script writes when it runs
    unsigned clientMode = 0777;  // as careless packages carry it
    int componentsStatus = 200;
    int sessionStatus = 200;         // the session page's polls answered with this status
    bool brokenPackage = false;      // answer the components page with a non-ZIP
    bool demandCredentials = false;  // the session page answers 401 (Basic, realm below)
    std::string realm = "demo realm";
    std::string certPem, keyPem;  // HTTPS with this certificate and key, when given
    bool print = true;
};

// A key (P-256) and a certificate, both PEM, for an HTTPS server.
struct Certificate {
    std::string certPem, keyPem;
};
// A certificate for host (an IPv4 address or a DNS name) valid from now +
// fromDays to now + toDays, signed by issuer, else by itself; ca: it may sign
// others. Empty texts when OpenSSL fails.
Certificate MakeCertificate(const std::string& host, int fromDays, int toDays,
                            const Certificate* issuer = nullptr, bool ca = false);

struct Request {
    std::string method;
    std::string page;    // "session", "components" or "other"
    std::string target;  // path and query as received
    std::string body;
    std::string reply;                         // what a session poll was answered (CR LF shown as " | ")
    std::map<std::string, std::string> query;  // raw values
    std::vector<std::pair<std::string, std::string>> form;  // raw, in order
    std::map<std::string, std::string> decrypted;  // type, check, mac, system, proxyserver, proxyauth
    std::vector<std::string> problems;             // what the components page found wrong
};

// Items of "a=1&b=2" in order, values raw.
std::vector<std::pair<std::string, std::string>> SplitForm(const std::string& text);
// The client form as the launcher must post it; fills decrypted values and problems.
void CheckClientForm(Request& request, const std::string& expectedTicket);
// A ZIP archive holding one stored file with the given Unix mode.
std::string MakeZip(const std::string& name, const std::string& content, unsigned mode);
// The client: a shell script that notes its run in `marker` (when given).
std::string ClientScript(const std::string& marker);
std::string AssignmentText(const Options& options);

class Server {
public:
    explicit Server(Options options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool Start();  // binds and serves on a thread of its own
    void Stop();
    int port() const { return m_port; }
    std::string BaseUrl() const;  // http://127.0.0.1:port/velmoran/ (https with a certificate)

    std::vector<Request> Requests() const;
    int SessionPolls() const;
    std::vector<Request> ComponentRequests() const;

private:
    void Record(Request request);

    Options m_options;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_lock;
    std::vector<Request> m_requests;
    int m_polls = 0;
};

}  // namespace demo
