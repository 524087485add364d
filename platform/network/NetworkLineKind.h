// Network lines as a kind of line, all of them reaching outside:
//   tcp:HOST[:PORT]         a raw TCP client
//   telnet:HOST[:PORT]      a Telnet client, RFC 2217 when the server agrees
//   listen:[ADDRESS:]PORT   one incoming connection at a time
// in the address grammar of Address.h.
#pragma once

#include "platform/lines/ByteTransport.h"
#include "platform/lines/Clock.h"
#include "platform/lines/LineKind.h"

class NetworkLineKind final : public LineKind {
public:
    // How long a client line tries to connect before it is gone.
    static constexpr std::uint32_t kConnectTimeoutMilliseconds = 10000;

    NetworkLineKind(Network& network, Clock& clock) : network_(network), clock_(clock) {}
    bool claims(const char* name) const override;
    bool reachesOutside(const char*) const override { return true; }
    // Null for a malformed name, and when the network cannot even start
    // connecting or cannot have the address and port to listen on.
    std::unique_ptr<Line> open(const char* name) override;
    const char* name() const override { return "network"; }
    std::vector<const char*> forms() const override;

private:
    Network& network_;
    Clock& clock_;
};
