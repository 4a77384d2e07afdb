// Writes a personalised copy of a built launcher: the ParameterBlock of the
// copy carries the given items and the two flags.
//
//   personalise <built launcher> <copy> [--url U] [--lang L] [--owner O]
//       [--code C] [--ac A] [--title T] [--cownerid X]
//       [--session-enabled 0|1] [--auto-remove 0|1]
//       [--tls verify|insecure|sha256//BASE64] [--pin-from FILE.pem]
//
// The block is found by the sample text a fresh build carries (exactly one
// occurrence, followed by zero bytes up to the flags). Nothing is written when
// anything is wrong.
//
// A copy for an https server verifies it unless told otherwise: --tls verify
// is the default there, --tls insecure writes no tls item, and pins (--tls
// sha256//..., --pin-from, each as often as needed) are joined into one item.
//
// Any --lang is written (the server gets it); a warning says when the
// launcher's windows have no words in that language.

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ApplicationSettings.h"
#include "Catalog.h"
#include "OpenSslHandles.h"
#include "ParameterBlock.h"
#include "ParameterBlockSample.h"
#include "UniqueFd.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "personalise: %s\n", message.c_str());
    return 1;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: personalise <built launcher> <copy> [--url U] [--lang L] [--owner O]\n"
                 "       [--code C] [--ac A] [--title T] [--cownerid X]\n"
                 "       [--session-enabled 0|1] [--auto-remove 0|1]\n"
                 "       [--tls verify|insecure|sha256//BASE64] [--pin-from FILE.pem]\n");
}

