#include "platform/network/TelnetCodec.h"

#include <cstring>

using namespace telnet;

namespace {
constexpr std::uint8_t kCarriageReturn = 13;

void put(std::vector<std::uint8_t>& out, std::uint8_t a, std::uint8_t b, std::uint8_t c)
{
    out.push_back(a);
    out.push_back(b);
    out.push_back(c);
}
}  // namespace

TelnetCodec::TelnetCodec(Protocol protocol) : protocol_(protocol) {}

void TelnetCodec::start(std::vector<std::uint8_t>& out)
{
    if (protocol_ != Protocol::Telnet) return;
    put(out, kIac, kWill, kOptionBinary);
    put(out, kIac, kDo, kOptionBinary);
    put(out, kIac, kWill, kOptionComPort);
    weOffered_[kOptionBinary] = true;
    weAsked_[kOptionBinary] = true;
    weOffered_[kOptionComPort] = true;
}

bool TelnetCodec::weAccept(std::uint8_t code) const
{
    return code == kOptionBinary || code == kOptionSuppressGoAhead || code == kOptionComPort;
}

bool TelnetCodec::theyMay(std::uint8_t code) const
{
    return code == kOptionBinary || code == kOptionSuppressGoAhead || code == kOptionEcho;
}

std::size_t TelnetCodec::receive(const std::uint8_t* in, std::size_t length, std::uint8_t* data,
                                 std::vector<std::uint8_t>& out)
{
    if (protocol_ == Protocol::Raw) {
        if (length > 0) std::memcpy(data, in, length);
        return length;
    }
    std::size_t produced = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t byte = in[i];
        switch (state_) {
        case State::Data:
        case State::DataAfterCr:
            if (byte == kIac) {
                state_ = State::Iac;
            } else if (state_ == State::DataAfterCr && byte == 0) {
                // Outside binary mode a bare CR travels as CR NUL.
                state_ = State::Data;
            } else {
                data[produced++] = byte;
                state_ = (byte == kCarriageReturn && !theirSide_[kOptionBinary]) ? State::DataAfterCr : State::Data;
            }
            break;
        case State::Iac:
            command(byte, data, produced);
            break;
        case State::Option:
            option(verb_, byte, out);
            state_ = State::Data;
            break;
        case State::Sub:
            if (byte == kIac) {
                state_ = State::SubIac;
            } else {
                keepSubByte(byte);
            }
            break;
        case State::SubIac:
            if (byte == kIac) {
                keepSubByte(kIac);
                state_ = State::Sub;
            } else if (byte == kSe) {
                if (!subOverflow_) subnegotiation();
                state_ = State::Data;
            } else {
                // A command inside a subnegotiation: the subnegotiation was
                // cut short. Drop it and take the command as it stands.
                command(byte, data, produced);
            }
            break;
        }
    }
    return produced;
}

void TelnetCodec::command(std::uint8_t byte, std::uint8_t* data, std::size_t& produced)
{
    if (byte == kIac) {
        data[produced++] = kIac;
        state_ = State::Data;
    } else if (byte >= kWill && byte <= kDont) {
        verb_ = byte;
        state_ = State::Option;
    } else if (byte == kSb) {
        subLength_ = 0;
        subOverflow_ = false;
        state_ = State::Sub;
    } else {
        state_ = State::Data;  // NOP, GA, AYT and the like carry nothing for us
    }
}

void TelnetCodec::keepSubByte(std::uint8_t byte)
{
    if (subLength_ < kMaxSubnegotiation)
        sub_[subLength_++] = byte;
    else
        subOverflow_ = true;
}

void TelnetCodec::option(std::uint8_t verb, std::uint8_t code, std::vector<std::uint8_t>& out)
{
    switch (verb) {
    case kDo:
        if (ourSide_[code]) break;
        if (weAccept(code)) {
            ourSide_[code] = true;
            if (!weOffered_[code]) put(out, kIac, kWill, code);
            weOffered_[code] = false;
            if (code == kOptionComPort) {
                comPortActive_ = true;
                sendAllSettings(out);
            }
        } else {
            put(out, kIac, kWont, code);
        }
        break;
    case kDont:
        if (ourSide_[code]) {
            ourSide_[code] = false;
            put(out, kIac, kWont, code);
            if (code == kOptionComPort) comPortActive_ = false;
        }
        weOffered_[code] = false;
        break;
    case kWill:
        if (theirSide_[code]) break;
        if (theyMay(code)) {
            theirSide_[code] = true;
            if (!weAsked_[code]) put(out, kIac, kDo, code);
            weAsked_[code] = false;
        } else {
            put(out, kIac, kDont, code);
        }
        break;
    case kWont:
        if (theirSide_[code]) {
            theirSide_[code] = false;
            put(out, kIac, kDont, code);
        }
        weAsked_[code] = false;
        break;
    }
}

