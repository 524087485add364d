// Where the modem's calls go: the one place that turns what the guest dialled
// into a transport. A number the phonebook has stands for its value; a
// number it lacks reaches nobody; any other text is an address itself (the
// grammar of Address.h). The call's framing (Telnet, raw, or as the remote's
// first byte says) is the address's.
//
// connect() answers "which transport for this address" and may be overridden:
// a service inside the plug-in can take the calls to addresses of its own and
// hand the modem a transport of its own for them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/lines/ByteTransport.h"
#include "platform/modem/Phonebook.h"
#include "platform/network/Address.h"

class Switchboard {
public:
    enum class Outcome : std::uint8_t {
        Placed,
        NoSuchNumber,  // a telephone number nobody has, or a phonebook value that names no address
        Malformed,     // dialled text that is neither a number nor an address
        NoNetwork,     // not even a connect could start
    };
    struct Call {
        std::unique_ptr<ByteTransport> transport;  // connecting, or already open
        Protocol protocol = Protocol::Detect;
        std::string address;  // the phonebook's value, when a number was dialled
    };

    // Both outlive the switchboard.
    Switchboard(Network& network, Phonebook& phonebook) : network_(network), phonebook_(phonebook) {}
    virtual ~Switchboard() = default;

    // The call to what `dialled` names; a connect gives up after `timeoutMilliseconds`.
    Outcome place(std::string_view dialled, std::uint32_t timeoutMilliseconds, Call& call);

protected:
    // The transport for one address: a phonebook value or dialled text.
    virtual Outcome connect(std::string_view address, std::uint32_t timeoutMilliseconds, Call& call);

private:
    Network& network_;
    Phonebook& phonebook_;
};
