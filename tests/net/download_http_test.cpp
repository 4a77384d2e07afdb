// The transfer client against real loopback servers, without a proxy:
// status mapping, challenges from the server, broken connections, request
// headers, files and self-signed HTTPS.

#include <httplib.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Crypto.h"
#include "Download.h"
#include "download_test_support.h"

using dltest::RawServer;
using dltest::TestHome;

namespace {

std::string Fixture(const std::string& name) { return testsupport::ReadFile(std::string(SA_FIXTURES_DIR) + "/" + name); }

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

std::string Str(const std::vector<char>& v) { return std::string(v.begin(), v.end()); }

// cpp-httplib on a free loopback port, served from its own thread.
class HttpServer {
public:
    explicit HttpServer(std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>())
        : server_(std::move(server)) {}
    ~HttpServer() {
        server_->stop();
        if (thread_.joinable()) thread_.join();
    }
    httplib::Server& operator*() { return *server_; }
    httplib::Server* operator->() { return server_.get(); }
    void Start() {
        port_ = server_->bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        ASSERT_TRUE(testsupport::WaitFor([this] { return server_->is_running(); }, 5000));
    }
    std::string url(const std::string& path, const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
    }
    int port() const { return port_; }

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
};

// Answers each request with fixed bytes, then, after the client has had time
// to read them, resets the connection.
RawServer::Handler BreakAfter(std::string response) {
    return [response](int fd, const std::atomic<bool>& stopping) {
        if (!dltest::ReadRequest(fd, stopping)) return;
        dltest::SendAll(fd, response);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        dltest::ResetConnection(fd);
    };
}

}  // namespace

class DownloadHttp : public ::testing::Test {
protected:
    void SetUp() override {
        server->Get("/ok", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("hello body", "text/plain");
        });
        server->Get("/moved", [](const httplib::Request&, httplib::Response& res) {
            res.status = 302;
            res.set_header("Location", "/ok");
        });
        server->Get("/forbidden", [](const httplib::Request&, httplib::Response& res) { res.status = 403; });
        server->Get("/basic", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"Support Portal\"");
        });
        server->Get("/digest", [](const httplib::Request&, httplib::Response& res) {
            res.status = 401;
            res.set_header("WWW-Authenticate",
                           "Digest realm=\"digest@portal\", qop=\"auth\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\"");
        });
        server->Get("/ntlm", [](const httplib::Request&, httplib::Response& res) {
            res.status = 401;
            res.set_header("WWW-Authenticate", "NTLM " + Trimmed(Fixture("ntlm/curl-test209-CC.b64")));
        });
        server->Post("/form", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            res.set_content("posted:" + req.body, "application/zip");
        });
        server->Post("/missing", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
        server.Start();
    }

    void Record(const httplib::Request& req) {
        std::lock_guard<std::mutex> lock(mutex);
        authorization += req.get_header_value("Authorization");
        authorization += req.get_header_value("Proxy-Authorization");
        lastBody = req.body;
    }

    TestHome home;
    HttpServer server;
    std::mutex mutex;
    std::string authorization;
    std::string lastBody;
};

TEST_F(DownloadHttp, StatusCodesMapToResults) {
    CDownload d;
    std::vector<char> body{'x'};
    EXPECT_EQ(d.DownloadToBuffer(server.url("/ok"), body), CDownload::DOWNLOAD_OK);
    EXPECT_EQ(Str(body), "hello body");
    EXPECT_EQ(d.GetProtocol(), CDownload::PROTOCOL_HTTP);
    EXPECT_STREQ(d.GetErrorText(), "");

    EXPECT_EQ(d.DownloadToBuffer(server.url("/moved"), body), CDownload::DOWNLOAD_FAILED);
    EXPECT_TRUE(body.empty());
    EXPECT_STREQ(d.GetErrorText(), "Could not perform download");

    EXPECT_EQ(d.DownloadToBuffer(server.url("/forbidden"), body), CDownload::DOWNLOAD_FORBIDDEN);
    EXPECT_EQ(d.DownloadToBuffer(server.url("/nothing-here"), body), CDownload::DOWNLOAD_FAILED);

    const std::string log = home.Log();
    EXPECT_NE(log.find("[CDownload] [DownloadToBuffer] URL=[" + server.url("/ok") + "]"), std::string::npos);
    // Redirects are not followed: the log names the 302 itself.
    EXPECT_NE(log.find("[CDownload] [AnalyzeResponse] Could not perform download. HTTP Status Code: 302."),
              std::string::npos);
    EXPECT_NE(log.find("[CDownload] CDownload::DownloadReturnCode CDownload::AnalyzeResponse():726. Could not "
                       "perform download: Forbidden. This may be caused by not having detected environment proxy "
                       "settings correctly"),
              std::string::npos);
    EXPECT_NE(log.find("HTTP Status Code: 404."), std::string::npos);
}

