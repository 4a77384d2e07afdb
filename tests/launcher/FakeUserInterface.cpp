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
std::size_t g_credentialAnswers = 0;
bool g_closed = false;

void Note(const std::string& call) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_calls.push_back(call);
}
}  // namespace

void Reset(Script script) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_script = std::move(script);
    g_calls.clear();
    g_credentialAnswers = 0;
    g_closed = false;
}

std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_calls;
}

int Count(const std::string& call) { return static_cast<int>(With(call).size()); }

std::vector<std::string> With(const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& c : Calls())
        if (c.rfind(prefix, 0) == 0) found.push_back(c.substr(prefix.size()));
    return found;
}

}  // namespace fakeui

using namespace fakeui;

void StartUserInterface() { Note("Start"); }
void WaitForUserInterface() { Note("Wait"); }
void SetStatusText(const char* text) { Note(std::string("SetStatusText:") + (text ? text : "(null)")); }

bool AskSessionCode(char* code) {
    Note("AskSessionCode");
    std::lock_guard<std::mutex> lock(g_lock);
    std::snprintf(code, kSessionCodeBufferSize, "%s", g_script.sessionCode.c_str());
    return g_script.sessionCodeConfirmed;
}

bool AskProxyCredentials(const char* message, char* login, char* password) {
    Note(std::string("AskProxyCredentials:") + (message ? message : "(null)"));
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_credentialAnswers >= g_script.credentials.size()) return false;
    const auto& answer = g_script.credentials[g_credentialAnswers++];
    if (!answer) return false;
    std::snprintf(login, kCredentialBufferSize, "%s", answer->login.c_str());
    std::snprintf(password, kCredentialBufferSize, "%s", answer->password.c_str());
    return true;
}

void ShowStatusWindow() {
    Note("ShowStatusWindow");
    std::unique_lock<std::mutex> lock(g_lock);
    if (g_script.closeStatusAfterMs >= 0)
        g_changed.wait_for(lock, std::chrono::milliseconds(g_script.closeStatusAfterMs),
                           [] { return g_closed; });
    else
        g_changed.wait(lock, [] { return g_closed; });
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
