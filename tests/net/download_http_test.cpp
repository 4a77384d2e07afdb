// The transfer client against real loopback servers, without a proxy:
// status mapping, challenges from the server, broken connections, request
// headers, files and self-signed HTTPS.

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>

#include "Download.h"
#include "download_test_support.h"

using dltest::RawServer;
using dltest::Str;
using R = CDownload::DownloadReturnCode;

namespace {

// Sends fixed bytes, then, after the client has had time to read them, resets.
RawServer::Answer BreakAfter(std::string response) {
    return [response](int fd, const std::string&, const std::atomic<bool>&) {
        dltest::SendAll(fd, response);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const linger reset{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
        return false;
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
        const std::pair<const char*, std::string> challenges[] = {
            {"/basic", "Basic realm=\"Support Portal\""},
            {"/digest",
             "Digest realm=\"digest@portal\", qop=\"auth\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\""},
            {"/ntlm", "NTLM " + ProxyHome::Trimmed(ProxyHome::Fixture("ntlm/curl-test209-CC.b64"))},
        };
        for (const auto& [path, challenge] : challenges) {
            server->Get(path,
                        [this, challenge = challenge](const httplib::Request& req, httplib::Response& res) {
                            Record(req);
                            res.status = 401;
                            res.set_header("WWW-Authenticate", challenge);
                        });
        }
        server->Post("/form", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            res.set_content("posted:" + req.body, "application/zip");
        });
        server->Post("/missing", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
        server.Start();
    }

    void Record(const httplib::Request& req) {
        std::lock_guard<std::mutex> lock(mutex);
        authorization += req.get_header_value("Authorization") + req.get_header_value("Proxy-Authorization");
        lastBody = req.body;
    }

    ProxyHome home;
    dltest::HttpServer server;
    std::mutex mutex;
    std::string authorization, lastBody;
};

TEST_F(DownloadHttp, StatusCodesMapToResults) {
    const std::pair<const char*, R> cases[] = {
        {"/ok", CDownload::DOWNLOAD_OK},
        {"/moved", CDownload::DOWNLOAD_FAILED},  // redirects are not followed
        {"/forbidden", CDownload::DOWNLOAD_FORBIDDEN},
        {"/nothing-here", CDownload::DOWNLOAD_FAILED},
    };
    CDownload d;
    for (const auto& [path, result] : cases) {
        SCOPED_TRACE(path);
        std::vector<char> body{'x'};
        EXPECT_EQ(d.DownloadToBuffer(server.url(path), body), result);
        EXPECT_EQ(Str(body), result == CDownload::DOWNLOAD_OK ? "hello body" : "");
    }
    EXPECT_STREQ(d.GetErrorText(), "Could not perform download");
    EXPECT_NE(home.Log().find("HTTP Status Code: 302."), std::string::npos);

    // The byte-buffer form replaces what was there and stays terminated.
    ByteBuffer buffer;
    ASSERT_TRUE(buffer.Append("stale", 5));
    ASSERT_EQ(d.DownloadToBuffer(server.url("/ok"), &buffer), CDownload::DOWNLOAD_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data), buffer.length + 1),
              std::string("hello body", 11));
    EXPECT_EQ(d.DownloadToBuffer(server.url("/forbidden"), &buffer), CDownload::DOWNLOAD_FORBIDDEN);
    EXPECT_EQ(buffer.length, 0u);
}

TEST_F(DownloadHttp, ServerChallengesGiveTheirTextAndNeverGetProxyCredentials) {
    CDownload d;
    d.SetProxyCredentials("alice:secret");
    std::vector<char> body;
    const std::pair<const char*, const char*> cases[] = {
        {"/basic", "Support Portal"}, {"/digest", "digest@portal"}, {"/ntlm", "CC"}};
    for (const auto& [path, text] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(d.DownloadToBuffer(server.url(path), body), CDownload::DOWNLOAD_AUTH_REQUIRED);
        EXPECT_EQ(d.GetProxyAuthText(), text);
        EXPECT_STREQ(d.GetErrorText(), "Authentication required. Can not continue");
    }
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(authorization, "");
}

