// The transfer client against a real loopback server and real squid proxies.

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "Download.h"
#include "NetTestSupport.h"
#include "SquidProxy.h"

using namespace testsupport;
using D = CDownload;

namespace {

// What the server does after sending a path's bytes.
enum class Then { Keep, Reset, Silence };

struct Answer {
    const char* url;  // a path on the server, or a whole URL
    std::string response;
    Then then;
    D::DownloadReturnCode result;
    std::string body = "", errorText = "", authText = "";
    const char* post = nullptr;  // the form, for a POST
};

std::string Status(const std::string& line, const std::string& headers = "") {
    return "HTTP/1.1 " + line + "\r\n" + headers + "Content-Length: 0\r\n\r\n";
}

int Unsent(int fd) {
    int queued = -1;
    return ioctl(fd, SIOCOUTQ, &queued) == 0 ? queued : -1;
}

}  // namespace

// One object through every answer in turn: no text of an earlier answer may
// stay with a later one, no proxy login may reach the server, and the proxy
// variables are not libcurl's to follow.
TEST(Download, ServerAnswers) {
    ProxyHome home;
    const std::string kAuth = "Authentication required. Can not continue";
    const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello body";
    const Answer answers[] = {
        {"/form", kOk, Then::Keep, D::DOWNLOAD_OK, "hello body", "", "", "lUid=7&mod=1"},
        {"/ok", kOk, Then::Keep, D::DOWNLOAD_OK, "hello body"},
        {"/moved", Status("302 Found", "Location: /ok\r\n"), Then::Keep, D::DOWNLOAD_FAILED, "",
         "Could not perform download"},
        {"/forbidden", Status("403 Forbidden"), Then::Keep, D::DOWNLOAD_FORBIDDEN, "",
         "Could not perform download: Forbidden. This may be caused by not having detected environment proxy "
         "settings correctly"},
        {"/basic", Status("401 x", "WWW-Authenticate: Basic realm=\"Support Portal\"\r\n"), Then::Keep,
         D::DOWNLOAD_AUTH_REQUIRED, "", kAuth, "Support Portal"},
        {"/ok", kOk, Then::Keep, D::DOWNLOAD_OK, "hello body"},
        {"/ntlm",
         Status("401 x", "WWW-Authenticate: NTLM " + ProxyHome::Fixture("ntlm/curl-test209-CC.b64") + "\r\n"),
         Then::Keep, D::DOWNLOAD_AUTH_REQUIRED, "", kAuth, "CC"},
        // Broken after the status line: no length announced, what came is the
        // body; fewer bytes than announced is no success; nothing at all: an error.
        {"/whole", "HTTP/1.1 200 OK\r\n\r\npartial but whole", Then::Reset, D::DOWNLOAD_OK,
         "partial but whole", "Recv failure"},
        {"/cut", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nonly this", Then::Reset,
         D::DOWNLOAD_TRANSFER_ERROR, "", "Recv failure"},
        {"/reset", "", Then::Reset, D::DOWNLOAD_TRANSFER_ERROR, "", "Recv failure"},
        {"/silent", "", Then::Silence, D::DOWNLOAD_TIMEOUT, "", "Operation timed out"},
        {"http://127.0.0.1:1/", "", Then::Keep, D::DOWNLOAD_FAILED, "", "Failed to connect"},
        // Refused before it starts: the text of the one before is not reported.
        {"", "", Then::Keep, D::DOWNLOAD_BAD_PARAMETERS},
    };
    RawServer server([&](int fd, const std::string& request, const std::atomic<bool>& stopping) {
        for (const Answer& a : answers) {
            if (request.find(std::string(" ") + a.url + " HTTP/1.1\r\n") != request.find(' ')) continue;
            SendAll(fd, a.response);
            if (a.then == Then::Keep) return true;
            // Reset only once the client has the bytes: none may be lost with the connection.
            WaitFor([fd] { return Unsent(fd) == 0; }, 5000);
            const linger reset{1, 0};
            if (a.then == Then::Reset)
                return setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset)), false;
            return WaitFor([&] { return stopping.load(); }, 10000), false;
        }
        return false;
    });
    RawServer proxy([](int fd, const std::string&, const std::atomic<bool>&) {
        return SendAll(fd, Status("403 Forbidden")), true;
    });
    for (const char* v : {"http_proxy", "HTTP_PROXY", "ALL_PROXY"}) setenv(v, proxy.url().c_str(), 1);
    D d(1);
    d.SetProxyCredentials("alice:secret");
    for (const Answer& a : answers) {
        SCOPED_TRACE(a.url);
        std::vector<char> body{'x'};
        const std::string url = *a.url == '/' ? server.url(a.url) : a.url;
        EXPECT_EQ(a.post ? d.PostToBuffer(url, a.post, body) : d.DownloadToBuffer(url, body), a.result);
        EXPECT_EQ(std::string(body.begin(), body.end()), a.body);
        const std::string text = d.GetErrorText();
        EXPECT_TRUE(a.errorText.empty() ? text.empty() : text.find(a.errorText) != std::string::npos) << text;
        EXPECT_EQ(a.authText.empty() ? "" : d.GetProxyAuthText(), a.authText);
    }
    // A port without a host is no proxy either.
    ProxySettings portOnly;
    portOnly.port = static_cast<uint32_t>(proxy.port());
    std::vector<char> body;
    EXPECT_EQ(D(portOnly).DownloadToBuffer(server.url("/ok"), body), D::DOWNLOAD_OK);
    EXPECT_TRUE(proxy.requests().empty());

    // The requests as sent; the download after the POST is a GET again.
    const std::string agent =
        "\r\nUser-Agent: Mozilla/5.0 (X11; U; Linux i686; en-US; rv:1.8.1.3) Gecko/20061201 "
        "Firefox/2.0.0.3 (Ubuntu-feisty)\r\n";
    const auto requests = server.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].rfind("POST /form HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(requests[0].find("\r\nCache-Control: no-cache\r\n"), std::string::npos);
    EXPECT_EQ(requests[0].substr(requests[0].size() - 16), "\r\n\r\nlUid=7&mod=1");
    EXPECT_EQ(requests[1].rfind("GET /ok HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(requests[1].find("Cache-Control"), std::string::npos);
    for (const std::string& request : requests) {
        EXPECT_NE(request.find(agent), std::string::npos);
        EXPECT_NE(request.find("\r\nPragma: no-cache\r\n"), std::string::npos);
        EXPECT_EQ(request.find("uthorization:"), std::string::npos);
    }
}

// An entry another user planted in a sticky folder cannot be removed; the
// files are then not written through it either.
TEST(Download, FilesRefuseAnEntryTheyCannotRemove) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    ProxyHome home;
    const uid_t nobody = 65534;
    const std::string sticky = home.path() + "/tmp", victim = home.path() + "/victim",
                      target = sticky + "/RC_1.zip";
    ASSERT_TRUE(chmod(home.path().c_str(), 0755) == 0 && mkdir(sticky.c_str(), 0) == 0 &&
                chmod(sticky.c_str(), 01777) == 0);
    ASSERT_TRUE(WriteFile(victim, "precious", 0666) && chown(victim.c_str(), nobody, nobody) == 0);
    ASSERT_EQ(symlink(victim.c_str(), target.c_str()), 0);
    for (bool post : {true, false}) {
        const pid_t child = fork();
        if (child == 0) {
            D d;
            const std::string url = "http://127.0.0.1:1/";
            _exit(setgid(nobody) || setuid(nobody) ? 100
                  : post                           ? d.PostToFile(url, "a=1", target)
                                                   : d.DownloadToFile(url, target));
        }
        int status = 0;
        const bool ended = WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 20000);
        if (!ended) kill(child, SIGKILL), waitpid(child, &status, 0);
        EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == D::DOWNLOAD_FILE_OPEN_ERROR)
            << status;
        EXPECT_EQ(ReadFile(victim), "precious");
    }
}

