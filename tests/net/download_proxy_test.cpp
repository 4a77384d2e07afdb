// The transfer client through real squid proxies (Basic, Digest, NTLM) and a
// hand-written NTLM proxy, discovered the way a desktop holds it: a Firefox
// profile under HOME naming the proxy.

#include <httplib.h>

#include <gtest/gtest.h>

#include <thread>

#include "Download.h"
#include "SquidProxy.h"
#include "download_test_support.h"

using dltest::RawServer;
using dltest::TestHome;
using testsupport::SquidAuth;
using testsupport::SquidProxy;

namespace {

std::string Str(const std::vector<char>& v) { return std::string(v.begin(), v.end()); }

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

// The origin behind the proxy: plain HTTP and self-signed HTTPS, recording
// any credentials that reach it.
class Origin {
public:
    explicit Origin(const std::string& certDir) {
        const auto gen = testsupport::Run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                           certDir + "/key.pem", "-out", certDir + "/cert.pem", "-days", "2",
                                           "-subj", "/CN=support.example.test"},
                                          30000);
        EXPECT_EQ(gen.exitCode, 0) << gen.output;
        tls_ = std::make_unique<httplib::SSLServer>((certDir + "/cert.pem").c_str(), (certDir + "/key.pem").c_str());
        for (httplib::Server* s : {&plain_, static_cast<httplib::Server*>(tls_.get())}) {
            s->Get("/page", [this](const httplib::Request& req, httplib::Response& res) {
                std::lock_guard<std::mutex> lock(mutex_);
                credentials_ += req.get_header_value("Authorization") + req.get_header_value("Proxy-Authorization");
                res.set_content("behind the proxy", "text/plain");
            });
        }
        plainPort_ = plain_.bind_to_any_port("127.0.0.1");
        tlsPort_ = tls_->bind_to_any_port("127.0.0.1");
        plainThread_ = std::thread([this] { plain_.listen_after_bind(); });
        tlsThread_ = std::thread([this] { tls_->listen_after_bind(); });
        EXPECT_TRUE(testsupport::WaitFor([this] { return plain_.is_running() && tls_->is_running(); }, 5000));
    }
    ~Origin() {
        plain_.stop();
        tls_->stop();
        plainThread_.join();
        tlsThread_.join();
    }
    std::string http() const { return "http://127.0.0.1:" + std::to_string(plainPort_) + "/page"; }
    std::string https() const { return "https://127.0.0.1:" + std::to_string(tlsPort_) + "/page"; }
    std::string credentials() {
        std::lock_guard<std::mutex> lock(mutex_);
        return credentials_;
    }

private:
    httplib::Server plain_;
    std::unique_ptr<httplib::SSLServer> tls_;
    int plainPort_ = 0;
    int tlsPort_ = 0;
    std::thread plainThread_;
    std::thread tlsThread_;
    std::mutex mutex_;
    std::string credentials_;
};

class ThroughSquid : public ::testing::TestWithParam<SquidAuth> {
protected:
    void SetUp() override {
        proxy = SquidProxy::Start(GetParam(), "alice", "s3cret pass", "Support Proxy");
        ASSERT_TRUE(proxy) << SquidProxy::LastError();
        ASSERT_TRUE(testsupport::WriteFirefoxProxyPrefs(home.path(), "127.0.0.1", proxy->port()));
    }
    void TearDown() override {
        if (HasFailure() && proxy) {
            std::cerr << "access.log:\n" << proxy->AccessLog() << "cache.log:\n" << proxy->CacheLog() << "\n"
                      << "launcher log:\n" << home.Log() << "\n";
        }
    }

    TestHome home;
    Origin origin{home.path()};
    std::unique_ptr<SquidProxy> proxy;
};

}  // namespace

// Without credentials the realm is offered to the user; once they are given
// the same object gets through; wrong ones bring the question back.
TEST_P(ThroughSquid, CredentialsRoundTrip) {
    CDownload d;
    ProxySettings discovered;
    d.GetProxySettings(&discovered);
    ASSERT_NE(discovered.host, nullptr);
    EXPECT_STREQ(discovered.host, "127.0.0.1");
    EXPECT_EQ(discovered.port, static_cast<uint32_t>(proxy->port()));

    std::vector<char> body;
    for (const std::string& url : {origin.http(), origin.https()}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(d.DownloadToBuffer(url, body), CDownload::DOWNLOAD_AUTH_REQUIRED) << d.GetErrorText();
        EXPECT_EQ(d.GetProxyAuthText(), "Support Proxy");
    }

    d.SetProxyCredentials("alice:s3cret pass");
    for (const std::string& url : {origin.http(), origin.https()}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(d.DownloadToBuffer(url, body), CDownload::DOWNLOAD_OK) << d.GetErrorText();
        EXPECT_EQ(Str(body), "behind the proxy");
    }
    d.GetProxySettings(&discovered);
    EXPECT_EQ(discovered.GetCredentials(), "alice:s3cret pass");

    d.SetProxyCredentials("alice:wrong");
    for (const std::string& url : {origin.http(), origin.https()}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(d.DownloadToBuffer(url, body), CDownload::DOWNLOAD_AUTH_REQUIRED) << d.GetErrorText();
        EXPECT_EQ(d.GetProxyAuthText(), "Support Proxy");
    }
    EXPECT_EQ(origin.credentials(), "");
}