TEST_F(DownloadHttp, BadUrlsUnknownSchemesAndClosedPorts) {
    CDownload d;
    std::vector<char> body{'x'};
    EXPECT_EQ(d.DownloadToBuffer("", body), CDownload::DOWNLOAD_BAD_PARAMETERS);
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(d.DetectProtocolType("hTtPs://host/"), CDownload::PROTOCOL_HTTPS);
    EXPECT_EQ(d.DetectProtocolType("127.0.0.1/page"), CDownload::PROTOCOL_HTTP);

    // Unknown schemes are still handed to libcurl; a closed port gives the connect mapping.
    const std::string port = std::to_string(testsupport::FreeTcpPort());
    for (const std::string scheme : {"ftp", "HTTP"}) {
        SCOPED_TRACE(scheme);
        EXPECT_EQ(d.DownloadToBuffer(scheme + "://127.0.0.1:" + port + "/", body),
                  CDownload::DOWNLOAD_FAILED);
        EXPECT_EQ(d.GetProtocol(), scheme == "ftp" ? CDownload::PROTOCOL_UNKNOWN : CDownload::PROTOCOL_HTTP);
        EXPECT_NE(home.Log().find("could not connect: " + std::string(d.GetErrorText())), std::string::npos);
    }
}

TEST_F(DownloadHttp, TimeOutAndErrorTextOfTheLastTransfer) {
    RawServer silent([](int, const std::string&, const std::atomic<bool>& stopping) {
        while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return false;
    });
    CDownload d(1);
    std::vector<char> body;
    EXPECT_EQ(d.DownloadToBuffer(silent.url(), body), CDownload::DOWNLOAD_TIMEOUT);
    EXPECT_NE(std::string(d.GetErrorText()).find("timed out"), std::string::npos);
    EXPECT_EQ(d.DownloadToBuffer(server.url("/forbidden"), body), CDownload::DOWNLOAD_FORBIDDEN);
    EXPECT_STREQ(
        d.GetErrorText(),
        "Could not perform download: Forbidden. This may be caused by not having detected environment proxy "
        "settings correctly");
}

// No length announced: what arrived is the body; fewer bytes than announced:
// cut short, not a success; nothing before the reset: no status to judge by.
TEST_F(DownloadHttp, ConnectionBrokenAfterTheStatusLine) {
    const struct {
        const char* response;
        R result;
        const char* body;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\npartial but whole", CDownload::DOWNLOAD_OK,
         "partial but whole"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nonly this", CDownload::DOWNLOAD_TRANSFER_ERROR, ""},
        {"", CDownload::DOWNLOAD_FATAL, ""},
    };
    CDownload d;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.response);
        RawServer broken(BreakAfter(c.response));
        std::vector<char> body;
        const R r = d.DownloadToBuffer(broken.url(), body);
        EXPECT_TRUE(r == c.result || (!*c.response && r == CDownload::DOWNLOAD_TRANSFER_ERROR)) << r;
        EXPECT_EQ(Str(body), c.body);
    }
}

TEST_F(DownloadHttp, RequestHeadersAsSent) {
    RawServer recorder(dltest::Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    std::vector<char> body;
    ASSERT_EQ(CDownload().DownloadToBuffer(recorder.url("/page?a=1"), body), CDownload::DOWNLOAD_OK);
    ASSERT_EQ(CDownload().PostToBuffer(recorder.url("/form"), "lUid=7&mod=1", body), CDownload::DOWNLOAD_OK);

    const auto requests = recorder.requests();
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
    ASSERT_NE(cache, std::string::npos);
    EXPECT_LT(cache, requests[1].find("\r\nPragma: no-cache\r\n"));
    EXPECT_EQ(requests[1].substr(requests[1].size() - 12), "lUid=7&mod=1");
}

TEST_F(DownloadHttp, FilesAreNeverWrittenThroughAPlantedLink) {
    const std::string target = home.path() + "/RC_123.zip", page = home.path() + "/page.txt";
    const std::string victim = home.path() + "/victim";
    ASSERT_TRUE(testsupport::WriteFile(victim, "precious", 0600));
    std::filesystem::create_symlink(victim, target);
    std::filesystem::create_symlink(victim, page);

    const mode_t before = umask(022);
    umask(before);
    CDownload d;
    EXPECT_EQ(d.PostToFile(server.url("/form"), "ac=123&mod=1", target), CDownload::DOWNLOAD_OK);
    EXPECT_EQ(umask(before), before);  // put back as it was
    // The same object downloads with a GET again after its POST.
    EXPECT_EQ(d.DownloadToFile(server.url("/ok"), page), CDownload::DOWNLOAD_OK);

    EXPECT_EQ(testsupport::ReadFile(victim), "precious");
    EXPECT_EQ(testsupport::ReadFile(page), "hello body");
    struct stat st {};
    ASSERT_EQ(lstat(target.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(testsupport::ReadFile(target), "posted:ac=123&mod=1");

    // A second run replaces the file it left.
    EXPECT_EQ(d.PostToFile(server.url("/form"), "ac=9", target), CDownload::DOWNLOAD_OK);
    EXPECT_EQ(testsupport::ReadFile(target), "posted:ac=9");
}

TEST_F(DownloadHttp, FilesThatCannotBeCreated) {
    const std::string inDir = home.path() + "/taken";
    home.Put("taken/keep", "x");  // a folder unlink cannot remove
    CDownload d;
    EXPECT_EQ(d.PostToFile(server.url("/form"), "a=1", inDir), CDownload::DOWNLOAD_FILE_OPEN_ERROR);
    EXPECT_EQ(d.PostToFile(server.url("/form"), "a=1", inDir + "/no/dir"),
              CDownload::DOWNLOAD_FILE_OPEN_ERROR);
    EXPECT_EQ(d.DownloadToFile(server.url("/ok"), inDir + "/no/dir"), CDownload::DOWNLOAD_FILE_OPEN_ERROR);
    EXPECT_STREQ(d.GetErrorText(), strerror(ENOENT));
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(lastBody, "");  // nothing was posted
    }

    // A failed POST is reported as such, with no complete-looking file.
    const std::string file = home.path() + "/failed.zip";
    EXPECT_EQ(d.PostToFile(server.url("/missing"), "a=1", file), CDownload::DOWNLOAD_FAILED);
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) {
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 0044, 0u);
    }
}

