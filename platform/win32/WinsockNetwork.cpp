#include "platform/win32/WinsockNetwork.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/win32/DetachedThread.h"

namespace {
// How often a connect that waits looks whether its transport was given up.
constexpr DWORD kConnectSliceMs = 50;
constexpr int kSendBuffer = 16384;

bool startWinsock()
{
    static std::atomic<bool> started{false};
    if (started.load()) return true;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    started.store(true);  // each WSAStartup is counted; a second one from a race costs nothing
    return true;
}

void makeNonBlocking(SOCKET socket)
{
    u_long on = 1;
    ioctlsocket(socket, FIONBIO, &on);
}

// A connection ready for the line: non-blocking, and sending each byte as it
// is handed over rather than holding it back for an acknowledgement (a
// terminal session would stall on every key). A second of the fastest line is
// plenty to keep in flight; more would only hide a peer that stopped reading:
// the guest's bytes belong in its own registers then, held there by CTS.
void prepare(SOCKET socket)
{
    makeNonBlocking(socket);
    BOOL on = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    int sendBuffer = kSendBuffer;
    setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer), sizeof sendBuffer);
}

std::string portText(std::uint16_t port)
{
    char text[8];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(port));
    return text;
}

// One connect, shared by the transport that waits for it and the thread that
// makes it; whichever lets go last frees it. The thread publishes the socket
// or the failure before it moves `stage` on; a transport given up while the
// connect is pending leaves the socket to the thread to close.
struct ConnectAttempt {
    enum Stage : int { Pending, Connected, Failed, Abandoned };
    std::atomic<int> stage{Pending};
    SOCKET socket = INVALID_SOCKET;
    ConnectFailure failure = ConnectFailure::None;
    std::string host;
    std::uint16_t port = 0;
    DWORD started = 0;  // GetTickCount() when the connect began
    DWORD timeout = 0;  // how long an answer is waited for, in milliseconds
    bool timeUp() const { return GetTickCount() - started >= timeout; }  // wraps around safely
};

enum class Outcome { Connected, Refused, NoAnswer, Other };

// Waits until the attempt's time is up for a non-blocking connect, in short
// slices so that a transport given up meanwhile is noticed.
Outcome finishConnect(SOCKET socket, const ConnectAttempt& attempt)
{
    while (!attempt.timeUp()) {
        if (attempt.stage.load() == ConnectAttempt::Abandoned) return Outcome::Other;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        timeval slice{0, static_cast<long>(kConnectSliceMs * 1000)};
        const int ready = select(0, nullptr, &writable, &failed, &slice);
        if (ready < 0) return Outcome::Other;
        if (ready == 0) continue;
        int error = 0;
        int length = sizeof error;
        getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        if (error == 0 && !FD_ISSET(socket, &failed)) return Outcome::Connected;
        return error == WSAECONNREFUSED ? Outcome::Refused : Outcome::Other;
    }
    return Outcome::NoAnswer;
}

