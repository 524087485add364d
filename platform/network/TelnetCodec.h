// The byte stream of a network line, both ways: raw TCP passes bytes through;
// Telnet sends data in binary mode with IAC doubled, answers the server's
// option requests, and, when the server agrees to the COM-PORT option
// (RFC 2217), carries the line's rate, format, control lines and purges to the
// remote serial port and brings back its modem lines and line errors.
//
// Portable: no sockets. Received bytes go in, data bytes come out; whatever
// must be sent (data, answers, port commands) is appended to an output buffer
// the caller sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telnet {
constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;

constexpr std::uint8_t kOptionBinary = 0;
constexpr std::uint8_t kOptionEcho = 1;
constexpr std::uint8_t kOptionSuppressGoAhead = 3;
constexpr std::uint8_t kOptionComPort = 44;

// COM-PORT-OPTION commands, client to server; the server answers with the
// same code plus 100.
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
// They sit where the serial API's CE_OVERRUN, CE_RXPARITY and CE_FRAME do.
constexpr std::uint8_t kLineStateErrors = 0x0E;
// NOTIFY-MODEMSTATE bits of the lines themselves (CD, RI, DSR, CTS), where
// the serial API's MS_RLSD_ON, MS_RING_ON, MS_DSR_ON and MS_CTS_ON are.
constexpr std::uint8_t kModemStateLines = 0xF0;
}  // namespace telnet

// What the remote serial port is asked to be.
struct RemotePortSettings {
    std::uint32_t baudRate = 9600;
    std::uint8_t dataSize = 8;
    std::uint8_t parity = telnet::kParityNone;
    std::uint8_t stopSize = telnet::kStopOne;
    bool dtr = false;
    bool rts = false;
    bool breakOn = false;
};

class TelnetCodec {
public:
    enum class Protocol { Raw, Telnet };
    // The longest subnegotiation kept; longer ones are read to their end and dropped.
    static constexpr std::size_t kMaxSubnegotiation = 64;

    explicit TelnetCodec(Protocol protocol);

    // What a client sends as soon as it is connected: offers of binary mode
    // and of the COM-PORT option. Nothing for raw TCP.
    void start(std::vector<std::uint8_t>& out);

    // Decodes received bytes. Data bytes go to `data` (never more than
    // `length` of them); answers to the server go to `out`. Returns the count
    // of data bytes.
    std::size_t receive(const std::uint8_t* in, std::size_t length, std::uint8_t* data,
                        std::vector<std::uint8_t>& out);

    // One byte of the guest's data, IAC doubled under Telnet.
    void sendData(std::uint8_t byte, std::vector<std::uint8_t>& out) const;

    // The remote port's settings. Each change is sent at once while the
    // server has agreed to the COM-PORT option, and all of them again when it
    // agrees; otherwise they are only remembered.
    void setBaudRate(std::uint32_t rate, std::vector<std::uint8_t>& out);
    void setFormat(std::uint8_t dataSize, std::uint8_t parity, std::uint8_t stopSize, std::vector<std::uint8_t>& out);
    void setDtr(bool on, std::vector<std::uint8_t>& out);
    void setRts(bool on, std::vector<std::uint8_t>& out);
    void setBreak(bool on, std::vector<std::uint8_t>& out);
    void purge(std::uint8_t which, std::vector<std::uint8_t>& out);

    Protocol protocol() const { return protocol_; }
    bool comPortActive() const { return comPortActive_; }
    const RemotePortSettings& remoteSettings() const { return settings_; }
    // The remote port's modem lines (telnet::kModemStateLines bits), once the
    // server has reported them.
    bool modemLinesKnown() const { return modemLinesKnown_; }
    std::uint8_t modemLines() const { return modemLines_; }
    // Receive errors the server reported since the last call.
    std::uint8_t takeLineErrors();

private:
    enum class State { Data, DataAfterCr, Iac, Option, Sub, SubIac };

    void option(std::uint8_t verb, std::uint8_t code, std::vector<std::uint8_t>& out);
    void command(std::uint8_t byte, std::uint8_t* data, std::size_t& produced);
    void keepSubByte(std::uint8_t byte);
    void subnegotiation();
    void sendComPort(std::uint8_t command, const std::uint8_t* value, std::size_t length,
                     std::vector<std::uint8_t>& out) const;
    void sendAllSettings(std::vector<std::uint8_t>& out) const;
    bool weAccept(std::uint8_t code) const;   // options we do ourselves
    bool theyMay(std::uint8_t code) const;    // options we let the server do

    Protocol protocol_;
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::uint8_t sub_[kMaxSubnegotiation];
    std::size_t subLength_ = 0;
    bool subOverflow_ = false;
    // Per option: enabled on our side / theirs, and whether we asked for it
    // (so that the answer to our own request is not answered again).
    bool ourSide_[256] = {};
    bool theirSide_[256] = {};
    bool weOffered_[256] = {};
    bool weAsked_[256] = {};
    bool comPortActive_ = false;
    RemotePortSettings settings_;
    bool modemLinesKnown_ = false;
    std::uint8_t modemLines_ = 0;
    std::uint8_t lineErrors_ = 0;
};
