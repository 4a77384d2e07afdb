#include "Download.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "CurlLibrary.h"
#include "Log.h"
#include "UniqueFd.h"

namespace {

const char kDownloadToBufferName[] =
    "CDownload::DownloadReturnCode CDownload::DownloadToBuffer(const std::string&, std::vector<char, "
    "std::allocator<char> >&)";
const char kAnalyzeResponseName[] = "CDownload::DownloadReturnCode CDownload::AnalyzeResponse()";
const char kDetectProtocolName[] =
    "CDownload::ProtocolType CDownload::DetectProtocolType(const std::string&)";

const char kUserAgentHeader[] =
    "User-Agent: Mozilla/5.0 (X11; U; Linux i686; en-US; rv:1.8.1.3) Gecko/20061201 Firefox/2.0.0.3 "
    "(Ubuntu-feisty)";
const char kPragmaHeader[] = "Pragma: no-cache";
const char kCacheControlHeader[] = "Cache-Control: no-cache";

// Used only once a handle exists, and so the library.
const CurlFunctions& Curl() { return *CurlLibrary(); }

std::once_flag g_curlInitOnce;

void InitCurlOnce() {
    std::call_once(g_curlInitOnce, [] {
        if (Curl().curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
            LogWrite("[CDownload] ERROR: Unable to initialize libcurl");
        }
    });
}

// Writes all of data to fd; returns the number of bytes written.
size_t WriteAll(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

// A certificate date as libcurl's certinfo gives it: "Dec  9 19:15:13 2026 GMT"
// with OpenSSL, "2026-12-09 19:15:13 GMT" with GnuTLS. Kept broken down: a
// 32-bit time_t (i386) cannot hold a date past January 2038.
bool ParseCertificateDate(const std::string& text, struct tm& when) {
    when = {};
    return strptime(text.c_str(), "%b %d %H:%M:%S %Y", &when) ||
           strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &when);
}

// Below, at or above zero as UTC date a is before, at or after b.
int CompareDates(const struct tm& a, const struct tm& b) {
    const int left[] = {a.tm_year, a.tm_mon, a.tm_mday, a.tm_hour, a.tm_min, a.tm_sec};
    const int right[] = {b.tm_year, b.tm_mon, b.tm_mday, b.tm_hour, b.tm_min, b.tm_sec};
    for (size_t i = 0; i < sizeof left / sizeof left[0]; ++i)
        if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
    return 0;
}

}  // namespace

CDownload::CDownload() : CDownload(kDefaultTimeoutSeconds) {}

CDownload::CDownload(uint32_t timeoutSeconds) : m_timeout(timeoutSeconds) {
    if (CurlLibrary()) {
        InitCurlOnce();
        m_curl.reset(Curl().curl_easy_init());
    } else {
        LogWrite("[CDownload] ERROR: libcurl is missing (%s)", CurlLibraryProblem().c_str());
    }
    if (CURL* h = m_curl.get()) {
        Curl().curl_easy_setopt(h, CURLOPT_ERRORBUFFER, m_errorText);
        Curl().curl_easy_setopt(h, CURLOPT_TIMEOUT, static_cast<long>(m_timeout));
        Curl().curl_easy_setopt(h, CURLOPT_HEADER, 0L);
        Curl().curl_easy_setopt(h, CURLOPT_VERBOSE, 0L);
        Curl().curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &CDownload::DebugTrace);
        Curl().curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    }
    SetErrorText("");
}

CDownload::CDownload(const ProxySettings& proxy) : CDownload(kDefaultTimeoutSeconds) { m_proxy = proxy; }

void CDownload::CurlDeleter::operator()(CURL* h) const { Curl().curl_easy_cleanup(h); }

void CDownload::SlistDeleter::operator()(curl_slist* l) const { Curl().curl_slist_free_all(l); }

CDownload::~CDownload() {
    // The handle points at the error buffer and the lists: it goes first.
    m_curl.reset();
}

void CDownload::SetErrorText(const char* text) {
    if (!text || !*text) {
        memset(m_errorText, 0, sizeof(m_errorText));
        return;
    }
    strncpy(m_errorText, text, sizeof(m_errorText));
    m_errorText[sizeof(m_errorText) - 1] = '\0';
}

