#include "platform/win32/NetworkLine.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {
// How long a client keeps trying one address that does not answer.
constexpr DWORD kConnectTimeoutMs = 10000;
constexpr DWORD kConnectSliceMs = 50;
constexpr std::size_t kReadChunk = 1024;
constexpr int kSendBuffer = 16384;

// Where the connector's socket is: being connected, handed over to the line,
// given up by the line before it was ready (the connector then closes it),
// or not to be had.
enum ConnectorState : LONG { kPending = 0, kReady = 1, kAbandoned = 2, kFailed = 3, kTaken = 4 };

constexpr std::uint32_t kLinesOn = kModemCtsOn | kModemDsrOn | kModemRlsdOn;
constexpr std::uint32_t kPurgeTxAbort = 0x1, kPurgeRxAbort = 0x2, kPurgeTxClear = 0x4, kPurgeRxClear = 0x8;

bool startWinsock()
{
    static LONG started = 0;
    if (InterlockedCompareExchange(&started, 0, 0) == 1) return true;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    InterlockedExchange(&started, 1);  // each WSAStartup is counted; the extra ones cost nothing
    return true;
}

void makeNonBlocking(SOCKET socket)
{
    u_long on = 1;
    ioctlsocket(socket, FIONBIO, &on);
}

void sendAtOnce(SOCKET socket)
{
    // The guest's bytes go out as the ticks hand them over, not held back for
    // an acknowledgement: a terminal session would stall on every key.
    BOOL on = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    // A second of the fastest line is plenty to keep in flight. More would
    // only hide a peer that stopped reading: the guest's bytes belong in its
    // own registers then, held there by CTS.
    int sendBuffer = kSendBuffer;
    setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer), sizeof sendBuffer);
}

std::string portText(std::uint16_t port)
{
    char text[8];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(port));
    return text;
}

// Waits up to the timeout for a non-blocking connect, in short slices so
// that a line closed meanwhile is noticed.
bool finishConnect(SOCKET socket, const volatile LONG& state)
{
    for (DWORD waited = 0; waited < kConnectTimeoutMs; waited += kConnectSliceMs) {
        if (state == kAbandoned) return false;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        timeval slice{0, static_cast<long>(kConnectSliceMs * 1000)};
        const int ready = select(0, nullptr, &writable, &failed, &slice);
        if (ready < 0) return false;
        if (ready == 0) continue;
        if (FD_ISSET(socket, &failed)) return false;
        int error = 0;
        int length = sizeof error;
        getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        return error == 0;
    }
    return false;
}
}  // namespace

// Name resolution and connecting, on a thread of their own. The line and the
// thread each hold a reference; the last to let go frees it.
struct Connector {
    volatile LONG references = 2;
    volatile LONG state = kPending;
    SOCKET socket = INVALID_SOCKET;
    std::string host;
    std::uint16_t port = 0;

    void release()
    {
        if (InterlockedDecrement(&references) == 0) delete this;
    }

    // The thread holds a reference to the plug-in's module, so that a host
    // unloading the plug-in while a name server is slow to answer does not
    // pull the code from under it.
    HMODULE module = nullptr;

    static DWORD WINAPI run(void* argument)
    {
        Connector* self = static_cast<Connector*>(argument);
        HMODULE module = self->module;
        self->connect();
        self->release();
        if (module) FreeLibraryAndExitThread(module, 0);
        return 0;
    }

    void connect()
    {
        addrinfo hints;
        std::memset(&hints, 0, sizeof hints);
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), portText(port).c_str(), &hints, &found) != 0) {
            InterlockedCompareExchange(&state, kFailed, kPending);
            return;
        }
        SOCKET connectedSocket = INVALID_SOCKET;
        for (addrinfo* address = found; address && state == kPending; address = address->ai_next) {
            SOCKET candidate = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
            if (candidate == INVALID_SOCKET) continue;
            makeNonBlocking(candidate);
            const int result = ::connect(candidate, address->ai_addr, static_cast<int>(address->ai_addrlen));
            if (result == 0 || (WSAGetLastError() == WSAEWOULDBLOCK && finishConnect(candidate, state))) {
                connectedSocket = candidate;
                break;
            }
            closesocket(candidate);
        }
        freeaddrinfo(found);
        if (connectedSocket == INVALID_SOCKET) {
            InterlockedCompareExchange(&state, kFailed, kPending);
            return;
        }
        socket = connectedSocket;
        if (InterlockedCompareExchange(&state, kReady, kPending) != kPending) closesocket(connectedSocket);
    }
};

