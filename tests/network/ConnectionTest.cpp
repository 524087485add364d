// The connection engine's own contract, once for all its faces: the service
// step (the one throttle, the transport's service call, reads that move
// nothing), bounded queues held by flow control, and the dial's deadline.
// What its faces make of it (callers answered or ringing, the face's words
// ahead of the data, the framing of a call) is tested with each face.
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
    std::string readAll()
    {
        std::string got;
        std::uint8_t byte = 0;
        while (connection.readByte(byte, true)) got.push_back(static_cast<char>(byte));
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
