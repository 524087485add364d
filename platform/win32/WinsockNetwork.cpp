#include "platform/win32/WinsockNetwork.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

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
    // The thread holds a reference to the plug-in's module, so that a host
    // unloading the plug-in while a name server is slow to answer does not
    // pull the code from under it.
    HMODULE module = nullptr;
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

DWORD WINAPI runConnect(void* argument)
{
    auto* shared = static_cast<std::shared_ptr<ConnectAttempt>*>(argument);
    const HMODULE module = (*shared)->module;
    connectAttempt(**shared);
    delete shared;  // before the module may go
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
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
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&runConnect),
                       &attempt->module);
    auto* forThread = new std::shared_ptr<ConnectAttempt>(attempt);
    HANDLE thread = CreateThread(nullptr, 0, runConnect, forThread, 0, nullptr);
    if (thread == nullptr) {
        if (attempt->module) FreeLibrary(attempt->module);
        delete forThread;
        return nullptr;
    }
    CloseHandle(thread);
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
