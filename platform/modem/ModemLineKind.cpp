#include "platform/modem/ModemLineKind.h"

#include "platform/modem/Modem.h"
#include "platform/network/Address.h"

namespace {
constexpr char kName[] = "modem";
constexpr std::size_t kNameLength = sizeof kName - 1;
}  // namespace

ModemLineKind::ModemLineKind(Switchboard& switchboard, Network& network, Clock& clock, std::string identity)
    : switchboard_(switchboard), network_(network), clock_(clock), identity_(std::move(identity))
{
    if (identity_.size() > kLongestIdentity) identity_.resize(kLongestIdentity);
    for (char& c : identity_)
        if (static_cast<unsigned char>(c) < ' ') c = ' ';
}

bool ModemLineKind::claims(const char* name) const
{
    return name != nullptr && startsWithWord(name, kName) && (name[kNameLength] == '\0' || name[kNameLength] == ':');
}

std::unique_ptr<Line> ModemLineKind::open(const char* name)
{
    if (!claims(name)) return nullptr;
    std::unique_ptr<Listener> listener;
    if (name[kNameLength] == ':') {
        Address address;
        if (!parseListenAddress(name + kNameLength + 1, address)) return nullptr;
        listener = network_.listen(address.host, address.port);
        if (!listener) return nullptr;
    }
    return std::make_unique<Modem>(Modem::Services{switchboard_, clock_}, std::move(listener), identity_);
}
