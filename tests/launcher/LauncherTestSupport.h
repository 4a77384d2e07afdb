#pragma once
// Shared pieces of the launcher tests: the parameter block and the decrypted log.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Launcher.h"
#include "Log.h"
#include "ParameterBlock.h"
#include "Subprocess.h"

namespace launchertest {

inline void WriteBlock(const std::string& text, unsigned char sessionEnabled = 1,
                       unsigned char autoRemoveEnabled = 1) {
    std::memset(ParameterBlock, 0, kParameterBlockSize);
    std::memcpy(ParameterBlock, text.data(), std::min(text.size(), kParameterTextSize));
    ParameterBlock[kSessionEnabledOffset] = sessionEnabled;
    ParameterBlock[kAutoRemoveEnabledOffset] = autoRemoveEnabled;
}

// The messages of a protected log, in order, with their time text cut off.
// damaged gets the number of lines LogVerify rejected (-1: log unreadable).
inline std::vector<std::string> ReadLog(const std::string& logPath, int& damaged) {
    const std::string report = logPath + ".report";
    damaged = -1;
    std::vector<std::string> lines;
    if (!LogVerify(logPath.c_str(), report.c_str(), true, &damaged)) return lines;
    const std::string text = testsupport::ReadFile(report);
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        if (end - start > 25 && text[start + 24] == ' ')
            lines.push_back(text.substr(start + 25, end - start - 25));
    return lines;
}

inline int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [&](auto& l) { return l.rfind(prefix, 0) == 0; }));
}

inline int IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    const auto at = std::find(lines.begin(), lines.end(), line);
    return at == lines.end() ? -1 : static_cast<int>(at - lines.begin());
}

inline std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) all += line + "\n";
    return all;
}

}  // namespace launchertest