void CDownload::AppendExtraHeader(const char* header) {
    curl_slist* grown = Curl().curl_slist_append(m_extraHeaders.get(), header);
    if (grown) {
        (void)m_extraHeaders.release();
        m_extraHeaders.reset(grown);
    }
}

CDownload::ProtocolType CDownload::DetectProtocolType(const std::string& url) {
    if (strncasecmp(url.c_str(), "http://", 7) == 0) return PROTOCOL_HTTP;
    if (strncasecmp(url.c_str(), "https://", 8) == 0) return PROTOCOL_HTTPS;
    if (url.find("://") == std::string::npos) return PROTOCOL_HTTP;
    LogWrite("[CDownload] WARNING: %s: unknown (or not specified) protocol in URL '%s'", kDetectProtocolName,
             url.c_str());
    return PROTOCOL_UNKNOWN;
}

void CDownload::ApplyProxySettings() {
    CURL* h = m_curl.get();
    Curl().curl_easy_setopt(h, CURLOPT_PROXYAUTH,
                            static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM));

    // An empty text means a direct connection and keeps libcurl away from
    // the proxy environment variables. A port without a host is no proxy.
    // A SOCKS proxy goes in with its scheme, which libcurl reads.
    std::string proxy;
    if (m_proxy.port != 0 && m_proxy.host && *m_proxy.host) {
        if (!m_proxy.scheme.empty()) proxy = m_proxy.scheme + "://";
        proxy += std::string(m_proxy.host) + ":" + std::to_string(m_proxy.port);
    }
    Curl().curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
    m_facts.viaProxy = !proxy.empty();

    // Proxy credentials only: the origin server never sees them. No text
    // means none at all; an empty one would have libcurl log in as an empty
    // user, which a lenient NTLM proxy lets through.
    const std::string credentials = m_proxy.GetCredentials();
    Curl().curl_easy_setopt(h, CURLOPT_PROXYUSERPWD, credentials.empty() ? nullptr : credentials.c_str());
}

CDownload::DownloadReturnCode CDownload::DownloadToBuffer(const std::string& url, std::vector<char>& body) {
    body.clear();
    // A message left by an earlier transfer must not be reported for this one,
    // also when this one is refused before it starts.
    SetErrorText("");
    m_tlsRefusal.clear();
    m_facts = TransferFacts{};
    const bool post = m_postPending;
    m_postPending = false;
    CURL* h = m_curl.get();
    if (!h) {
        m_facts.curlResult = CURLE_FAILED_INIT;
        m_extraHeaders.reset();
        LogWrite("[CDownload] ERROR: %s: could not perform download: libcurl not initialized.",
                 kDownloadToBufferName);
        return DOWNLOAD_FATAL;
    }
    if (url.empty()) {
        m_facts.curlResult = CURLE_URL_MALFORMAT;
        m_extraHeaders.reset();
        LogWrite("[CDownload] ERROR: %s: could not perform download: Wrong parameters",
                 kDownloadToBufferName);
        return DOWNLOAD_BAD_PARAMETERS;
    }

    Curl().curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    // The handle keeps an earlier POST's settings: a plain download must not resend them.
    if (!post) Curl().curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);

    m_protocol = DetectProtocolType(url);
    if (m_protocol == PROTOCOL_HTTPS && !ApplyTlsPolicy()) {
        m_facts.serverRefused = true;
        m_extraHeaders.reset();
        LogWrite("[CDownload] ERROR: %s: could not perform download: %s", kDownloadToBufferName,
                 m_tlsRefusal.c_str());
        return DOWNLOAD_TRANSFER_ERROR;
    }

    m_body.clear();
    Curl().curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CDownload::WriteBody);
    Curl().curl_easy_setopt(h, CURLOPT_WRITEDATA, &m_body);
    m_headerText.clear();
    Curl().curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CDownload::WriteHeader);
    Curl().curl_easy_setopt(h, CURLOPT_WRITEHEADER, &m_headerText);

    AppendExtraHeader(kUserAgentHeader);
    AppendExtraHeader(kPragmaHeader);
    Curl().curl_easy_setopt(h, CURLOPT_HTTPHEADER, m_extraHeaders.get());

    ApplyProxySettings();

    LogWrite("[CDownload] [DownloadToBuffer] URL=[%s]", url.c_str());
    const CURLcode rc = Curl().curl_easy_perform(h);
    Curl().curl_easy_setopt(h, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    m_extraHeaders.reset();

    // A connection lost after the server's status line still counts by that
    // status. Lost before it (after the proxy's CONNECT, whose 200 is the
    // proxy's), it is an error like any other.
    CURLcode outcome = rc;
    if (rc == CURLE_RECV_ERROR && ResponseStatus() != 0) outcome = CURLE_OK;
    NoteFacts(outcome);
    switch (outcome) {
    case CURLE_OK: break;
    case CURLE_OPERATION_TIMEDOUT:
        LogWrite("[CDownload] ERROR: %s: download timed out: %s", kDownloadToBufferName, m_errorText);
        return DOWNLOAD_TIMEOUT;
    case CURLE_COULDNT_CONNECT:
        LogWrite("[CDownload] ERROR: %s: could not connect: %s", kDownloadToBufferName, m_errorText);
        return DOWNLOAD_FAILED;
    default:
        LogWrite("[CDownload] ERROR: %s: other error. libcurl error code: %d. Error: %s",
                 kDownloadToBufferName, static_cast<int>(rc), m_errorText);
        m_tlsRefusal = WhyRefused(rc);
        m_facts.serverRefused = !m_tlsRefusal.empty();
        return DOWNLOAD_TRANSFER_ERROR;
    }

    const DownloadReturnCode result = AnalyzeResponse();
    if (result != DOWNLOAD_OK) return result;

    // A connection that broke after the status line still counts by its
    // status, but not when the body it announced did not arrive in full.
    if (rc == CURLE_RECV_ERROR && BodyShorterThanAnnounced()) {
        m_facts.curlResult = rc;
        LogWrite("[CDownload] ERROR: %s: other error. libcurl error code: %d. Error: %s",
                 kDownloadToBufferName, static_cast<int>(rc), m_errorText);
        return DOWNLOAD_TRANSFER_ERROR;
    }
    body = m_body;
    return DOWNLOAD_OK;
}