// Proxy variables alone, or a profile port without a host, mean a direct connection.
TEST_F(DownloadHttp, NoDiscoveredHostMeansDirect) {
    RawServer fakeProxy(dltest::Reply("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"));
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY"})
        home.Set(v, fakeProxy.url());
    for (bool portOnly : {false, true}) {
        SCOPED_TRACE(portOnly ? "port without host" : "variables only");
        if (portOnly) {
            home.Put(".mozilla/firefox/p.default/prefs.js",
                     "user_pref(\"network.proxy.http_port\", " + std::to_string(fakeProxy.port()) +
                         ");\nuser_pref(\"network.proxy.type\", 1);\n");
        }
        CDownload d;
        ProxySettings ps;
        d.GetProxySettings(&ps);
        EXPECT_EQ(ps.host, nullptr);
        std::vector<char> body;
        EXPECT_EQ(d.DownloadToBuffer(server.url("/ok"), body), CDownload::DOWNLOAD_OK) << d.GetErrorText();
    }
    EXPECT_TRUE(fakeProxy.requests().empty());
}

TEST(DownloadHttps, SelfSignedCertificateForAnotherHostIsAccepted) {
    ProxyHome home;
    dltest::HttpServer server(dltest::SelfSignedServer(home.path()));
    server->Get("/secure", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("over tls", "text/plain");
    });
    server.Start();
    CDownload d;
    std::vector<char> body;
    EXPECT_EQ(d.DownloadToBuffer(server.url("/secure", "https"), body), CDownload::DOWNLOAD_OK)
        << d.GetErrorText();
    EXPECT_EQ(Str(body), "over tls");
    EXPECT_EQ(d.GetProtocol(), CDownload::PROTOCOL_HTTPS);
}

// An entry another user planted in a sticky folder cannot be removed; it
// must then not be written through either.
TEST(DownloadFiles, PostToFileRefusesAnEntryItCannotRemove) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    ProxyHome home;
    const uid_t nobody = 65534;
    const std::string sticky = home.path() + "/tmp", victim = home.path() + "/victim",
                      target = sticky + "/RC_1.zip";
    ASSERT_EQ(chmod(home.path().c_str(), 0755), 0);
    ASSERT_EQ(mkdir(sticky.c_str(), 0), 0);
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    ASSERT_TRUE(testsupport::WriteFile(victim, "precious", 0666));
    ASSERT_EQ(chown(victim.c_str(), nobody, nobody), 0);
    ASSERT_EQ(symlink(victim.c_str(), target.c_str()), 0);

    const std::string url = "http://127.0.0.1:" + std::to_string(testsupport::FreeTcpPort()) + "/";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(100);
        _exit(static_cast<int>(CDownload().PostToFile(url, "a=1", target)));
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
