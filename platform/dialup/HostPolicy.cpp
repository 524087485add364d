#include "platform/dialup/HostPolicy.h"

#include <algorithm>

namespace dialup {

HostPolicy::HostPolicy(const DialupSettings& settings, std::vector<Ipv4Address> ownAddresses)
    : guest_(settings.guest), gateway_(settings.gateway), dns_(settings.dns), hostPorts_(settings.hostPorts),
      own_(std::move(ownAddresses))
{
}

bool HostPolicy::hostPortOpen(std::uint16_t port) const
{
    return std::find(hostPorts_.begin(), hostPorts_.end(), port) != hostPorts_.end();
}

bool HostPolicy::closed(Ipv4Address address) const
{
    const unsigned first = address >> 24;
    if (first == 0 || first == 127 || first >= 224) return true;
    if (address == guest_ || address == gateway_ || address == dns_) return true;
    return std::find(own_.begin(), own_.end(), address) != own_.end();
}

std::optional<Endpoint> HostPolicy::outbound(Endpoint to) const
{
    if (to.port == 0) return std::nullopt;
    if (to.address == gateway_) {
        if (hostPortOpen(to.port)) return Endpoint{kLoopback, to.port};
        return std::nullopt;
    }
    if (closed(to.address)) return std::nullopt;
    return to;
}

std::optional<Endpoint> HostPolicy::inbound(Endpoint from) const
{
    if (from.port == 0) return std::nullopt;
    if (from.address == kLoopback) {
        if (hostPortOpen(from.port)) return Endpoint{gateway_, from.port};
        return std::nullopt;
    }
    if (closed(from.address)) return std::nullopt;
    return from;
}

}  // namespace dialup
