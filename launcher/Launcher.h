#pragma once
// The launcher core: one pass from the parameter block to the started client.

#include <cstdint>
#include <string>

#include "CriticalSection.h"
#include "TlsPolicy.h"
#include "ProxyDiscovery.h"

struct SessionParametersRecord {
    std::string url;
    std::string owner;
    std::string title;
    std::string ac;
    std::string lang;
    std::string code;
    TlsPolicy tls;  // from the tls item; every CDownload of the run gets it
};

// Process-wide state. SessionParameters is complete before the session thread
// starts; ProxyCredentials, ClientPath, ClientReady and KeepCopy are written
// on the session thread and read on the main thread only after the join.
extern SessionParametersRecord SessionParameters;
extern std::string ProxyCredentials;
extern std::string ClientPath;
extern bool ClientReady;
// The copy stays whatever AutoRemoveEnabled says: its server could not be
// verified, or its tls item is wrong. It can run again once that is mended.
extern bool KeepCopy;
extern MPEventID StopEvent;

// What the status window shows when the server cannot be trusted.
inline constexpr const char* kCannotVerifyServer = "Cannot verify the server";

class CDownload;
// After a failed transfer: when the server could not be verified, logs why
// and keeps the copy for another try. True then.
bool NoteTlsRefusal(const CDownload& download);

// Timings and the client folder. The product always runs with the defaults;
// only tests change them, to run fast and apart from each other.
struct LauncherTuning {
    std::string clientFolder = "/tmp";
    std::uint64_t sessionDeadlineMs = 100000;
    std::int32_t pollWaitMs = 5000;
};
LauncherTuning& Tuning();

// The whole run (everything main does); returns the exit status, always 0.
int LauncherMain(const char* launcherPath);

// The pieces, in the order LauncherMain uses them.
void InstallSignalHandling();  // self-pipe, its reader thread, SIGTERM and SIGINT
void RemoveSignalHandling();   // reader thread joined; the handlers stay harmless
// False for a misconfigured copy (its tls item), which asks nothing and runs no session.
bool ParseParameterBlock();
void RunSession(ProxyDiscovery* proxy);  // RunWithStatusWindow(SessionThread, proxy)
// Starts body on a thread of its own and shows the status window until the
// thread closes the user interface or the user ends the window.
void RunWithStatusWindow(void* (*body)(void*), void* argument);
// argument: the run's ProxyDiscovery, started early; null: one of its own.
void* SessionThread(void* argument);
// Through proxy, the session thread's one discovery result.
void RequestClient(const std::string* ticket, const std::string& assignment, const ProxySettings& proxy);
void RemoveSelf(const char* launcherPath);
void LaunchClient();

// Helpers with rules of their own.
std::string BuildPollUrl(const std::string& ticket, std::uint64_t timeStamp);
// The session page of the copy's server, as the parameter block names it.
std::string SessionPageUrl();
std::string EncodeSessionCode(const std::string& code);
const char* ClientRole(const std::string& mode);  // "operator" or "client"
