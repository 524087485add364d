#include "platform/dialup/DialupSwitchboard.h"

#include <memory>

#include "platform/dialup/DialupSession.h"

namespace dialup {
namespace {
// The server's line while lwIP still serves another call: BUSY.
class Engaged final : public ByteTransport {
public:
    TransportState state() override { return TransportState::Closed; }
    ConnectFailure failure() const override { return ConnectFailure::Refused; }
    std::size_t receive(std::uint8_t*, std::size_t) override { return 0; }
    std::size_t send(const std::uint8_t*, std::size_t) override { return 0; }
};
}  // namespace

std::optional<std::string> IspPhonebook::lookup(const std::string& number)
{
    std::optional<std::string> value = user_.lookup(number);
    if (!value && number == kBuiltInNumber) value = "ppp";
    return value;
}

// The base keeps a reference to the phonebook and asks it only when a call
// is placed, by when the member it names has been made.
DialupSwitchboard::DialupSwitchboard(Services services)
    : Switchboard(services.network, numbers_), services_(services), numbers_(services.phonebook)
{
}

Switchboard::Outcome DialupSwitchboard::connect(std::string_view address, std::uint32_t timeoutMilliseconds,
                                                Call& call)
{
    const std::optional<Service> service = serviceForPhonebookValue(address);
    if (!service) return Switchboard::connect(address, timeoutMilliseconds, call);
    std::unique_ptr<DialupSession> session =
        DialupSession::start({services_.network, services_.clock}, services_.settings.read(), *service);
    if (session)
        call.transport = std::move(session);
    else
        call.transport = std::make_unique<Engaged>();
    call.protocol = Protocol::Raw;
    return Outcome::Placed;
}

}  // namespace dialup
