// The hardware address written into the container header.
#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <climits>

#include "driver/container.h"

#if defined(__linux__)
#include <linux/if_packet.h>
#elif defined(__APPLE__)
#include <net/if_dl.h>
#endif

namespace vendrak {

// The first network interface in interface-index order that is not a loopback
// interface and has a six-byte address that is not all zeros.
std::array<uint8_t, 6> host_mac_address() {
    std::array<uint8_t, 6> best{};
    unsigned best_index = UINT_MAX;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return best;
    for (ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_addr == nullptr || (ifa->ifa_flags & IFF_LOOPBACK)) continue;
        const uint8_t* address = nullptr;
        unsigned index = 0;
#if defined(__linux__)
        if (ifa->ifa_addr->sa_family != AF_PACKET) continue;
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(ifa->ifa_addr);
        if (ll->sll_halen != 6) continue;
        address = ll->sll_addr;
        index = static_cast<unsigned>(ll->sll_ifindex);
#elif defined(__APPLE__)
        if (ifa->ifa_addr->sa_family != AF_LINK) continue;
        const auto* dl = reinterpret_cast<const sockaddr_dl*>(ifa->ifa_addr);
        if (dl->sdl_alen != 6) continue;
        address = reinterpret_cast<const uint8_t*>(LLADDR(dl));
        index = dl->sdl_index;
#endif
        if (address == nullptr || std::all_of(address, address + 6, [](uint8_t b) { return b == 0; })) continue;
        if (index < best_index) {
            best_index = index;
            std::copy(address, address + 6, best.begin());
        }
    }
    freeifaddrs(list);
    return best;
}

}  // namespace vendrak
