// The demo support server on loopback:
//   demo_server [--port N] [--ticket T] [--later-ticket T2] [--polls N]
//               [--outcome assignment|error|never] [--error TEXT]
//               [--isd X] [--mode N] [--luid X] [--marker FILE]
//               [--components-status N] [--session-status N] [--broken-package]
//               [--demand-credentials]
//               [--https CERT.pem]
// Prints "listening on <base URL>" and then every request it receives.
// --https: serves HTTPS with a key and a self-signed certificate made at
// start, and writes the certificate to CERT.pem (to pin it).

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Log.h"
#include "demo_server.h"

int main(int argc, char** argv) {
    demo::Options options;
    std::string certFile;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "demo_server: %s needs a value\n", option.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (option == "--port")
            options.port = std::atoi(value().c_str());
        else if (option == "--ticket")
            options.ticket = value();
        else if (option == "--later-ticket")
            options.laterTicket = value();
        else if (option == "--polls")
            options.pollsBeforeResult = std::atoi(value().c_str());
        else if (option == "--error")
            options.errorText = value();
        else if (option == "--isd")
            options.isd = value();
        else if (option == "--mode")
            options.mode = value();
        else if (option == "--luid")
            options.lUid = value();
        else if (option == "--marker")
            options.marker = value();
        else if (option == "--components-status")
            options.componentsStatus = std::atoi(value().c_str());
        else if (option == "--session-status")
            options.sessionStatus = std::atoi(value().c_str());
        else if (option == "--broken-package")
            options.brokenPackage = true;
        else if (option == "--demand-credentials")
            options.demandCredentials = true;
        else if (option == "--https")
            certFile = value();
        else if (option == "--outcome") {
            const std::string outcome = value();
            if (outcome == "assignment")
                options.outcome = demo::Outcome::Assignment;
            else if (outcome == "error")
                options.outcome = demo::Outcome::Error;
            else if (outcome == "never")
                options.outcome = demo::Outcome::Never;
            else {
                std::fprintf(stderr, "demo_server: unknown outcome %s\n", outcome.c_str());
                return 2;
            }
        } else {
            std::fprintf(stderr, "demo_server: unknown option %s\n", option.c_str());
            return 2;
        }
    }

    if (!certFile.empty()) {
        const demo::Certificate made = demo::MakeCertificate(options.host, 0, 30);
        options.certPem = made.certPem;
        options.keyPem = made.keyPem;
        std::ofstream out(certFile);
        if (made.certPem.empty() || !(out << made.certPem) || !out.flush()) {
            std::fprintf(stderr, "demo_server: cannot make a certificate in %s\n", certFile.c_str());
            return 1;
        }
    }

    // The server's own decryption failures would go to a log; it has none.
    LogInit("", false, false);

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    demo::Server server(options);
    if (!server.Start()) {
        std::fprintf(stderr, "demo_server: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        return 1;
    }
    std::printf("listening on %s\n", server.BaseUrl().c_str());
    std::fflush(stdout);

    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    server.Stop();
    return 0;
}
