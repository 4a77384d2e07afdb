#pragma once
// A scripted stand-in for the user interface facade: answers as told, waits
// as told, and records every call in order.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fakeui {

struct Credentials {
  std::string login;
  std::string password;
};

struct Script {
  // AskSessionCode: the text typed and whether OK was pressed.
  std::string sessionCode;
  bool sessionCodeConfirmed = false;
  // AskProxyCredentials answers in turn; nullopt (or none left) = Cancel.
  std::vector<std::optional<Credentials>> credentials;
  // The user ends the status window this long after it appeared (-1: never).
  int closeStatusAfterMs = -1;
  // StartUserInterface/WaitForUserInterface take this long before the loop "runs".
  int startDelayMs = 0;
};

inline Script WithCode(const std::string& code, bool confirmed) {
  Script script;
  script.sessionCode = code;
  script.sessionCodeConfirmed = confirmed;
  return script;
}
inline Script WithCredentials(std::vector<std::optional<Credentials>> answers) {
  Script script;
  script.credentials = std::move(answers);
  return script;
}
inline Script ClosingStatusAfter(int ms) {
  Script script;
  script.closeStatusAfterMs = ms;
  return script;
}

// Forgets all calls and takes a new script.
void Reset(Script script = {});
// "Start", "Wait", "AskSessionCode", "AskProxyCredentials:<message>",
// "ShowStatusWindow", "StatusWindowEnded", "SetStatusText:<text>", "Close".
std::vector<std::string> Calls();
int Count(const std::string& call);
std::vector<std::string> StatusTexts();

}  // namespace fakeui