bool CDownload::BodyShorterThanAnnounced() const {
    curl_off_t announced = -1;
    if (Curl().curl_easy_getinfo(m_curl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK)
        return false;
    return announced >= 0 && static_cast<curl_off_t>(m_body.size()) < announced;
}

CDownload::DownloadReturnCode CDownload::DownloadToBuffer(const std::string& url, ByteBuffer* body) {
    if (body) {
        body->SetLength(0);
        if (body->data && body->capacity >= 2) {
            body->data[0] = 0;
            body->data[1] = 0;
        }
    }
    std::vector<char> received;
    const DownloadReturnCode result = DownloadToBuffer(url, received);
    if (result == DOWNLOAD_OK && body && !received.empty()) {
        if (!body->Append(received.data(), received.size())) {
            m_facts.curlResult = CURLE_OUT_OF_MEMORY;
            LogWrite("[CDownload] ERROR: DownloadToBuffer: out of memory (size = %zu)", received.size());
            return DOWNLOAD_FATAL;
        }
    }
    return result;
}

CDownload::DownloadReturnCode CDownload::PostToBuffer(const std::string& url, const std::string& postBody,
                                                      std::vector<char>& body) {
    if (CURL* h = m_curl.get()) {
        // libcurl keeps its own copy: the body must not dangle on the handle
        // once the caller's text is gone.
        Curl().curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody.size()));
        Curl().curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, postBody.c_str());
        m_postPending = true;
        m_extraHeaders.reset();
        AppendExtraHeader(kCacheControlHeader);
    }
    return DownloadToBuffer(url, body);
}

