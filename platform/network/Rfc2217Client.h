// The client side of the Telnet COM-PORT option (RFC 2217): while the server
// agrees to it, the line's rate, format, control lines and purges reach the
// serial port at the server, and its modem lines and line errors come back.
// Until then, and after the server withdraws, settings are only remembered;
// all of them go at once when it agrees.
#pragma once

#include <cstdint>

#include "platform/network/TelnetSession.h"

namespace rfc2217 {
constexpr std::uint8_t kOptionComPort = 44;

// Client-to-server commands; the server answers with the same code plus 100.
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kNotifyLineState = 6;
constexpr std::uint8_t kNotifyModemState = 7;
constexpr std::uint8_t kSetLineStateMask = 10;
constexpr std::uint8_t kSetModemStateMask = 11;
constexpr std::uint8_t kPurgeData = 12;
constexpr std::uint8_t kServerReply = 100;

// SET-PARITY values
constexpr std::uint8_t kParityNone = 1;
constexpr std::uint8_t kParityOdd = 2;
constexpr std::uint8_t kParityEven = 3;
constexpr std::uint8_t kParityMark = 4;
constexpr std::uint8_t kParitySpace = 5;
// SET-STOPSIZE values
constexpr std::uint8_t kStopOne = 1;
constexpr std::uint8_t kStopTwo = 2;
constexpr std::uint8_t kStopOneAndHalf = 3;
// SET-CONTROL values
constexpr std::uint8_t kControlNoFlowControl = 1;
constexpr std::uint8_t kControlBreakOn = 5;
constexpr std::uint8_t kControlBreakOff = 6;
constexpr std::uint8_t kControlDtrOn = 8;
constexpr std::uint8_t kControlDtrOff = 9;
constexpr std::uint8_t kControlRtsOn = 11;
constexpr std::uint8_t kControlRtsOff = 12;
// PURGE-DATA values
constexpr std::uint8_t kPurgeReceive = 1;
constexpr std::uint8_t kPurgeTransmit = 2;
constexpr std::uint8_t kPurgeBoth = 3;
// NOTIFY-LINESTATE bits that are receive errors: overrun, parity, framing.
constexpr std::uint8_t kLineStateOverrun = 0x02;
constexpr std::uint8_t kLineStateParity = 0x04;
constexpr std::uint8_t kLineStateFraming = 0x08;
constexpr std::uint8_t kLineStateErrors = kLineStateOverrun | kLineStateParity | kLineStateFraming;
// NOTIFY-MODEMSTATE bits of the lines themselves.
constexpr std::uint8_t kModemStateCts = 0x10;
constexpr std::uint8_t kModemStateDsr = 0x20;
constexpr std::uint8_t kModemStateRing = 0x40;
constexpr std::uint8_t kModemStateCd = 0x80;
constexpr std::uint8_t kModemStateLines = 0xF0;
}  // namespace rfc2217

// What the remote serial port is asked to be.
struct RemotePortSettings {
    std::uint32_t baudRate = 9600;
    std::uint8_t dataSize = 8;
    std::uint8_t parity = rfc2217::kParityNone;
    std::uint8_t stopSize = rfc2217::kStopOne;
    bool dtr = false;
    bool rts = false;
    bool breakOn = false;
};

class Rfc2217Client final : public TelnetOption {
public:
    // Each setting is sent when it changes, while the server agrees.
    void setBaudRate(std::uint32_t rate, TelnetBytes& out);
    void setFormat(std::uint8_t dataSize, std::uint8_t parity, std::uint8_t stopSize, TelnetBytes& out);
    void setDtr(bool on, TelnetBytes& out);
    void setRts(bool on, TelnetBytes& out);
    void setBreak(bool on, TelnetBytes& out);
    void purge(std::uint8_t which, TelnetBytes& out);

    bool active() const { return active_; }
    const RemotePortSettings& settings() const { return settings_; }
    // The remote port's modem lines (rfc2217::kModemStateLines bits), once
    // the server has reported them.
    bool modemLinesKnown() const { return modemLinesKnown_; }
    std::uint8_t modemLines() const { return modemLines_; }
    // Receive errors (rfc2217::kLineStateErrors bits) reported since the last call.
    std::uint8_t takeLineErrors();

    // TelnetOption
    std::uint8_t code() const override { return rfc2217::kOptionComPort; }
    void agreed(bool on, TelnetBytes& out) override;
    void subnegotiation(const std::uint8_t* body, std::size_t length, TelnetBytes& out) override;

private:
    void send(std::uint8_t command, std::uint8_t value, TelnetBytes& out) const;
    void sendControl(bool on, std::uint8_t onValue, std::uint8_t offValue, TelnetBytes& out) const;
    void sendBaudRate(TelnetBytes& out) const;
    void sendAll(TelnetBytes& out) const;

    bool active_ = false;
    RemotePortSettings settings_;
    bool modemLinesKnown_ = false;
    std::uint8_t modemLines_ = 0;
    std::uint8_t lineErrors_ = 0;
};