TEST_F(DownloadHttp, ServerChallengesGiveTheirTextAndNeverGetProxyCredentials) {
    CDownload d;
    d.SetProxyCredentials("alice:secret");
    std::vector<char> body;
    EXPECT_EQ(d.DownloadToBuffer(server.url("/basic"), body), CDownload::DOWNLOAD_AUTH_REQUIRED);
    EXPECT_EQ(d.GetProxyAuthText(), "Support Portal");
    EXPECT_STREQ(d.GetErrorText(), "Authentication required. Can not continue");

    EXPECT_EQ(d.DownloadToBuffer(server.url("/digest"), body), CDownload::DOWNLOAD_AUTH_REQUIRED);
    EXPECT_EQ(d.GetProxyAuthText(), "digest@portal");

    EXPECT_EQ(d.DownloadToBuffer(server.url("/ntlm"), body), CDownload::DOWNLOAD_AUTH_REQUIRED);
    EXPECT_EQ(d.GetProxyAuthText(), "CC");

    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(authorization, "");
}

TEST_F(DownloadHttp, BadUrlsAndUnknownSchemes) {
    CDownload d;
    std::vector<char> body{'x'};
    EXPECT_EQ(d.DownloadToBuffer("", body), CDownload::DOWNLOAD_BAD_PARAMETERS);
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(d.GetProtocol(), CDownload::PROTOCOL_NONE);

    EXPECT_EQ(d.DetectProtocolType("HTTP://host/"), CDownload::PROTOCOL_HTTP);
    EXPECT_EQ(d.DetectProtocolType("hTtPs://host/"), CDownload::PROTOCOL_HTTPS);
    EXPECT_EQ(d.DetectProtocolType("127.0.0.1/page"), CDownload::PROTOCOL_HTTP);
    EXPECT_EQ(d.DetectProtocolType("ftp://127.0.0.1/"), CDownload::PROTOCOL_UNKNOWN);

    // Still handed to libcurl: a closed port gives the connect mapping.
    const int closed = testsupport::FreeTcpPort();
    EXPECT_EQ(d.DownloadToBuffer("ftp://127.0.0.1:" + std::to_string(closed) + "/", body),
              CDownload::DOWNLOAD_FAILED);
    EXPECT_EQ(d.GetProtocol(), CDownload::PROTOCOL_UNKNOWN);
    EXPECT_NE(std::string(d.GetErrorText()), "");
    const std::string log = home.Log();
    EXPECT_NE(log.find("could not perform download: Wrong parameters"), std::string::npos);
    EXPECT_NE(log.find("[CDownload] WARNING: CDownload::ProtocolType CDownload::DetectProtocolType(const "
                       "std::string&): unknown (or not specified) protocol in URL 'ftp://127.0.0.1:"),
              std::string::npos);
    EXPECT_NE(log.find("could not connect: "), std::string::npos);
}

