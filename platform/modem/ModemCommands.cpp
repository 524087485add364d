// The AT interpreter: command lines as the guest types them, and the commands.
//
// What a command does here falls in three groups:
//  - commands with a meaning for a modem on TCP do it (A, D, E, H, I, O, Q,
//    S, V, X, Z, &C, &D, &F, &K, &V);
//  - commands that real init strings carry for a telephone modem's speaker,
//    modulation, error correction, compression or stored profiles have
//    nothing to do here and answer OK, so that those strings work as they
//    are (kInert below);
//  - anything else, or a value out of its range, answers ERROR, as a real
//    modem of the kind answers a command it does not have (the Windows
//    dialer's AT%V probe must fail).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/modem/Modem.h"

namespace {
struct CommandRange {
    char prefix;
    char letter;
    unsigned largest;  // the highest value it takes
};

// The commands that act here (basic() and ampersand() do them), with the
// highest value each takes; a larger one answers ERROR.
constexpr CommandRange kActing[] = {
    {0, 'A', 0}, {0, 'E', 1}, {0, 'H', 1}, {0, 'I', 9}, {0, 'O', 1}, {0, 'Q', 1}, {0, 'V', 1}, {0, 'X', 4},
    {0, 'Z', 1}, {'&', 'C', 1}, {'&', 'D', 3}, {'&', 'F', 2}, {'&', 'K', 6}, {'&', 'V', 0},
};

constexpr CommandRange kInert[] = {
    // Bell/CCITT mode, carrier, online echo, speaker volume and use,
    // automode, pulse or tone, connect message options, long space disconnect.
    {0, 'B', 16}, {0, 'C', 1}, {0, 'F', 1}, {0, 'L', 3}, {0, 'M', 3},
    {0, 'N', 1}, {0, 'P', 0}, {0, 'T', 0}, {0, 'W', 2}, {0, 'Y', 1},
    // DTE rate, guard tone, handshake options, leased line, async mode, pulse
    // ratio, error control, RTS/CTS and DSR options, test, stored profile, clock.
    {'&', 'A', 3}, {'&', 'B', 2}, {'&', 'G', 2}, {'&', 'H', 7}, {'&', 'I', 5},
    {'&', 'J', 1}, {'&', 'L', 1}, {'&', 'M', 5}, {'&', 'N', 99}, {'&', 'P', 3},
    {'&', 'Q', 6}, {'&', 'R', 2}, {'&', 'S', 1}, {'&', 'T', 8}, {'&', 'U', 99},
    {'&', 'W', 1}, {'&', 'X', 2}, {'&', 'Y', 1},
    // Error correction, compression and buffering of the MNP/V.42 modems.
    {'\\', 'A', 3}, {'\\', 'B', 9}, {'\\', 'C', 2}, {'\\', 'G', 1}, {'\\', 'J', 1},
    {'\\', 'K', 5}, {'\\', 'N', 7}, {'\\', 'Q', 3}, {'\\', 'T', 90}, {'\\', 'V', 2},
    {'\\', 'X', 1},
    {'%', 'C', 3}, {'%', 'E', 2},
};

// Extended commands init strings set (modulation, error control,
// compression, flow control, port rate, country): taken and ignored.
constexpr const char* kInertExtended[] = {"MS", "ES", "DS", "DR", "ER", "IFC", "ICF", "ILRR", "IPR", "GCI", "A8E"};
const CommandRange* findCommand(const ModemCommand& command)
{
    for (const CommandRange& acting : kActing)
        if (acting.prefix == command.prefix && acting.letter == command.letter) return &acting;
    return nullptr;
}

std::string commandName(const CommandRange& command)
{
    std::string name;
    if (command.prefix) name += command.prefix;
    return name + command.letter;
}
}  // namespace

std::vector<std::string> Modem::listing()
{
    std::vector<std::string> lines;
    // D dials and S sets or reads a register: the parser tells them apart.
    lines.push_back("command D");
    lines.push_back("command S");
    for (const CommandRange& command : kActing)
        lines.push_back("command " + commandName(command) + " 0-" + std::to_string(command.largest));
    lines.push_back("command +FCLASS");
    for (const CommandRange& command : kInert)
        lines.push_back("inert " + commandName(command) + " 0-" + std::to_string(command.largest));
    for (const char* name : kInertExtended) lines.push_back(std::string("inert +") + name);
    for (SRegister r : kActingRegisters) lines.push_back("register S" + std::to_string(unsigned{r}));
    for (const std::string& line : resultListing()) lines.push_back(line);
    return lines;
}