// The windows then speak the desktop's language where they can, else English.
void WarnWithoutTable(const std::string& lang) {
    const std::string language = NormaliseLanguage(lang);
    if (language == "en" || CatalogFor(language)) return;
    std::string tables = "en";
    for (const Catalog& catalog : Catalogs()) tables += " " + catalog.language();
    std::fprintf(stderr,
                 "personalise: warning: the launcher has no table for the language \"%s\": its windows will "
                 "speak the desktop's language or English (tables: %s)\n",
                 lang.c_str(), tables.c_str());
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool ParseFlag(const std::string& text, unsigned char& flag) {
    if (text == "0" || text == "1") {
        flag = static_cast<unsigned char>(text[0] - '0');
        return true;
    }
    return false;
}

using ssl::Bio;
using ssl::Key;
using Certificate = ssl::X509Cert;

// libcurl's pin of the public key in a PEM file (the first certificate, else
// a public key): "sha256//" and the base64 SHA-256 of the key's DER form.
bool PinFromPem(const std::string& path, std::string& pin) {
    std::string pem;
    if (!ReadWholeFile(path, pem)) return false;
    const Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return false;
    Key key;
    if (const Certificate certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)})
        key.reset(X509_get_pubkey(certificate.get()));
    else if (BIO_reset(bio.get()) == 1)
        key.reset(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key) return false;
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key.get(), &der);
    if (length <= 0) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    const bool digested =
        EVP_Digest(der, static_cast<size_t>(length), digest, &size, EVP_sha256(), nullptr) == 1;
    OPENSSL_free(der);
    if (!digested) return false;
    unsigned char text[4 * EVP_MAX_MD_SIZE / 3 + 4];
    EVP_EncodeBlock(text, digest, static_cast<int>(size));
    pin = "sha256//" + std::string(reinterpret_cast<const char*>(text));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        Usage();
        return 2;
    }
    const std::string inPath = argv[1];
    const std::string outPath = argv[2];

    // Item order of the sample; only the items given go into the text.
    const char* const keys[] = {"url", "lang", "owner", "code", "ac", "title", "cownerid"};
    std::vector<std::pair<std::string, std::string>> items;
    unsigned char sessionEnabled = 1;
    unsigned char autoRemoveEnabled = 1;
    std::string tlsChoice;  // "verify", "insecure" or empty
    std::vector<std::string> pins;
    for (int i = 3; i < argc; i += 2) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            Usage();
            return 2;
        }
        const std::string value = argv[i + 1];
        if (option == "--session-enabled") {
            if (!ParseFlag(value, sessionEnabled)) return Fail("--session-enabled takes 0 or 1");
            continue;
        }
        if (option == "--auto-remove") {
            if (!ParseFlag(value, autoRemoveEnabled)) return Fail("--auto-remove takes 0 or 1");
            continue;
        }
        if (option == "--tls") {
            if (value == "verify" || value == "insecure")
                tlsChoice = value;
            else
                pins.push_back(value);
            continue;
        }
        if (option == "--pin-from") {
            std::string pin;
            if (!PinFromPem(value, pin)) return Fail("no certificate or public key in " + value);
            pins.push_back(pin);
            continue;
        }
        bool known = false;
        for (const char* key : keys) {
            if (option == std::string("--") + key) {
                // A parenthesis would end the value early or start a false item.
                if (value.find_first_of("()") != std::string::npos)
                    return Fail("the value of " + option + " must not contain '(' or ')'");
                items.emplace_back(key, value);
                known = true;
                if (option == "--lang") WarnWithoutTable(value);
            }
        }
        if (!known) {
            Usage();
            return 2;
        }
    }

    // The server the launcher will read: the first url item, unless empty.
    std::string url = ApplicationSettings::Get()->GetDefaultServerUrl();
    for (const auto& item : items) {
        if (item.first != "url") continue;
        if (!item.second.empty()) url = item.second;
        break;
    }
    const bool tlsGiven = !tlsChoice.empty() || !pins.empty();
    if (tlsGiven && !IsHttpsUrl(url)) return Fail("--tls and --pin-from need an https URL, not " + url);
    if (!tlsChoice.empty() && !pins.empty())
        return Fail("--tls " + tlsChoice + " and pins exclude each other");
    std::string tls = tlsGiven ? tlsChoice : IsHttpsUrl(url) ? "verify" : "";
    if (tls == "insecure") tls.clear();
    for (const auto& pin : pins) tls += (tls.empty() ? "" : ";") + pin;
    if (const std::string problem = TlsItemProblem(tls, url); !problem.empty()) return Fail(problem);

    std::string text;
    for (const char* key : keys) {
        for (const auto& item : items) {
            if (item.first == key) text += item.first + "(" + item.second + ")";
        }
    }
    if (!tls.empty()) text += "tls(" + tls + ")";
    if (text.size() > kParameterTextSize - 1)
        return Fail("the parameter text has " + std::to_string(text.size()) + " characters; at most " +
                    std::to_string(kParameterTextSize - 1) + " fit");

    std::string image;
    if (!ReadWholeFile(inPath, image)) return Fail("cannot read " + inPath + ": " + std::strerror(errno));

    const std::string sample(kParameterBlockSample, kParameterBlockSampleLength);
    std::vector<std::size_t> found;
    for (std::size_t at = image.find(sample); at != std::string::npos; at = image.find(sample, at + 1))
        found.push_back(at);
    if (found.empty()) return Fail("no parameter block in " + inPath + " (already personalised?)");
    if (found.size() > 1)
        return Fail(std::to_string(found.size()) + " candidate parameter blocks in " + inPath);
    const std::size_t block = found.front();
    if (image.size() - block < kParameterBlockSize)
        return Fail("the parameter block in " + inPath + " is cut short");
    for (std::size_t i = kParameterBlockSampleLength; i < kParameterTextSize; ++i) {
        if (image[block + i] != '\0') return Fail("the parameter block in " + inPath + " is not a fresh one");
    }

    std::string area(kParameterBlockSize, '\0');
    area.replace(0, text.size(), text);
    area[kSessionEnabledOffset] = static_cast<char>(sessionEnabled);
    area[kAutoRemoveEnabledOffset] = static_cast<char>(autoRemoveEnabled);
    image.replace(block, kParameterBlockSize, area);

    struct stat st {};
    const mode_t mode = stat(inPath.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0755;
    UniqueFd fd(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (fd.get() < 0) return Fail("cannot create " + outPath + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < image.size()) {
        const ssize_t n = write(fd.get(), image.data() + done, image.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = errno;
            fd.Close();
            unlink(outPath.c_str());
            return Fail("cannot write " + outPath + ": " + std::strerror(error));
        }
        done += static_cast<std::size_t>(n);
    }
    if (fd.Close() != 0) {
        unlink(outPath.c_str());
        return Fail("cannot write " + outPath + ": " + std::strerror(errno));
    }
    fchmodat(AT_FDCWD, outPath.c_str(), mode, 0);
    std::printf("%s: parameter block at offset %zu: %s [session %d, autoremove %d]\n", outPath.c_str(), block,
                text.c_str(), sessionEnabled, autoRemoveEnabled);
    return 0;
}
