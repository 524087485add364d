// A serial line that is a byte stream to another computer, as the far end of
// a null-modem cable: a raw TCP client (tcp:), a Telnet client (telnet:) or
// a listener that takes one caller at a time (listen:). Each is the
// connection engine with this face.
//
// A Telnet client carries data in binary mode both ways, and while the server
// agrees to the COM-PORT option (RFC 2217) the guest's rate, format, DTR, RTS
// and break reach the serial port at the server, and that port's modem lines
// and line errors come back. Settings made before the server agrees are
// remembered and sent when it does.
//
// The modem lines read on while someone is there: the far end's own once a
// Telnet server reports them, else CTS, DSR and DCD. CTS reads off while the
// guest's bytes cannot leave fast enough, so they wait in the guest's own
// registers.
#pragma once

#include <cstdint>
#include <memory>

#include "device/Line.h"
#include "platform/network/Connection.h"
#include "platform/network/Rfc2217Client.h"

class NetworkLine final : public Line {
public:
    enum class Kind : std::uint8_t { Tcp, Telnet, Listen };

    // A client over a transport that is connecting; gone when it does not
    // connect within `timeoutMicroseconds` or when its peer leaves.
    NetworkLine(Kind kind, std::unique_ptr<ByteTransport> connecting, std::uint64_t timeoutMicroseconds,
                Clock& clock);
    // A listener: one caller at a time, the next one after a hang-up.
    NetworkLine(std::unique_ptr<Listener> listener, Clock& clock);

    std::uint32_t features() const override;
    LineState state() override;
    void prepare() override {}
    void service() override { connection_.service(); }
    // A Telnet line's; false once it is gone: the settings have nowhere to go.
    bool setFormat(const LineFormat& format) override;
    bool setRate(std::uint32_t rate) override;
    bool readFormat(LineFormat& format) override;
    bool setControl(Control control, bool on) override;
    bool readInputs(ModemInputs& inputs) override;
    bool pollErrors(std::uint8_t& errors, std::uint32_t& waiting) override;
    bool readByte(std::uint8_t& byte) override;
    bool writeByte(std::uint8_t byte) override;
    // Bytes already handed on have left the line, as they would have left a
    // UART, and the stream's own commands must not be cut: only what waits
    // to be read goes (and a Telnet line asks the server to purge its port).
    void discard() override;

private:
    bool usable() { return kind_ == Kind::Telnet && state() != LineState::Gone; }

    Kind kind_;
    Connection connection_;
    Rfc2217Client comPort_;
    // What a Telnet line reports as its format until the guest sets one: 9600 bit/s 8N1.
    LineFormat format_{9600, 8, Parity::None, StopBits::One, false};
};
