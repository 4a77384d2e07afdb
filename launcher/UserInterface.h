#pragma once
// The calls through which the launcher core reaches its windows.
// The core never touches the toolkit directly; tests link a scripted fake,
// the executable links the real windows (which fall back to a headless
// implementation when no display can be opened).

#include <cstddef>

#include "Texts.h"

// Sizes of the callers' buffers, terminator included.
constexpr std::size_t kSessionCodeBufferSize = 64;
constexpr std::size_t kCredentialBufferSize = 32;

void StartUserInterface();
void WaitForUserInterface();
// The copy's language (its lang item): the windows' words (Catalog.h) and fonts.
void SetUserInterfaceLanguage(const char* language);
// Texts in: any bytes, shown as UTF-8 when they are valid UTF-8, else read
// as Windows-1252 (a server's message, a proxy's realm). Texts out: UTF-8,
// cut between characters to fit the buffers.
// code: kSessionCodeBufferSize bytes, digits in ASCII. True when the user confirmed with OK.
bool AskSessionCode(char* code);
// login, password: kCredentialBufferSize bytes each; written only on OK.
bool AskProxyCredentials(const char* message, char* login, char* password);
void ShowStatusWindow();
// Does not wait for the window, which translates the text.
void SetStatusText(const UiText& text);
void CloseUserInterface();
