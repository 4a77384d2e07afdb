#pragma once
// How a transfer trusts an HTTPS server.

#include <string>

struct TlsPolicy {
    enum Mode {
        TLS_UNVERIFIED,  // any certificate, as copies made before trust could be chosen
        TLS_VERIFY,      // the loaded libcurl's CA store and the host name
        TLS_PINNED,      // the server's public key matches one of the pins; nothing else is checked
    };
    Mode mode = TLS_UNVERIFIED;
    std::string pins;  // TLS_PINNED: "sha256//<base64>" joined by ';', as libcurl takes them
};