CDownload::DownloadReturnCode CDownload::PostToFile(const std::string& url, const std::string& postBody,
                                                    const std::string& fileName) {
    // The path is predictable and may lie in a world-writable folder: remove
    // whatever is there (a planted link included) and create the file anew,
    // never following a link. Readable by others only once it is complete.
    unlink(fileName.c_str());  // what cannot be removed makes the create below fail
    UniqueFd fd(open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        LogWrite("[CDownload] ERROR: PostToFile: cannot open file %s", fileName.c_str());
        return DOWNLOAD_FILE_OPEN_ERROR;
    }

    std::vector<char> content;
    DownloadReturnCode result = PostToBuffer(url, postBody, content);
    if (result == DOWNLOAD_OK) {
        const size_t written = WriteAll(fd.get(), content.data(), content.size());
        if (written < content.size()) {
            LogWrite("[CDownload] ERROR: PostToFile: write error (bytesWritten = %d, size = %d)",
                     static_cast<int>(written), static_cast<int>(content.size()));
            result = DOWNLOAD_FILE_WRITE_ERROR;
        } else if (fchmod(fd.get(), 0644) != 0) {
            LogWrite("[CDownload] ERROR: PostToFile: write error (bytesWritten = %d, size = %d)",
                     static_cast<int>(written), static_cast<int>(content.size()));
            result = DOWNLOAD_FILE_WRITE_ERROR;
        }
    }
    if (fd.Close() != 0 && result == DOWNLOAD_OK) {
        LogWrite("[CDownload] ERROR: PostToFile: write error (bytesWritten = %d, size = %d)",
                 static_cast<int>(content.size()), static_cast<int>(content.size()));
        result = DOWNLOAD_FILE_WRITE_ERROR;
    }
    if (result != DOWNLOAD_OK) unlink(fileName.c_str());  // no empty or half package is left
    return result;
}

CDownload::DownloadReturnCode CDownload::DownloadToFile(const std::string& url, const std::string& fileName) {
    // Same care as PostToFile: never write through a link planted at the path.
    unlink(fileName.c_str());
    UniqueFd fd(open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        SetErrorText(strerror(errno));
        LogWrite("[CDownload] ERROR: DownloadToFile: cannot open file %s: %s", fileName.c_str(), m_errorText);
        return DOWNLOAD_FILE_OPEN_ERROR;
    }
    std::vector<char> content;
    DownloadReturnCode result = DownloadToBuffer(url, content);
    if (result == DOWNLOAD_OK) {
        errno = 0;
        const size_t written = WriteAll(fd.get(), content.data(), content.size());
        if (written < content.size() || fd.Close() != 0) {
            result = DOWNLOAD_FILE_WRITE_ERROR;
            SetErrorText(strerror(errno != 0 ? errno : EIO));
            LogWrite("[CDownload] ERROR: DownloadToFile: could not write content to file %s: %s",
                     fileName.c_str(), m_errorText);
        }
    }
    if (result != DOWNLOAD_OK) unlink(fileName.c_str());
    return result;
}

void CDownload::NoteFacts(CURLcode outcome) {
    m_facts.curlResult = outcome;
    long osErrno = 0, responseCode = 0, connectCode = 0;
    Curl().curl_easy_getinfo(m_curl.get(), CURLINFO_OS_ERRNO, &osErrno);
    Curl().curl_easy_getinfo(m_curl.get(), CURLINFO_RESPONSE_CODE, &responseCode);
    Curl().curl_easy_getinfo(m_curl.get(), CURLINFO_HTTP_CONNECTCODE, &connectCode);
    m_facts.osErrno = osErrno;
    m_facts.httpStatus = responseCode;
    // A tunnel the proxy refused: its answer, and no server's.
    if (responseCode == 0 && connectCode / 100 != 2) m_facts.tunnelStatus = connectCode;
}

TransferFacts CDownload::GetTransferFacts() const {
    TransferFacts facts = m_facts;
    if (facts.curlResult == CURLE_COULDNT_RESOLVE_HOST || facts.curlResult == CURLE_COULDNT_RESOLVE_PROXY)
        facts.noRoute = !HasDefaultRoute();
    return facts;
}

void CDownload::SetTimeLimits(uint32_t connectMs, uint32_t totalMs) {
    if (CURL* h = m_curl.get()) {
        Curl().curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectMs));
        Curl().curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(totalMs));
    }
}

long CDownload::ResponseStatus() const {
    // The proxy's answer to CONNECT counts only when it asks for credentials.
    long responseCode = 0, connectCode = 0;
    Curl().curl_easy_getinfo(m_curl.get(), CURLINFO_RESPONSE_CODE, &responseCode);
    Curl().curl_easy_getinfo(m_curl.get(), CURLINFO_HTTP_CONNECTCODE, &connectCode);
    return responseCode != 0 ? responseCode : connectCode == 407 ? 407 : 0;
}

