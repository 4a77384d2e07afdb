// Until the windows exist every call goes to the headless implementation.
#include "UserInterface.h"

#include <cstdlib>
#include <string>

#include "HeadlessUserInterface.h"
#include "SessionManager.h"

void StartUserInterface() {
  std::string userName;
  std::string sessionManager;
  FindSessionManager(userName, sessionManager);
  setenv("SESSION_MANAGER", sessionManager.c_str(), 1);
  headless_ui::Start();
}

void WaitForUserInterface() { headless_ui::WaitUntilRunning(); }

bool AskSessionCode(char* code) { return headless_ui::AskSessionCode(code); }

bool AskProxyCredentials(const char* message, char* login, char* password) {
  return headless_ui::AskProxyCredentials(message, login, password);
}

void ShowStatusWindow() { headless_ui::ShowStatusWindow(); }

void SetStatusText(const char* text) { headless_ui::SetStatusText(text); }

void CloseUserInterface() { headless_ui::Close(); }