Modem::Outcome Modem::inert(const ModemCommand& command)
{
    for (const CommandRange& inert : kInert)
        if (inert.prefix == command.prefix && inert.letter == command.letter)
            return command.number <= inert.largest ? Outcome::Next : Outcome::Error;
    return Outcome::Error;
}

Modem::Outcome Modem::execute(const ModemCommand& command)
{
    switch (command.kind) {
    case ModemCommand::Kind::Dial:
        return dial(command.text);
    case ModemCommand::Kind::SetRegister:
        if (command.number >= ModemProfile::kRegisters || command.value > 255) return Outcome::Error;
        profile_.s[command.number] = static_cast<std::uint8_t>(command.value);
        return Outcome::Next;
    case ModemCommand::Kind::ReadRegister: {
        if (command.number >= ModemProfile::kRegisters) return Outcome::Error;
        char text[4];
        std::snprintf(text, sizeof text, "%03u", unsigned{profile_.s[command.number]});
        inform(text);
        return Outcome::Next;
    }
    case ModemCommand::Kind::Extended:
        return extended(command.text);
    case ModemCommand::Kind::Basic:
        break;
    }
    if (const CommandRange* acting = findCommand(command); acting && command.number > acting->largest)
        return Outcome::Error;
    if (command.prefix == 0) return basic(command);
    if (command.prefix == '&') return ampersand(command);
    return inert(command);
}

Modem::Outcome Modem::basic(const ModemCommand& command)
{
    const unsigned value = command.number;
    switch (command.letter) {
    case 'A':
        if (phase_ != Phase::Command) return Outcome::Error;
        if (call_.state() == Connection::State::Ringing)
            answer(services_.clock.nowMicroseconds());
        else
            reply(Result::NoCarrier);
        return Outcome::Done;
    case 'E':
        profile_.echo = value == 1;
        return Outcome::Next;
    case 'H':
        // H1 would take the line off hook; with no line to take, it changes nothing.
        if (value == 0) hangUp("hung up by the guest: ATH");
        return Outcome::Next;
    case 'I':
        inform(identity_);
        return Outcome::Next;
    case 'O':
        return online();
    case 'Q':
        profile_.quiet = value == 1;
        return Outcome::Next;
    case 'V':
        profile_.verbose = value == 1;
        return Outcome::Next;
    case 'X':
        profile_.resultSet = static_cast<std::uint8_t>(value);
        return Outcome::Next;
    case 'Z':
        // The commands after Z on the same line still run: init strings rely on it.
        hangUp("hung up by the guest: ATZ");
        profile_.reset();
        return Outcome::Next;
    default:
        return inert(command);
    }
}

Modem::Outcome Modem::ampersand(const ModemCommand& command)
{
    const unsigned value = command.number;
    switch (command.letter) {
    case 'C':
        profile_.dcdAlwaysOn = value == 0;
        return Outcome::Next;
    case 'D':
        profile_.dtr = static_cast<DtrAction>(value);
        return Outcome::Next;
    case 'F':
        // &F1 and &F2 are factory profiles with flow control: the same here.
        profile_.reset();
        return Outcome::Next;
    case 'K':
        // &K3 is RTS/CTS; the others (XON/XOFF and their mixes) keep RTS
        // honoured too, since a program that uses them leaves RTS on.
        profile_.rtsFlowControl = value != 0;
        return Outcome::Next;
    case 'V':
        inform(profileListing());
        return Outcome::Next;
    default:
        return inert(command);
    }
}

Modem::Outcome Modem::extended(const std::string& text)
{
    // Data modem only: class 0 is all there is.
    if (text == "FCLASS=0") return Outcome::Next;
    if (text == "FCLASS?" || text == "FCLASS=?") {
        inform("0");
        return Outcome::Next;
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals + 1 == text.size() || text[equals + 1] == '?') return Outcome::Error;
    const std::string name = text.substr(0, equals);
    for (const char* inert : kInertExtended)
        if (name == inert) return Outcome::Next;
    return Outcome::Error;
}

