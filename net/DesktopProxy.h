#pragma once
// The desktop's proxy library, libproxy (GNOME's settings, the proxy
// variables, PAC scripts, WPAD), asked in a helper process: a PAC script may
// loop and a plugin may crash, and neither may hang or kill the launcher. The
// helper is this program again (/proc/self/exe), started with an argument
// vector no customer's start has, and it answers on a pipe within a time limit.
//
// Every program that discovers proxies lets the helper mode in first:
//   int main(int argc, char** argv) {
//       if (IsDesktopProxyHelper(argc, argv)) RunDesktopProxyHelper(argv[1]);
//       ...

#include <cstddef>
#include <cstdint>
#include <string>

#include "ChildProcess.h"
#include "DynamicLibrary.h"

// libproxy 0.4's C interface, declared here so that its header is not needed.
extern "C" {
typedef struct _pxProxyFactory pxProxyFactory;
pxProxyFactory* px_proxy_factory_new(void);
char** px_proxy_factory_get_proxies(pxProxyFactory* self, const char* url);
void px_proxy_factory_free_proxies(char** proxies);
void px_proxy_factory_free(pxProxyFactory* self);
}

#define SA_PROXY_FUNCTIONS(F) \
    F(px_proxy_factory_new)   \
    F(px_proxy_factory_get_proxies) F(px_proxy_factory_free_proxies) F(px_proxy_factory_free)
SA_DYNAMIC_TABLE(ProxyFunctions, SA_PROXY_FUNCTIONS)

bool IsDesktopProxyHelper(int argc, char** argv);
// Asks libproxy for url's proxies, writes them to standard output and ends
// the process.
[[noreturn]] void RunDesktopProxyHelper(const char* url);

// One question to the helper, started at once and answered later, so that
// it runs while the other sources are read.
class DesktopProxyQuery {
public:
    static constexpr std::uint64_t kLimitMs = 5000;
    static constexpr std::size_t kAnswerLimit = 64 * 1024;

    enum Outcome {
        ANSWERED,  // answer: libproxy's proxy URLs, one a line, best first
        MISSING,   // no libproxy; answer: what was looked for
        FAILED,    // no answer within the limit, a crash, or no helper; answer: why
    };

    // The helper dies with the calling thread: call it from one that lives
    // as long as the process (the main thread), or at least past Finish.
    void Start(const std::string& url);
    Outcome Finish(std::string& answer);
    // False when the helper could not even be started.
    bool started() const { return m_startError == 0; }
    // Not needed after all: the helper is killed at once.
    void Cancel() { m_helper.Kill(); }

private:
    ChildProcess m_helper;
    int m_startError = 0;
    std::uint64_t m_deadline = 0;
};
