#include "FakeUserInterface.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "UserInterface.h"

namespace fakeui {
namespace {
std::mutex g_lock;
std::condition_variable g_changed;
Script g_script;
std::vector<std::string> g_calls;
bool g_closed = false;

void Note(const std::string& call) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_calls.push_back(call);
}
}  // namespace

void Reset(Script script) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_script = std::move(script), g_calls.clear(), g_closed = false;
}

std::vector<std::string> With(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(g_lock);
    std::vector<std::string> found;
    for (const auto& c : g_calls)
        if (c.rfind(prefix, 0) == 0) found.push_back(c.substr(prefix.size()));
    return found;
}

}  // namespace fakeui

using namespace fakeui;

void StartUserInterface() {}
void WaitForUserInterface() {}
void SetUserInterfaceLanguage(const char*) {}
void SetStatusText(const UiText& text) { Note("SetStatusText:" + English(text)); }

bool AskSessionCode(char* code) {
    Note("AskSessionCode");
    std::lock_guard<std::mutex> lock(g_lock);
    std::snprintf(code, kSessionCodeBufferSize, "%s", g_script.sessionCode.c_str());
    return g_script.sessionCodeConfirmed;
}

bool AskProxyCredentials(const char* message, char*, char*) {
    Note(std::string("AskProxyCredentials:") + (message ? message : "(null)"));
    return false;
}

void ShowStatusWindow() {
    Note("ShowStatusWindow");
    std::unique_lock<std::mutex> lock(g_lock);
    const int ms = g_script.closeStatusAfterMs < 0 ? 3600 * 1000 : g_script.closeStatusAfterMs;
    g_changed.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_closed; });
    g_calls.push_back("StatusWindowEnded");
}

void CloseUserInterface() {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_calls.push_back("Close");
        g_closed = true;
    }
    g_changed.notify_all();
}