Modem::Outcome Modem::dial(std::string text)
{
    if (phase_ != Phase::Command) return Outcome::Error;  // a call is up: hang up first
    const bool stay = !text.empty() && text.back() == ';';
    if (stay) text.pop_back();
    // One T or P after D picks tone or pulse dialling: nothing to pick here.
    // A host whose name begins with either letter is dialled as DT or DP.
    if (!text.empty() && !hasProtocolPrefix(text) && std::strchr("TtPp", text.front())) text.erase(0, 1);
    if (text == "L" || text == "l") {
        if (lastDialled_.empty()) return Outcome::Error;
        text = lastDialled_;
    }
    lastDialled_ = text;

    Switchboard::Call call;
    const Switchboard::Outcome placed = services_.switchboard.place(
        text, static_cast<std::uint32_t>(profile_.answerWait() / 1000), call);
    if (placed == Switchboard::Outcome::Malformed) return Outcome::Error;
    const std::string dialling = "dialling " + text.substr(std::min(text.find_first_not_of(' '), text.size())) +
                                 (call.address.empty() ? "" : " (phonebook: " + call.address + ")");
    if (placed == Switchboard::Outcome::NoSuchNumber) {
        report(dialling + ": no such number");
        reply(Result::NoCarrier);  // a number nobody has
        return Outcome::Done;
    }
    if (flushing_) endFlush();  // a new call, before the guest has read the end of the last
    if (placed == Switchboard::Outcome::NoNetwork) {
        report(dialling + ": no network");
        reply(Result::NoDialtone);  // no network to call on at all
        return Outcome::Done;
    }
    // A call whose far end has events of its own (the dial-up server's
    // frames) tells them to the modem's monitor too.
    if (auto* reporting = dynamic_cast<ReportsLineEvents*>(call.transport.get())) reporting->reportEventsTo(events_);
    // The modem is the client of a call it places.
    report(dialling);
    call_.dial(std::move(call.transport), Connection::Framing{call.protocol, TelnetSession::Role::Client, nullptr},
               profile_.answerWait());
    phase_ = Phase::Dialling;
    stayInCommandMode_ = stay;
    lineFeedMayFollow_ = true;
    return Outcome::Done;
}

Modem::Outcome Modem::online()
{
    if (phase_ != Phase::Held) {
        reply(Result::NoCarrier);
        return Outcome::Done;
    }
    phase_ = Phase::Online;
    report("back on line");
    reply(Result::Connect);
    guard_.restart(services_.clock.nowMicroseconds());
    return Outcome::Done;
}

std::string Modem::profileListing() const
{
    char text[160];
    std::snprintf(text, sizeof text, "E%d Q%d V%d X%u &C%d &D%d &K%d", profile_.echo, profile_.quiet,
                  profile_.verbose, unsigned{profile_.resultSet}, profile_.dcdAlwaysOn ? 0 : 1,
                  static_cast<int>(profile_.dtr), profile_.rtsFlowControl ? 3 : 0);
    std::string listing = text;
    for (SRegister r : kActingRegisters) {
        std::snprintf(text, sizeof text, " S%02u:%03u", unsigned{r}, unsigned{profile_.s[r]});
        listing += text;
    }
    return listing;
}

// ---- Command lines -------------------------------------------------------------

void Modem::commandByte(std::uint8_t byte)
{
    const char echo = static_cast<char>(byte);
    if (profile_.echo) call_.say(std::string_view(&echo, 1));
    const CommandLine::Event event = commandLine_.take(byte, profile_.s[kLineEnd], profile_.s[kBackspace]);
    // A line that ends while the last one still runs came past CTS; it is dropped.
    if (executing_) return;
    if (event == CommandLine::Event::Line)
        startLine(commandLine_.text(), commandLine_.overflowed());
    else if (event == CommandLine::Event::Repeat)
        startLine(lastLine_, false);
    runCommands();
}

void Modem::startLine(const std::string& text, bool overflowed)
{
    if (events_) events_->modemCommand("AT" + text);
    if (overflowed) {
        reply(Result::Error);
        return;
    }
    lastLine_ = text;
    parser_ = CommandParser(text);
    executing_ = true;
}

void Modem::runCommands()
{
    while (executing_ && (phase_ == Phase::Command || phase_ == Phase::Held) && call_.sayRoom() >= kLongestReply) {
        if (parser_.done()) {
            finishLine(Result::Ok);
            return;
        }
        ModemCommand command;
        const Outcome outcome = parser_.next(command) ? execute(command) : Outcome::Error;
        if (outcome == Outcome::Error) finishLine(Result::Error);
        if (outcome == Outcome::Done) executing_ = false;
    }
}

void Modem::finishLine(Result result)
{
    executing_ = false;
    reply(result);
}

void Modem::reply(Result result)
{
    std::string text;
    appendResult(profile_, result, format_.rate, text);
    const std::size_t first = text.find_first_not_of("\r\n");
    if (events_ && first != std::string::npos)
        events_->modemResult(text.substr(first, text.find_last_not_of("\r\n") + 1 - first));
    call_.say(text);
}

void Modem::inform(const std::string& text)
{
    std::string framed;
    appendInformation(profile_, text, framed);
    call_.say(framed);
}
