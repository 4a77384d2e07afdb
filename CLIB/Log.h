#pragma once
// The protected log: one file under $HOME/ZEL, one line per LogWrite, each line
// enciphered and chained to the previous one by its hash when protection is on.

#include <string>

// Sets the log file name (at most 259 bytes are kept) and the two switches.
// Nothing is logged while the name is empty.
void LogInit(const char* name, bool protectLines, bool enabled);
// printf-like; writes one line or nothing. Safe from any thread and process.
void LogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reads a protected log back: appends every good line (time text, space, text)
// to the report file, then the error lines. True when the log could be read.
// damagedLines (optional) receives the number of lines with an error.
bool LogVerify(const char* logPath, const char* reportPath, bool removeReportFirst,
               int* damagedLines = nullptr);
// The log folder: $HOME/ZEL, or /root/ZEL when HOME is unset or shorter than two characters.
std::string LogFolder();
