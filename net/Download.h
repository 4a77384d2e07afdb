#pragma once
// HTTP/HTTPS transfer client over one libcurl easy handle.
//
// One request at a time: a GET into memory or a file, or a POST of a form
// body whose answer goes to memory or a file. Every transfer goes through the
// proxy the object was built with (the run's one discovery result), with the
// user's proxy credentials once SetProxyCredentials gave them. Not copyable;
// one thread at a time.

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Crypto.h"
#include "ProxyAuthChallenge.h"
#include "ProxySettings.h"
#include "TlsPolicy.h"
#include "TransferFailure.h"

class CDownload {
public:
    enum DownloadReturnCode {
        DOWNLOAD_OK = 0,                // transfer done, HTTP status 200
        DOWNLOAD_TRANSFER_ERROR = 1,    // libcurl failed (not time-out, not connect)
        DOWNLOAD_TIMEOUT = 2,           // time limit exceeded
        DOWNLOAD_AUTH_REQUIRED = 3,     // HTTP 401 or 407
        DOWNLOAD_FAILED = 4,            // could not connect, or another HTTP status
        DOWNLOAD_FILE_OPEN_ERROR = 5,   // output file could not be created
        DOWNLOAD_FILE_WRITE_ERROR = 6,  // output file could not be written completely
        DOWNLOAD_FORBIDDEN = 7,         // HTTP 403
        DOWNLOAD_BAD_PARAMETERS = 8,    // empty URL
        DOWNLOAD_FATAL = 9              // no handle, or no usable HTTP status
    };

    enum ProtocolType { PROTOCOL_HTTP = 0, PROTOCOL_HTTPS = 1, PROTOCOL_UNKNOWN = 2, PROTOCOL_NONE = 3 };

    static constexpr uint32_t kDefaultTimeoutSeconds = 30;

    // Direct connections.
    CDownload();
    // Same, with another whole-transfer limit (tests that need a quick time-out).
    explicit CDownload(uint32_t timeoutSeconds);
    // Through proxy, as ProxySettings::LoadProxySettings found it.
    explicit CDownload(const ProxySettings& proxy);
    ~CDownload();
    CDownload(const CDownload&) = delete;
    CDownload& operator=(const CDownload&) = delete;

    // GET (or the POST prepared by PostToBuffer); body is emptied first and
    // receives the answer on DOWNLOAD_OK.
    DownloadReturnCode DownloadToBuffer(const std::string& url, std::vector<char>& body);
    // Same; the buffer (when given) is emptied first and the body appended on
    // DOWNLOAD_OK.
    DownloadReturnCode DownloadToBuffer(const std::string& url, ByteBuffer* body);
    DownloadReturnCode PostToBuffer(const std::string& url, const std::string& postBody,
                                    std::vector<char>& body);
    // POST whose answer is stored in fileName (created anew, mode 0644 when
    // complete; removed again when the transfer or the write failed).
    DownloadReturnCode PostToFile(const std::string& url, const std::string& postBody,
                                  const std::string& fileName);
    DownloadReturnCode DownloadToFile(const std::string& url, const std::string& fileName);

    // "login:password", used from the next transfer on.
    void SetProxyCredentials(const std::string& credentials);
    // Copies type, host, port and credentials; nothing when out is null.
    void GetProxySettings(ProxySettings* out);
    // Text of the last 401/407 challenge (realm or NTLM domain); empty when none.
    std::string GetProxyAuthText() const;
    // How HTTPS servers are trusted from the next transfer on; unverified until set.
    void SetTlsPolicy(const TlsPolicy& policy);
    // Why the last transfer refused its server, in words; empty when it did not.
    const std::string& GetTlsRefusal() const { return m_tlsRefusal; }
    // What the last transfer met, for ClassifyTransfer.
    TransferFacts GetTransferFacts() const;
    // Limits from the next transfer on, in milliseconds: for making the
    // connection (name lookup, proxy and TLS handshakes included) and for
    // the whole transfer.
    void SetTimeLimits(uint32_t connectMs, uint32_t totalMs);

    ProtocolType DetectProtocolType(const std::string& url);

    // Last error message (library or analysis text); empty when none.
    const char* GetErrorText() const { return m_errorText; }
    ProtocolType GetProtocol() const { return m_protocol; }
    // Every response header of the last transfer, as received.
    const std::string& GetHeaderText() const { return m_headerText; }

private:
    // libcurl is loaded at run time (CurlLibrary.h).
    struct CurlDeleter {
        void operator()(CURL* h) const;
    };
    struct SlistDeleter {
        void operator()(curl_slist* l) const;
    };

    DownloadReturnCode AnalyzeResponse();
    // The result of the transfer and what the handle knows of it, into m_facts.
    void NoteFacts(CURLcode outcome);
    // The server's HTTP status, or the proxy's 407 to CONNECT; 0 when neither came.
    long ResponseStatus() const;
    // The policy's options on the handle; false, with the refusal set, when libcurl refuses one.
    bool ApplyTlsPolicy();
    void ApplyProxySettings();
    void SetErrorText(const char* text);
    void AppendExtraHeader(const char* header);
    bool BodyShorterThanAnnounced() const;
    std::string WhyRefused(CURLcode rc);
    bool ReadServerCertificate(std::string& notBefore, std::string& notAfter);

    static size_t WriteBody(char* data, size_t size, size_t count, void* userdata);
    static size_t WriteHeader(char* data, size_t size, size_t count, void* userdata);
    static int DebugTrace(CURL* handle, curl_infotype kind, char* data, size_t size, void* userdata);

    std::unique_ptr<CURL, CurlDeleter> m_curl;
    std::vector<char> m_body;
    std::string m_headerText;
    bool m_skipPeerVerification = true;
    bool m_skipHostVerification = true;
    std::string m_pins;  // libcurl's pinned public keys; empty: none
    std::string m_tlsRefusal;
    TransferFacts m_facts;
    // Set by PostToBuffer for the one transfer that follows; every other
    // transfer on the handle is a GET again.
    bool m_postPending = false;
    uint32_t m_timeout = kDefaultTimeoutSeconds;
    ProtocolType m_protocol = PROTOCOL_NONE;
    std::string m_proxyAuthText;
    ProxyAuthChallenge m_challenge;
    ProxySettings m_proxy;
    std::unique_ptr<curl_slist, SlistDeleter> m_extraHeaders;
    char m_errorText[CURL_ERROR_SIZE] = {};
};