Outcome tryAddress(const addrinfo& address, const ConnectAttempt& attempt, SOCKET& connected)
{
    SOCKET candidate = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (candidate == INVALID_SOCKET) return Outcome::Other;
    makeNonBlocking(candidate);
    Outcome outcome = Outcome::Connected;
    if (::connect(candidate, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        const int error = WSAGetLastError();
        outcome = error == WSAEWOULDBLOCK     ? finishConnect(candidate, attempt)
                  : error == WSAECONNREFUSED ? Outcome::Refused
                                             : Outcome::Other;
    }
    if (outcome == Outcome::Connected)
        connected = candidate;
    else
        closesocket(candidate);
    return outcome;
}

// Resolves the name and tries each address in turn until the time is up. When
// none connects, an address that never answered says more than one that
// refused, and one that refused more than any other failure.
void connectAttempt(ConnectAttempt& attempt)
{
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    int expected = ConnectAttempt::Pending;
    if (getaddrinfo(attempt.host.c_str(), portText(attempt.port).c_str(), &hints, &found) != 0) {
        attempt.failure = ConnectFailure::NotResolved;
        attempt.stage.compare_exchange_strong(expected, ConnectAttempt::Failed);
        return;
    }
    SOCKET connected = INVALID_SOCKET;
    ConnectFailure failure = ConnectFailure::Other;
    for (addrinfo* address = found; address && attempt.stage.load() == ConnectAttempt::Pending;
         address = address->ai_next) {
        if (attempt.timeUp()) {
            failure = ConnectFailure::NoAnswer;
            break;
        }
        const Outcome outcome = tryAddress(*address, attempt, connected);
        if (outcome == Outcome::Connected) break;
        if (outcome == Outcome::NoAnswer) failure = ConnectFailure::NoAnswer;
        if (outcome == Outcome::Refused && failure == ConnectFailure::Other) failure = ConnectFailure::Refused;
    }
    freeaddrinfo(found);
    if (connected == INVALID_SOCKET) {
        attempt.failure = failure;
        attempt.stage.compare_exchange_strong(expected, ConnectAttempt::Failed);
        return;
    }
    attempt.socket = connected;
    if (!attempt.stage.compare_exchange_strong(expected, ConnectAttempt::Connected)) closesocket(connected);
}

// A TCP connection, being made or made, used without blocking.
class SocketTransport final : public ByteTransport {
public:
    explicit SocketTransport(std::shared_ptr<ConnectAttempt> attempt) : attempt_(std::move(attempt)) {}
    explicit SocketTransport(SOCKET connected) : socket_(connected), state_(TransportState::Open) { prepare(socket_); }

    ~SocketTransport() override
    {
        if (attempt_) {
            int expected = ConnectAttempt::Pending;
            if (!attempt_->stage.compare_exchange_strong(expected, ConnectAttempt::Abandoned) &&
                expected == ConnectAttempt::Connected)
                closesocket(attempt_->socket);
        }
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
    }

    TransportState state() override
    {
        if (state_ == TransportState::Connecting) {
            switch (attempt_->stage.load()) {
            case ConnectAttempt::Connected:
                socket_ = attempt_->socket;
                prepare(socket_);
                state_ = TransportState::Open;
                attempt_.reset();
                break;
            case ConnectAttempt::Failed:
                failure_ = attempt_->failure;
                state_ = TransportState::Closed;
                attempt_.reset();
                break;
            default: break;
            }
        }
        return state_;
    }

    ConnectFailure failure() const override { return failure_; }

    std::size_t receive(std::uint8_t* buffer, std::size_t length) override
    {
        if (state() != TransportState::Open || length == 0) return 0;
        const int got = recv(socket_, reinterpret_cast<char*>(buffer), static_cast<int>(length), 0);
        if (got > 0) return static_cast<std::size_t>(got);
        if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK) state_ = TransportState::Closed;
        return 0;
    }

    std::size_t send(const std::uint8_t* data, std::size_t length) override
    {
        if (state() != TransportState::Open || length == 0) return 0;
        const int sent = ::send(socket_, reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
        if (sent >= 0) return static_cast<std::size_t>(sent);
        if (WSAGetLastError() != WSAEWOULDBLOCK) state_ = TransportState::Closed;
        return 0;
    }

private:
    std::shared_ptr<ConnectAttempt> attempt_;
    SOCKET socket_ = INVALID_SOCKET;
    TransportState state_ = TransportState::Connecting;
    ConnectFailure failure_ = ConnectFailure::None;
};

class SocketListener final : public Listener {
public:
    explicit SocketListener(SOCKET listening) : socket_(listening) { makeNonBlocking(socket_); }
    ~SocketListener() override { closesocket(socket_); }

    std::unique_ptr<ByteTransport> accept() override
    {
        const SOCKET caller = ::accept(socket_, nullptr, nullptr);
        if (caller == INVALID_SOCKET) return nullptr;
        return std::make_unique<SocketTransport>(caller);
    }

private:
    SOCKET socket_;
};
}  // namespace

// The connect's own limit is only a ceiling: the caller's time to wait decides.
std::unique_ptr<ByteTransport> WinsockNetwork::connect(const std::string& host, std::uint16_t port,
                                                       std::uint32_t timeoutMilliseconds)
{
    if (!startWinsock()) return nullptr;
    auto attempt = std::make_shared<ConnectAttempt>();
    attempt->host = host;
    attempt->port = port;
    attempt->started = GetTickCount();
    attempt->timeout = timeoutMilliseconds < kLongestConnectMilliseconds ? timeoutMilliseconds
                                                                          : kLongestConnectMilliseconds;
    if (!startDetachedThread([attempt] { connectAttempt(*attempt); })) return nullptr;
    return std::make_unique<SocketTransport>(std::move(attempt));
}

// A numeric address only, so that nothing here waits on a name server; one
// caller waits while another is served.
std::unique_ptr<Listener> WinsockNetwork::listen(const std::string& address, std::uint16_t port)
{
    if (!startWinsock()) return nullptr;
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), portText(port).c_str(), &hints, &found) != 0) return nullptr;
    SOCKET listening = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    const bool ready = listening != INVALID_SOCKET &&
                       bind(listening, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0 &&
                       ::listen(listening, 1) == 0;
    freeaddrinfo(found);
    if (!ready) {
        if (listening != INVALID_SOCKET) closesocket(listening);
        return nullptr;
    }
    return std::make_unique<SocketListener>(listening);
}

// ---- For the dial-up server -------------------------------------------------

namespace {
sockaddr_in ipv4Socket(Ipv4Address address, std::uint16_t port)
{
    sockaddr_in out;
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_addr.s_addr = htonl(address);
    out.sin_port = htons(port);
    return out;
}

class UdpSocket final : public DatagramSocket {
public:
    explicit UdpSocket(SOCKET socket) : socket_(socket) { makeNonBlocking(socket_); }
    ~UdpSocket() override { closesocket(socket_); }

