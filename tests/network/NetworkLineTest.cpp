// The network lines as the device sees them, over a fake network and a
// hand-turned clock: a client that connects and is gone when its peer
// leaves, the listener's next caller, and the Telnet line's remote serial
// port. The engine beneath them is tested once, in ConnectionTest.
#include <gtest/gtest.h>

#include <string>

#include "platform/network/Connection.h"
#include "platform/network/NetworkLineKind.h"
#include "tests/network/FakeNetwork.h"
#include "tests/network/TelnetStreams.h"

using namespace telnet;
using namespace rfc2217;

namespace {
class NetworkLine : public ::testing::Test {
protected:
    // Opens a line by its name; the far end of a client's connection is `wire`.
    void open(const char* name)
    {
        line = kind.open(name);
        ASSERT_NE(line, nullptr);
        if (!network.wires.empty()) wire = network.wires.back();
    }
    // A millisecond passes and the line has its service step.
    LineState poll()
    {
        clock.now += Connection::kWorkInterval;
        line->service();
        return line->state();
    }
    ModemInputs inputs()
    {
        ModemInputs in{};
        EXPECT_TRUE(line->readInputs(in));
        return in;
    }
    std::string lines()  // the inputs that are on, as letters: CTS DSR RI DCD
    {
        const ModemInputs in = inputs();
        return std::string(in.cts ? "C" : "") + (in.dsr ? "D" : "") + (in.ring ? "R" : "") + (in.dcd ? "K" : "");
    }
    std::string readAll()
    {
        std::string got;
        std::uint8_t byte = 0;
        while (line->readByte(byte)) got.push_back(static_cast<char>(byte));
        return got;
    }
    std::uint32_t waiting()
    {
        std::uint8_t errors = 0;
        std::uint32_t count = 0;
        EXPECT_TRUE(line->pollErrors(errors, count));
        return count;
    }
    void write(const std::string& text)
    {
        for (char c : text) EXPECT_TRUE(line->writeByte(static_cast<std::uint8_t>(c)));
    }

    FakeNetwork network;
    FakeClock clock;
    NetworkLineKind kind{network, clock};
    std::unique_ptr<Line> line;
    std::shared_ptr<FakeWire> wire;
};

std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }
}  // namespace

TEST_F(NetworkLine, ClientConnectsCarriesBytesAndIsGoneWhenThePeerLeaves)
{
    open("tcp:bbs.example.org:23");
    EXPECT_EQ(network.requests, std::vector<std::string>{"connect bbs.example.org 23"});
    EXPECT_EQ(wire->timeoutMilliseconds, NetworkLineKind::kConnectTimeoutMilliseconds);
    EXPECT_EQ(line->features(), 0u);
    EXPECT_EQ(poll(), LineState::Connecting);
    EXPECT_EQ(lines(), "");  // nothing leaves the guest until someone is there
    EXPECT_FALSE(line->writeByte('x'));

    wire->answer();
    EXPECT_EQ(poll(), LineState::Open);
    EXPECT_EQ(lines(), "CDK");
    write("hi");
    wire->peerSends("bye");
    poll();
    EXPECT_EQ(text(wire->fromLine), "hi");

    // The peer hangs up: what it sent before is still the guest's to read.
    wire->peerGone = true;
    EXPECT_EQ(poll(), LineState::Gone);
    EXPECT_EQ(lines(), "");
    EXPECT_FALSE(line->writeByte('x'));
    EXPECT_EQ(waiting(), 3u);
    EXPECT_EQ(readAll(), "bye");
    EXPECT_TRUE(wire->released);

    // One that is refused, or never answers in the kind's time, is gone as
    // soon as connecting fails.
    open("tcp:127.0.0.1:9");
    wire->refuse();
    EXPECT_EQ(poll(), LineState::Gone);
}

TEST_F(NetworkLine, ListenerTakesTheNextCallerAfterAHangUp)
{
    open("listen:5000");
    EXPECT_EQ(network.requests, std::vector<std::string>{"listen 127.0.0.1 5000"});
    FakeListenQueue& queue = *network.listeners.back();
    EXPECT_EQ(poll(), LineState::Connecting);
    EXPECT_EQ(lines(), "");

    auto first = queue.call();
    auto second = queue.call();  // waits while the first is served
    EXPECT_EQ(poll(), LineState::Open);
    EXPECT_EQ(lines(), "CDK");
    EXPECT_EQ(queue.callers.size(), 1u);
    first->peerSends("one");
    write("to first");
    poll();
    first->peerGone = true;
    EXPECT_EQ(poll(), LineState::Connecting);  // listening again
    EXPECT_TRUE(first->released);
    EXPECT_EQ(text(first->fromLine), "to first");

    EXPECT_EQ(poll(), LineState::Open);
    second->peerSends("two");
    poll();
    EXPECT_EQ(readAll(), "onetwo");  // nothing the first caller sent is lost
    EXPECT_TRUE(second->fromLine.empty());

    line.reset();
    EXPECT_TRUE(queue.released);
}

