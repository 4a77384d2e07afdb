// The transfer client through real squid proxies (Basic, Digest, NTLM) and a
// hand-written NTLM proxy, discovered the way a desktop holds it: a Firefox
// profile under HOME naming the proxy.

#include <mutex>

#include "Download.h"
#include "SquidProxy.h"
#include "download_test_support.h"

using dltest::Str;
using testsupport::SquidAuth;
using testsupport::SquidProxy;

namespace {

// The origin behind the proxy: plain HTTP and self-signed HTTPS, recording
// any credentials that reach it.
class Origin {
public:
    explicit Origin(const std::string& certDir) : tls_(dltest::SelfSignedServer(certDir)) {
        for (dltest::HttpServer* s : {&plain_, &tls_}) {
            (*s)->Get("/page", [this](const httplib::Request& req, httplib::Response& res) {
                std::lock_guard<std::mutex> lock(mutex_);
                credentials_ +=
                    req.get_header_value("Authorization") + req.get_header_value("Proxy-Authorization");
                res.set_content("behind the proxy", "text/plain");
            });
            s->Start();
        }
    }
    std::string http() const { return plain_.url("/page"); }
    std::string https() const { return tls_.url("/page", "https"); }
    std::string credentials() {
        std::lock_guard<std::mutex> lock(mutex_);
        return credentials_;
    }

private:
    std::mutex mutex_;
    std::string credentials_;
    dltest::HttpServer plain_, tls_;
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
            std::cerr << "access.log:\n"
                      << proxy->AccessLog() << "cache.log:\n"
                      << proxy->CacheLog() << "\n"
                      << "launcher log:\n"
                      << home.Log() << "\n";
        }
    }

    ProxyHome home;
    Origin origin{home.path()};
    std::unique_ptr<SquidProxy> proxy;
};

}  // namespace

// Without credentials the realm is offered to the user; once they are given
// the same object gets through; wrong ones bring the question back.
TEST_P(ThroughSquid, CredentialsRoundTrip) {
    ProxySettings found;
    found.LoadProxySettings(origin.http());
    CDownload d(found);
    ProxySettings discovered;
    d.GetProxySettings(&discovered);
    ASSERT_NE(discovered.host, nullptr);
    EXPECT_STREQ(discovered.host, "127.0.0.1");
    EXPECT_EQ(discovered.port, static_cast<uint32_t>(proxy->port()));

    for (const char* credentials : {"", "alice:s3cret pass", "alice:wrong"}) {
        if (*credentials) d.SetProxyCredentials(credentials);
        const bool right = std::string(credentials) == "alice:s3cret pass";
        for (const std::string& url : {origin.http(), origin.https()}) {
            SCOPED_TRACE(url + " with '" + credentials + "'");
            std::vector<char> body;
            if (right) {
                EXPECT_EQ(d.DownloadToBuffer(url, body), CDownload::DOWNLOAD_OK) << d.GetErrorText();
                EXPECT_EQ(Str(body), "behind the proxy");
            } else {
                EXPECT_EQ(d.DownloadToBuffer(url, body), CDownload::DOWNLOAD_AUTH_REQUIRED)
                    << d.GetErrorText();
                EXPECT_EQ(d.GetProxyAuthText(), "Support Proxy");
            }
        }
    }
    EXPECT_EQ(origin.credentials(), "");
}

INSTANTIATE_TEST_SUITE_P(Auth, ThroughSquid, ::testing::Values(SquidAuth::Basic, SquidAuth::Digest),
                         [](const ::testing::TestParamInfo<SquidAuth>& info) {
                             return info.param == SquidAuth::Basic ? std::string("Basic")
                                                                   : std::string("Digest");
                         });

TEST(ThroughSquidNtlm, HandshakeNeedsCredentials) {
    ProxyHome home;
    Origin origin(home.path());
    auto proxy = SquidProxy::Start(SquidAuth::Ntlm);
    ASSERT_TRUE(proxy) << SquidProxy::LastError();
    ProxySettings settings;
    settings.SetHost("127.0.0.1");
    settings.port = static_cast<uint32_t>(proxy->port());
    CDownload d(settings);
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
    const std::string challenge = ProxyHome::Trimmed(ProxyHome::Fixture("ntlm/ms-nlmp-4.2.4.3-Domain.b64"));
    dltest::RawServer ntlmProxy([&](int fd, const std::string& req, const std::atomic<bool>&) {
        const bool negotiate =
            dltest::HeaderValue(req, "Proxy-Authorization").rfind("NTLM TlRMTVNTUAAB", 0) == 0;
        dltest::SendAll(fd, "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: NTLM" +
                                (negotiate ? " " + challenge : "") + "\r\nContent-Length: 0\r\n\r\n");
        return true;
    });
    ProxyHome home;
    ProxySettings settings;
    settings.SetHost("127.0.0.1");
    settings.port = static_cast<uint32_t>(ntlmProxy.port());
    CDownload d(settings);
    d.SetProxyCredentials("bob:wrong");
    std::vector<char> body;
    EXPECT_EQ(d.DownloadToBuffer("http://127.0.0.1:9/page", body), CDownload::DOWNLOAD_AUTH_REQUIRED);
    EXPECT_EQ(d.GetProxyAuthText(), "Domain");

    // The exchange: offer, then type 1 answered by the challenge, then type 3 refused.
    std::vector<std::string> seen;
    for (const std::string& req : ntlmProxy.requests())
        seen.push_back(dltest::HeaderValue(req, "Proxy-Authorization").substr(0, 17));
    EXPECT_EQ(seen, (std::vector<std::string>{"", "NTLM TlRMTVNTUAAB", "NTLM TlRMTVNTUAAD"}));
}
