// The connection engine's own contract, once for all its faces: the service
// step (the one throttle, the transport's service call, reads that move
// nothing), bounded queues held by flow control, the dial's deadline, callers
// answered or ringing, the face's words ahead of the data, and the framing.
#include <gtest/gtest.h>

#include <string>

#include "platform/network/Connection.h"
#include "tests/network/FakeNetwork.h"
#include "tests/network/TelnetStreams.h"

using namespace telnet;
using State = Connection::State;

namespace {
constexpr std::uint64_t kSecond = 1000000;

class Engine : public ::testing::Test {
protected:
    // Dials a wire that answers at once, and lets the engine see it.
    std::shared_ptr<FakeWire> connect(Connection::Framing framing = {})
    {
        auto wire = std::make_shared<FakeWire>();
        wire->answer();
        connection.dial(std::make_unique<FakeTransport>(wire), framing, kSecond);
        step();
        EXPECT_EQ(connection.state(), State::Connected);
        return wire;
    }
    // A millisecond passes and the engine does its work.
    void step()
    {
        clock.now += Connection::kWorkInterval;
        connection.service();
    }
    std::string readAll(bool withData = true)
    {
        std::string got;
        std::uint8_t byte = 0;
        while (connection.readByte(byte, withData)) got.push_back(static_cast<char>(byte));
        return got;
    }
    void write(const std::string& text)
    {
        for (char c : text) connection.sendData(static_cast<std::uint8_t>(c));
    }

    FakeClock clock;
    Connection connection{clock};
};

std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }
}  // namespace

TEST_F(Engine, WorksAtMostOnceAMillisecondAndOnlyInItsServiceStep)
{
    auto wire = connect();
    const int receives = wire->receiveCalls;
    const int services = wire->serviceCalls;
    wire->peerSends("hello");
    for (int i = 0; i < 50; ++i) {  // reads look and take, and never reach the transport
        EXPECT_EQ(connection.waiting(true), 0u);
        EXPECT_TRUE(connection.takesData());
        EXPECT_EQ(connection.state(), State::Connected);
    }
    clock.now += Connection::kWorkInterval - 1;
    connection.service();
    EXPECT_EQ(wire->receiveCalls, receives);
    clock.now += 1;
    connection.service();
    EXPECT_EQ(wire->receiveCalls, receives + 1);
    EXPECT_EQ(readAll(), "hello");

    // With nothing to move, the transport is still served at every work step.
    for (int i = 0; i < 10; ++i) step();
    EXPECT_EQ(wire->serviceCalls, services + 11);
}

// The guest's side holds 4096 bytes; the rest stays with the network until
// the guest has read some, and nothing is lost or reordered.
TEST_F(Engine, InboundIsBoundedAndArrivesInOrder)
{
    auto wire = connect();
    std::string flood;
    for (int i = 0; i < 10000; ++i) flood.push_back(static_cast<char>(i * 7));
    wire->peerSends(flood);
    step();
    EXPECT_EQ(connection.waiting(true), Connection::kInboundCapacity);
    EXPECT_EQ(wire->toLine.size(), flood.size() - Connection::kInboundCapacity);

    std::string got;
    std::uint8_t byte = 0;
    for (int round = 0; round < 100000 && got.size() < flood.size(); ++round) {
        if (connection.readByte(byte, true)) got.push_back(static_cast<char>(byte));
        if (round % 97 == 0) step();
        EXPECT_LE(connection.waiting(true), Connection::kInboundCapacity);
    }
    EXPECT_EQ(got, flood);
}

TEST_F(Engine, TheGuestIsHeldBackWhileItsBytesCannotLeave)
{
    auto wire = connect();
    wire->sendRoom = 0;
    write(std::string(Connection::kOutboundHighWater - 1, 'a'));
    EXPECT_TRUE(connection.takesData());
    write("b");
    EXPECT_FALSE(connection.takesData());
    wire->sendRoom = 100;
    step();
    EXPECT_TRUE(connection.takesData());
    wire->sendRoom = static_cast<std::size_t>(-1);
    step();
    EXPECT_EQ(text(wire->fromLine), std::string(Connection::kOutboundHighWater - 1, 'a') + "b");
}