void TelnetCodec::subnegotiation()
{
    if (subLength_ < 3 || sub_[0] != kOptionComPort || !comPortActive_) return;
    const std::uint8_t value = sub_[2];
    switch (sub_[1]) {
    case kServerReply + kNotifyLineState:
        lineErrors_ |= value & kLineStateErrors;
        break;
    case kServerReply + kNotifyModemState:
        modemLines_ = value & kModemStateLines;
        modemLinesKnown_ = true;
        break;
    default:
        break;  // acknowledgements of what we set: the server's values are not ours to adopt
    }
}

std::uint8_t TelnetCodec::takeLineErrors()
{
    const std::uint8_t errors = lineErrors_;
    lineErrors_ = 0;
    return errors;
}

void TelnetCodec::sendData(std::uint8_t byte, std::vector<std::uint8_t>& out) const
{
    out.push_back(byte);
    if (protocol_ != Protocol::Telnet) return;
    if (byte == kIac) {
        out.push_back(kIac);
    } else if (byte == kCarriageReturn && !ourSide_[kOptionBinary]) {
        out.push_back(0);
    }
}

void TelnetCodec::sendComPort(std::uint8_t command, const std::uint8_t* value, std::size_t length,
                              std::vector<std::uint8_t>& out) const
{
    put(out, kIac, kSb, kOptionComPort);
    out.push_back(command);
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(value[i]);
        if (value[i] == kIac) out.push_back(kIac);
    }
    out.push_back(kIac);
    out.push_back(kSe);
}

void TelnetCodec::sendAllSettings(std::vector<std::uint8_t>& out) const
{
    const std::uint8_t noFlowControl = kControlNoFlowControl;
    sendComPort(kSetControl, &noFlowControl, 1, out);
    const std::uint8_t errors = kLineStateErrors;
    sendComPort(kSetLineStateMask, &errors, 1, out);
    const std::uint8_t allModemState = 0xFF;
    sendComPort(kSetModemStateMask, &allModemState, 1, out);
    const std::uint8_t rate[4] = {static_cast<std::uint8_t>(settings_.baudRate >> 24),
                                  static_cast<std::uint8_t>(settings_.baudRate >> 16),
                                  static_cast<std::uint8_t>(settings_.baudRate >> 8),
                                  static_cast<std::uint8_t>(settings_.baudRate)};
    sendComPort(kSetBaudRate, rate, 4, out);
    sendComPort(kSetDataSize, &settings_.dataSize, 1, out);
    sendComPort(kSetParity, &settings_.parity, 1, out);
    sendComPort(kSetStopSize, &settings_.stopSize, 1, out);
    const std::uint8_t dtr = settings_.dtr ? kControlDtrOn : kControlDtrOff;
    sendComPort(kSetControl, &dtr, 1, out);
    const std::uint8_t rts = settings_.rts ? kControlRtsOn : kControlRtsOff;
    sendComPort(kSetControl, &rts, 1, out);
    const std::uint8_t breakState = settings_.breakOn ? kControlBreakOn : kControlBreakOff;
    sendComPort(kSetControl, &breakState, 1, out);
}

void TelnetCodec::setBaudRate(std::uint32_t rate, std::vector<std::uint8_t>& out)
{
    if (rate == settings_.baudRate) return;
    settings_.baudRate = rate;
    if (!comPortActive_) return;
    const std::uint8_t value[4] = {static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
                                   static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)};
    sendComPort(kSetBaudRate, value, 4, out);
}

void TelnetCodec::setFormat(std::uint8_t dataSize, std::uint8_t parity, std::uint8_t stopSize,
                            std::vector<std::uint8_t>& out)
{
    const bool sizeChanged = dataSize != settings_.dataSize;
    const bool parityChanged = parity != settings_.parity;
    const bool stopChanged = stopSize != settings_.stopSize;
    settings_.dataSize = dataSize;
    settings_.parity = parity;
    settings_.stopSize = stopSize;
    if (!comPortActive_) return;
    if (sizeChanged) sendComPort(kSetDataSize, &dataSize, 1, out);
    if (parityChanged) sendComPort(kSetParity, &parity, 1, out);
    if (stopChanged) sendComPort(kSetStopSize, &stopSize, 1, out);
}

void TelnetCodec::setDtr(bool on, std::vector<std::uint8_t>& out)
{
    if (on == settings_.dtr) return;
    settings_.dtr = on;
    const std::uint8_t value = on ? kControlDtrOn : kControlDtrOff;
    if (comPortActive_) sendComPort(kSetControl, &value, 1, out);
}

void TelnetCodec::setRts(bool on, std::vector<std::uint8_t>& out)
{
    if (on == settings_.rts) return;
    settings_.rts = on;
    const std::uint8_t value = on ? kControlRtsOn : kControlRtsOff;
    if (comPortActive_) sendComPort(kSetControl, &value, 1, out);
}

void TelnetCodec::setBreak(bool on, std::vector<std::uint8_t>& out)
{
    if (on == settings_.breakOn) return;
    settings_.breakOn = on;
    const std::uint8_t value = on ? kControlBreakOn : kControlBreakOff;
    if (comPortActive_) sendComPort(kSetControl, &value, 1, out);
}

void TelnetCodec::purge(std::uint8_t which, std::vector<std::uint8_t>& out)
{
    if (comPortActive_) sendComPort(kPurgeData, &which, 1, out);
}
