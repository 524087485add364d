// A serial line that is a TCP connection: a client (raw or Telnet, RFC 2217
// when the server agrees) or a listener taking one connection at a time.
//
// The emulator's threads never wait on the network: the client resolves and
// connects on a thread of its own, and every socket call made from a port
// operation is non-blocking. Received bytes wait in a bounded buffer whose
// count is the port's input queue; while it is full nothing more is read, so
// TCP's own flow control holds the peer back. While the guest's bytes cannot
// leave fast enough, CTS reads off, so they wait in the guest's registers.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <vector>

#include "device/Platform.h"
#include "platform/network/LineName.h"
#include "platform/network/TelnetCodec.h"

struct Connector;

class NetworkLine {
public:
    // Received bytes kept for the guest, and the unsent bytes above which CTS
    // reads off.
    static constexpr std::size_t kInputCapacity = 4096;
    static constexpr std::size_t kOutputHighWater = 1024;

    // Starts connecting, or starts listening (which needs a numeric address
    // and a free port). Null when the line cannot even start.
    static NetworkLine* start(const NetworkLineName& name);
    ~NetworkLine();
    NetworkLine(const NetworkLine&) = delete;
    NetworkLine& operator=(const NetworkLine&) = delete;

    // The SerialPorts operations. A client whose peer is gone, or who could
    // not reach it, fails getState, setState and escape, so that the device
    // opens the line afresh at the next mode byte (and so connects again).
    bool getState(CommState& state);
    bool setState(const CommState& state);
    bool escape(EscapeCode code);
    bool purge(std::uint32_t flags);
    bool getModemStatus(std::uint32_t& lines);
    bool clearErrors(std::uint32_t& errors, std::uint32_t& inputQueued);
    bool readByte(std::uint8_t& byte, std::uint32_t& bytesRead);
    bool writeByte(std::uint8_t byte);

private:
    enum class Phase { Connecting, Listening, Connected, Gone };

    NetworkLine(const NetworkLineName& name, SOCKET listener, Connector* connector);
    void pump();            // the non-blocking socket work, at most once a millisecond
    void takeConnection();  // a finished connect or an incoming connection
    void receive();
    void send();
    void drop();            // the peer is gone
    void connected(SOCKET socket);
    std::uint32_t lines() const;

    CRITICAL_SECTION lock_;
    NetworkLineName::Kind kind_;
    Phase phase_;
    SOCKET socket_ = INVALID_SOCKET;
    SOCKET listener_;
    Connector* connector_;
    TelnetCodec codec_;
    CommState state_;
    std::uint8_t input_[kInputCapacity];
    std::size_t inputStart_ = 0;
    std::size_t inputCount_ = 0;
    std::vector<std::uint8_t> output_;
    std::size_t outputSent_ = 0;
    std::uint32_t lineErrors_ = 0;
    LARGE_INTEGER lastPump_{};
    LARGE_INTEGER pumpInterval_{};
};
