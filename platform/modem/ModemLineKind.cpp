#include "platform/modem/ModemLineKind.h"

#include <cstring>

#include "platform/modem/Modem.h"
#include "platform/network/LineName.h"

namespace {
constexpr char kName[] = "modem";
constexpr std::size_t kNameLength = sizeof kName - 1;

bool startsWithName(const char* name)
{
    for (std::size_t i = 0; i < kNameLength; ++i)
        if (name[i] == '\0' || (name[i] | 0x20) != kName[i]) return false;
    return true;
}
}  // namespace

bool ModemLineKind::claims(const char* name) const
{
    return name != nullptr && startsWithName(name) && (name[kNameLength] == '\0' || name[kNameLength] == ':');
}

std::unique_ptr<Line> ModemLineKind::open(const char* name)
{
    if (!claims(name)) return nullptr;
    std::unique_ptr<Listener> listener;
    if (name[kNameLength] == ':') {
        // The port to answer on is written as a listening line's.
        NetworkLineName address;
        if (!parseNetworkLineName(("listen" + std::string(name + kNameLength)).c_str(), address)) return nullptr;
        listener = network_.listen(address.host, address.port);
        if (!listener) return nullptr;
    }
    return std::make_unique<Modem>(Modem::Services{network_, clock_, phonebook_}, std::move(listener), identity_);
}