TEST_F(DownloadHttp, ErrorTextBelongsToTheLastTransfer) {
    // A server that reads the request and never answers.
    RawServer silent([](int fd, const std::atomic<bool>& stopping) {
        dltest::ReadRequest(fd, stopping);
        while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    CDownload d(1);
    std::vector<char> body;
    EXPECT_EQ(d.DownloadToBuffer(silent.url("/"), body), CDownload::DOWNLOAD_TIMEOUT);
    const std::string timeoutText = d.GetErrorText();
    EXPECT_NE(timeoutText.find("timed out"), std::string::npos);

    EXPECT_EQ(d.DownloadToBuffer(server.url("/forbidden"), body), CDownload::DOWNLOAD_FORBIDDEN);
    EXPECT_EQ(std::string(d.GetErrorText()),
              "Could not perform download: Forbidden. This may be caused by not having detected environment proxy "
              "settings correctly");
    EXPECT_NE(home.Log().find("download timed out: " + timeoutText), std::string::npos);
}

TEST_F(DownloadHttp, ConnectionBrokenAfterTheStatusLine) {
    CDownload d;
    std::vector<char> body;
    // No length announced: what arrived is the body.
    RawServer unannounced(BreakAfter("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\npartial but whole"));
    EXPECT_EQ(d.DownloadToBuffer(unannounced.url("/"), body), CDownload::DOWNLOAD_OK);
    EXPECT_EQ(Str(body), "partial but whole");
    EXPECT_NE(std::string(d.GetErrorText()).find("Recv failure"), std::string::npos) << d.GetErrorText();

    // Fewer bytes than announced: the body is cut short, not a success.
    RawServer shortBody(BreakAfter("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nonly this"));
    EXPECT_EQ(d.DownloadToBuffer(shortBody.url("/"), body), CDownload::DOWNLOAD_TRANSFER_ERROR);
    EXPECT_TRUE(body.empty());

    // A reset before any status line: no status to judge by.
    RawServer nothing([](int fd, const std::atomic<bool>& stopping) {
        dltest::ReadRequest(fd, stopping);
        dltest::ResetConnection(fd);
    });
    const auto r = d.DownloadToBuffer(nothing.url("/"), body);
    EXPECT_TRUE(r == CDownload::DOWNLOAD_FATAL || r == CDownload::DOWNLOAD_TRANSFER_ERROR) << r;
}

TEST_F(DownloadHttp, ClosedPortIsAConnectFailure) {
    CDownload d;
    std::vector<char> body;
    const std::string url = "http://127.0.0.1:" + std::to_string(testsupport::FreeTcpPort()) + "/";
    EXPECT_EQ(d.DownloadToBuffer(url, body), CDownload::DOWNLOAD_FAILED);
    EXPECT_NE(home.Log().find("could not connect: " + std::string(d.GetErrorText())), std::string::npos);
}

TEST_F(DownloadHttp, RequestHeadersAsSent) {
    std::mutex m;
    std::vector<std::string> requests;
    RawServer recorder([&](int fd, const std::atomic<bool>& stopping) {
        while (auto req = dltest::ReadRequest(fd, stopping)) {
            {
                std::lock_guard<std::mutex> lock(m);
                requests.push_back(*req);
            }
            dltest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        }
    });
    CDownload get;
    std::vector<char> body;
    ASSERT_EQ(get.DownloadToBuffer(recorder.url("/page?a=1"), body), CDownload::DOWNLOAD_OK);
    CDownload post;
    ASSERT_EQ(post.PostToBuffer(recorder.url("/form"), "lUid=7&mod=1", body), CDownload::DOWNLOAD_OK);

    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(requests.size(), 2u);
    const std::string kAgent =
        "Mozilla/5.0 (X11; U; Linux i686; en-US; rv:1.8.1.3) Gecko/20061201 Firefox/2.0.0.3 (Ubuntu-feisty)";
    EXPECT_EQ(requests[0].rfind("GET /page?a=1 HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(dltest::HeaderValue(requests[0], "User-Agent"), kAgent);
    EXPECT_EQ(dltest::HeaderValue(requests[0], "Pragma"), "no-cache");
    EXPECT_EQ(dltest::HeaderValue(requests[0], "Cache-Control"), "");

    EXPECT_EQ(requests[1].rfind("POST /form HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(dltest::HeaderValue(requests[1], "User-Agent"), kAgent);
    const size_t cache = requests[1].find("\r\nCache-Control: no-cache\r\n");
    const size_t pragma = requests[1].find("\r\nPragma: no-cache\r\n");
    ASSERT_NE(cache, std::string::npos);
    ASSERT_NE(pragma, std::string::npos);
    EXPECT_LT(cache, pragma);
    EXPECT_EQ(requests[1].substr(requests[1].size() - 12), "lUid=7&mod=1");
}

TEST_F(DownloadHttp, ByteBufferFormAppendsTheBody) {
    CDownload d;
    ByteBuffer buffer;
    ASSERT_TRUE(buffer.Append("stale", 5));
    ASSERT_EQ(d.DownloadToBuffer(server.url("/ok"), &buffer), CDownload::DOWNLOAD_OK);
    ASSERT_EQ(buffer.length, 10u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data), buffer.length), "hello body");
    EXPECT_EQ(buffer.data[10], 0);

    EXPECT_EQ(d.DownloadToBuffer(server.url("/forbidden"), &buffer), CDownload::DOWNLOAD_FORBIDDEN);
    EXPECT_EQ(buffer.length, 0u);
    EXPECT_EQ(d.DownloadToBuffer(server.url("/ok"), static_cast<ByteBuffer*>(nullptr)), CDownload::DOWNLOAD_OK);
}

TEST_F(DownloadHttp, PostToFileNeverWritesThroughAPlantedLink) {
    namespace fs = std::filesystem;
    const std::string target = home.path() + "/RC_123.zip";
    const std::string victim = home.path() + "/victim";
    ASSERT_TRUE(testsupport::WriteFile(victim, "precious", 0600));
    fs::create_symlink(victim, target);

    const mode_t before = umask(022);
    umask(before);
    CDownload d;
    EXPECT_EQ(d.PostToFile(server.url("/form"), "ac=123&mod=1", target), CDownload::DOWNLOAD_OK);
    const mode_t after = umask(before);
    EXPECT_EQ(after, before);

    EXPECT_EQ(testsupport::ReadFile(victim), "precious");
    struct stat st{};
    ASSERT_EQ(lstat(target.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(testsupport::ReadFile(target), "posted:ac=123&mod=1");

    // A second run replaces the file it left.
    EXPECT_EQ(d.PostToFile(server.url("/form"), "ac=9", target), CDownload::DOWNLOAD_OK);
    EXPECT_EQ(testsupport::ReadFile(target), "posted:ac=9");
}

TEST_F(DownloadHttp, PostToFileThatCannotBeCreated) {
    const std::string inDir = home.path() + "/taken";
    ASSERT_TRUE(std::filesystem::create_directory(inDir));
    ASSERT_TRUE(testsupport::WriteFile(inDir + "/keep", "x"));  // a folder unlink cannot remove
    const mode_t before = umask(022);
    umask(before);
    CDownload d;
    EXPECT_EQ(d.PostToFile(server.url("/form"), "a=1", inDir), CDownload::DOWNLOAD_FILE_OPEN_ERROR);
    EXPECT_EQ(d.PostToFile(server.url("/form"), "a=1", home.path() + "/no/such/dir/file"),
              CDownload::DOWNLOAD_FILE_OPEN_ERROR);
    EXPECT_EQ(umask(before), before);
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(lastBody, "");  // nothing was posted
    }
    EXPECT_NE(home.Log().find("[CDownload] ERROR: PostToFile: cannot open file " + inDir), std::string::npos);

    // A failed POST is reported as such, with no complete-looking file.
    const std::string file = home.path() + "/failed.zip";
    EXPECT_EQ(d.PostToFile(server.url("/missing"), "a=1", file), CDownload::DOWNLOAD_FAILED);
    struct stat st{};
    if (stat(file.c_str(), &st) == 0) {
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 0044, 0u);
    }
}

TEST_F(DownloadHttp, DownloadToFileStoresTheBody) {
    namespace fs = std::filesystem;
    const std::string file = home.path() + "/page.txt";
    const std::string victim = home.path() + "/victim";
    ASSERT_TRUE(testsupport::WriteFile(victim, "precious"));
    fs::create_symlink(victim, file);
    CDownload d;
    EXPECT_EQ(d.DownloadToFile(server.url("/ok"), file), CDownload::DOWNLOAD_OK);
    EXPECT_EQ(testsupport::ReadFile(file), "hello body");
    EXPECT_EQ(testsupport::ReadFile(victim), "precious");

    EXPECT_EQ(d.DownloadToFile(server.url("/ok"), home.path() + "/no/dir/x"), CDownload::DOWNLOAD_FILE_OPEN_ERROR);
    EXPECT_STREQ(d.GetErrorText(), strerror(ENOENT));
}

TEST_F(DownloadHttp, ProxyVariablesHaveNoEffectWhenNothingWasDiscovered) {
    // A "proxy" that would answer 403 to everything.
    RawServer fakeProxy([](int fd, const std::atomic<bool>& stopping) {
        if (dltest::ReadRequest(fd, stopping)) dltest::SendAll(fd, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
    });
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY"}) {
        home.env().Set(v, "http://127.0.0.1:" + std::to_string(fakeProxy.port()));
    }
    CDownload d;
    ProxySettings ps;
    d.GetProxySettings(&ps);
    EXPECT_EQ(ps.host, nullptr);
    EXPECT_EQ(ps.port, 0u);
    d.GetProxySettings(nullptr);

    std::vector<char> body;
    EXPECT_EQ(d.DownloadToBuffer(server.url("/ok"), body), CDownload::DOWNLOAD_OK);
    EXPECT_EQ(fakeProxy.connections(), 0);
}

TEST(DownloadHttps, SelfSignedCertificateForAnotherHostIsAccepted) {
    TestHome home;
    const std::string cert = home.path() + "/cert.pem";
    const std::string key = home.path() + "/key.pem";
    const auto gen = testsupport::Run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                                       "-out", cert, "-days", "2", "-subj", "/CN=support.example.test"},
                                      30000);
    ASSERT_EQ(gen.exitCode, 0) << gen.output;

    HttpServer server(std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str()));
    server->Get("/secure", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("over tls", "text/plain");
    });
    server.Start();

    CDownload d;
    std::vector<char> body;
    EXPECT_EQ(d.DownloadToBuffer(server.url("/secure", "https"), body), CDownload::DOWNLOAD_OK) << d.GetErrorText();
    EXPECT_EQ(Str(body), "over tls");
    EXPECT_EQ(d.GetProtocol(), CDownload::PROTOCOL_HTTPS);
}

