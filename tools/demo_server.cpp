#include "demo_server.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <functional>
#include <httplib.h>

#include "Crypto.h"
#include "OpenSslHandles.h"

namespace demo {
namespace {

constexpr const char* kSessionPage = "interfaces/web/isd/session.asp";
constexpr const char* kComponentsPage = "components/linux/default.asp";
const char* const kFormKeys[] = {"lUid", "ac",    "mod", "isd",         "mac",      "system",
                                 "type", "check", "own", "proxyserver", "proxyauth"};

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void Put16(std::string& out, unsigned value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

std::string QueryOf(const std::string& target) {
    const auto at = target.find('?');
    return at == std::string::npos ? std::string() : target.substr(at + 1);
}

using ssl::Bio;
using ssl::Key;
using Cert = ssl::X509Cert;

Cert ReadCert(const std::string& pem) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return Cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

Key ReadKey(const std::string& pem) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return Key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

std::string Pem(const std::function<int(BIO*)>& write) {
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1) return "";
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

bool AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    const bool added = extension && X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

}  // namespace

Certificate MakeCertificate(const std::string& host, int fromDays, int toDays, const Certificate* issuer,
                            bool ca) {
    static std::atomic<long> serial{static_cast<long>(time(nullptr))};  // one issuer never repeats one
    const Key key(EVP_EC_gen("P-256"));
    const Cert cert(X509_new());
    const Cert issuerCert = issuer ? ReadCert(issuer->certPem) : nullptr;
    const Key issuerKey = issuer ? ReadKey(issuer->keyPem) : nullptr;
    if (!key || !cert || (issuer && (!issuerCert || !issuerKey))) return {};
    X509* c = cert.get();
    X509* signer = issuer ? issuerCert.get() : c;
    in_addr address{};
    const bool ip = inet_pton(AF_INET, host.c_str(), &address) == 1;
    const auto* name = reinterpret_cast<const unsigned char*>(host.c_str());
    const bool made =
        X509_set_version(c, 2) == 1 && ASN1_INTEGER_set(X509_get_serialNumber(c), ++serial) == 1 &&
        X509_gmtime_adj(X509_getm_notBefore(c), fromDays * 86400L) &&
        X509_gmtime_adj(X509_getm_notAfter(c), toDays * 86400L) &&
        X509_NAME_add_entry_by_txt(X509_get_subject_name(c), "CN", MBSTRING_ASC, name, -1, -1, 0) == 1 &&
        X509_set_issuer_name(c, X509_get_subject_name(signer)) == 1 && X509_set_pubkey(c, key.get()) == 1 &&
        AddExtension(c, signer, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE") &&
        AddExtension(c, signer, NID_subject_alt_name, (ip ? "IP:" : "DNS:") + host) &&
        X509_sign(c, issuer ? issuerKey.get() : key.get(), EVP_sha256()) > 0;
    if (!made) return {};
    return {Pem([c](BIO* bio) { return PEM_write_bio_X509(bio, c); }), Pem([&key](BIO* bio) {
                return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
            })};
}

std::vector<std::pair<std::string, std::string>> SplitForm(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> items;
    std::size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        const auto end = text.find('&', start);
        const std::string item =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const auto eq = item.find('=');
        if (eq == std::string::npos) {
            items.emplace_back(item, "");
        } else {
            items.emplace_back(item.substr(0, eq), item.substr(eq + 1));
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return items;
}

void CheckClientForm(Request& request, const std::string& expectedTicket) {
    auto& problems = request.problems;
    const auto ticket = request.query.find("t");
    if (ticket == request.query.end()) {
        problems.push_back("no t= in the URL");
    } else if (ticket->second != expectedTicket) {
        problems.push_back("ticket " + ticket->second + " instead of " + expectedTicket);
    }

    const auto& form = request.form;
    const std::size_t expected = form.size() > 9 ? 11 : 9;
    if (form.size() != 9 && form.size() != 11) {
        problems.push_back("form has " + std::to_string(form.size()) + " items");
    }
    for (std::size_t i = 0; i < form.size() && i < expected; ++i) {
        if (form[i].first != kFormKeys[i]) {
            problems.push_back("item " + std::to_string(i + 1) + " is " + form[i].first + ", not " +
                               kFormKeys[i]);
        }
    }
    std::map<std::string, std::string> values(form.begin(), form.end());
    for (const char* key : {"type", "check", "mac", "system", "proxyserver", "proxyauth"}) {
        const auto it = values.find(key);
        if (it != values.end() && !it->second.empty()) request.decrypted[key] = DecryptFromServer(it->second);
    }
    if (request.decrypted["type"] != "PLUGIN") problems.push_back("type is not PLUGIN");
    const std::string joined = "PLUGINquarkmellowfern";
    if (request.decrypted["check"] != Md5Hex(joined.data(), joined.size()))
        problems.push_back("check does not match");
    if (values["mod"] != "client" && values["mod"] != "operator")
        problems.push_back("mod is " + values["mod"]);
    if (values["ac"].empty()) problems.push_back("ac is empty");
    if (values["system"].empty() || request.decrypted["system"].empty())
        problems.push_back("system is missing");
    const std::string& mac = request.decrypted["mac"];
    if (!values["mac"].empty() && (mac.size() != 18 || mac.back() != ':'))
        problems.push_back("mac is " + mac);
}

std::string MakeZip(const std::string& name, const std::string& content, unsigned mode) {
    const std::uint32_t crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(content.data()),
                                    static_cast<uInt>(content.size()));
    const auto size = static_cast<std::uint32_t>(content.size());
    std::string zip;
    // local file header, stored (no compression)
    Put32(zip, 0x04034b50);
    Put16(zip, 10);    // version needed
    Put16(zip, 0);     // flags
    Put16(zip, 0);     // stored
    Put16(zip, 0);     // time
    Put16(zip, 0x21);  // date: 1980-01-01
    Put32(zip, crc);
    Put32(zip, size);
    Put32(zip, size);
    Put16(zip, static_cast<unsigned>(name.size()));
    Put16(zip, 0);
    zip += name;
    zip += content;
    const auto central = static_cast<std::uint32_t>(zip.size());
    Put32(zip, 0x02014b50);
    Put16(zip, (3u << 8) | 20);  // made by Unix, so unzip applies the mode
    Put16(zip, 10);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, 0x21);
    Put32(zip, crc);
    Put32(zip, size);
    Put32(zip, size);
    Put16(zip, static_cast<unsigned>(name.size()));
    Put16(zip, 0);  // extra
    Put16(zip, 0);  // comment
    Put16(zip, 0);  // disk
    Put16(zip, 0);  // internal attributes
    Put32(zip, (static_cast<std::uint32_t>(0100000 | (mode & 07777))) << 16);
    Put32(zip, 0);  // local header offset
    zip += name;
    const auto centralSize = static_cast<std::uint32_t>(zip.size()) - central;
    Put32(zip, 0x06054b50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, 1);
    Put16(zip, 1);
    Put32(zip, centralSize);
    Put32(zip, central);
    Put16(zip, 0);
    return zip;
}

std::string ClientScript(const std::string& marker) {
    std::string script = "#!/bin/sh\n# remote-control client stand-in\n";
    if (!marker.empty()) {
        std::string quoted = "'";
        for (const char c : marker) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        quoted += "'";
        // What it inherited from the launcher: a client should find only 0, 1 and 2 (3 is ls's own).
        // One write, so a test that sees the first line never races a second one.
        script += "d=$(ls /proc/self/fd 2>/dev/null)\n";
        script += "printf 'client ran: %s pid %s\\ndescriptors: %s\\n' \"$0\" \"$$\" \"$(echo $d)\" >> " +
                  quoted + "\n";
    } else {
        script += "echo \"client ran: $0\"\n";
    }
    return script;
}

std::string AssignmentText(const Options& options) {
    return "isd=" + options.isd + "&mode=" + options.mode + "&lUid=" + options.lUid;
}

Server::Server(Options options) : m_options(std::move(options)) {
    if (m_options.certPem.empty()) {
        m_server = std::make_unique<httplib::Server>();
        return;
    }
    // The server takes references of its own.
    const Cert cert = ReadCert(m_options.certPem);
    const Key key = ReadKey(m_options.keyPem);
    if (cert && key) m_server = std::make_unique<httplib::SSLServer>(cert.get(), key.get());
}

Server::~Server() { Stop(); }

std::string Server::BaseUrl() const {
    return (m_options.certPem.empty() ? "http://" : "https://") + m_options.host + ":" +
           std::to_string(m_port) + "/velmoran/";
}

void Server::Record(Request request) {
    if (m_options.print) {
        std::printf("%s %s\n", request.method.c_str(), request.target.c_str());
        if (!request.body.empty()) std::printf("  body: %s\n", request.body.c_str());
        if (!request.reply.empty()) std::printf("  reply: %s\n", request.reply.c_str());
        for (const auto& [key, value] : request.decrypted)
            std::printf("  %s = %s\n", key.c_str(), value.c_str());
        for (const auto& problem : request.problems) std::printf("  PROBLEM: %s\n", problem.c_str());
        std::fflush(stdout);
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_requests.push_back(std::move(request));
}

bool Server::Start() {
    if (!m_server || !m_server->is_valid()) return false;
    m_server->Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        Request request;
        request.method = "GET";
        request.target = req.target;
        for (const auto& [key, value] : SplitForm(QueryOf(req.target))) request.query[key] = value;
        if (!EndsWith(PathOf(req.target), kSessionPage)) {
            request.page = "other";
            res.status = 404;
            Record(std::move(request));
            return;
        }
        request.page = "session";
        int poll = 0;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            poll = ++m_polls;
        }
        if (m_options.sessionStatus != 200) {
            res.status = m_options.sessionStatus;
            Record(std::move(request));
            return;
        }
        if (m_options.demandCredentials) {
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"" + m_options.realm + "\"");
            res.set_content("credentials needed\n", "text/plain");
            Record(std::move(request));
            return;
        }
        const std::string& ticket =
            poll > 1 && !m_options.laterTicket.empty() ? m_options.laterTicket : m_options.ticket;
        std::string reply = "ticket=" + ticket + "\r\n";
        if (poll > m_options.pollsBeforeResult) {
            if (m_options.outcome == Outcome::Assignment) {
                const std::string script =
                    m_options.script.empty() ? EncryptForServer(AssignmentText(m_options)) : m_options.script;
                reply += "script=" + script + "\r\n";
            } else if (m_options.outcome == Outcome::Error) {
                reply += "error=" + m_options.errorText + "\r\n";
            }
        }
        res.set_content(reply, "text/plain");
        for (std::size_t at = reply.find("\r\n"); at != std::string::npos; at = reply.find("\r\n"))
            reply.replace(at, 2, at + 2 == reply.size() ? "" : " | ");
        request.reply = reply;
        Record(std::move(request));
    });
    m_server->Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
        Request request;
        request.method = "POST";
        request.target = req.target;
        request.body = req.body;
        for (const auto& [key, value] : SplitForm(QueryOf(req.target))) request.query[key] = value;
        if (!EndsWith(PathOf(req.target), kComponentsPage)) {
            request.page = "other";
            res.status = 404;
            Record(std::move(request));
            return;
        }
        request.page = "components";
        request.form = SplitForm(req.body);
        CheckClientForm(request, m_options.ticket);
        if (!request.problems.empty()) {
            res.status = 400;
            res.set_content("bad client request\n", "text/plain");
        } else if (m_options.componentsStatus != 200) {
            res.status = m_options.componentsStatus;
            res.set_content("no client for you\n", "text/plain");
        } else if (m_options.brokenPackage) {
            res.set_content("this is not an archive\n", "application/zip");
        } else {
            std::string ac;
            for (const auto& [key, value] : request.form)
                if (key == "ac") ac = value;
            res.set_content(MakeZip(m_options.remoteControlName + "_" + ac, ClientScript(m_options.marker),
                                    m_options.clientMode),
                            "application/zip");
        }
        Record(std::move(request));
    });

    m_port = m_options.port == 0
                 ? m_server->bind_to_any_port(m_options.host)
                 : (m_server->bind_to_port(m_options.host, m_options.port) ? m_options.port : -1);
    if (m_port <= 0) return false;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    return true;
}

void Server::Stop() {
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

std::vector<Request> Server::Requests() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
}

int Server::SessionPolls() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_polls;
}

std::vector<Request> Server::ComponentRequests() const {
    std::vector<Request> found;
    for (auto& request : Requests())
        if (request.page == "components") found.push_back(request);
    return found;
}

}  // namespace demo
