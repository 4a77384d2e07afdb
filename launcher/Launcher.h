#pragma once
// The launcher core: one pass from the parameter block to the started client.

#include <cstdint>
#include <string>
#include <vector>

#include "CriticalSection.h"
#include "TlsPolicy.h"
#include "ProxyDiscovery.h"
#include "Texts.h"

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
// starts; ProxyCredentials, ClientPath, ClientStarted and KeepCopy are written
// on the session thread and read on the main thread only after the join.
extern SessionParametersRecord SessionParameters;
extern std::string ProxyCredentials;
extern std::string ClientPath;  // the client last unpacked (and started, with ClientStarted)
extern bool ClientStarted;
// The copy stays whatever AutoRemoveEnabled says: its server could not be
// verified, its tls item is wrong, or the client it was handed did not
// start. It can run again once that is mended.
extern bool KeepCopy;
extern MPEventID StopEvent;

class CDownload;
// After a failed transfer: when the server could not be verified, logs why
// and keeps the copy for another try. True then.
bool NoteTlsRefusal(const CDownload& download);

// Timings and the first client folder. The product always runs with the
// defaults; only tests change them, to run fast and apart from each other.
struct LauncherTuning {
    std::string clientFolder = "/tmp";  // the private folders follow it
    std::uint64_t sessionDeadlineMs = 100000;
    std::int32_t pollWaitMs = 5000;
    // A poll fits the 5-second rhythm: a silent server or proxy costs at
    // most this long, not libcurl's 30 seconds. The client request keeps
    // the longer limit.
    std::uint32_t pollConnectTimeoutMs = 4000;
    std::uint32_t pollTimeoutMs = 5000;
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
enum class ClientOutcome {
    STARTED,
    NOT_STARTED,  // handed over (or due) but not started: the copy stays
    REFUSED,      // the server could not be verified: the copy stays
    FAILED,       // the request itself failed
};
// Through proxy, the session thread's one discovery result. Posts the
// request, then unpacks and starts the client (InstallClient).
ClientOutcome RequestClient(const std::string* ticket, const std::string& assignment,
                            const ProxySettings& proxy);
// Where the client may be unpacked and run, best first: the first folder
// (/tmp) when programs may run there, then $XDG_RUNTIME_DIR/<name> and
// $XDG_CACHE_HOME (or ~/.cache)/<name>. Those passed over are logged.
std::vector<std::string> ClientFolders();
// Removes what earlier runs left in the private folders, unless a program
// still runs from one.
void RemoveLeftClients();
// Writes the package into each folder in turn, unpacks it and starts the
// client, until it starts; a folder is passed over when it has no room or
// refuses to run programs. True when the client started.
bool InstallClient(const std::vector<char>& package, const std::vector<std::string>& folders);
enum class LaunchResult { STARTED, REFUSED_HERE, FAILED };
// Starts the unpacked client in the background. REFUSED_HERE: the system
// would not run a program from its folder (EACCES, EPERM).
LaunchResult LaunchClient(const std::string& clientPath);
void RemoveSelf(const char* launcherPath);

// Helpers with rules of their own.
std::string BuildPollUrl(const std::string& ticket, std::uint64_t timeStamp);
// The session page of the copy's server, as the parameter block names it.
std::string SessionPageUrl();
std::string EncodeSessionCode(const std::string& code);
const char* ClientRole(const std::string& mode);  // "operator" or "client"
