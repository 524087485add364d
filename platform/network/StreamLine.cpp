#include "platform/network/StreamLine.h"

#include <cassert>
#include <cstring>

namespace {
constexpr std::size_t kReadChunk = 1024;
}  // namespace

bool StreamLine::canMove(Phase from, Phase to)
{
    switch (from) {
    case Phase::Connecting: return to == Phase::Connected || to == Phase::Gone;
    case Phase::Listening: return to == Phase::Connected;
    case Phase::Connected: return to == Phase::Gone || to == Phase::Listening;
    case Phase::Gone: return false;
    }
    return false;
}

StreamLine::StreamLine(std::unique_ptr<ByteTransport> connecting, Clock& clock)
    : clock_(clock), transport_(std::move(connecting)), phase_(Phase::Connecting)
{
}

StreamLine::StreamLine(std::unique_ptr<Listener> listener, Clock& clock)
    : clock_(clock), listener_(std::move(listener)), phase_(Phase::Listening)
{
}

StreamLine::~StreamLine() = default;

void StreamLine::moveTo(Phase next)
{
    assert(canMove(phase_, next));
    phase_ = next;
}

std::uint32_t StreamLine::features() const { return 0; }

LineState StreamLine::state()
{
    pump();
    switch (phase_) {
    case Phase::Connected: return LineState::Open;
    case Phase::Gone: return LineState::Gone;
    case Phase::Connecting:
    case Phase::Listening: break;
    }
    return LineState::Connecting;
}

// Reads never wait here: there is nothing to set up.
void StreamLine::prepare() {}

bool StreamLine::setFormat(const LineFormat&) { return false; }
bool StreamLine::setRate(std::uint32_t) { return false; }
bool StreamLine::readFormat(LineFormat&) { return false; }
bool StreamLine::setControl(Control, bool) { return false; }

void StreamLine::greet(std::vector<std::uint8_t>&) {}

std::size_t StreamLine::decode(const std::uint8_t* in, std::size_t length, std::uint8_t* data,
                               std::vector<std::uint8_t>&)
{
    if (length > 0) std::memcpy(data, in, length);
    return length;
}

void StreamLine::encode(std::uint8_t byte, std::vector<std::uint8_t>& out) { out.push_back(byte); }

bool StreamLine::remoteInputs(ModemInputs&) { return false; }

std::uint8_t StreamLine::takeRemoteErrors() { return 0; }

// The socket work, at most once a millisecond: the device polls several
// times a tick, and each call into the network stack costs.
void StreamLine::pump()
{
    const std::uint64_t now = clock_.nowMicroseconds();
    if (pumped_ && now - lastPump_ < kPumpIntervalMicroseconds) return;
    pumped_ = true;
    lastPump_ = now;
    if (phase_ == Phase::Connecting || phase_ == Phase::Listening) takeConnection();
    if (phase_ != Phase::Connected) return;
    send();
    receive();
    send();  // answers to what was just received
}

void StreamLine::takeConnection()
{
    if (phase_ == Phase::Listening) {
        transport_ = listener_->accept();
        if (transport_) connected();
        return;
    }
    switch (transport_->state()) {
    case TransportState::Open: connected(); break;
    case TransportState::Closed: moveTo(Phase::Gone); break;
    case TransportState::Connecting: break;
    }
}

// Bytes the guest sent while no one was there were never sent, and a new
// peer starts a new session. What the last caller sent stays for the guest.
void StreamLine::connected()
{
    moveTo(Phase::Connected);
    output_.clear();
    outputSent_ = 0;
    greet(output_);
}

void StreamLine::hangUp()
{
    transport_.reset();
    output_.clear();
    outputSent_ = 0;
    moveTo(listener_ ? Phase::Listening : Phase::Gone);
}

void StreamLine::receive()
{
    std::uint8_t raw[kReadChunk];
    std::uint8_t data[kReadChunk];
    while (phase_ == Phase::Connected && inputCount_ < kInputCapacity && unsent() < kOutputLimit) {
        // Never more than fits: decoding makes no more bytes than it reads.
        std::size_t room = kInputCapacity - inputCount_;
        if (room > kReadChunk) room = kReadChunk;
        const std::size_t got = transport_->receive(raw, room);
        if (got == 0) {
            if (transport_->state() == TransportState::Closed) hangUp();
            return;
        }
        const std::size_t produced = decode(raw, got, data, output_);
        for (std::size_t i = 0; i < produced; ++i) input_[(inputStart_ + inputCount_++) % kInputCapacity] = data[i];
        if (got < room) return;  // the transport had no more
    }
}

void StreamLine::send()
{
    while (phase_ == Phase::Connected && unsent() > 0) {
        const std::size_t sent = transport_->send(output_.data() + outputSent_, unsent());
        if (sent == 0) {
            if (transport_->state() == TransportState::Closed) hangUp();
            break;
        }
        outputSent_ += sent;
    }
    // What has left is dropped from the front, so a peer that reads slowly
    // but never quite catches up does not make the buffer grow.
    if (outputSent_ == output_.size() || outputSent_ >= kOutputLimit) {
        output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(outputSent_));
        outputSent_ = 0;
    }
}

bool StreamLine::readInputs(ModemInputs& inputs)
{
    pump();
    inputs = ModemInputs{false, false, false, false};
    if (phase_ != Phase::Connected) return true;
    // The far end's own report once there is one; until then its lines are
    // taken to be on, or a far end that never reports would never let a byte through.
    if (!remoteInputs(inputs)) inputs = ModemInputs{true, true, false, true};
    if (unsent() >= kOutputHighWater) inputs.cts = false;
    return true;
}

bool StreamLine::pollErrors(std::uint8_t& errors, std::uint32_t& waiting)
{
    pump();
    errors = takeRemoteErrors();
    waiting = static_cast<std::uint32_t>(inputCount_);
    return true;
}

bool StreamLine::readByte(std::uint8_t& byte)
{
    if (inputCount_ == 0) return false;
    byte = input_[inputStart_];
    inputStart_ = (inputStart_ + 1) % kInputCapacity;
    --inputCount_;
    return true;
}

// Only a connected line takes bytes; with CTS off the guest holds them.
bool StreamLine::writeByte(std::uint8_t byte)
{
    if (phase_ != Phase::Connected) return false;
    encode(byte, output_);
    return true;
}

// Bytes already handed to the network have left the line, as they would have
// left a UART; and the stream's own commands must not be cut. So only what
// waits to be read is dropped.
void StreamLine::discard() { inputStart_ = inputCount_ = 0; }
