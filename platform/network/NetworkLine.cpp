#include "platform/network/NetworkLine.h"

namespace {
std::uint8_t parityCode(Parity parity)
{
    switch (parity) {
    case Parity::Odd: return rfc2217::kParityOdd;
    case Parity::Even: return rfc2217::kParityEven;
    case Parity::Mark: return rfc2217::kParityMark;
    case Parity::Space: return rfc2217::kParitySpace;
    case Parity::None: break;
    }
    return rfc2217::kParityNone;
}

std::uint8_t stopSizeCode(StopBits stopBits)
{
    switch (stopBits) {
    case StopBits::OneAndHalf: return rfc2217::kStopOneAndHalf;
    case StopBits::Two: return rfc2217::kStopTwo;
    case StopBits::One: break;
    }
    return rfc2217::kStopOne;
}

// What no serial port takes (a save block may hold anything) is refused, as
// a port's driver refuses it: the remote port is never asked for it.
bool serialPortTakes(const LineFormat& format)
{
    return format.rate != 0 && format.dataBits >= 5 && format.dataBits <= 8 &&
           static_cast<unsigned>(format.parity) <= 4 && static_cast<unsigned>(format.stopBits) <= 2;
}
}  // namespace

NetworkLine::NetworkLine(Kind kind, std::unique_ptr<ByteTransport> connecting, std::uint64_t timeoutMicroseconds,
                         Clock& clock)
    : kind_(kind), connection_(clock)
{
    Connection::Framing framing;
    if (kind == Kind::Telnet) framing = {Protocol::Telnet, TelnetSession::Role::Client, &comPort_};
    connection_.dial(std::move(connecting), framing, timeoutMicroseconds);
}

NetworkLine::NetworkLine(std::unique_ptr<Listener> listener, Clock& clock) : kind_(Kind::Listen), connection_(clock)
{
    connection_.answerCallers(std::move(listener), Connection::Framing{});
}

std::uint32_t NetworkLine::features() const
{
    return kind_ == Kind::Telnet ? kLineHasFormat | kLineHasControls | kLineHasBreak : 0;
}

// A listener waits for its next caller; a client whose call has ended, or
// never came about, is gone for good.
LineState NetworkLine::state()
{
    switch (connection_.state()) {
    case Connection::State::Connected: return LineState::Open;
    case Connection::State::Idle: return kind_ == Kind::Listen ? LineState::Connecting : LineState::Gone;
    case Connection::State::Ringing:
    case Connection::State::Connecting: break;
    }
    return LineState::Connecting;
}

bool NetworkLine::setFormat(const LineFormat& format)
{
    if (!usable() || !serialPortTakes(format)) return false;
    format_ = format;
    comPort_.setBaudRate(format.rate, connection_.output());
    comPort_.setFormat(format.dataBits, parityCode(format.parity), stopSizeCode(format.stopBits),
                       connection_.output());
    return true;
}

bool NetworkLine::setRate(std::uint32_t rate)
{
    if (!usable() || rate == 0) return false;
    format_.rate = rate;
    comPort_.setBaudRate(rate, connection_.output());
    return true;
}

bool NetworkLine::readFormat(LineFormat& format)
{
    if (!usable()) return false;
    format = format_;
    return true;
}

bool NetworkLine::setControl(Control control, bool on)
{
    if (!usable()) return false;
    switch (control) {
    case Control::Dtr: comPort_.setDtr(on, connection_.output()); break;
    case Control::Rts: comPort_.setRts(on, connection_.output()); break;
    case Control::Break: comPort_.setBreak(on, connection_.output()); break;
    }
    return true;
}

bool NetworkLine::readInputs(ModemInputs& inputs)
{
    inputs = ModemInputs{false, false, false, false};
    if (connection_.state() != Connection::State::Connected) return true;
    // The far end's own report once there is one; until then its lines are
    // taken to be on, or a far end that never reports would never let a byte through.
    if (comPort_.active() && comPort_.modemLinesKnown()) {
        const std::uint8_t lines = comPort_.modemLines();
        inputs.cts = (lines & rfc2217::kModemStateCts) != 0;
        inputs.dsr = (lines & rfc2217::kModemStateDsr) != 0;
        inputs.ring = (lines & rfc2217::kModemStateRing) != 0;
        inputs.dcd = (lines & rfc2217::kModemStateCd) != 0;
    } else {
        inputs = ModemInputs{true, true, false, true};
    }
    if (!connection_.takesData()) inputs.cts = false;
    return true;
}

bool NetworkLine::pollErrors(std::uint8_t& errors, std::uint32_t& waiting)
{
    const std::uint8_t reported = comPort_.takeLineErrors();
    errors = 0;
    if (reported & rfc2217::kLineStateOverrun) errors |= kLineErrorOverrun;
    if (reported & rfc2217::kLineStateParity) errors |= kLineErrorParity;
    if (reported & rfc2217::kLineStateFraming) errors |= kLineErrorFraming;
    waiting = static_cast<std::uint32_t>(connection_.waiting(true));
    return true;
}

bool NetworkLine::readByte(std::uint8_t& byte) { return connection_.readByte(byte, true); }

// Only a connected line takes bytes; with CTS off the guest holds them.
bool NetworkLine::writeByte(std::uint8_t byte)
{
    if (connection_.state() != Connection::State::Connected) return false;
    connection_.sendData(byte);
    return true;
}

void NetworkLine::discard()
{
    connection_.discardData();
    if (kind_ == Kind::Telnet && connection_.state() == Connection::State::Connected)
        comPort_.purge(rfc2217::kPurgeBoth, connection_.output());
}