NetworkLine* NetworkLine::start(const NetworkLineName& name)
{
    if (!startWinsock()) return nullptr;
    if (name.kind == NetworkLineName::Kind::Listen) {
        // A numeric address only, so that nothing here waits on a name server.
        addrinfo hints;
        std::memset(&hints, 0, sizeof hints);
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
        addrinfo* found = nullptr;
        if (getaddrinfo(name.host.c_str(), portText(name.port).c_str(), &hints, &found) != 0) return nullptr;
        SOCKET listener = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
        const bool listening = listener != INVALID_SOCKET &&
                               bind(listener, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0 &&
                               listen(listener, 1) == 0;
        freeaddrinfo(found);
        if (!listening) {
            if (listener != INVALID_SOCKET) closesocket(listener);
            return nullptr;
        }
        makeNonBlocking(listener);
        return new NetworkLine(name, listener, nullptr);
    }

    Connector* connector = new Connector;
    connector->host = name.host;
    connector->port = name.port;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Connector::run),
                       &connector->module);
    HANDLE thread = CreateThread(nullptr, 0, Connector::run, connector, 0, nullptr);
    if (thread == nullptr) {
        if (connector->module) FreeLibrary(connector->module);
        delete connector;
        return nullptr;
    }
    CloseHandle(thread);
    return new NetworkLine(name, INVALID_SOCKET, connector);
}

NetworkLine::NetworkLine(const NetworkLineName& name, SOCKET listener, Connector* connector)
    : kind_(name.kind),
      phase_(listener != INVALID_SOCKET ? Phase::Listening : Phase::Connecting),
      listener_(listener),
      connector_(connector),
      codec_(name.kind == NetworkLineName::Kind::Telnet ? TelnetCodec::Protocol::Telnet : TelnetCodec::Protocol::Raw)
{
    InitializeCriticalSection(&lock_);
    // What getState reports until the guest sets the line: 9600 bit/s 8N1, binary.
    std::memset(&state_, 0, sizeof state_);
    state_.DCBlength = sizeof state_;
    state_.BaudRate = 9600;
    state_.flags = 0x1;
    state_.ByteSize = 8;
    state_.Parity = kNoParity;
    state_.StopBits = kOneStopBit;
    QueryPerformanceFrequency(&pumpInterval_);
    pumpInterval_.QuadPart /= 1000;
}

NetworkLine::~NetworkLine()
{
    if (connector_) {
        // A connect still under way is abandoned (its thread closes what it
        // gets); one already finished is closed here.
        const LONG was = InterlockedCompareExchange(&connector_->state, kAbandoned, kPending);
        if (was == kReady && InterlockedCompareExchange(&connector_->state, kTaken, kReady) == kReady)
            closesocket(connector_->socket);
        connector_->release();
    }
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    DeleteCriticalSection(&lock_);
}

void NetworkLine::connected(SOCKET socket)
{
    makeNonBlocking(socket);
    sendAtOnce(socket);
    socket_ = socket;
    phase_ = Phase::Connected;
    // Bytes the guest sent while no one was there were never sent, and a new
    // peer starts a new Telnet session.
    output_.clear();
    outputSent_ = 0;
    codec_.start(output_);
}

void NetworkLine::takeConnection()
{
    if (phase_ == Phase::Connecting) {
        const LONG state = InterlockedCompareExchange(&connector_->state, kTaken, kReady);
        if (state == kReady) {
            connected(connector_->socket);
        } else if (state == kFailed) {
            phase_ = Phase::Gone;
        }
    } else if (phase_ == Phase::Listening) {
        SOCKET incoming = accept(listener_, nullptr, nullptr);
        if (incoming != INVALID_SOCKET) {
            codec_ = TelnetCodec(TelnetCodec::Protocol::Raw);
            connected(incoming);
        }
    }
}

void NetworkLine::drop()
{
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
    phase_ = kind_ == NetworkLineName::Kind::Listen ? Phase::Listening : Phase::Gone;
}

void NetworkLine::receive()
{
    std::uint8_t raw[kReadChunk];
    std::uint8_t data[kReadChunk];
    while (phase_ == Phase::Connected && inputCount_ < kInputCapacity) {
        // Never more than fits: decoding makes no more bytes than it reads.
        std::size_t room = kInputCapacity - inputCount_;
        if (room > kReadChunk) room = kReadChunk;
        const int got = recv(socket_, reinterpret_cast<char*>(raw), static_cast<int>(room), 0);
        if (got == 0 || (got < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) {
            drop();
            return;
        }
        if (got < 0) return;
        const std::size_t produced = codec_.receive(raw, static_cast<std::size_t>(got), data, output_);
        for (std::size_t i = 0; i < produced; ++i) input_[(inputStart_ + inputCount_++) % kInputCapacity] = data[i];
        lineErrors_ |= codec_.takeLineErrors();
        if (static_cast<std::size_t>(got) < room) return;  // the socket had no more
    }
}

void NetworkLine::send()
{
    while (phase_ == Phase::Connected && outputSent_ < output_.size()) {
        const int sent = ::send(socket_, reinterpret_cast<const char*>(output_.data() + outputSent_),
                                static_cast<int>(output_.size() - outputSent_), 0);
        if (sent < 0) {
            if (WSAGetLastError() != WSAEWOULDBLOCK) drop();
            return;
        }
        outputSent_ += static_cast<std::size_t>(sent);
    }
    if (outputSent_ == output_.size()) {
        output_.clear();
        outputSent_ = 0;
    }
}

void NetworkLine::pump()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (now.QuadPart - lastPump_.QuadPart < pumpInterval_.QuadPart) return;
    lastPump_ = now;
    if (phase_ == Phase::Connecting || phase_ == Phase::Listening) takeConnection();
    if (phase_ != Phase::Connected) return;
    send();
    receive();
    send();  // answers to what was just received
}

