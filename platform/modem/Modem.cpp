#include "platform/modem/Modem.h"

namespace {
// What a caller hears when the modem already has a call.
constexpr char kBusyText[] = "BUSY\r\n";
}  // namespace

Modem::Modem(Services services, std::unique_ptr<Listener> listener, std::string identity)
    : services_(services), identity_(std::move(identity)), call_(services.clock)
{
    if (listener) call_.ringCallers(std::move(listener), kBusyText);
}

// ---- The line as the device sees it ----------------------------------------

bool Modem::setControl(Control control, bool on)
{
    if (control == Control::Break) return false;
    if (control == Control::Rts) {
        rts_ = on;
        return true;
    }
    if (dtr_ && !on) {
        dtrDropPending_ = true;
        dtrDroppedAt_ = services_.clock.nowMicroseconds();
    }
    if (on) dtrDropPending_ = false;
    dtr_ = on;
    return true;
}

bool Modem::readInputs(ModemInputs& inputs)
{
    switch (phase_) {
    case Phase::Online: inputs.cts = call_.takesData(); break;
    case Phase::Dialling: inputs.cts = true; break;
    default: inputs.cts = !executing_ && call_.sayRoom() >= kLongestReply; break;
    }
    inputs.dsr = true;
    inputs.ring = ringing_ && services_.clock.nowMicroseconds() - ringStarted_ < kRingOn;
    inputs.dcd = profile_.dcdAlwaysOn || carrier();
    return true;
}

bool Modem::pollErrors(std::uint8_t& errors, std::uint32_t& waiting)
{
    errors = 0;
    waiting = holdingForRts() ? 0 : static_cast<std::uint32_t>(call_.waiting(dataThrough()));
    return true;
}

bool Modem::writeByte(std::uint8_t byte)
{
    switch (phase_) {
    case Phase::Online:
        guard_.guestByte(byte, services_.clock.nowMicroseconds(), profile_.s[kEscapeCharacter], profile_.guardTime());
        call_.sendData(byte);
        return true;
    case Phase::Dialling:
        if (lineFeedMayFollow_ && byte == profile_.s[kLineFeed]) {
            lineFeedMayFollow_ = false;  // the end of a dial line sent as CR LF
            return true;
        }
        hangUp("dial abandoned by the guest");
        reply(Result::NoCarrier);
        return true;
    case Phase::Command:
    case Phase::Held:
        commandByte(byte);
        return true;
    }
    return false;
}

// What the guest sent has left for the remote, as from a real modem's buffer.
void Modem::discard()
{
    call_.discardSaid();
    if (dataThrough()) call_.discardData();  // a hang-up's NO CARRIER still comes
}

void Modem::restored()
{
    const bool hadCall = phase_ != Phase::Command || flushing_;
    hangUp("hung up: the machine's state restored");
    call_.discardSaid();
    profile_.reset();
    commandLine_.reset();
    executing_ = false;
    lastLine_.clear();
    lastDialled_.clear();
    dtrDropPending_ = false;
    // The save block keeps no DTR or RTS, and bringing the chip back drops
    // both. The guest that runs again set them long ago and will not set them
    // again, so take them as on until it next drives them: otherwise RTS flow
    // control would hold every reply from a modem that looks dead.
    dtr_ = true;
    rts_ = true;
    nextRing_ = services_.clock.nowMicroseconds();
    // A call the restore dropped ends as a lost call does, so that the guest
    // that runs on from the saved moment learns it is no longer on line.
    if (hadCall) reply(Result::NoCarrier);
}

// ---- The service step: time, the call, the commands --------------------------

// An escape whose guard time has just run out comes before the byte the
// device writes in the same tick.
void Modem::service()
{
    const std::uint64_t now = services_.clock.nowMicroseconds();
    watchDtr(now);
    call_.service();
    followCall(now);
    ring(now);
    if (phase_ == Phase::Online && profile_.escapeEnabled() && guard_.escaped(now, profile_.guardTime())) {
        phase_ = Phase::Held;
        report("escape to command mode");
        reply(Result::Ok);
    }
    runCommands();
}

