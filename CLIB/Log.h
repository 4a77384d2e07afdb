#pragma once
// The protected log: one file under $HOME/ZEL, one line per LogWrite, each line
// enciphered and chained to the previous one by its hash when protection is on.

#include <string>

// Sets the log file name (at most 259 bytes are kept) and the two switches.
// Nothing is logged while the name is empty.
void LogInit(const char* name, bool protectLines, bool enabled);
// printf-like; writes one line or nothing. Safe from any thread and process.
void LogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reads a protected log back: writes every good line (time text, space, text)
// to reportFd, then the error lines. True when the log could be read.
// damagedLines (optional) receives the number of lines with an error.
bool LogVerifyTo(const char* logPath, int reportFd, int* damagedLines = nullptr);
// The same into a report file: created anew when removeReportFirst is set,
// else appended to; never written through a link, and never a file that
// appears under the name after the removal.
bool LogVerify(const char* logPath, const char* reportPath, bool removeReportFirst,
               int* damagedLines = nullptr);
// The log folder: $HOME/ZEL, or /root/ZEL when HOME is unset or shorter than two characters.
std::string LogFolder();
