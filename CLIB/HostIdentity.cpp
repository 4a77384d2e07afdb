#include "HostIdentity.h"

#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "UniqueFd.h"

bool GetMacAddress(char* out) {
    UniqueFd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0) return false;

    struct ifreq records[32];
    struct ifconf conf;
    memset(records, 0, sizeof records);
    conf.ifc_len = sizeof records;
    conf.ifc_req = records;
    if (ioctl(sock.get(), SIOCGIFCONF, &conf) != 0) return false;

    const size_t listed = static_cast<size_t>(conf.ifc_len) / sizeof(struct ifreq);
    for (size_t i = 0; i < listed && i < sizeof records / sizeof records[0]; ++i) {
        struct ifreq req;
        memset(&req, 0, sizeof req);
        memcpy(req.ifr_name, records[i].ifr_name, sizeof req.ifr_name);
        if (ioctl(sock.get(), SIOCGIFFLAGS, &req) != 0 || (req.ifr_flags & IFF_LOOPBACK)) continue;
        if (ioctl(sock.get(), SIOCGIFHWADDR, &req) != 0) continue;
        char text[19];
        size_t used = 0;
        for (int b = 0; b < 6; ++b) {
            unsigned char byte = static_cast<unsigned char>(req.ifr_hwaddr.sa_data[b]);
            used += static_cast<size_t>(snprintf(text + used, sizeof text - used, "%2.2x:", byte));
        }
        memcpy(out, text, sizeof text);
        return true;
    }
    return false;
}