CDownload::DownloadReturnCode CDownload::AnalyzeResponse() {
    const long status = ResponseStatus();
    if (status == 0) {
        char text[CURL_ERROR_SIZE];
        snprintf(text, sizeof(text), "%s: Impossible to determine response status. Could not continue",
                 kAnalyzeResponseName);
        SetErrorText(text);
        LogWrite("[CDownload] ERROR: %s: [%s]", kAnalyzeResponseName, m_errorText);
        return DOWNLOAD_FATAL;
    }

    if (m_headerText.find(std::to_string(status)) == std::string::npos) {
        if (!*m_errorText) SetErrorText("FATAL. Could not find status code in response header");
        LogWrite("[CDownload] ERROR: %s: could not find status code [%ld] in response header",
                 kAnalyzeResponseName, status);
        return DOWNLOAD_FATAL;
    }

    switch (status) {
    case 200: return DOWNLOAD_OK;
    case 401:
    case 407: {
        m_proxyAuthText.clear();
        size_t pos = 0;
        while (pos < m_headerText.size()) {
            m_challenge.ParseChallenge(m_headerText.data() + pos, m_headerText.size() - pos);
            std::string text = m_challenge.GetChallengeMessage();
            if (!text.empty()) {
                m_proxyAuthText = std::move(text);
                break;
            }
            const size_t next = m_headerText.find("\r\n\r\n", pos);
            if (next == std::string::npos) break;
            pos = next + 4;
        }
        if (!*m_errorText) SetErrorText("Authentication required. Can not continue");
        return DOWNLOAD_AUTH_REQUIRED;
    }
    case 403:
        if (!*m_errorText) {
            SetErrorText(
                "Could not perform download: Forbidden. This may be caused by not having detected "
                "environment "
                "proxy settings correctly");
        }
        LogWrite("[CDownload] %s:%d. %s", kAnalyzeResponseName, 726, m_errorText);
        return DOWNLOAD_FORBIDDEN;
    default:
        if (!*m_errorText) SetErrorText("Could not perform download");
        LogWrite("[CDownload] [%s] %s. HTTP Status Code: %ld.", "AnalyzeResponse", m_errorText, status);
        return DOWNLOAD_FAILED;
    }
}

void CDownload::SetProxyCredentials(const std::string& credentials) { m_proxy.SetCredentials(credentials); }

void CDownload::GetProxySettings(ProxySettings* out) {
    if (!out) return;
    *out = m_proxy;
}

std::string CDownload::GetProxyAuthText() const { return m_proxyAuthText; }

bool CDownload::ApplyTlsPolicy() {
    // An option libcurl refuses would leave the transfer unprotected: none is
    // made then. A backend that cannot pin (rustls, BearSSL) refuses the pin
    // option even to clear it, so it is set only for pins.
    CURL* h = m_curl.get();
    const char* option = "CURLOPT_SSL_VERIFYPEER";
    CURLcode rc = Curl().curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, m_skipPeerVerification ? 0L : 1L);
    if (rc == CURLE_OK) {
        option = "CURLOPT_SSL_VERIFYHOST";
        rc = Curl().curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, m_skipHostVerification ? 0L : 2L);
    }
    if (rc == CURLE_OK && !m_pins.empty()) {
        option = "CURLOPT_PINNEDPUBLICKEY";
        rc = Curl().curl_easy_setopt(h, CURLOPT_PINNEDPUBLICKEY, m_pins.c_str());
        if (rc == CURLE_NOT_BUILT_IN || rc == CURLE_UNKNOWN_OPTION) {
            m_tlsRefusal = "this computer's libcurl cannot check pins";
            return false;
        }
    }
    if (rc == CURLE_OK) return true;
    m_tlsRefusal = std::string("this computer's libcurl refuses ") + option + " (error " +
                   std::to_string(static_cast<int>(rc)) + ")";
    return false;
}

void CDownload::SetTlsPolicy(const TlsPolicy& policy) {
    // Pins alone suffice: they are how a service's self-signed certificate is trusted.
    m_skipPeerVerification = m_skipHostVerification = policy.mode != TlsPolicy::TLS_VERIFY;
    m_pins = policy.mode == TlsPolicy::TLS_PINNED ? policy.pins : std::string();
}

