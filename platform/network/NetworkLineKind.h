// Network lines as a kind of line: the names tcp:, telnet: and listen: (see
// LineName.h), opened over the network, all of them reaching outside.
#pragma once

#include "platform/lines/ByteTransport.h"
#include "platform/lines/Clock.h"
#include "platform/lines/LineKind.h"

class NetworkLineKind final : public LineKind {
public:
    NetworkLineKind(Network& network, Clock& clock) : network_(network), clock_(clock) {}
    bool claims(const char* name) const override;
    bool reachesOutside(const char* name) const override;
    // Null for a malformed name, and when the network cannot even start
    // connecting or cannot have the address and port to listen on.
    std::unique_ptr<Line> open(const char* name) override;

private:
    Network& network_;
    Clock& clock_;
};
