#include "ProxySettings.h"

#include <cstdlib>
#include <cstring>

#include "ProxyDiscovery.h"

ProxySettings::ProxySettings() : type(PROXY_NONE), host(nullptr), port(0) {}

ProxySettings::~ProxySettings() { Reset(); }

ProxySettings::ProxySettings(const ProxySettings& other) : type(PROXY_NONE), host(nullptr), port(0) {
    CopyFrom(other);
}

ProxySettings& ProxySettings::operator=(const ProxySettings& other) {
    if (this != &other) CopyFrom(other);
    return *this;
}

void ProxySettings::CopyFrom(const ProxySettings& other) {
    type = other.type;
    SetHost(other.host);
    port = other.port;
    scheme = other.scheme;
    SetCredentials(other.GetCredentials());
}

void ProxySettings::ClearProxy() {
    type = PROXY_NONE;
    free(host);
    host = nullptr;
    port = 0;
    scheme.clear();
}

void ProxySettings::Reset() {
    ClearProxy();
    SetCredentials("");
}

void ProxySettings::SetHost(const char* text) {
    hostText = text ? text : "";
    char* copy = text ? strdup(text) : nullptr;
    free(host);
    host = copy;
}

void ProxySettings::SetCredentials(const std::string& text) {
    CriticalSectionLock guard(lock);
    credentials = text;
}

std::string ProxySettings::GetCredentials() const {
    CriticalSectionLock guard(lock);
    return credentials;
}

bool ProxySettings::LoadProxySettings(const std::string& url) { return ProxyDiscovery().Finish(url, *this); }
