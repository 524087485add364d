#include "platform/network/NetworkLineKind.h"

#include "platform/network/Address.h"
#include "platform/network/NetworkLine.h"

namespace {
constexpr char kListen[] = "listen:";

struct Form {
    const char* prefix;
    const char* form;
};
const Form kForms[] = {
    {"tcp:", "tcp:HOST[:PORT]"},
    {"telnet:", "telnet:HOST[:PORT]"},
    {kListen, "listen:[ADDRESS:]PORT"},
};
}  // namespace

bool NetworkLineKind::claims(const char* name) const
{
    for (const Form& form : kForms)
        if (name != nullptr && startsWithWord(name, form.prefix)) return true;
    return false;
}

std::vector<const char*> NetworkLineKind::forms() const
{
    std::vector<const char*> forms;
    for (const Form& form : kForms) forms.push_back(form.form);
    return forms;
}

std::unique_ptr<Line> NetworkLineKind::open(const char* name)
{
    Address address;
    if (name != nullptr && startsWithWord(name, kListen)) {
        if (!parseListenAddress(name + sizeof kListen - 1, address)) return nullptr;
        std::unique_ptr<Listener> listener = network_.listen(address.host, address.port);
        if (!listener) return nullptr;
        return std::make_unique<NetworkLine>(std::move(listener), clock_);
    }
    if (!claims(name) || !parseCallAddress(name, address)) return nullptr;
    std::unique_ptr<ByteTransport> transport =
        network_.connect(address.host, address.port, kConnectTimeoutMilliseconds);
    if (!transport) return nullptr;
    const NetworkLine::Kind kind = address.protocol == Protocol::Telnet ? NetworkLine::Kind::Telnet
                                                                         : NetworkLine::Kind::Tcp;
    return std::make_unique<NetworkLine>(kind, std::move(transport), kConnectTimeoutMilliseconds * 1000ull, clock_);
}