INSTANTIATE_TEST_SUITE_P(Auth, ThroughSquid, ::testing::Values(SquidAuth::Basic, SquidAuth::Digest),
                         [](const ::testing::TestParamInfo<SquidAuth>& info) {
                             return info.param == SquidAuth::Basic ? std::string("Basic") : std::string("Digest");
                         });

TEST(ThroughSquidNtlm, HandshakeNeedsCredentials) {
    TestHome home;
    Origin origin(home.path());
    auto proxy = SquidProxy::Start(SquidAuth::Ntlm);
    ASSERT_TRUE(proxy) << SquidProxy::LastError();
    ASSERT_TRUE(testsupport::WriteFirefoxProxyPrefs(home.path(), "127.0.0.1", proxy->port()));

    CDownload d;
    std::vector<char> body;
    EXPECT_EQ(d.DownloadToBuffer(origin.http(), body), CDownload::DOWNLOAD_AUTH_REQUIRED);
    EXPECT_EQ(d.GetProxyAuthText(), "");  // NTLM offered, no challenge message yet

    d.SetProxyCredentials("WORKGROUP\\bob:anything");
    EXPECT_EQ(d.DownloadToBuffer(origin.http(), body), CDownload::DOWNLOAD_OK) << d.GetErrorText();
    EXPECT_EQ(Str(body), "behind the proxy");
    EXPECT_EQ(d.DownloadToBuffer(origin.https(), body), CDownload::DOWNLOAD_OK) << d.GetErrorText();
    EXPECT_EQ(origin.credentials(), "");
}

// A proxy that offers NTLM, answers the negotiate message with the published
// sample challenge (NetBIOS domain "Domain") and refuses the answer.
TEST(ThroughNtlmProxy, DomainOfTheChallengeBecomesTheText) {
    const std::string challenge =
        Trimmed(testsupport::ReadFile(std::string(SA_FIXTURES_DIR) + "/ntlm/ms-nlmp-4.2.4.3-Domain.b64"));
    std::mutex m;
    std::vector<std::string> seen;
    RawServer ntlmProxy([&](int fd, const std::atomic<bool>& stopping) {
        while (auto req = dltest::ReadRequest(fd, stopping)) {
            const std::string auth = dltest::HeaderValue(*req, "Proxy-Authorization");
            {
                std::lock_guard<std::mutex> lock(m);
                seen.push_back(auth.substr(0, 17));
            }
            std::string offer = "Proxy-Authenticate: NTLM\r\n";
            if (auth.rfind("NTLM TlRMTVNTUAAB", 0) == 0) offer = "Proxy-Authenticate: NTLM " + challenge + "\r\n";
            dltest::SendAll(fd, "HTTP/1.1 407 Proxy Authentication Required\r\n" + offer +
                                    "Content-Length: 0\r\n\r\n");
        }
    });
    TestHome home;
    ASSERT_TRUE(testsupport::WriteFirefoxProxyPrefs(home.path(), "127.0.0.1", ntlmProxy.port()));
    CDownload d;
    d.SetProxyCredentials("bob:wrong");
    std::vector<char> body;
    EXPECT_EQ(d.DownloadToBuffer("http://127.0.0.1:9/page", body), CDownload::DOWNLOAD_AUTH_REQUIRED);
    EXPECT_EQ(d.GetProxyAuthText(), "Domain");

    // Three answers of the exchange: offer, challenge, refusal.
    const std::string& headers = d.GetHeaderText();
    size_t blocks = 0;
    for (size_t at = headers.find("HTTP/1.1 407"); at != std::string::npos; at = headers.find("HTTP/1.1 407", at + 1))
        ++blocks;
    EXPECT_EQ(blocks, 3u) << headers;
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], "");
    EXPECT_EQ(seen[1].rfind("NTLM TlRMTVNTUAAB", 0), 0u);  // type 1
    EXPECT_EQ(seen[2].rfind("NTLM TlRMTVNTUAAD", 0), 0u);  // type 3
}