void Modem::watchDtr(std::uint64_t now)
{
    if (!dtrDropPending_ || now - dtrDroppedAt_ < profile_.dtrDelay()) return;
    dtrDropPending_ = false;
    switch (profile_.dtr) {
    case DtrAction::Ignore:
        break;
    case DtrAction::Command:
        if (phase_ == Phase::Online) {
            phase_ = Phase::Held;
            report("command mode: DTR dropped");
            reply(Result::Ok);
        }
        break;
    case DtrAction::HangUp:
    case DtrAction::Reset:
        if (phase_ != Phase::Command) {
            hangUp("hung up by the guest: DTR dropped");
            reply(Result::NoCarrier);
        }
        if (profile_.dtr == DtrAction::Reset) {
            profile_.reset();
            commandLine_.reset();
            executing_ = false;
        }
        break;
    }
}

void Modem::followCall(std::uint64_t now)
{
    switch (phase_) {
    case Phase::Dialling:
        if (call_.state() == Connection::State::Connected) {
            report(stayInCommandMode_ ? "connected, in command mode" : "connected");
            connected(now);
        } else if (call_.state() != Connection::State::Connecting) {
            phase_ = Phase::Command;
            const ConnectFailure failure = call_.failure();
            report(failure == ConnectFailure::Refused       ? "busy"
                   : failure == ConnectFailure::NoAnswer    ? "no answer"
                   : failure == ConnectFailure::NotResolved ? "no such host"
                                                            : "the call failed");
            // An unknown name is NO CARRIER too: the number does not exist.
            reply(failure == ConnectFailure::Refused    ? Result::Busy
                  : failure == ConnectFailure::NoAnswer ? Result::NoAnswer
                                                        : Result::NoCarrier);
        }
        break;
    case Phase::Online:
    case Phase::Held:
        if (call_.state() != Connection::State::Connected) carrierLost();
        break;
    case Phase::Command:
        if (flushing_ && call_.dataWaiting() == 0) endFlush();
        break;
    }
}

void Modem::ring(std::uint64_t now)
{
    if (call_.state() != Connection::State::Ringing) {
        if (ringing_) profile_.s[kRingCount] = 0;  // the caller gave up, or was answered or turned away
        if (ringing_ && phase_ == Phase::Command) report("the caller hung up");
        ringing_ = false;
        return;
    }
    if (!ringing_) {
        nextRing_ = now;
        report("ringing");
    }
    ringing_ = true;
    if (now < nextRing_) return;
    ringStarted_ = now;
    nextRing_ = now + kRingPeriod;
    std::uint8_t& rings = profile_.s[kRingCount];
    if (rings < 255) ++rings;
    reply(Result::Ring);
    const bool dtrAllows = dtr_ || profile_.dtr == DtrAction::Ignore || profile_.dtr == DtrAction::Command;
    if (profile_.s[kRingsToAnswer] != 0 && rings >= profile_.s[kRingsToAnswer] && dtrAllows) answer(now);
}

void Modem::connected(std::uint64_t now)
{
    phase_ = stayInCommandMode_ ? Phase::Held : Phase::Online;
    reply(stayInCommandMode_ ? Result::Ok : Result::Connect);
    guard_.restart(now);
}

// The modem is the server of a call it answers (the BBS in the emulator,
// echoing): Telnet if the caller's first byte starts a negotiation.
void Modem::answer(std::uint64_t now)
{
    if (flushing_) endFlush();
    call_.answer(Connection::Framing{Protocol::Detect, TelnetSession::Role::Server, nullptr});
    report("answered");
    ringing_ = false;
    profile_.s[kRingCount] = 0;
    stayInCommandMode_ = false;
    executing_ = false;  // a command line cut short by the call
    connected(now);
}

// What the remote sent before it hung up reaches a guest that was taking
// data, NO CARRIER after it; a guest in command mode had put the call aside.
void Modem::carrierLost()
{
    const bool online = phase_ == Phase::Online;
    phase_ = Phase::Command;
    report("hung up by the far end");
    if (online && call_.dataWaiting() > 0) {
        flushing_ = true;
        return;
    }
    call_.discardData();
    reply(Result::NoCarrier);
}

// The last call's NO CARRIER, after what its remote sent, or at once when a
// new call comes before the guest has read that.
void Modem::endFlush()
{
    call_.discardData();
    flushing_ = false;
    reply(Result::NoCarrier);
}

void Modem::hangUp(const char* why)
{
    if (phase_ != Phase::Command) report(why);
    call_.hangUp();
    call_.discardData();
    flushing_ = false;
    phase_ = Phase::Command;
}
