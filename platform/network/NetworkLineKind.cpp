#include "platform/network/NetworkLineKind.h"

#include "platform/network/LineName.h"
#include "platform/network/StreamLine.h"
#include "platform/network/TelnetLine.h"

bool NetworkLineKind::claims(const char* name) const { return isNetworkLineName(name); }

bool NetworkLineKind::reachesOutside(const char*) const { return true; }

std::unique_ptr<Line> NetworkLineKind::open(const char* name)
{
    NetworkLineName parsed;
    if (!parseNetworkLineName(name, parsed)) return nullptr;
    if (parsed.kind == NetworkLineName::Kind::Listen) {
        std::unique_ptr<Listener> listener = network_.listen(parsed.host, parsed.port);
        if (!listener) return nullptr;
        return std::make_unique<StreamLine>(std::move(listener), clock_);
    }
    std::unique_ptr<ByteTransport> transport = network_.connect(parsed.host, parsed.port);
    if (!transport) return nullptr;
    if (parsed.kind == NetworkLineName::Kind::Telnet) return std::make_unique<TelnetLine>(std::move(transport), clock_);
    return std::make_unique<StreamLine>(std::move(transport), clock_);
}
