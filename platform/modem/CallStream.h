// The bytes of one call as they travel: raw, or Telnet with its option
// negotiation. The modem keeps a call's data apart from how it is framed;
// the Telnet framing comes from whoever makes the modem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CallStream {
public:
    virtual ~CallStream() = default;
    // What to send as soon as the call is up (a Telnet side's first offers).
    virtual void start(std::vector<std::uint8_t>& answers) = 0;
    // Decodes bytes from the remote: the data for the guest goes to `data`
    // (never more than `length` bytes), whatever must be answered is appended
    // to `answers`. Returns the count of data bytes.
    virtual std::size_t decode(const std::uint8_t* in, std::size_t length, std::uint8_t* data,
                               std::vector<std::uint8_t>& answers) = 0;
    // Appends one byte of the guest's data as it goes on the wire (one or two bytes).
    virtual void encode(std::uint8_t byte, std::vector<std::uint8_t>& out) = 0;
    // The most bytes `decode` may append to `answers` per byte it is given,
    // so that the modem reads no more than it can answer.
    virtual std::size_t answersPerByte() const = 0;
};

// Bytes as they are.
class RawCallStream final : public CallStream {
public:
    void start(std::vector<std::uint8_t>&) override {}
    std::size_t decode(const std::uint8_t* in, std::size_t length, std::uint8_t* data,
                       std::vector<std::uint8_t>&) override
    {
        for (std::size_t i = 0; i < length; ++i) data[i] = in[i];
        return length;
    }
    void encode(std::uint8_t byte, std::vector<std::uint8_t>& out) override { out.push_back(byte); }
    std::size_t answersPerByte() const override { return 0; }
};

// Makes the Telnet side of a call.
class TelnetStreams {
public:
    virtual ~TelnetStreams() = default;
    // `placed` is true for a call the modem dialled, false for one it answered.
    virtual std::unique_ptr<CallStream> open(bool placed) = 0;
};

// The first byte of a Telnet command: a remote that sends it first is
// negotiating, so the call is Telnet.
constexpr std::uint8_t kTelnetIac = 255;
