#include "platform/modem/Modem.h"

#include <algorithm>

namespace {
// Bytes read from the remote at a time.
constexpr std::size_t kReceiveChunk = 256;
// Room kept in the reply queue for the longest text one command gives
// (the identity, the &V listing) and the echo of characters already on
// their way; below it CTS drops in command mode.
constexpr std::size_t kLongestReply = 512;
// Room kept in the outgoing queue for the bytes already on their way when
// CTS drops (a byte may take two on the wire).
constexpr std::size_t kOutgoingReserve = 16;
// Room kept in the answer queue for a Telnet side's own offers, which it
// makes once, when it finds the remote negotiating.
constexpr std::size_t kOfferSize = 32;
// Callers taken from the listener at one look, so that a storm of them
// cannot keep the modem busy.
constexpr int kCallersPerLook = 8;
// What a caller hears when the modem already has a call.
constexpr char kBusyText[] = "BUSY\r\n";
}  // namespace

Modem::Modem(Services services, std::unique_ptr<Listener> listener, std::string identity)
    : services_(services), listener_(std::move(listener)), identity_(std::move(identity))
{
    if (identity_.size() > kLongestIdentity) identity_.resize(kLongestIdentity);
    for (char& c : identity_)
        if (static_cast<unsigned char>(c) < ' ') c = ' ';
}

Modem::~Modem() = default;

// ---- The line as the device sees it ----------------------------------------

LineState Modem::state()
{
    pump();
    return LineState::Open;  // a call that ends is NO CARRIER, never a line that is gone
}

bool Modem::setFormat(const LineFormat& format)
{
    format_ = format;
    return true;
}

bool Modem::setRate(std::uint32_t rate)
{
    format_.rate = rate;
    return true;
}

bool Modem::readFormat(LineFormat& format)
{
    format = format_;
    return true;
}

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
    pump();
    const std::uint64_t now = services_.clock.nowMicroseconds();
    switch (phase_) {
    case Phase::Online: inputs.cts = outgoing_.room() >= kOutgoingReserve; break;
    case Phase::Dialling: inputs.cts = true; break;
    default: inputs.cts = !executing_ && replies_.room() >= kLongestReply; break;
    }
    inputs.dsr = true;
    inputs.ring = caller_ && now - ringStarted_ < kRingOn;
    inputs.dcd = profile_.dcdAlwaysOn || carrier();
    return true;
}

bool Modem::pollErrors(std::uint8_t& errors, std::uint32_t& waiting)
{
    pump();
    errors = 0;
    waiting = static_cast<std::uint32_t>(deliverable());
    return true;
}

// The modem's own text goes first, so that CONNECT is whole before the first
// byte of the call; the remote's data follows while on line, and after a
// hang-up until what it sent is out.
bool Modem::readByte(std::uint8_t& byte)
{
    if (holdingForRts()) return false;
    if (!replies_.empty()) {
        byte = replies_.pop();
        return true;
    }
    if ((phase_ == Phase::Online || flushing_) && !data_.empty()) {
        byte = data_.pop();
        return true;
    }
    return false;
}

bool Modem::writeByte(std::uint8_t byte)
{
    pump();  // an escape whose guard time has just run out comes before this byte
    const std::uint64_t now = services_.clock.nowMicroseconds();
    switch (phase_) {
    case Phase::Online:
        guard_.guestByte(byte, now, profile_.s[kEscapeCharacter], profile_.guardTime());
        scratch_.clear();
        if (telnet_)
            telnet_->sendData(byte, scratch_);
        else
            scratch_.push_back(byte);
        return outgoing_.push(scratch_.data(), scratch_.size());
    case Phase::Dialling:
        if (lineFeedMayFollow_ && byte == profile_.s[kLineFeed]) {
            lineFeedMayFollow_ = false;  // the end of a dial line sent as CR LF
            return true;
        }
        endCall();
        phase_ = Phase::Command;
        reply(Result::NoCarrier);
        return true;
    case Phase::Command:
    case Phase::Held:
        commandByte(byte);
        return true;
    }
    return false;
}

void Modem::discard()
{
    replies_.clear();
    if (phase_ == Phase::Online || flushing_) data_.clear();  // a hang-up's NO CARRIER still comes
    outgoing_.clear();
}

