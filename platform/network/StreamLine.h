// A serial line that is a byte stream to another computer: a client that
// connects once, or a listener that takes one caller at a time, as the far
// end of a null-modem cable. A raw line carries the guest's bytes as they
// are; TelnetLine adds its protocol on top.
//
// Nothing here waits: the transport connects in the background and never
// blocks, and the socket work runs at most once a millisecond however often
// the device polls. Received bytes wait in a bounded buffer whose count is
// the line's input queue; while it is full nothing more is read, so TCP's own
// flow control holds the peer back. While the guest's bytes cannot leave fast
// enough, CTS reads off, so they wait in the guest's own registers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/Line.h"
#include "platform/lines/ByteTransport.h"
#include "platform/lines/Clock.h"

class StreamLine : public Line {
public:
    static constexpr std::size_t kInputCapacity = 4096;
    // CTS reads off while this many of the guest's bytes wait unsent.
    static constexpr std::size_t kOutputHighWater = 1024;
    // Nothing more is read while this much waits unsent, so a peer that asks
    // for answers and never reads them cannot make the line hoard them.
    static constexpr std::size_t kOutputLimit = 4096;
    static constexpr std::uint64_t kPumpIntervalMicroseconds = 1000;

    enum class Phase : std::uint8_t {
        Connecting,  // a client whose transport is not there yet
        Listening,   // a listener waiting for its next caller
        Connected,
        Gone,        // a client whose peer left or could not be reached: never usable again
    };
    // The moves a line's phase may make.
    static bool canMove(Phase from, Phase to);

    // A client over a transport that is connecting.
    StreamLine(std::unique_ptr<ByteTransport> connecting, Clock& clock);
    // A listener: one caller at a time, the next one after a hang-up.
    StreamLine(std::unique_ptr<Listener> listener, Clock& clock);
    ~StreamLine() override;

    Phase phase() const { return phase_; }

    std::uint32_t features() const override;
    LineState state() override;
    void prepare() override;
    bool setFormat(const LineFormat& format) override;
    bool setRate(std::uint32_t rate) override;
    bool readFormat(LineFormat& format) override;
    bool setControl(Control control, bool on) override;
    bool readInputs(ModemInputs& inputs) override;
    bool pollErrors(std::uint8_t& errors, std::uint32_t& waiting) override;
    bool readByte(std::uint8_t& byte) override;
    bool writeByte(std::uint8_t byte) override;
    void discard() override;

protected:
    // A protocol on the stream overrides these; a raw line passes bytes through.
    // What the protocol sends as soon as a peer is there.
    virtual void greet(std::vector<std::uint8_t>& out);
    // Received bytes to data (never more than `length` of them), answers to `out`.
    virtual std::size_t decode(const std::uint8_t* in, std::size_t length, std::uint8_t* data,
                               std::vector<std::uint8_t>& out);
    // One of the guest's bytes, framed for the peer.
    virtual void encode(std::uint8_t byte, std::vector<std::uint8_t>& out);
    // The far end's own modem lines, when it reports them; false until then.
    virtual bool remoteInputs(ModemInputs& inputs);
    // Receive errors the far end reported since the last call (LineError bits).
    virtual std::uint8_t takeRemoteErrors();

    // Where a protocol appends what it sends.
    std::vector<std::uint8_t>& output() { return output_; }

private:
    void moveTo(Phase next);
    void pump();
    void takeConnection();
    void connected();
    void hangUp();
    void receive();
    void send();
    std::size_t unsent() const { return output_.size() - outputSent_; }

    Clock& clock_;
    std::unique_ptr<Listener> listener_;
    std::unique_ptr<ByteTransport> transport_;
    Phase phase_;
    bool pumped_ = false;
    std::uint64_t lastPump_ = 0;
    std::uint8_t input_[kInputCapacity];
    std::size_t inputStart_ = 0;
    std::size_t inputCount_ = 0;
    std::vector<std::uint8_t> output_;
    std::size_t outputSent_ = 0;
};