// A peer that keeps asking for answers and never reads them: the engine stops
// reading it, so what it owes the peer stays bounded.
TEST_F(Engine, APeerThatNeverReadsItsAnswersIsNotReadEither)
{
    auto wire = connect({Protocol::Telnet, TelnetSession::Role::Client, nullptr});
    wire->sendRoom = 0;
    wire->fromLine.clear();  // the session's offer
    const std::size_t asked = 100000 * 3;
    for (std::size_t i = 0; i < asked / 3; ++i) wire->peerSends(Bytes{kIac, kDo, 24});
    for (int i = 0; i < 1000; ++i) step();
    const std::size_t read = asked - wire->toLine.size();
    EXPECT_LE(read, Connection::kOutboundLimit + Connection::kReadChunk);
    EXPECT_TRUE(wire->fromLine.empty());

    wire->sendRoom = static_cast<std::size_t>(-1);  // once the peer reads, it is read again
    for (int i = 0; i < 10; ++i) step();
    EXPECT_GT(asked - wire->toLine.size(), read);
}

TEST_F(Engine, ADialEndsAtItsDeadlineOrWhenTheTransportSays)
{
    // A peer that answers and hangs up at once is seen connected first, for
    // one step, so that its face can tell it from one that never answered.
    auto quick = std::make_shared<FakeWire>();
    quick->answer();
    quick->peerGone = true;
    connection.dial(std::make_unique<FakeTransport>(quick), {}, kSecond);
    step();
    EXPECT_EQ(connection.state(), State::Connected);
    step();
    EXPECT_EQ(connection.state(), State::Idle);
    EXPECT_EQ(connection.failure(), ConnectFailure::None);

    const struct {
        const char* name;
        std::uint64_t answersAfter;  // microseconds; 0: never
        ConnectFailure refusal;      // None: no refusal
        State state;
        ConnectFailure failure;
    } cases[] = {
        {"answers just in time", kSecond - 1000, ConnectFailure::None, State::Connected, ConnectFailure::None},
        {"never answers", 0, ConnectFailure::None, State::Idle, ConnectFailure::NoAnswer},
        {"refused", 0, ConnectFailure::Refused, State::Idle, ConnectFailure::Refused},
        {"name unknown", 0, ConnectFailure::NotResolved, State::Idle, ConnectFailure::NotResolved},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Connection dialling(clock);
        auto wire = std::make_shared<FakeWire>();
        const std::uint64_t started = clock.now;
        dialling.dial(std::make_unique<FakeTransport>(wire), {}, kSecond);
        if (c.refusal != ConnectFailure::None) {
            wire->connecting = TransportState::Closed;
            wire->failure = c.refusal;
        }
        while (clock.now - started < kSecond - 1000) {
            clock.now += 1000;
            if (c.answersAfter && clock.now - started >= c.answersAfter) wire->answer();
            dialling.service();
        }
        if (c.answersAfter == 0)
            EXPECT_EQ(dialling.state(), c.refusal == ConnectFailure::None ? State::Connecting : State::Idle);
        clock.now += 1000;
        dialling.service();
        EXPECT_EQ(dialling.state(), c.state);
        EXPECT_EQ(dialling.failure(), c.failure);
        EXPECT_EQ(wire->released, c.state == State::Idle);
    }
}

