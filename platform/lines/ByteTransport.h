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
#include <vector>

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

// ---- What the dial-up server needs of the network besides TCP ------------
// An IPv4 address in host order: a.b.c.d is a << 24 | b << 16 | c << 8 | d.
using Ipv4Address = std::uint32_t;

// A UDP socket on a port of the network's choosing, used without blocking.
class DatagramSocket {
public:
    virtual ~DatagramSocket() = default;  // closes the socket
    // Sends one datagram; false when the network did not take it now (it is
    // then lost, as a datagram may be).
    virtual bool sendTo(Ipv4Address address, std::uint16_t port, const std::uint8_t* data, std::size_t length) = 0;
    // Copies the next datagram that arrived into `buffer` (cut to `length`)
    // and names its sender; returns its length, 0 when none waits.
    virtual std::size_t receiveFrom(std::uint8_t* buffer, std::size_t length, Ipv4Address& address,
                                    std::uint16_t& port) = 0;
};

// A host name being looked up in the background.
class NameLookup {
public:
    enum class State : std::uint8_t { Pending, Found, NotFound, Failed };
    virtual ~NameLookup() = default;  // abandons the look-up if it is still running
    virtual State state() = 0;
    // The name's IPv4 addresses (a few at most) once state() is Found.
    virtual std::vector<Ipv4Address> addresses() = 0;
};
// ---------------------------------------------------------------------------

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

    // ---- For the dial-up server; a network without them has no datagrams,
    // resolves no names and knows no addresses of its own.
    // A UDP socket bound to any free port of every address; null when none can be had.
    virtual std::unique_ptr<DatagramSocket> openDatagram() { return nullptr; }
    // Starts looking up NAME's IPv4 addresses in the background.
    virtual std::unique_ptr<NameLookup> lookUp(const std::string& name)
    {
        (void)name;
        return nullptr;
    }
    // The IPv4 addresses of this computer's own interfaces, loopback aside.
    virtual std::vector<Ipv4Address> ownAddresses() { return {}; }
};
