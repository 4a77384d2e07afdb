#pragma once
// The user interface without a display: nothing is shown, nobody can answer.
// The facade uses it when no window can be opened; the session still runs
// when the parameter block carries a code.

#include "Texts.h"

namespace headless_ui {

void Start();             // ready at once; a later ShowStatusWindow blocks again
void WaitUntilRunning();  // returns at once
// Nobody can type a code: empties the buffer and answers false.
bool AskSessionCode(char* code);
// Nobody can type credentials: leaves the buffers alone and answers false.
bool AskProxyCredentials(const char* message, char* login, char* password);
void ShowStatusWindow();                 // blocks until Close
void SetStatusText(const UiText& text);  // to the log, in English, a line each
void Close();                            // ends ShowStatusWindow; harmless when repeated

}  // namespace headless_ui
