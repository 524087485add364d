#include "platform/network/TelnetSession.h"

#include <cstring>

using namespace telnet;

namespace {
constexpr std::uint8_t kCarriageReturn = 13;

void put(TelnetBytes& out, std::uint8_t verb, std::uint8_t code)
{
    out.push_back(kIac);
    out.push_back(verb);
    out.push_back(code);
}

void putEscaped(TelnetBytes& out, std::uint8_t byte)
{
    out.push_back(byte);
    if (byte == kIac) out.push_back(kIac);
}
}  // namespace

TelnetSession::TelnetSession(Role role) : role_(role) {}

void TelnetSession::addOption(TelnetOption& option) { options_.push_back(&option); }

void TelnetSession::start(Start how, TelnetBytes& out)
{
    if (how == Start::Passive) {
        mode_ = Mode::Undecided;
        return;
    }
    mode_ = Mode::Telnet;
    offer(out);
}

// Binary both ways, a server's echo and go-ahead suppression, and the added
// options. Each offer is remembered, so that the peer's agreement is not
// answered again.
void TelnetSession::offer(TelnetBytes& out)
{
    put(out, kWill, kOptionBinary);
    put(out, kDo, kOptionBinary);
    weOffered_[kOptionBinary] = weAsked_[kOptionBinary] = true;
    if (role_ == Role::Server) {
        for (std::uint8_t code : {kOptionSuppressGoAhead, kOptionEcho}) {
            put(out, kWill, code);
            weOffered_[code] = true;
        }
    }
    for (TelnetOption* option : options_) {
        put(out, kWill, option->code());
        weOffered_[option->code()] = true;
    }
}

TelnetOption* TelnetSession::added(std::uint8_t code) const
{
    for (TelnetOption* option : options_)
        if (option->code() == code) return option;
    return nullptr;
}

bool TelnetSession::weDo(std::uint8_t code) const
{
    return code == kOptionBinary || code == kOptionSuppressGoAhead || (code == kOptionEcho && role_ == Role::Server) ||
           added(code) != nullptr;
}

bool TelnetSession::theyMay(std::uint8_t code) const
{
    return code == kOptionBinary || code == kOptionSuppressGoAhead || (code == kOptionEcho && role_ == Role::Client);
}

std::size_t TelnetSession::receive(const std::uint8_t* in, std::size_t length, std::uint8_t* data, TelnetBytes& out)
{
    if (mode_ == Mode::Undecided && length > 0) {
        // A peer that speaks Telnet starts with a command; one that does not
        // never will, and its bytes are data, 0xFF included.
        mode_ = in[0] == kIac ? Mode::Telnet : Mode::Raw;
        if (mode_ == Mode::Telnet) offer(out);
    }
    if (mode_ != Mode::Telnet) {
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
                if (!subOverflow_) subnegotiation(out);
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

void TelnetSession::command(std::uint8_t byte, std::uint8_t* data, std::size_t& produced)
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

void TelnetSession::keepSubByte(std::uint8_t byte)
{
    if (subLength_ < kMaxSubnegotiation)
        sub_[subLength_++] = byte;
    else
        subOverflow_ = true;
}

// Only a change of state is answered, and an answer to our own request is
// not answered again: so two sides never bounce an option back and forth.
void TelnetSession::option(std::uint8_t verb, std::uint8_t code, TelnetBytes& out)
{
    TelnetOption* extra = added(code);
    switch (verb) {
    case kDo:
        if (ourSide_[code]) break;
        if (weDo(code)) {
            ourSide_[code] = true;
            if (!weOffered_[code]) put(out, kWill, code);
            weOffered_[code] = false;
            if (extra) extra->agreed(true, out);
        } else {
            put(out, kWont, code);
        }
        break;
    case kDont:
        if (ourSide_[code]) {
            ourSide_[code] = false;
            put(out, kWont, code);
            if (extra) extra->agreed(false, out);
        }
        weOffered_[code] = false;
        break;
    case kWill:
        if (theirSide_[code]) break;
        if (theyMay(code)) {
            theirSide_[code] = true;
            if (!weAsked_[code]) put(out, kDo, code);
            weAsked_[code] = false;
        } else {
            put(out, kDont, code);
        }
        break;
    case kWont:
        if (theirSide_[code]) {
            theirSide_[code] = false;
            put(out, kDont, code);
        }
        weAsked_[code] = false;
        break;
    }
}

void TelnetSession::subnegotiation(TelnetBytes& out)
{
    if (subLength_ == 0) return;
    TelnetOption* extra = added(sub_[0]);
    if (extra && ourSide_[sub_[0]]) extra->subnegotiation(sub_ + 1, subLength_ - 1, out);
}

void TelnetSession::sendData(std::uint8_t byte, TelnetBytes& out) const
{
    if (mode_ != Mode::Telnet) {
        out.push_back(byte);
        return;
    }
    putEscaped(out, byte);
    if (byte == kCarriageReturn && !ourSide_[kOptionBinary]) out.push_back(0);
}

void TelnetSession::sendSubnegotiation(std::uint8_t option, std::uint8_t command, const std::uint8_t* value,
                                       std::size_t length, TelnetBytes& out)
{
    put(out, kSb, option);
    putEscaped(out, command);
    for (std::size_t i = 0; i < length; ++i) putEscaped(out, value[i]);
    out.push_back(kIac);
    out.push_back(kSe);
}
