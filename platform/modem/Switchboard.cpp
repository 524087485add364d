#include "platform/modem/Switchboard.h"

#include <optional>
#include <string>

Switchboard::Outcome Switchboard::place(std::string_view dialled, std::uint32_t timeoutMilliseconds, Call& call)
{
    const std::string key = phonebookKey(dialled);
    const std::optional<std::string> entry = key.empty() ? std::nullopt : phonebook_.lookup(key);
    if (entry) {
        call.address = *entry;
        const Outcome outcome = connect(*entry, timeoutMilliseconds, call);
        return outcome == Outcome::Malformed ? Outcome::NoSuchNumber : outcome;
    }
    if (dialled.empty() || isTelephoneNumber(dialled)) return Outcome::NoSuchNumber;
    return connect(dialled, timeoutMilliseconds, call);
}

Switchboard::Outcome Switchboard::connect(std::string_view address, std::uint32_t timeoutMilliseconds, Call& call)
{
    Address parsed;
    if (!parseCallAddress(address, parsed)) return Outcome::Malformed;
    call.transport = network_.connect(parsed.host, parsed.port, timeoutMilliseconds);
    if (!call.transport) return Outcome::NoNetwork;
    call.protocol = parsed.protocol;
    return Outcome::Placed;
}
