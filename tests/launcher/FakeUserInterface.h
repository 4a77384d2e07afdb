#pragma once
// A scripted stand-in for the user interface facade: answers as told (Cancel
// to every credentials question) and records every call in order.

#include <string>
#include <vector>

namespace fakeui {

struct Script {
    std::string sessionCode{};  // typed into the code window
    bool sessionCodeConfirmed = false;
    int closeStatusAfterMs = -1;  // the user ends the status window after this long (-1: never)
};

void Reset(Script script = {});
// The calls starting with prefix, prefix cut off: "AskSessionCode", "AskProxyCredentials:<message>",
// "ShowStatusWindow", "StatusWindowEnded", "SetStatusText:<text in English, a line each>", "Close".
std::vector<std::string> With(const std::string& prefix);
inline int Count(const std::string& call) { return static_cast<int>(With(call).size()); }

}  // namespace fakeui