void Modem::restored()
{
    hangUp();
    replies_.clear();
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
}

bool Modem::holdingForRts() const { return profile_.rtsFlowControl && !rts_; }

std::size_t Modem::deliverable() const
{
    if (holdingForRts()) return 0;
    const bool data = flushing_ || phase_ == Phase::Online;
    return replies_.size() + (data ? data_.size() : 0);
}

// ---- Keeping time and the network ------------------------------------------

void Modem::pump()
{
    const std::uint64_t now = services_.clock.nowMicroseconds();
    watchDtr(now);
    if (now >= nextNetworkPoll_) {
        nextNetworkPoll_ = now + kNetworkInterval;
        takeCallers(now);
        if (phase_ == Phase::Online || phase_ == Phase::Held) exchange();
    }
    followDial(now);
    if (flushing_ && data_.empty()) endFlush();
    ring(now);
    if (phase_ == Phase::Online && profile_.escapeEnabled() && guard_.escaped(now, profile_.guardTime())) {
        phase_ = Phase::Held;
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
            reply(Result::Ok);
        }
        break;
    case DtrAction::HangUp:
    case DtrAction::Reset:
        if (phase_ != Phase::Command) {
            hangUp();
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

void Modem::takeCallers(std::uint64_t now)
{
    if (!listener_) return;
    for (int i = 0; i < kCallersPerLook; ++i) {
        std::unique_ptr<ByteTransport> caller = listener_->accept();
        if (!caller) return;
        if (caller_ || phase_ != Phase::Command) {
            refuse(*caller);
            continue;
        }
        caller_ = std::move(caller);
        nextRing_ = now;
    }
}

void Modem::refuse(ByteTransport& caller)
{
    caller.send(reinterpret_cast<const std::uint8_t*>(kBusyText), sizeof kBusyText - 1);
}

void Modem::ring(std::uint64_t now)
{
    if (!caller_) return;
    if (caller_->state() == TransportState::Closed) {
        caller_.reset();  // the caller gave up
        profile_.s[kRingCount] = 0;
        return;
    }
    if (now < nextRing_) return;
    ringStarted_ = now;
    nextRing_ = now + kRingPeriod;
    std::uint8_t& rings = profile_.s[kRingCount];
    if (rings < 255) ++rings;
    reply(Result::Ring);
    const bool dtrAllows = dtr_ || profile_.dtr == DtrAction::Ignore || profile_.dtr == DtrAction::Command;
    if (profile_.s[kRingsToAnswer] != 0 && rings >= profile_.s[kRingsToAnswer] && dtrAllows) answer(now);
}

void Modem::followDial(std::uint64_t now)
{
    if (phase_ != Phase::Dialling) return;
    switch (call_->state()) {
    case TransportState::Open:
        connected(now);
        return;
    case TransportState::Closed: {
        const ConnectFailure failure = call_->failure();
        endCall();
        phase_ = Phase::Command;
        if (failure == ConnectFailure::Refused)
            reply(Result::Busy);
        else if (failure == ConnectFailure::NoAnswer)
            reply(Result::NoAnswer);
        else
            reply(Result::NoCarrier);  // an unknown name included: the number does not exist
        return;
    }
    case TransportState::Connecting:
        if (now - dialStarted_ >= profile_.answerWait()) {
            endCall();
            phase_ = Phase::Command;
            reply(Result::NoAnswer);
        }
        return;
    }
}

void Modem::exchange()
{
    sendOutgoing();
    receive();
    sendOutgoing();  // whatever the remote's bytes asked us to answer
}

void Modem::sendOutgoing()
{
    // The call's own negotiation goes first: it may say how to read the data.
    for (auto* queue : {&answers_, &outgoing_}) {
        for (int part = 0; part < 2 && !queue->empty(); ++part) {
            std::size_t length = 0;
            const std::uint8_t* bytes = queue->contiguous(length);
            const std::size_t sent = call_->send(bytes, length);
            queue->drop(sent);
            if (sent < length) return;
        }
    }
}

void Modem::receive()
{
    std::uint8_t in[kReceiveChunk];
    std::uint8_t data[kReceiveChunk];
    for (;;) {
        // Read no more than the guest's queue takes and than can be answered:
        // Telnet answers each option request with at most as many bytes, and
        // its own offers once.
        std::size_t wanted = std::min(kReceiveChunk, data_.room());
        if (telnet_) wanted = std::min(wanted, answers_.room() > kOfferSize ? answers_.room() - kOfferSize : 0);
        if (wanted == 0) return;
        const std::size_t got = call_->receive(in, wanted);
        if (got == 0) break;
        if (telnet_) {
            scratch_.clear();
            data_.push(data, telnet_->receive(in, got, data, scratch_));
            answers_.push(scratch_.data(), scratch_.size());
        } else {
            data_.push(in, got);
        }
    }
    if (call_->state() == TransportState::Closed) carrierLost();
}

void Modem::carrierLost()
{
    const bool online = phase_ == Phase::Online;
    endCall();
    phase_ = Phase::Command;
    // What the remote sent before it hung up reaches a guest that was taking
    // data, NO CARRIER after it; a guest in command mode had put the call aside.
    if (online && !data_.empty()) {
        flushing_ = true;
        return;
    }
    data_.clear();
    reply(Result::NoCarrier);
}

// ---- Calls -------------------------------------------------------------------

// The last call's NO CARRIER, after what its remote sent, or at once when a
// new call comes before the guest has read that.
void Modem::endFlush()
{
    data_.clear();
    flushing_ = false;
    reply(Result::NoCarrier);
}

void Modem::placeCall(const CallAddress& address, bool stayInCommandMode)
{
    if (flushing_) endFlush();
    if (caller_) {
        refuse(*caller_);
        caller_.reset();
        profile_.s[kRingCount] = 0;
    }
    call_ = services_.network.connect(address.host, address.port);
    if (!call_) {
        reply(Result::NoDialtone);  // no network to call on at all
        return;
    }
    phase_ = Phase::Dialling;
    protocol_ = address.protocol;
    placed_ = true;
    stayInCommandMode_ = stayInCommandMode;
    lineFeedMayFollow_ = true;
    dialStarted_ = services_.clock.nowMicroseconds();
}

void Modem::connected(std::uint64_t now)
{
    phase_ = stayInCommandMode_ ? Phase::Held : Phase::Online;
    startTelnet();
    reply(stayInCommandMode_ ? Result::Ok : Result::Connect);
    guard_.restart(now);
}

void Modem::answer(std::uint64_t now)
{
    if (flushing_) endFlush();
    call_ = std::move(caller_);
    profile_.s[kRingCount] = 0;
    protocol_ = CallProtocol::Detect;
    placed_ = false;
    stayInCommandMode_ = false;
    executing_ = false;  // a command line cut short by the call
    connected(now);
}

// A telnet: call negotiates from the start; a call to or from an address
// without a prefix is Telnet only if the remote's first byte starts a
// negotiation. The modem is the client of a call it placed, and the server
// (the BBS in the emulator, echoing) of one it answered.
void Modem::startTelnet()
{
    telnet_.reset();
    if (protocol_ == CallProtocol::Raw) return;
    telnet_ = std::make_unique<TelnetSession>(placed_ ? TelnetSession::Role::Client : TelnetSession::Role::Server);
    scratch_.clear();
    telnet_->start(protocol_ == CallProtocol::Telnet ? TelnetSession::Start::Offering : TelnetSession::Start::Passive,
                   scratch_);
    answers_.push(scratch_.data(), scratch_.size());
}

void Modem::endCall()
{
    call_.reset();
    telnet_.reset();
    outgoing_.clear();
    answers_.clear();
}

void Modem::hangUp()
{
    endCall();
    data_.clear();
    flushing_ = false;
    phase_ = Phase::Command;
}

// ---- Command mode --------------------------------------------------------------

void Modem::commandByte(std::uint8_t byte)
{
    if (profile_.echo) replies_.push(byte);
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
    executingLine_ = text;
    parser_ = CommandParser(executingLine_);
    executing_ = true;
}

void Modem::runCommands()
{
    while (executing_ && (phase_ == Phase::Command || phase_ == Phase::Held) && replies_.room() >= kLongestReply) {
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
    replies_.push(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void Modem::inform(const std::string& text)
{
    std::string framed;
    appendInformation(profile_, text, framed);
    replies_.push(reinterpret_cast<const std::uint8_t*>(framed.data()), framed.size());
}
