#include "platform/network/TelnetLine.h"

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
}  // namespace

TelnetLine::TelnetLine(std::unique_ptr<ByteTransport> connecting, Clock& clock)
    : StreamLine(std::move(connecting), clock)
{
    session_.addOption(comPort_);
}

std::uint32_t TelnetLine::features() const { return kLineHasFormat | kLineHasControls | kLineHasBreak; }

bool TelnetLine::setFormat(const LineFormat& format)
{
    if (!usable()) return false;
    format_ = format;
    comPort_.setBaudRate(format.rate, output());
    comPort_.setFormat(format.dataBits, parityCode(format.parity), stopSizeCode(format.stopBits), output());
    return true;
}

bool TelnetLine::setRate(std::uint32_t rate)
{
    if (!usable()) return false;
    format_.rate = rate;
    comPort_.setBaudRate(rate, output());
    return true;
}

bool TelnetLine::readFormat(LineFormat& format)
{
    if (!usable()) return false;
    format = format_;
    return true;
}

bool TelnetLine::setControl(Control control, bool on)
{
    if (!usable()) return false;
    switch (control) {
    case Control::Dtr: comPort_.setDtr(on, output()); break;
    case Control::Rts: comPort_.setRts(on, output()); break;
    case Control::Break: comPort_.setBreak(on, output()); break;
    }
    return true;
}

// The remote port's own buffers are purged by request.
void TelnetLine::discard()
{
    StreamLine::discard();
    comPort_.purge(rfc2217::kPurgeBoth, output());
}

void TelnetLine::greet(std::vector<std::uint8_t>& out) { session_.start(TelnetSession::Start::Offering, out); }

std::size_t TelnetLine::decode(const std::uint8_t* in, std::size_t length, std::uint8_t* data,
                               std::vector<std::uint8_t>& out)
{
    return session_.receive(in, length, data, out);
}

void TelnetLine::encode(std::uint8_t byte, std::vector<std::uint8_t>& out) { session_.sendData(byte, out); }

bool TelnetLine::remoteInputs(ModemInputs& inputs)
{
    if (!comPort_.active() || !comPort_.modemLinesKnown()) return false;
    const std::uint8_t lines = comPort_.modemLines();
    inputs.cts = (lines & rfc2217::kModemStateCts) != 0;
    inputs.dsr = (lines & rfc2217::kModemStateDsr) != 0;
    inputs.ring = (lines & rfc2217::kModemStateRing) != 0;
    inputs.dcd = (lines & rfc2217::kModemStateCd) != 0;
    return true;
}

std::uint8_t TelnetLine::takeRemoteErrors()
{
    const std::uint8_t reported = comPort_.takeLineErrors();
    std::uint8_t errors = 0;
    if (reported & rfc2217::kLineStateOverrun) errors |= kLineErrorOverrun;
    if (reported & rfc2217::kLineStateParity) errors |= kLineErrorParity;
    if (reported & rfc2217::kLineStateFraming) errors |= kLineErrorFraming;
    return errors;
}