// openssl's own server, answering with a page of its own on a fresh self-signed
// certificate, at https://127.0.0.1:port/page once it is up.
std::unique_ptr<Process> TlsServer(const ProxyHome& home, int port, const std::string& version = "-tls1_3") {
    const std::string key = home.path() + "/key.pem", cert = home.path() + "/cert.pem";
    if (testsupport::Run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
                          cert, "-days", "2", "-subj", "/CN=support.example.test"},
                         30000)
            .exitCode != 0)
        return nullptr;
    auto tls = Process::Start({"openssl", "s_server", "-quiet", version, "-accept",
                               "127.0.0.1:" + std::to_string(port), "-key", key, "-cert", cert, "-www"});
    std::vector<char> body;
    const std::string page = "https://127.0.0.1:" + std::to_string(port) + "/page";
    return WaitFor([&] { return D().DownloadToBuffer(page, body) == D::DOWNLOAD_OK; }, 10000) ? std::move(tls)
                                                                                              : nullptr;
}

// A tunnel lost after the request has no answer in it: the proxy's 200 to
// CONNECT is not the server's, and no package is left. A libcurl that cannot
// pin fails a pinned transfer before it starts, instead of running it unpinned.
TEST(Download, TunnelLostAfterTheRequestAndPinsNotChecked) {
    ProxyHome home;
    const int port = FreeTcpPort();
    const std::string https = "https://127.0.0.1:" + std::to_string(port) + "/page";
    auto tls = TlsServer(home, port, "-tls1_2");  // its answer is its first application record
    ASSERT_TRUE(tls);
    TunnelProxy proxy([port](int) { return TunnelProxy::Route{port, true}; });
    ProxySettings tunnel;
    tunnel.SetHost("127.0.0.1");
    tunnel.port = static_cast<uint32_t>(proxy.port());
    const std::string package = home.path() + "/package.zip";
    EXPECT_EQ(D(tunnel).DownloadToFile(https, package), D::DOWNLOAD_TRANSFER_ERROR);
    EXPECT_EQ(proxy.tunnels(), 1);
    EXPECT_NE(access(package.c_str(), F_OK), 0) << "a package was left";

    setenv("SA_CURL_REFUSE_PINS", "1", 1);
    D pinned;
    pinned.SetTlsPolicy({TlsPolicy::TLS_PINNED, "sha256//" + std::string(43, 'A') + "="});
    std::vector<char> body;
    EXPECT_EQ(pinned.DownloadToBuffer(https, body), D::DOWNLOAD_TRANSFER_ERROR);
    EXPECT_EQ(pinned.GetTlsRefusal(), "this computer's libcurl cannot check pins");
    EXPECT_EQ(D().DownloadToBuffer(https, body), D::DOWNLOAD_OK) << "a copy without pins still runs";
    unsetenv("SA_CURL_REFUSE_PINS");
}

