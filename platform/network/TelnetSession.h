// A Telnet session (RFC 854), either side of the connection: data in binary
// mode both ways once the peer agrees, IAC doubled, CR NUL where binary is
// refused, the peer's option requests answered so that negotiation never
// loops, subnegotiations bounded. Options beyond its own (the COM-PORT option
// of a client, RFC 2217) plug in as TelnetOption.
//
// Portable: no sockets. Received bytes go in, data bytes come out; whatever
// must be sent (data, answers, subnegotiations) is appended to an output
// buffer the caller sends.
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
}  // namespace telnet

using TelnetBytes = std::vector<std::uint8_t>;

// An option this side carries out beyond the session's own.
class TelnetOption {
public:
    virtual ~TelnetOption() = default;
    virtual std::uint8_t code() const = 0;
    // The peer has agreed to it (DO), or withdrawn its agreement (DONT).
    virtual void agreed(bool on, TelnetBytes& out) = 0;
    // A subnegotiation of this option while it is agreed: its bytes after the
    // option code, IAC undoubled.
    virtual void subnegotiation(const std::uint8_t* body, std::size_t length, TelnetBytes& out) = 0;
};

class TelnetSession {
public:
    // A client lets the server echo; a server (a BBS answering a caller)
    // offers to echo and to suppress go-ahead, so that the caller's terminal
    // sends each key at once and leaves the echo to it.
    enum class Role { Client, Server };
    // Offering: negotiates from the start (binary both ways, and the added
    // options). Passive: offers nothing and stays a raw byte stream unless the
    // peer's first byte is IAC; then it negotiates as if it had offered.
    enum class Start { Offering, Passive };
    // The longest subnegotiation kept; longer ones are read to their end and dropped.
    static constexpr std::size_t kMaxSubnegotiation = 64;

    explicit TelnetSession(Role role = Role::Client);

    // An option of this side, offered with the session's own. Before start().
    void addOption(TelnetOption& option);
    void start(Start how, TelnetBytes& out);

    // Decodes received bytes. Data bytes go to `data` (never more than
    // `length` of them); answers go to `out`. Returns the count of data bytes.
    std::size_t receive(const std::uint8_t* in, std::size_t length, std::uint8_t* data, TelnetBytes& out);

    // One byte of data, framed for the peer.
    void sendData(std::uint8_t byte, TelnetBytes& out) const;

    // IAC SB option command value IAC SE, IAC doubled inside.
    static void sendSubnegotiation(std::uint8_t option, std::uint8_t command, const std::uint8_t* value,
                                   std::size_t length, TelnetBytes& out);

    // True once the stream is Telnet (always for an offering session).
    bool negotiating() const { return mode_ == Mode::Telnet; }
    // Whether each side has agreed to send binary.
    bool weSendBinary() const { return ourSide_[telnet::kOptionBinary]; }
    bool peerSendsBinary() const { return theirSide_[telnet::kOptionBinary]; }

private:
    enum class Mode { Undecided, Raw, Telnet };
    enum class State { Data, DataAfterCr, Iac, Option, Sub, SubIac };

    void offer(TelnetBytes& out);
    void option(std::uint8_t verb, std::uint8_t code, TelnetBytes& out);
    void command(std::uint8_t byte, std::uint8_t* data, std::size_t& produced);
    void keepSubByte(std::uint8_t byte);
    void subnegotiation(TelnetBytes& out);
    TelnetOption* added(std::uint8_t code) const;
    bool weDo(std::uint8_t code) const;       // options we carry out ourselves
    bool theyMay(std::uint8_t code) const;    // options we let the peer carry out

    Role role_;
    Mode mode_ = Mode::Undecided;
    State state_ = State::Data;
    std::vector<TelnetOption*> options_;
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
};
