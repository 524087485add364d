// The modem's switchboard with the dial-up server behind it: a number whose
// phonebook value is "ppp", "slip" or "cslip", or the built-in number when
// the phonebook does not give it another value, is answered by a
// DialupSession (raw bytes, no Telnet: CONNECT at once); every other number
// and address is placed as the plain switchboard places it.
//
// lwIP holds one session at a time. A call that comes while another session
// still holds it is BUSY; a modem has one call at a time, so that does not
// happen to a guest that hangs up before it dials again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dialup/DialupSettings.h"
#include "platform/lines/ByteTransport.h"
#include "platform/lines/Clock.h"
#include "platform/modem/Switchboard.h"

namespace dialup {

// The user's phonebook, with the built-in number added: a user's entry of
// the same number wins.
class IspPhonebook final : public Phonebook {
public:
    explicit IspPhonebook(Phonebook& user) : user_(user) {}
    std::optional<std::string> lookup(const std::string& number) override;

private:
    Phonebook& user_;
};

class DialupSwitchboard final : public Switchboard {
public:
    // Each outlives the switchboard.
    struct Services {
        Network& network;
        Clock& clock;
        Phonebook& phonebook;  // the user's
        DialupSettingsSource& settings;
    };
    explicit DialupSwitchboard(Services services);

protected:
    Outcome connect(std::string_view address, std::uint32_t timeoutMilliseconds, Call& call) override;

private:
    Services services_;
    IspPhonebook numbers_;
};

}  // namespace dialup
