#include "ParameterBlock.h"

#include "ApplicationSettings.h"
#include "CriticalSection.h"
#include "Launcher.h"
#include "Log.h"
#include "String_Utils_Unix.h"
#include "UserInterface.h"

namespace {

// Every access goes through a volatile view: the block's bytes are patched in
// the file after linking, so nothing may be folded from the initialiser.
volatile unsigned char* Block() { return ParameterBlock; }

}  // namespace

std::string ParameterBlockText() {
    std::string text;
    for (std::size_t i = 0; i < kParameterTextSize; ++i) {
        const unsigned char c = Block()[i];
        if (c == 0) break;
        text.push_back(static_cast<char>(c));
    }
    return text;
}

unsigned char SessionEnabled() { return Block()[kSessionEnabledOffset]; }
unsigned char AutoRemoveEnabled() { return Block()[kAutoRemoveEnabledOffset]; }
void SetSessionEnabled(unsigned char value) { Block()[kSessionEnabledOffset] = value; }
void SetAutoRemoveEnabled(unsigned char value) { Block()[kAutoRemoveEnabledOffset] = value; }

bool ParseParameterBlock() {
    const Customization* settings = ApplicationSettings::Get();
    const std::string text = ParameterBlockText();
    auto item = [&text](const char* key, const std::string& def) {
        return GetParameter(text, key, '(', ')', def);
    };

    SessionParameters.url = item("url", settings->GetDefaultServerUrl());
    SessionParameters.owner = item("owner", settings->GetDefaultOwner());
    SessionParameters.title = item("title", settings->GetDefaultTitle());
    SessionParameters.lang = item("lang", settings->GetDefaultLanguage());
    SetUserInterfaceLanguage(SessionParameters.lang.c_str());
    SessionParameters.ac = item("ac", TickCountText());
    SessionParameters.code = item("code", "");

    // Checked before the code is asked for: a copy that cannot run asks nothing.
    const std::string tls = item("tls", "");
    const std::string problem = TlsItemProblem(tls, SessionParameters.url);
    if (!problem.empty()) {
        LogWrite("ERROR: This copy is misconfigured: %s", problem.c_str());
        return false;
    }
    TlsPolicy& policy = SessionParameters.tls;
    policy.mode = tls.empty()       ? TlsPolicy::TLS_UNVERIFIED
                  : tls == "verify" ? TlsPolicy::TLS_VERIFY
                                    : TlsPolicy::TLS_PINNED;
    policy.pins = policy.mode == TlsPolicy::TLS_PINNED ? tls : std::string();
    if (policy.mode == TlsPolicy::TLS_UNVERIFIED && IsHttpsUrl(SessionParameters.url))
        LogWrite("WARNING: server certificate not verified");

    if (SessionParameters.code.empty()) {
        // A copy that had to ask for its code stays on disk and can be run again.
        SetAutoRemoveEnabled(0);
        char code[kSessionCodeBufferSize] = {};
        const bool confirmed = AskSessionCode(code);
        code[kSessionCodeBufferSize - 1] = '\0';
        SetSessionEnabled(confirmed ? 1 : 0);
        SessionParameters.code = code;
    }
    return true;
}
