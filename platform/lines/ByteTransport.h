// A byte stream to another computer that never makes its caller wait: a TCP
// connection, made and used without blocking, or any other service that
// carries a line's bytes. The network lines and the modem carry their bytes
// over it through the connection engine (platform/network/Connection.h, which
// states what a transport can rely on); only the implementation knows sockets
// (Winsock in platform/win32), so everything above it is portable and tested
// natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

enum class TransportState : std::uint8_t {
    Connecting,  // resolving the name and connecting, in the background
    Open,
    Closed,      // the peer hung up, the connection broke, or connecting failed (see failure())
};

// Why connecting failed, for those who tell the user apart (a modem answers
// BUSY, NO ANSWER or NO CARRIER).
enum class ConnectFailure : std::uint8_t {
    None,
    NotResolved,  // the name is unknown to the name service
    Refused,      // the host answered that nothing listens there
    NoAnswer,     // nothing answered before the time given to connect ran out
    Other,
};

class ByteTransport {
public:
    virtual ~ByteTransport() = default;  // closes the connection, or abandons the connecting
    virtual TransportState state() = 0;
    virtual ConnectFailure failure() const = 0;
    // Copies up to `length` bytes that have arrived into `buffer`; 0 when none
    // wait (state() tells whether the peer is gone). Never waits.
    virtual std::size_t receive(std::uint8_t* buffer, std::size_t length) = 0;
    // Hands up to `length` bytes to the network; returns how many it took,
    // 0 while the network takes no more. Never waits.
    virtual std::size_t send(const std::uint8_t* data, std::size_t length) = 0;
    // The engine's service step has come (see Connection.h for how often):
    // a transport with timers of its own runs them here. Microseconds of the
    // engine's monotonic clock. Never waits.
    virtual void service(std::uint64_t /*nowMicroseconds*/) {}
};

// Waits for callers on a TCP port, without blocking anyone.
class Listener {
public:
    virtual ~Listener() = default;  // stops listening
    // The next caller, or null when none is waiting.
    virtual std::unique_ptr<ByteTransport> accept() = 0;
};

class Network {
public:
    // However long a caller is willing to wait, a connect gives up after this
    // long: above the longest wait a modem can be given (S7=255 seconds).
    static constexpr std::uint32_t kLongestConnectMilliseconds = 300000;

    virtual ~Network() = default;
    // Starts connecting to HOST:PORT in the background; the transport reads
    // Connecting until it is there or has failed, and fails with NoAnswer
    // when no address has answered within `timeoutMilliseconds` (at most
    // kLongestConnectMilliseconds). Null only when not even that can start.
    virtual std::unique_ptr<ByteTransport> connect(const std::string& host, std::uint16_t port,
                                                   std::uint32_t timeoutMilliseconds) = 0;
    // Listens on a numeric ADDRESS (IPv4, or IPv6 without brackets) and PORT;
    // null when that address or port cannot be had.
    virtual std::unique_ptr<Listener> listen(const std::string& address, std::uint16_t port) = 0;
};
