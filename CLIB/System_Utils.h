#pragma once
// Shell commands and process identity.

#include <string>

// Joins command and the present arguments with single spaces and runs the
// line through the shell. Arguments go in as given, so callers quote anything
// that comes from outside (ShellQuoteIfNeeded). Returns system()'s raw wait
// status: 0 when the command exited with 0, -1 when no shell could be started.
int CallSystem(const char* command, const char* arg1 = nullptr, const char* arg2 = nullptr,
               const char* arg3 = nullptr, const char* arg4 = nullptr, const char* arg5 = nullptr,
               const char* arg6 = nullptr);

// True when the effective user id is 0.
bool IsRoot();

// The argument unchanged when the shell would take it as one plain word,
// otherwise wrapped in single quotes (an embedded ' becomes '\''). The empty
// text becomes ''.
std::string ShellQuoteIfNeeded(const std::string& arg);