TEST_F(Engine, CallersAreAnsweredOneAtATimeOrRingWhileOthersHearBusy)
{
    auto queue = std::make_shared<FakeListenQueue>();
    connection.answerCallers(std::make_unique<FakeListener>(queue), {});
    auto first = queue->call();
    auto second = queue->call();
    step();
    EXPECT_EQ(connection.state(), State::Connected);
    EXPECT_EQ(queue->callers.size(), 1u);  // the second waits in the listener
    first->peerGone = true;
    step();
    EXPECT_TRUE(first->released);
    step();
    EXPECT_EQ(connection.state(), State::Connected);
    EXPECT_TRUE(queue->callers.empty());

    Connection ringing(clock);
    auto callers = std::make_shared<FakeListenQueue>();
    ringing.ringCallers(std::make_unique<FakeListener>(callers), "BUSY\r\n");
    auto caller = callers->call();
    auto another = callers->call();
    step();
    ringing.service();
    EXPECT_EQ(ringing.state(), State::Ringing);
    EXPECT_EQ(text(another->fromLine), "BUSY\r\n");
    EXPECT_TRUE(another->released);
    caller->peerGone = true;  // gives up before it is answered
    clock.now += Connection::kWorkInterval;
    ringing.service();
    EXPECT_EQ(ringing.state(), State::Idle);

    auto answered = callers->call();
    clock.now += Connection::kWorkInterval;
    ringing.service();
    ringing.answer({});
    EXPECT_EQ(ringing.state(), State::Connected);
    auto late = callers->call();
    clock.now += Connection::kWorkInterval;
    ringing.service();
    EXPECT_EQ(text(late->fromLine), "BUSY\r\n");
}

TEST_F(Engine, TheFacesWordsGoFirstAndTheDataOnlyWhenLetThrough)
{
    auto wire = connect();
    wire->peerSends("data");
    step();
    connection.say("\r\nCONNECT\r\n");
    EXPECT_EQ(connection.waiting(false), 11u);
    EXPECT_EQ(readAll(false), "\r\nCONNECT\r\n");
    EXPECT_EQ(connection.waiting(true), 4u);
    connection.say("x");
    EXPECT_EQ(readAll(), "xdata");

    // A hang-up keeps what the peer sent and drops what it never took.
    wire->sendRoom = 0;
    write("unsent");
    wire->peerSends("last");
    step();
    connection.hangUp();
    EXPECT_EQ(connection.state(), State::Idle);
    EXPECT_TRUE(wire->released);
    EXPECT_EQ(readAll(), "last");
}

TEST_F(Engine, FramingIsRawTelnetOrWhatThePeersFirstByteSays)
{
    const Bytes negotiating{kIac, kWill, kOptionEcho, 'h', 'i', kIac, kIac};
    const struct {
        Protocol protocol;
        bool peerNegotiates;
        bool offers;
        bool telnet;
    } cases[] = {
        {Protocol::Raw, true, false, false},
        {Protocol::Telnet, false, true, true},
        {Protocol::Detect, true, false, true},
        {Protocol::Detect, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.protocol) * 2 + c.peerNegotiates);
        Connection framed(clock);
        auto wire = std::make_shared<FakeWire>();
        wire->answer();
        framed.dial(std::make_unique<FakeTransport>(wire), {c.protocol, TelnetSession::Role::Client, nullptr}, kSecond);
        for (int step = 0; step < 2; ++step) {  // connected, then served
            clock.now += Connection::kWorkInterval;
            framed.service();
        }
        EXPECT_EQ(!wire->fromLine.empty(), c.offers);
        wire->fromLine.clear();
        const Bytes sent = c.peerNegotiates ? negotiating : Bytes{'h', 'i'};
        wire->peerSends(sent);
        clock.now += Connection::kWorkInterval;
        framed.service();
        std::string got;
        std::uint8_t byte = 0;
        while (framed.readByte(byte, true)) got.push_back(static_cast<char>(byte));
        EXPECT_EQ(got, !c.telnet ? text(sent) : c.peerNegotiates ? "hi\xff" : "hi");
        wire->fromLine.clear();
        framed.sendData(kIac);
        clock.now += Connection::kWorkInterval;
        framed.service();
        EXPECT_EQ(wire->fromLine, c.telnet ? (Bytes{kIac, kIac}) : Bytes{kIac});  // IAC doubled in Telnet
    }
}