std::string CDownload::WhyRefused(CURLcode rc) {
    switch (rc) {
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return "the server's public key matches none of the pins of this copy (or a proxy that inspects TLS "
               "answered in its place)";
    case CURLE_SSL_CACERT_BADFILE:
        return "this computer has no CA certificates where libcurl looks for them (install ca-certificates)";
    case CURLE_PEER_FAILED_VERIFICATION: break;
    default: return "";
    }
    // The flavours of libcurl word the cause differently (GnuTLS names none
    // for an expired certificate): the dates decide first, the library's
    // text names a wrong host, and what is left is an issuer we do not know.
    const std::string libraryText = m_errorText;
    std::string from, until;
    struct tm notBefore, notAfter, now;
    const time_t clock = time(nullptr);
    if (ReadServerCertificate(from, until) && gmtime_r(&clock, &now)) {
        if (ParseCertificateDate(until, notAfter) && CompareDates(now, notAfter) > 0)
            return "the server's certificate has expired (valid until " + until + ")";
        if (ParseCertificateDate(from, notBefore) && CompareDates(now, notBefore) < 0)
            return "the server's certificate is not yet valid (valid from " + from +
                   "): check the computer's clock";
    }
    // libcurl 8 says "target ipv4 address" where the URL names an address.
    if (libraryText.find("host name") != std::string::npos ||
        libraryText.find("subject name") != std::string::npos)
        return "the server's certificate is for another host name";
    return "the server's certificate is from an unknown issuer";
}

bool CDownload::ReadServerCertificate(std::string& notBefore, std::string& notAfter) {
    // One more handshake on a copy of the handle (same URL, same proxy) that
    // checks nothing and stops before any request: nothing is fetched or posted.
    std::unique_ptr<CURL, CurlDeleter> probe(Curl().curl_easy_duphandle(m_curl.get()));
    if (!probe) return false;
    CURL* h = probe.get();
    char errorText[CURL_ERROR_SIZE] = {};
    Curl().curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    Curl().curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L);
    Curl().curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    Curl().curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    Curl().curl_easy_setopt(h, CURLOPT_PINNEDPUBLICKEY, static_cast<const char*>(nullptr));
    Curl().curl_easy_setopt(h, CURLOPT_CERTINFO, 1L);
    if (Curl().curl_easy_perform(h) != CURLE_OK) {
        LogWrite("[CDownload] ERROR: the server's certificate cannot be read: %s", errorText);
        return false;
    }
    curl_certinfo* info = nullptr;
    if (Curl().curl_easy_getinfo(h, CURLINFO_CERTINFO, &info) != CURLE_OK || !info || info->num_of_certs < 1)
        return false;
    // The server's own certificate only: a chain may also carry an expired
    // cross-signed one that verification went round.
    for (const curl_slist* item = info->certinfo[0]; item; item = item->next) {
        if (strncasecmp(item->data, "Start date:", 11) == 0) notBefore = item->data + 11;
        if (strncasecmp(item->data, "Expire date:", 12) == 0) notAfter = item->data + 12;
    }
    return true;
}

size_t CDownload::WriteBody(char* data, size_t size, size_t count, void* userdata) {
    auto* body = static_cast<std::vector<char>*>(userdata);
    if (!data || !body) return 0;
    const size_t n = size * count;
    body->insert(body->end(), data, data + n);
    return n;
}

size_t CDownload::WriteHeader(char* data, size_t size, size_t count, void* userdata) {
    auto* text = static_cast<std::string*>(userdata);
    if (!data || !text) return static_cast<size_t>(-1);
    const size_t n = size * count;
    text->append(data, n);
    return n;
}

int CDownload::DebugTrace(CURL*, curl_infotype kind, char* data, size_t size, void*) {
    const char* prefix;
    switch (kind) {
    case CURLINFO_TEXT: prefix = "== Info: ["; break;
    case CURLINFO_HEADER_IN: prefix = "<= Recv header: ["; break;
    case CURLINFO_HEADER_OUT: prefix = "=> Send header: ["; break;
    case CURLINFO_DATA_IN: prefix = "\t<= Recv data: ["; break;
    case CURLINFO_DATA_OUT: prefix = "=> Send data: ["; break;
    default: prefix = " ?? UNKNOWN libcurl DATA: ["; break;
    }
    std::string trace(prefix);
    if (data) trace.append(data, size);
    trace.push_back(']');
    fwrite(trace.data(), 1, trace.size(), stderr);
    return 0;
}
