// Where the guest may go. It reaches what this computer reaches, except this
// computer itself: its loopback, its own addresses, and the addresses no
// datagram should leave for (0.x, multicast, broadcast, reserved), since a
// guest runs old and untrusted software. The ports the settings open are
// reached at the gateway's address, as 127.0.0.1 on this computer.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/dialup/DialupSettings.h"

namespace dialup {

struct Endpoint {
    Ipv4Address address = 0;
    std::uint16_t port = 0;
    bool operator==(const Endpoint& other) const { return address == other.address && port == other.port; }
};

constexpr Ipv4Address kLoopback = 0x7f000001;

class HostPolicy {
public:
    HostPolicy(const DialupSettings& settings, std::vector<Ipv4Address> ownAddresses);

    // Where a guest's connection or datagram for `to` goes on the host's
    // network; nothing when it may not go there.
    std::optional<Endpoint> outbound(Endpoint to) const;
    // As whom a datagram from `from` on the host's network reaches the guest;
    // nothing when the guest is not to hear from it.
    std::optional<Endpoint> inbound(Endpoint from) const;

private:
    bool hostPortOpen(std::uint16_t port) const;
    bool closed(Ipv4Address address) const;

    Ipv4Address guest_;
    Ipv4Address gateway_;
    Ipv4Address dns_;
    std::vector<std::uint16_t> hostPorts_;
    std::vector<Ipv4Address> own_;
};

}  // namespace dialup