class TelnetNetworkLine : public NetworkLine {
protected:
    void SetUp() override
    {
        open("telnet:serial-server:2217");
        wire->answer();
        poll();
        poll();  // connected, then served: the session's greeting goes
    }
    void serverAgrees()
    {
        wire->peerSends(Bytes{kIac, kDo, kOptionBinary, kIac, kWill, kOptionBinary, kIac, kDo, kOptionComPort});
        poll();
    }
    std::vector<Bytes> commandsSent()
    {
        const std::vector<Bytes> commands = subnegotiationsOf(kOptionComPort, wire->fromLine);
        wire->fromLine.clear();
        return commands;
    }
};

// When the settings go is the COM-PORT client's (Rfc2217ClientTest); the
// line puts the guest's in its terms.
TEST_F(TelnetNetworkLine, TheGuestsSettingsReachTheRemotePortInItsTerms)
{
    LineFormat format{};
    ASSERT_TRUE(line->readFormat(format));
    EXPECT_EQ(format.rate, 9600u);
    EXPECT_DOUBLE_EQ(bitsPerCharacter(format), 9.0);
    ASSERT_TRUE(line->setFormat({19200, 7, Parity::Even, StopBits::Two, true}));
    serverAgrees();
    commandsSent();

    const struct {
        LineFormat format;
        std::vector<Bytes> sent;
    } cases[] = {
        {{19200, 8, Parity::None, StopBits::One, false}, {{kSetDataSize, 8}, {kSetParity, kParityNone}, {kSetStopSize, kStopOne}}},
        {{19200, 8, Parity::Odd, StopBits::OneAndHalf, true}, {{kSetParity, kParityOdd}, {kSetStopSize, kStopOneAndHalf}}},
        {{19200, 8, Parity::Mark, StopBits::One, true}, {{kSetParity, kParityMark}, {kSetStopSize, kStopOne}}},
        {{300, 8, Parity::Space, StopBits::One, true}, {{kSetBaudRate, 0, 0, 0x01, 0x2C}, {kSetParity, kParitySpace}}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(line->setFormat(c.format));
        poll();
        EXPECT_EQ(commandsSent(), c.sent);
    }
    // What no serial port takes (from a save block, say) is refused, not sent.
    EXPECT_FALSE(line->setFormat({300, 37, Parity::Space, StopBits::One, true}));
    EXPECT_FALSE(line->setRate(0));
    poll();
    EXPECT_TRUE(commandsSent().empty());
    const struct {
        Control control;
        bool on;
        std::uint8_t value;
    } controls[] = {{Control::Rts, true, kControlRtsOn}, {Control::Break, true, kControlBreakOn},
                    {Control::Break, false, kControlBreakOff}, {Control::Dtr, true, kControlDtrOn}};
    for (const auto& c : controls) {
        ASSERT_TRUE(line->setControl(c.control, c.on));
        poll();
        EXPECT_EQ(commandsSent(), (std::vector<Bytes>{{kSetControl, c.value}}));
    }
    ASSERT_TRUE(line->setRate(115200));
    wire->peerSends("z");
    poll();
    line->discard();
    poll();
    EXPECT_EQ(commandsSent(), (std::vector<Bytes>{{kSetBaudRate, 0, 1, 0xC2, 0}, {kPurgeData, kPurgeBoth}}));
    EXPECT_EQ(waiting(), 0u);
    ASSERT_TRUE(line->readFormat(format));
    EXPECT_EQ(format.rate, 115200u);

    // Once the server is gone there is nowhere for settings to go.
    wire->peerGone = true;
    EXPECT_EQ(poll(), LineState::Gone);
    EXPECT_FALSE(line->setFormat(format));
    EXPECT_FALSE(line->setRate(9600));
    EXPECT_FALSE(line->setControl(Control::Rts, false));
    EXPECT_FALSE(line->readFormat(format));
}

TEST_F(TelnetNetworkLine, TheRemotePortsLinesAndErrorsReachTheGuest)
{
    serverAgrees();
    EXPECT_EQ(lines(), "CDK");  // a server that has not reported is taken to have its lines on
    const struct {
        std::uint8_t modemState;
        const char* lines;
    } cases[] = {{0x50, "CR"}, {0xA0, "DK"}, {0x0F, ""}, {0xF0, "CDRK"}};
    for (const auto& c : cases) {
        wire->peerSends(serverSays(kNotifyModemState, c.modemState));
        poll();
        EXPECT_EQ(lines(), c.lines) << int(c.modemState);
    }
    wire->sendRoom = 0;  // the server's CTS is on, but the guest's bytes are not leaving
    write(std::string(Connection::kOutboundHighWater, 'x'));
    EXPECT_EQ(lines(), "DRK");

    wire->peerSends(serverSays(kNotifyLineState, 0x02 | 0x04 | 0x08 | 0x01));
    poll();
    std::uint8_t errors = 0;
    std::uint32_t count = 0;
    ASSERT_TRUE(line->pollErrors(errors, count));
    EXPECT_EQ(errors, kLineErrorOverrun | kLineErrorParity | kLineErrorFraming);
    ASSERT_TRUE(line->pollErrors(errors, count));
    EXPECT_EQ(errors, 0);
}
