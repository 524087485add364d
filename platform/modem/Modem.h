// A Hayes-compatible modem on the far end of the guest's line. The guest's
// communication program talks to it as to a real one: AT commands in command
// mode, calls it dials or answers, data mode with the "+++" escape, and the
// modem lines a program watches (DSR, DCD, RI, CTS).
//
// What only a modem has lives here: the AT interpreter, the call's states
// (dialling, ringing, on line, command mode with the call held) and the
// registers. The call itself is a connection (the engine under every network
// line): it carries the bytes both ways in bounded queues and does all the
// work with the network at its service step; the modem's echo and results go
// to the guest ahead of the remote's data through it. Like a real modem it
// speaks at the line's pace: the device takes one byte per tick, results
// included.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/Line.h"
#include "platform/lines/Clock.h"
#include "platform/lines/LineEvents.h"
#include "platform/modem/CommandLine.h"
#include "platform/modem/CommandParser.h"
#include "platform/modem/EscapeGuard.h"
#include "platform/modem/ModemProfile.h"
#include "platform/modem/ResultCodes.h"
#include "platform/modem/Switchboard.h"
#include "platform/network/Connection.h"

class Modem final : public Line, public ReportsLineEvents {
public:
    // What the modem works with; each must outlive it.
    struct Services {
        Switchboard& switchboard;
        Clock& clock;
    };

    // An incoming call rings every kRingPeriod, with RI on for the first kRingOn.
    static constexpr std::uint64_t kRingPeriod = 3000000;
    static constexpr std::uint64_t kRingOn = 1000000;

    // `listener` is null for a modem that only dials; `identity` is the
    // text ATI shows (the product's name and version), one line.
    Modem(Services services, std::unique_ptr<Listener> listener, std::string identity);

    // What the modem answers to, one item a line, from its own tables: its
    // commands ("command &K 0-6"; "inert" for those that only answer OK),
    // the S-registers it acts on and its result codes. For the guides' check.
    static std::vector<std::string> listing();

    // The monitor hears its command lines, result codes and the steps of its calls.
    void reportEventsTo(LineEvents* events) override { events_ = events; }

    std::uint32_t features() const override { return kLineHasFormat | kLineHasControls; }
    LineState state() override { return LineState::Open; }  // a call that ends is NO CARRIER, never a line gone
    void prepare() override {}
    void service() override;
    // The rate decides what CONNECT reports; the format is the guest's own.
    bool setFormat(const LineFormat& format) override { return format_ = format, true; }
    bool setRate(std::uint32_t rate) override { return format_.rate = rate, true; }
    bool readFormat(LineFormat& format) override { return format = format_, true; }
    bool setControl(Control control, bool on) override;
    bool readInputs(ModemInputs& inputs) override;
    bool pollErrors(std::uint8_t& errors, std::uint32_t& waiting) override;
    // The modem's own text goes first, so that CONNECT is whole before the
    // first byte of the call.
    bool readByte(std::uint8_t& byte) override { return !holdingForRts() && call_.readByte(byte, dataThrough()); }
    bool writeByte(std::uint8_t byte) override;
    void discard() override;
    void restored() override;

private:
    // Room kept toward the guest for the longest text one command gives (the
    // identity, the &V listing) and the echo of characters already on their
    // way; below it CTS drops in command mode.
    static constexpr std::size_t kLongestReply = 512;

    enum class Phase {
        Command,    // on hook (a call may be ringing)
        Dialling,   // a call being placed; any character from the guest abandons it
        Online,     // data mode
        Held,       // a call up, the modem in command mode (after "+++", "D...;" or &D1)
    };
    // What a command did to the rest of its line.
    enum class Outcome { Next, Error, Done };

    // The call
    void watchDtr(std::uint64_t now);
    void followCall(std::uint64_t now);
    void ring(std::uint64_t now);
    void connected(std::uint64_t now);
    void answer(std::uint64_t now);
    void carrierLost();
    void endFlush();
    // Ends a call being made or up; `why` is the call's event when there is one.
    void hangUp(const char* why);
    void report(const std::string& event)
    {
        if (events_) events_->callEvent(event);
    }
    bool carrier() const { return phase_ == Phase::Online || phase_ == Phase::Held; }
    // The remote's data reaches the guest on line, and after a hang-up until
    // what it sent is out; RTS off (&K3) holds back everything.
    bool dataThrough() const { return phase_ == Phase::Online || flushing_; }
    bool holdingForRts() const { return profile_.rtsFlowControl && !rts_; }

    // Command mode (ModemCommands.cpp, with the commands)
    void commandByte(std::uint8_t byte);
    void startLine(const std::string& text, bool overflowed);
    void runCommands();
    void finishLine(Result result);
    void reply(Result result);
    void inform(const std::string& text);

    // The commands (ModemCommands.cpp).
    Outcome execute(const ModemCommand& command);
    Outcome basic(const ModemCommand& command);
    Outcome ampersand(const ModemCommand& command);
    Outcome extended(const std::string& text);
    static Outcome inert(const ModemCommand& command);  // the commands that have nothing to do here
    Outcome dial(std::string text);
    Outcome online();
    std::string profileListing() const;

    Services services_;
    std::string identity_;

    ModemProfile profile_;
    LineFormat format_{9600, 8, Parity::None, StopBits::One, false};
    bool dtr_ = false;
    bool rts_ = false;
    bool dtrDropPending_ = false;
    std::uint64_t dtrDroppedAt_ = 0;

    Phase phase_ = Phase::Command;
    Connection call_;
    bool stayInCommandMode_ = false;      // the dial string ended in ";"
    bool lineFeedMayFollow_ = false;      // a dial has just started: an LF is the end of its line, not an abort
    bool flushing_ = false;               // the remote hung up: its last data, then NO CARRIER
    std::string lastDialled_;
    EscapeGuard guard_;
    bool ringing_ = false;
    std::uint64_t nextRing_ = 0;
    std::uint64_t ringStarted_ = 0;

    CommandLine commandLine_;
    std::string lastLine_;
    CommandParser parser_{""};
    bool executing_ = false;
    LineEvents* events_ = nullptr;  // the monitor's, when it wraps this modem
};
