#include "DesktopProxy.h"

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CriticalSection.h"

namespace {

// argv[0] of the helper; a customer's start has the program's path there.
const char kHelperName[] = "sa-desktop-proxy-query";
const char kAnswered[] = "libproxy\n";
const char kMissing[] = "missing\n";
// The last line; no proxy URL is that word alone.
const char kEnd[] = "end\n";
const char kEndLine[] = "\nend\n";

void WriteAll(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(1, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// libproxy 0.4 asks GSettings only when DESKTOP_SESSION or
// GNOME_DESKTOP_SESSION_ID says GNOME; current sessions may say so only in
// XDG_CURRENT_DESKTOP, a list such as "ubuntu:GNOME".
bool CurrentDesktopIsGnome() {
    const char* list = getenv("XDG_CURRENT_DESKTOP");
    if (!list) return false;
    const std::string desktops = std::string(":") + list + ":";
    return desktops.find(":GNOME:") != std::string::npos;
}

bool EndsWith(const std::string& text, const char* end) {
    const size_t n = strlen(end);
    return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

}  // namespace

bool IsDesktopProxyHelper(int argc, char** argv) { return argc == 2 && !strcmp(argv[0], kHelperName); }

void RunDesktopProxyHelper(const char* url) {
    // Bounded on its own as well, should the launcher's kill not come: a
    // PAC script that loops is stopped by the clock and by the processor time.
    const unsigned limitSeconds = static_cast<unsigned>(DesktopProxyQuery::kLimitMs / 1000);
    alarm(limitSeconds + 1);
    const rlimit cpu{limitSeconds, limitSeconds + 1};
    setrlimit(RLIMIT_CPU, &cpu);
    // As curl: HTTP_PROXY is what a CGI program gets from a client's "Proxy:" header.
    unsetenv("HTTP_PROXY");
    if (CurrentDesktopIsGnome() && !getenv("GNOME_DESKTOP_SESSION_ID"))
        setenv("GNOME_DESKTOP_SESSION_ID", "this-is-deprecated", 1);
    DynamicLibrary library;
    ProxyFunctions px;
    if (!px.Load(library, {"libproxy.so.1"})) {
        WriteAll(kMissing + library.problem() + "\n" + kEnd);
        _exit(0);
    }
    // libproxy 0.4 loads every plugin twice, a first time only to see whether
    // what it needs is already in the process. JavaScriptCore, which its PAC
    // runner needs, is that process's largest library: loaded lazily here
    // first, it is loaded once, in half the time. Kept to the helper's end.
    for (const char* engine : {"libjavascriptcoregtk-4.0.so.18", "libjavascriptcoregtk-4.1.so.0"}) {
        if (dlopen(engine, RTLD_LAZY | RTLD_GLOBAL)) break;
    }
    std::string answer = kAnswered;
    pxProxyFactory* factory = px.px_proxy_factory_new();
    char** proxies = factory ? px.px_proxy_factory_get_proxies(factory, url) : nullptr;
    for (char** p = proxies; p && *p; ++p) {
        std::string line = *p;
        // One answer a line, whatever a PAC script made of it.
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
        answer += line + "\n";
    }
    // The answer first: the launcher takes it without waiting for the
    // plugins to unload, and kills what is left.
    WriteAll(answer + kEnd);
    if (proxies) px.px_proxy_factory_free_proxies(proxies);
    if (factory) px.px_proxy_factory_free(factory);
    _exit(0);
}

void DesktopProxyQuery::Start(const std::string& url) {
    m_deadline = TickCountMs() + kLimitMs;
    // In a group of its own, so that killing it also ends what its plugins started.
    m_startError = m_helper.Start({kHelperName, url}, {.captureOutput = true,
                                                       .quiet = true,
                                                       .ownProcessGroup = true,
                                                       .dieWithParent = true,
                                                       .program = "/proc/self/exe"});
}

DesktopProxyQuery::Outcome DesktopProxyQuery::Finish(std::string& answer) {
    answer.clear();
    if (m_startError != 0) {
        answer = std::string("cannot start /proc/self/exe: ") + strerror(m_startError);
        return FAILED;
    }
    std::string text;
    const bool ended = m_helper.ReadOutput(text, m_deadline, kEndLine, kAnswerLimit);
    m_helper.Kill();
    if (!ended) {
        answer = text.size() >= kAnswerLimit ? "an answer longer than 64 KiB" : "no answer within 5 seconds";
        return FAILED;
    }
    for (const char* head : {kAnswered, kMissing}) {
        if (text.compare(0, strlen(head), head) == 0 && EndsWith(text, kEndLine)) {
            answer = text.substr(strlen(head), text.size() - strlen(head) - strlen(kEnd));
            if (head == kMissing && !answer.empty()) answer.pop_back();
            return head == kAnswered ? ANSWERED : MISSING;
        }
    }
    answer = "the query ended without an answer";
    return FAILED;
}