    bool sendTo(Ipv4Address address, std::uint16_t port, const std::uint8_t* data, std::size_t length) override
    {
        const sockaddr_in to = ipv4Socket(address, port);
        return ::sendto(socket_, reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(length);
    }

    std::size_t receiveFrom(std::uint8_t* buffer, std::size_t length, Ipv4Address& address,
                            std::uint16_t& port) override
    {
        for (int tries = 0; tries < 8; ++tries) {
            sockaddr_in from;
            int fromLength = sizeof from;
            const int got = ::recvfrom(socket_, reinterpret_cast<char*>(buffer), static_cast<int>(length), 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0) {
                // A datagram larger than the buffer arrives cut (WSAEMSGSIZE); an
                // earlier datagram's ICMP unreachable (WSAECONNRESET) is not news
                // for this one: the next one is read instead.
                const int error = WSAGetLastError();
                if (error == WSAECONNRESET) continue;
                if (error != WSAEMSGSIZE) return 0;
                address = ntohl(from.sin_addr.s_addr);
                port = ntohs(from.sin_port);
                return length;
            }
            if (got == 0 || from.sin_family != AF_INET) continue;
            address = ntohl(from.sin_addr.s_addr);
            port = ntohs(from.sin_port);
            return static_cast<std::size_t>(got);
        }
        return 0;
    }

private:
    SOCKET socket_;
};

// One look-up, shared by the caller and the thread that makes it, as a connect is.
struct LookupAttempt {
    std::atomic<int> state{static_cast<int>(NameLookup::State::Pending)};
    std::atomic<bool> abandoned{false};
    std::string name;
    std::vector<Ipv4Address> found;  // written by the thread before `state` moves on
};

void lookUpAttempt(LookupAttempt& attempt)
{
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    const int error = getaddrinfo(attempt.name.c_str(), nullptr, &hints, &results);
    NameLookup::State outcome = NameLookup::State::Failed;
    if (error == 0) {
        for (addrinfo* at = results; at && attempt.found.size() < 8; at = at->ai_next) {
            const Ipv4Address address = ntohl(reinterpret_cast<sockaddr_in*>(at->ai_addr)->sin_addr.s_addr);
            bool seen = false;
            for (Ipv4Address other : attempt.found) seen |= other == address;
            if (!seen) attempt.found.push_back(address);
        }
        freeaddrinfo(results);
        outcome = attempt.found.empty() ? NameLookup::State::NotFound : NameLookup::State::Found;
    } else if (error == WSAHOST_NOT_FOUND || error == WSANO_DATA) {
        outcome = NameLookup::State::NotFound;
    }
    attempt.state.store(static_cast<int>(outcome));
}

class ThreadLookup final : public NameLookup {
public:
    explicit ThreadLookup(std::shared_ptr<LookupAttempt> attempt) : attempt_(std::move(attempt)) {}
    ~ThreadLookup() override { attempt_->abandoned.store(true); }
    State state() override { return static_cast<State>(attempt_->state.load()); }
    std::vector<Ipv4Address> addresses() override
    {
        if (state() != State::Found) return {};
        return attempt_->found;
    }

private:
    std::shared_ptr<LookupAttempt> attempt_;
};
}  // namespace

std::unique_ptr<DatagramSocket> WinsockNetwork::openDatagram()
{
    if (!startWinsock()) return nullptr;
    const SOCKET udp = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (udp == INVALID_SOCKET) return nullptr;
    const sockaddr_in any = ipv4Socket(INADDR_ANY, 0);
    if (bind(udp, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        closesocket(udp);
        return nullptr;
    }
    return std::make_unique<UdpSocket>(udp);
}

std::unique_ptr<NameLookup> WinsockNetwork::lookUp(const std::string& name)
{
    if (!startWinsock()) return nullptr;
    auto attempt = std::make_shared<LookupAttempt>();
    attempt->name = name;
    if (!startDetachedThread([attempt] { lookUpAttempt(*attempt); })) return nullptr;
    return std::make_unique<ThreadLookup>(std::move(attempt));
}

// The IPv4 addresses of every interface, as Winsock lists them for a socket
// (no name server is asked); loopback aside, which is closed anyway.
std::vector<Ipv4Address> WinsockNetwork::ownAddresses()
{
    std::vector<Ipv4Address> own;
    if (!startWinsock()) return own;
    const SOCKET probe = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (probe == INVALID_SOCKET) return own;
    INTERFACE_INFO interfaces[64];
    DWORD size = 0;
    if (WSAIoctl(probe, SIO_GET_INTERFACE_LIST, nullptr, 0, interfaces, sizeof interfaces, &size, nullptr, nullptr) == 0) {
        for (DWORD i = 0; i < size / sizeof interfaces[0]; ++i) {
            const sockaddr* address = &interfaces[i].iiAddress.Address;
            if (address->sa_family != AF_INET) continue;
            const Ipv4Address own4 = ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
            if ((own4 >> 24) != 127) own.push_back(own4);
        }
    }
    closesocket(probe);
    return own;
}
