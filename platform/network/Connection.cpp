#include "platform/network/Connection.h"

Connection::Connection(Clock& clock) : clock_(clock) {}

Connection::~Connection() = default;

// ---- Calls ---------------------------------------------------------------

void Connection::dial(std::unique_ptr<ByteTransport> transport, const Framing& framing,
                      std::uint64_t timeoutMicroseconds)
{
    if (state_ == State::Ringing) refuse(*transport_);
    end(ConnectFailure::None);
    transport_ = std::move(transport);
    framing_ = framing;
    dialled_ = clock_.nowMicroseconds();
    timeout_ = timeoutMicroseconds;
    state_ = State::Connecting;
}

void Connection::answerCallers(std::unique_ptr<Listener> listener, const Framing& framing)
{
    listener_ = std::move(listener);
    framing_ = framing;
    ring_ = false;
}

void Connection::ringCallers(std::unique_ptr<Listener> listener, std::string busy)
{
    listener_ = std::move(listener);
    busy_ = std::move(busy);
    ring_ = true;
}

void Connection::answer(const Framing& framing)
{
    if (state_ == State::Ringing) connected(framing);
}

void Connection::hangUp()
{
    if (state_ == State::Connecting || state_ == State::Connected) end(ConnectFailure::None);
}

// A new peer starts a new session, and the guest's bytes of the last call
// (or of none) are never sent to it. What the last peer sent stays.
void Connection::connected(const Framing& framing)
{
    state_ = State::Connected;
    failure_ = ConnectFailure::None;
    outbound_.clear();
    sent_ = 0;
    session_.reset();
    if (framing.protocol == Protocol::Raw) return;
    session_.emplace(framing.role);
    if (framing.option) session_->addOption(*framing.option);
    session_->start(framing.protocol == Protocol::Telnet ? TelnetSession::Start::Offering
                                                         : TelnetSession::Start::Passive,
                    outbound_);
}

void Connection::end(ConnectFailure failure)
{
    transport_.reset();
    state_ = State::Idle;
    failure_ = failure;
    session_.reset();
    outbound_.clear();
    sent_ = 0;
}

void Connection::refuse(ByteTransport& caller)
{
    caller.send(reinterpret_cast<const std::uint8_t*>(busy_.data()), busy_.size());
}

// ---- The service step ----------------------------------------------------

void Connection::service()
{
    const std::uint64_t now = clock_.nowMicroseconds();
    if (worked_ && now - lastWork_ < kWorkInterval) return;
    worked_ = true;
    lastWork_ = now;
    if (transport_) transport_->service(now);
    if (listener_) takeCallers();
    if (state_ == State::Ringing && transport_->state() == TransportState::Closed) {
        transport_.reset();  // the caller gave up
        state_ = State::Idle;
    }
    // A call that has just connected is served from the next step on, so that
    // its face sees it up even when the peer hangs up at once.
    if (state_ == State::Connecting) {
        followDial(now);
        return;
    }
    if (state_ == State::Connected) {
        send();
        receive();
        send();  // the answers to what was just received
    }
}

void Connection::takeCallers()
{
    for (int i = 0; i < kCallersPerStep && (ring_ || state_ == State::Idle); ++i) {
        std::unique_ptr<ByteTransport> caller = listener_->accept();
        if (!caller) return;
        if (state_ != State::Idle) {
            refuse(*caller);
            continue;
        }
        transport_ = std::move(caller);
        if (ring_)
            state_ = State::Ringing;
        else
            connected(framing_);
    }
}

void Connection::followDial(std::uint64_t now)
{
    switch (transport_->state()) {
    case TransportState::Open:
        connected(framing_);
        break;
    case TransportState::Closed:
        // Closed with no failure: it was answered, and has hung up already.
        if (transport_->failure() == ConnectFailure::None)
            connected(framing_);
        else
            end(transport_->failure());
        break;
    case TransportState::Connecting:
        if (now - dialled_ >= timeout_) end(ConnectFailure::NoAnswer);
        break;
    }
}

void Connection::send()
{
    while (state_ == State::Connected && unsent() > 0) {
        const std::size_t sent = transport_->send(outbound_.data() + sent_, unsent());
        if (sent == 0) {
            if (transport_->state() == TransportState::Closed) end(ConnectFailure::None);
            break;
        }
        sent_ += sent;
    }
    // What has left is dropped from the front, so a peer that reads slowly
    // but never quite catches up does not make the queue grow.
    if (sent_ == outbound_.size() || sent_ >= kOutboundLimit) {
        outbound_.erase(outbound_.begin(), outbound_.begin() + static_cast<std::ptrdiff_t>(sent_));
        sent_ = 0;
    }
}

void Connection::receive()
{
    std::uint8_t raw[kReadChunk];
    std::uint8_t data[kReadChunk];
    while (state_ == State::Connected && inbound_.room() > 0 && unsent() < kOutboundLimit) {
        // Never more than fits: decoding makes no more bytes than it reads.
        const std::size_t room = inbound_.room() < kReadChunk ? inbound_.room() : kReadChunk;
        const std::size_t got = transport_->receive(raw, room);
        if (got == 0) {
            if (transport_->state() == TransportState::Closed) end(ConnectFailure::None);
            return;
        }
        if (session_)
            inbound_.push(data, session_->receive(raw, got, data, outbound_));
        else
            inbound_.push(raw, got);
        if (got < room) return;  // the transport had no more
    }
}

// ---- The bytes -----------------------------------------------------------

void Connection::say(std::string_view text)
{
    said_.push(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

bool Connection::readByte(std::uint8_t& byte, bool withData)
{
    if (!said_.empty()) {
        byte = said_.pop();
        return true;
    }
    if (!withData || inbound_.empty()) return false;
    byte = inbound_.pop();
    return true;
}

void Connection::sendData(std::uint8_t byte)
{
    if (state_ != State::Connected) return;
    if (session_)
        session_->sendData(byte, outbound_);
    else
        outbound_.push_back(byte);
}
