#pragma once
// The seven calls through which the launcher core reaches its windows.
// The core never touches the toolkit directly; tests link a scripted fake,
// the executable links the real windows (which fall back to a headless
// implementation when no display can be opened).

#include <cstddef>

// Sizes of the callers' buffers, terminator included.
constexpr std::size_t kSessionCodeBufferSize = 64;
constexpr std::size_t kCredentialBufferSize = 32;

void StartUserInterface();
void WaitForUserInterface();
// code: kSessionCodeBufferSize bytes. True when the user confirmed with OK.
bool AskSessionCode(char* code);
// login, password: kCredentialBufferSize bytes each; written only on OK.
bool AskProxyCredentials(const char* message, char* login, char* password);
void ShowStatusWindow();
void SetStatusText(const char* text);
void CloseUserInterface();
