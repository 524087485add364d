// The connection engine under every network line and every modem call: one
// byte stream to another computer over a transport, with an optional Telnet
// session (client or server, offering or passive, with an option such as the
// COM-PORT client of RFC 2217 plugged in), bounded queues each way held by
// flow control, and one service step that does all the work with the
// transport. The raw TCP line, the Telnet line, the listening line and the
// modem's call are this engine with a different face (a Line): the face
// passes on the service step the device gives its line once a tick, and its
// reads (state, inputs, errors, bytes) only look at what the engine holds.
//
// What a transport (ByteTransport, Listener) can rely on:
//  - It is called only from the engine's work step, under the lock the device
//    holds for its line: one call at a time, never from two threads at once.
//  - The work step comes at the first service step 1 ms or more after the
//    last one (the one throttle: socket calls cost 50 to 70 us under Wine,
//    while a tick at 115200 bit/s comes every 87 us). Service steps come once
//    a tick of the guest's line, one character time apart (87 us at 115200
//    bit/s, 1.04 ms at 9600, 33 ms at 300), from the guest's first mode byte
//    until the line closes; so a transport's work step comes every 1 ms at
//    9600 bit/s and above, and every character time below that.
//  - At every work step the transport it holds (ringing, connecting or
//    connected) gets service(now) first, whether or not any byte moves: a
//    transport with timers of its own runs them there. Then a connecting one
//    is asked state(); once it is open, from the next step on, it is asked
//    send(), receive() and send() again (answers to what it just received),
//    as long as there is room each way, and state() after a receive or send
//    that moved nothing.
//  - receive() is never asked for more than the engine can keep: the room
//    of its queue toward the guest, at most kReadChunk; nothing while the
//    peer's answers owed reach kOutboundLimit. A transport that holds bytes
//    back meanwhile holds its peer back (TCP's own flow control does).
//  - A connecting transport that reports Closed with a failure() ends the
//    dial with it; Closed with none counts as answered and hung up at once.
//  - A transport is dropped (its destructor called) when its call ends: when
//    it reports Closed, when a dial's time runs out before it is Open, or
//    when the face hangs up. Dropping one that is still connecting abandons
//    the connect; it must then let go of whatever it holds without waiting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/lines/ByteTransport.h"
#include "platform/lines/Clock.h"
#include "platform/network/Address.h"
#include "platform/network/ByteQueue.h"
#include "platform/network/TelnetSession.h"

class Connection {
public:
    // Toward the guest: the peer's data, and the face's own words (a modem's
    // echo and results), which go first.
    static constexpr std::size_t kInboundCapacity = 4096;
    static constexpr std::size_t kSayCapacity = 2048;
    // Toward the peer: the guest's bytes are taken while fewer than this wait
    // (the face drops CTS from here, so the rest wait in the guest's own
    // registers), and the peer is not read while this many wait for it
    // (so a peer that keeps asking for answers and never reads them cannot
    // make the engine hoard them).
    static constexpr std::size_t kOutboundHighWater = 1024;
    static constexpr std::size_t kOutboundLimit = 4096;
    static constexpr std::size_t kReadChunk = 1024;
    static constexpr std::uint64_t kWorkInterval = 1000;  // microseconds
    // Callers taken from a listener at one work step, so that a storm of them
    // cannot keep the engine busy.
    static constexpr int kCallersPerStep = 8;

    enum class State : std::uint8_t {
        Idle,        // no call (a listener may be waiting for one)
        Ringing,     // a caller waits to be answered
        Connecting,  // a dialled call waits for its transport
        Connected,
    };

    // How a call's bytes are framed.
    struct Framing {
        Protocol protocol = Protocol::Raw;  // Detect: Telnet when the peer's first byte is IAC
        TelnetSession::Role role = TelnetSession::Role::Client;
        TelnetOption* option = nullptr;     // the face's, added to a Telnet session; outlives the engine
    };

    explicit Connection(Clock& clock);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // ---- Calls ----
    // Follows a transport that is connecting. A ringing caller hears `busy`
    // (see ringCallers) and is hung up on. The dial fails with NoAnswer when
    // the transport is not open within `timeoutMicroseconds`.
    void dial(std::unique_ptr<ByteTransport> transport, const Framing& framing, std::uint64_t timeoutMicroseconds);
    // Answers each caller at once, one at a time: the next waits in the
    // listener until this one hangs up.
    void answerCallers(std::unique_ptr<Listener> listener, const Framing& framing);
    // A caller rings until answer(); callers meanwhile, and during a call,
    // are sent `busy` and hung up on.
    void ringCallers(std::unique_ptr<Listener> listener, std::string busy);
    void answer(const Framing& framing);
    // Ends the call being made or up; a ringing caller rings on. What the
    // peer sent stays for the guest; what the guest sent and the peer has not
    // taken goes.
    void hangUp();

    State state() const { return state_; }
    // Why the last dial ended without connecting; None once connected.
    ConnectFailure failure() const { return failure_; }

    // ---- The service step: all the work with the transport and listener ----
    void service();

    // ---- Toward the guest ----
    // The face's own words, ahead of the peer's data; all or, when they do
    // not fit, none.
    void say(std::string_view text);
    std::size_t sayRoom() const { return said_.room(); }
    // What readByte would give: the face's words, and the peer's data when
    // `withData` (a modem in command mode holds the data back).
    std::size_t waiting(bool withData) const { return said_.size() + (withData ? inbound_.size() : 0); }
    bool readByte(std::uint8_t& byte, bool withData);
    std::size_t dataWaiting() const { return inbound_.size(); }
    void discardSaid() { said_.clear(); }
    void discardData() { inbound_.clear(); }

    // ---- From the guest ----
    // True while the guest's bytes are taken without holding it back (CTS).
    bool takesData() const { return unsent() < kOutboundHighWater; }
    // One of the guest's bytes, framed for the peer; dropped when not connected.
    void sendData(std::uint8_t byte);
    // Where the face's Telnet option writes what it sends while connected.
    TelnetBytes& output() { return outbound_; }

private:
    void takeCallers();
    void followDial(std::uint64_t now);
    void connected(const Framing& framing);
    void end(ConnectFailure failure);
    void refuse(ByteTransport& caller);
    void send();
    void receive();
    std::size_t unsent() const { return outbound_.size() - sent_; }

    Clock& clock_;
    State state_ = State::Idle;
    ConnectFailure failure_ = ConnectFailure::None;
    std::unique_ptr<ByteTransport> transport_;  // the call, or the ringing caller
    Framing framing_;                           // of the call being dialled
    std::uint64_t dialled_ = 0;
    std::uint64_t timeout_ = 0;
    std::unique_ptr<Listener> listener_;
    bool ring_ = false;      // callers ring rather than being answered at once
    std::string busy_;
    std::optional<TelnetSession> session_;
    bool worked_ = false;
    std::uint64_t lastWork_ = 0;
    ByteQueue<kInboundCapacity> inbound_;
    ByteQueue<kSayCapacity> said_;
    TelnetBytes outbound_;
    std::size_t sent_ = 0;
};
