#include "platform/network/Rfc2217Client.h"

using namespace rfc2217;

void Rfc2217Client::send(std::uint8_t command, std::uint8_t value, TelnetBytes& out) const
{
    TelnetSession::sendSubnegotiation(kOptionComPort, command, &value, 1, out);
}

void Rfc2217Client::sendControl(bool on, std::uint8_t onValue, std::uint8_t offValue, TelnetBytes& out) const
{
    send(kSetControl, on ? onValue : offValue, out);
}

void Rfc2217Client::sendBaudRate(TelnetBytes& out) const
{
    const std::uint32_t rate = settings_.baudRate;
    const std::uint8_t value[4] = {static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
                                   static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)};
    TelnetSession::sendSubnegotiation(kOptionComPort, kSetBaudRate, value, sizeof value, out);
}

// No flow control at the server (the guest's own handshake lines travel as
// controls), the reports we want, then every setting as it stands.
void Rfc2217Client::sendAll(TelnetBytes& out) const
{
    send(kSetControl, kControlNoFlowControl, out);
    send(kSetLineStateMask, kLineStateErrors, out);
    send(kSetModemStateMask, 0xFF, out);
    sendBaudRate(out);
    send(kSetDataSize, settings_.dataSize, out);
    send(kSetParity, settings_.parity, out);
    send(kSetStopSize, settings_.stopSize, out);
    sendControl(settings_.dtr, kControlDtrOn, kControlDtrOff, out);
    sendControl(settings_.rts, kControlRtsOn, kControlRtsOff, out);
    sendControl(settings_.breakOn, kControlBreakOn, kControlBreakOff, out);
}

void Rfc2217Client::agreed(bool on, TelnetBytes& out)
{
    active_ = on;
    if (on) sendAll(out);
}

void Rfc2217Client::subnegotiation(const std::uint8_t* body, std::size_t length, TelnetBytes&)
{
    if (length < 2) return;
    switch (body[0]) {
    case kServerReply + kNotifyLineState:
        lineErrors_ |= body[1] & kLineStateErrors;
        break;
    case kServerReply + kNotifyModemState:
        modemLines_ = body[1] & kModemStateLines;
        modemLinesKnown_ = true;
        break;
    default:
        break;  // acknowledgements of what we set: the server's values are not ours to adopt
    }
}

std::uint8_t Rfc2217Client::takeLineErrors()
{
    const std::uint8_t errors = lineErrors_;
    lineErrors_ = 0;
    return errors;
}

void Rfc2217Client::setBaudRate(std::uint32_t rate, TelnetBytes& out)
{
    if (rate == settings_.baudRate) return;
    settings_.baudRate = rate;
    if (active_) sendBaudRate(out);
}

void Rfc2217Client::setFormat(std::uint8_t dataSize, std::uint8_t parity, std::uint8_t stopSize, TelnetBytes& out)
{
    const RemotePortSettings was = settings_;
    settings_.dataSize = dataSize;
    settings_.parity = parity;
    settings_.stopSize = stopSize;
    if (!active_) return;
    if (dataSize != was.dataSize) send(kSetDataSize, dataSize, out);
    if (parity != was.parity) send(kSetParity, parity, out);
    if (stopSize != was.stopSize) send(kSetStopSize, stopSize, out);
}

void Rfc2217Client::setDtr(bool on, TelnetBytes& out)
{
    if (on == settings_.dtr) return;
    settings_.dtr = on;
    if (active_) sendControl(on, kControlDtrOn, kControlDtrOff, out);
}

void Rfc2217Client::setRts(bool on, TelnetBytes& out)
{
    if (on == settings_.rts) return;
    settings_.rts = on;
    if (active_) sendControl(on, kControlRtsOn, kControlRtsOff, out);
}

void Rfc2217Client::setBreak(bool on, TelnetBytes& out)
{
    if (on == settings_.breakOn) return;
    settings_.breakOn = on;
    if (active_) sendControl(on, kControlBreakOn, kControlBreakOff, out);
}

void Rfc2217Client::purge(std::uint8_t which, TelnetBytes& out)
{
    if (active_) send(kPurgeData, which, out);
}
