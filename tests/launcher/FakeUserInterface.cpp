#include "FakeUserInterface.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

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

void CopyBounded(char* target, const std::string& text, std::size_t size) {
  const std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(target, text.data(), n);
  target[n] = '\0';
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

int Count(const std::string& call) {
  int n = 0;
  for (const auto& c : Calls())
    if (c == call) ++n;
  return n;
}

std::vector<std::string> StatusTexts() {
  std::vector<std::string> texts;
  const std::string prefix = "SetStatusText:";
  for (const auto& c : Calls())
    if (c.rfind(prefix, 0) == 0) texts.push_back(c.substr(prefix.size()));
  return texts;
}

}  // namespace fakeui

using namespace fakeui;

void StartUserInterface() {
  Note("Start");
  int delay = 0;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    delay = g_script.startDelayMs;
  }
  if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
}

void WaitForUserInterface() { Note("Wait"); }

bool AskSessionCode(char* code) {
  Note("AskSessionCode");
  std::lock_guard<std::mutex> lock(g_lock);
  CopyBounded(code, g_script.sessionCode, kSessionCodeBufferSize);
  return g_script.sessionCodeConfirmed;
}

bool AskProxyCredentials(const char* message, char* login, char* password) {
  Note(std::string("AskProxyCredentials:") + (message != nullptr ? message : "(null)"));
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_credentialAnswers >= g_script.credentials.size()) return false;
  const auto& answer = g_script.credentials[g_credentialAnswers++];
  if (!answer) return false;
  CopyBounded(login, answer->login, kCredentialBufferSize);
  CopyBounded(password, answer->password, kCredentialBufferSize);
  return true;
}

void ShowStatusWindow() {
  Note("ShowStatusWindow");
  std::unique_lock<std::mutex> lock(g_lock);
  if (g_script.closeStatusAfterMs >= 0) {
    g_changed.wait_for(lock, std::chrono::milliseconds(g_script.closeStatusAfterMs), [] { return g_closed; });
  } else {
    g_changed.wait(lock, [] { return g_closed; });
  }
  g_calls.push_back("StatusWindowEnded");
}

void SetStatusText(const char* text) { Note(std::string("SetStatusText:") + (text != nullptr ? text : "(null)")); }

void CloseUserInterface() {
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_calls.push_back("Close");
    g_closed = true;
  }
  g_changed.notify_all();
}
