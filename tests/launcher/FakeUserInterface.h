#pragma once
// A scripted stand-in for the user interface facade: answers as told and
// records every call in order.

#include <optional>
#include <string>
#include <vector>

namespace fakeui {

struct Credentials {
    std::string login, password;
};

struct Script {
    std::string sessionCode{};  // typed into the code window
    bool sessionCodeConfirmed = false;
    std::vector<std::optional<Credentials>> credentials{};  // answers in turn; nullopt or none left = Cancel
    int closeStatusAfterMs = -1;  // the user ends the status window after this long (-1: never)
};

// Forgets all calls and takes a new script.
void Reset(Script script = {});
// "Start", "Wait", "AskSessionCode", "AskProxyCredentials:<message>",
// "ShowStatusWindow", "StatusWindowEnded", "SetStatusText:<text>", "Close".
std::vector<std::string> Calls();
int Count(const std::string& call);  // the calls starting with call
// The calls starting with prefix, prefix cut off.
std::vector<std::string> With(const std::string& prefix);

}  // namespace fakeui
