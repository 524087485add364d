// A Hayes-compatible modem on the far end of the guest's line. The guest's
// communication program talks to it as to a real one: AT commands in command
// mode, calls it dials or answers over TCP, data mode with the "+++" escape,
// and the modem lines a program watches (DSR, DCD, RI, CTS).
//
// Like a real modem it speaks at the line's pace: the device takes one byte
// per tick from it, results included. Nothing here waits: connecting runs in
// the background of the Network, and the modem does its work whenever the
// device calls it (every tick). Every buffer has a fixed size: a full one
// holds its sender back (CTS toward the guest, TCP toward the remote), so
// nothing is lost and nothing grows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/Line.h"
#include "platform/lines/ByteTransport.h"
#include "platform/lines/Clock.h"
#include "platform/lines/LineEvents.h"
#include "platform/modem/ByteQueue.h"
#include "platform/modem/CallAddress.h"
#include "platform/modem/CommandLine.h"
#include "platform/modem/CommandParser.h"
#include "platform/modem/EscapeGuard.h"
#include "platform/modem/ModemProfile.h"
#include "platform/modem/Phonebook.h"
#include "platform/modem/ResultCodes.h"
#include "platform/network/TelnetSession.h"

class Modem final : public Line, public ReportsLineEvents {
public:
    // What the modem works with; each must outlive it.
    struct Services {
        Network& network;
        Clock& clock;
        Phonebook& phonebook;
    };

    // Bytes toward the guest from the remote, and toward the remote from the guest.
    static constexpr std::size_t kDataCapacity = 4096;
    static constexpr std::size_t kOutgoingCapacity = 2048;
    // The modem's own text toward the guest (echo, results, information).
    static constexpr std::size_t kReplyCapacity = 2048;
    // The identity ATI shows is cut to this length.
    static constexpr std::size_t kLongestIdentity = 200;
    // How often the sockets are looked at; the guest's ticks come more often.
    static constexpr std::uint64_t kNetworkInterval = 1000;
    // An incoming call rings every kRingPeriod, with RI on for the first kRingOn.
    static constexpr std::uint64_t kRingPeriod = 3000000;
    static constexpr std::uint64_t kRingOn = 1000000;

    // `listener` is null for a modem that only dials; `identity` is the
    // text ATI shows (the product's name and version).
    Modem(Services services, std::unique_ptr<Listener> listener, std::string identity);
    ~Modem() override;

    // The monitor hears its command lines and result codes.
    void reportEventsTo(LineEvents* events) override { events_ = events; }

    std::uint32_t features() const override { return kLineHasFormat | kLineHasControls; }
    LineState state() override;
    void prepare() override {}
    bool setFormat(const LineFormat& format) override;
    bool setRate(std::uint32_t rate) override;
    bool readFormat(LineFormat& format) override;
    bool setControl(Control control, bool on) override;
    bool readInputs(ModemInputs& inputs) override;
    bool pollErrors(std::uint8_t& errors, std::uint32_t& waiting) override;
    bool readByte(std::uint8_t& byte) override;
    bool writeByte(std::uint8_t byte) override;
    void discard() override;
    void restored() override;

private:
    enum class Phase {
        Command,    // on hook (a call may be ringing)
        Dialling,   // a call being placed; any character from the guest abandons it
        Online,     // data mode
        Held,       // a call up, the modem in command mode (after "+++", "D...;" or &D1)
    };
    // What a command did to the rest of its line.
    enum class Outcome { Next, Error, Done };

    void pump();
    void watchDtr(std::uint64_t now);
    void takeCallers(std::uint64_t now);
    void ring(std::uint64_t now);
    void followDial(std::uint64_t now);
    void exchange();
    void sendOutgoing();
    void receive();
    void carrierLost();
    void endFlush();

    void placeCall(const CallAddress& address, bool stayInCommandMode);
    void connected(std::uint64_t now);
    void answer(std::uint64_t now);
    void startTelnet();
    void endCall();
    void hangUp();
    static void refuse(ByteTransport& caller);

    bool holdingForRts() const;
    std::size_t deliverable() const;
    bool carrier() const { return phase_ == Phase::Online || phase_ == Phase::Held; }

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
    std::unique_ptr<Listener> listener_;
    std::string identity_;

    ModemProfile profile_;
    LineFormat format_{9600, 8, Parity::None, StopBits::One, false};
    bool dtr_ = false;
    bool rts_ = false;
    bool dtrDropPending_ = false;
    std::uint64_t dtrDroppedAt_ = 0;

    Phase phase_ = Phase::Command;
    std::unique_ptr<ByteTransport> call_;
    // The call's Telnet framing; none for a tcp: call, which carries bytes as they are.
    std::unique_ptr<TelnetSession> telnet_;
    CallProtocol protocol_ = CallProtocol::Detect;
    bool placed_ = false;                 // the modem dialled this call
    bool stayInCommandMode_ = false;      // the dial string ended in ";"
    bool lineFeedMayFollow_ = false;      // a dial has just started: an LF is the end of its line, not an abort
    std::uint64_t dialStarted_ = 0;
    std::string lastDialled_;
    EscapeGuard guard_;

    std::unique_ptr<ByteTransport> caller_;  // an incoming call, ringing
    std::uint64_t nextRing_ = 0;
    std::uint64_t ringStarted_ = 0;
    std::uint64_t nextNetworkPoll_ = 0;

    ByteQueue<kDataCapacity> data_;          // from the remote, for the guest
    bool flushing_ = false;                  // the remote hung up: its last data, then NO CARRIER
    ByteQueue<kReplyCapacity> replies_;      // the modem's own text, for the guest
    ByteQueue<kOutgoingCapacity> outgoing_;  // the guest's data, framed, for the remote
    ByteQueue<kOutgoingCapacity> answers_;   // the call's own negotiation, for the remote
    std::vector<std::uint8_t> scratch_;

    CommandLine commandLine_;
    std::string lastLine_;
    std::string executingLine_;
    CommandParser parser_{""};
    bool executing_ = false;
    LineEvents* events_ = nullptr;  // the monitor's, when it wraps this modem
};