std::uint32_t NetworkLine::lines() const
{
    if (phase_ != Phase::Connected) return 0;
    std::uint32_t on = kLinesOn;
    // The server's own report once there is one; a server that has not sent
    // one yet is taken to have its lines on, or a silent one would never let
    // a byte through.
    if (codec_.comPortActive() && codec_.modemLinesKnown()) on = codec_.modemLines();
    if (output_.size() - outputSent_ >= kOutputHighWater) on &= ~kModemCtsOn;
    return on;
}

bool NetworkLine::getState(CommState& state)
{
    EnterCriticalSection(&lock_);
    pump();
    const bool usable = phase_ != Phase::Gone;
    if (usable) state = state_;
    LeaveCriticalSection(&lock_);
    return usable;
}

bool NetworkLine::setState(const CommState& state)
{
    EnterCriticalSection(&lock_);
    const bool usable = phase_ != Phase::Gone;
    if (usable) {
        state_ = state;
        static const std::uint8_t kParity[] = {telnet::kParityNone, telnet::kParityOdd, telnet::kParityEven, 4, 5};
        static const std::uint8_t kStop[] = {telnet::kStopOne, telnet::kStopOneAndHalf, telnet::kStopTwo};
        codec_.setBaudRate(state.BaudRate, output_);
        codec_.setFormat(state.ByteSize, state.Parity < 5 ? kParity[state.Parity] : telnet::kParityNone,
                         state.StopBits < 3 ? kStop[state.StopBits] : telnet::kStopOne, output_);
    }
    LeaveCriticalSection(&lock_);
    return usable;
}

bool NetworkLine::escape(EscapeCode code)
{
    EnterCriticalSection(&lock_);
    const bool usable = phase_ != Phase::Gone;
    switch (code) {
    case EscapeCode::SetDtr: codec_.setDtr(true, output_); break;
    case EscapeCode::ClrDtr: codec_.setDtr(false, output_); break;
    case EscapeCode::SetRts: codec_.setRts(true, output_); break;
    case EscapeCode::ClrRts: codec_.setRts(false, output_); break;
    case EscapeCode::SetBreak: codec_.setBreak(true, output_); break;
    case EscapeCode::ClrBreak: codec_.setBreak(false, output_); break;
    }
    LeaveCriticalSection(&lock_);
    return usable;
}

bool NetworkLine::purge(std::uint32_t flags)
{
    EnterCriticalSection(&lock_);
    const bool receiveSide = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
    const bool transmitSide = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
    if (receiveSide) inputStart_ = inputCount_ = 0;
    // Bytes already handed to the network have left the line, as they would
    // have left a UART; the remote port's own buffers are purged by request.
    if (receiveSide || transmitSide)
        codec_.purge(receiveSide && transmitSide ? telnet::kPurgeBoth
                     : receiveSide               ? telnet::kPurgeReceive
                                                 : telnet::kPurgeTransmit,
                     output_);
    LeaveCriticalSection(&lock_);
    return true;
}

bool NetworkLine::getModemStatus(std::uint32_t& lineBits)
{
    EnterCriticalSection(&lock_);
    pump();
    lineBits = lines();
    LeaveCriticalSection(&lock_);
    return true;
}

bool NetworkLine::clearErrors(std::uint32_t& errors, std::uint32_t& inputQueued)
{
    EnterCriticalSection(&lock_);
    pump();
    errors = lineErrors_;
    lineErrors_ = 0;
    inputQueued = static_cast<std::uint32_t>(inputCount_);
    LeaveCriticalSection(&lock_);
    return true;
}

bool NetworkLine::readByte(std::uint8_t& byte, std::uint32_t& bytesRead)
{
    EnterCriticalSection(&lock_);
    bytesRead = 0;
    if (inputCount_ > 0) {
        byte = input_[inputStart_];
        inputStart_ = (inputStart_ + 1) % kInputCapacity;
        --inputCount_;
        bytesRead = 1;
    }
    LeaveCriticalSection(&lock_);
    return true;
}

bool NetworkLine::writeByte(std::uint8_t byte)
{
    EnterCriticalSection(&lock_);
    // Only a connected line takes bytes; with CTS off the guest holds them.
    const bool taken = phase_ == Phase::Connected;
    if (taken) codec_.sendData(byte, output_);
    LeaveCriticalSection(&lock_);
    return taken;
}
