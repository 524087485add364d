// A Telnet client line: data in binary mode both ways, and, while the server
// agrees to the COM-PORT option (RFC 2217), the guest's rate, format, DTR,
// RTS and break reach the serial port at the server, and that port's modem
// lines and line errors come back. Settings made before the server agrees
// are remembered and sent when it does.
#pragma once

#include "platform/network/Rfc2217Client.h"
#include "platform/network/StreamLine.h"
#include "platform/network/TelnetSession.h"

class TelnetLine final : public StreamLine {
public:
    TelnetLine(std::unique_ptr<ByteTransport> connecting, Clock& clock);

    std::uint32_t features() const override;
    // False once the line is gone: the guest's settings have nowhere to go.
    bool setFormat(const LineFormat& format) override;
    bool setRate(std::uint32_t rate) override;
    bool readFormat(LineFormat& format) override;
    bool setControl(Control control, bool on) override;
    void discard() override;

private:
    void greet(std::vector<std::uint8_t>& out) override;
    std::size_t decode(const std::uint8_t* in, std::size_t length, std::uint8_t* data,
                       std::vector<std::uint8_t>& out) override;
    void encode(std::uint8_t byte, std::vector<std::uint8_t>& out) override;
    bool remoteInputs(ModemInputs& inputs) override;
    std::uint8_t takeRemoteErrors() override;
    bool usable() const { return phase() != Phase::Gone; }

    Rfc2217Client comPort_;
    TelnetSession session_;
    // What the line reports as its format until the guest sets one: 9600 bit/s 8N1.
    LineFormat format_{9600, 8, Parity::None, StopBits::One, false};
};