TEST_F(DownloadHttp, ProxyPortWithoutHostMeansDirect) {
    RawServer fakeProxy([](int fd, const std::atomic<bool>& stopping) {
        if (dltest::ReadRequest(fd, stopping)) dltest::SendAll(fd, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
    });
    const std::string profile = home.path() + "/.mozilla/firefox/p.default";
    std::filesystem::create_directories(profile);
    ASSERT_TRUE(testsupport::WriteFile(profile + "/prefs.js",
                                       "user_pref(\"network.proxy.http_port\", " + std::to_string(fakeProxy.port()) +
                                           ");\nuser_pref(\"network.proxy.type\", 1);\n"));
    CDownload d;
    ProxySettings ps;
    d.GetProxySettings(&ps);
    EXPECT_EQ(ps.host, nullptr);

    std::vector<char> body;
    EXPECT_EQ(d.DownloadToBuffer(server.url("/ok"), body), CDownload::DOWNLOAD_OK) << d.GetErrorText();
    EXPECT_EQ(fakeProxy.connections(), 0);
}

// An entry another user planted in a sticky folder cannot be removed; it
// must then not be written through either.
TEST(DownloadFiles, PostToFileRefusesAnEntryItCannotRemove) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    TestHome home;
    const uid_t nobody = 65534;
    ASSERT_EQ(chmod(home.path().c_str(), 0755), 0);
    const std::string sticky = home.path() + "/tmp";
    ASSERT_EQ(mkdir(sticky.c_str(), 01777), 0);
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    const std::string victim = home.path() + "/victim";
    ASSERT_TRUE(testsupport::WriteFile(victim, "precious", 0666));
    ASSERT_EQ(chown(victim.c_str(), nobody, nobody), 0);
    const std::string target = sticky + "/RC_1.zip";
    ASSERT_EQ(symlink(victim.c_str(), target.c_str()), 0);

    const std::string url = "http://127.0.0.1:" + std::to_string(testsupport::FreeTcpPort()) + "/";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(100);
        CDownload d;
        _exit(static_cast<int>(d.PostToFile(url, "a=1", target)));
    }
    int status = 0;
    const bool ended = testsupport::WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 20000);
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_TRUE(ended);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), CDownload::DOWNLOAD_FILE_OPEN_ERROR);
    EXPECT_EQ(testsupport::ReadFile(victim), "precious");
}