// A desktop whose browser names the proxy: no login, a wrong one, the right
// one, over HTTP and through a tunnel to HTTPS. The origin sees no login.
class ThroughSquid : public ::testing::TestWithParam<SquidAuth> {};

TEST_P(ThroughSquid, LoginRoundTrip) {
    ProxyHome home;
    RawServer plain([](int fd, const std::string&, const std::atomic<bool>&) {
        return SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"), true;
    });
    const int port = FreeTcpPort();
    const std::string https = "https://127.0.0.1:" + std::to_string(port) + "/page";
    auto tls = TlsServer(home, port);
    ASSERT_TRUE(tls);
    std::vector<char> body;
    auto proxy = SquidProxy::Start(GetParam(), "alice", "s3cret pass", "Support Proxy");
    ASSERT_TRUE(proxy) << SquidProxy::LastError();
    ASSERT_TRUE(WriteFirefoxProxyPrefs(home.path(), "127.0.0.1", proxy->port()));
    ProxySettings found;
    ASSERT_TRUE(found.LoadProxySettings(plain.url("/page")));
    D d(found);
    // ntlm_fake_auth lets any login through, but not an empty one: none is offered.
    for (const std::string login : {"", "alice:wrong", "alice:s3cret pass"}) {
        const bool ntlm = GetParam() == SquidAuth::Ntlm,
                   pass = login == "alice:s3cret pass" || (ntlm && !login.empty());
        if (!login.empty()) d.SetProxyCredentials(login);
        for (const std::string& url : {plain.url("/page"), https}) {
            SCOPED_TRACE(url + " with '" + login + "'");
            EXPECT_EQ(d.DownloadToBuffer(url, body), pass ? D::DOWNLOAD_OK : D::DOWNLOAD_AUTH_REQUIRED)
                << d.GetErrorText();
            EXPECT_EQ(body.empty(), !pass);
            EXPECT_EQ(pass ? "" : d.GetProxyAuthText(), pass || ntlm ? "" : "Support Proxy");
        }
    }
    for (const std::string& request : plain.requests())
        EXPECT_EQ(request.find("uthorization:"), std::string::npos);
}

std::string AuthName(const ::testing::TestParamInfo<SquidAuth>& info) {
    const char* names[] = {"None", "Basic", "Digest", "Ntlm"};
    return names[static_cast<int>(info.param)];
}
INSTANTIATE_TEST_SUITE_P(Auth, ThroughSquid,
                         ::testing::Values(SquidAuth::Basic, SquidAuth::Digest, SquidAuth::Ntlm), AuthName);
