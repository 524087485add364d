// A dial-up session over lwIP with a hand-made SLIP guest and a fake host
// network: the relay's rewriting seen from both sides, the places the guest
// may not reach, the caps, UDP and DNS, PPP starting on the guest's first
// frame, and a dropped call leaving lwIP as clean as it found it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialup/DialupSession.h"
#include "platform/dialup/LwipStack.h"
#include "platform/dialup/Packet.h"
#include "platform/dialup/SlipFraming.h"
#include "tests/dialup/DialupRig.h"

using namespace dialup;

namespace {
Ipv4Address ip(const char* text) { return *parseIpv4(text); }
const Ipv4Address kGuest = ip("10.0.2.15");
const Ipv4Address kFar = ip("93.184.216.34");

struct Segment {
    Ipv4Address from = 0, to = 0;
    std::uint16_t fromPort = 0, toPort = 0;
    std::uint8_t flags = 0;
    std::uint32_t sequence = 0, acknowledgement = 0;
    std::string payload;
};

std::vector<std::uint8_t> tcp(const Segment& s)
{
    std::vector<std::uint8_t> d(40 + s.payload.size(), 0);
    writeIpHeader(d.data(), d.size(), kProtocolTcp, s.from, s.to, 1);
    std::uint8_t* t = d.data() + 20;
    write16(t, s.fromPort);
    write16(t + 2, s.toPort);
    write32(t + 4, s.sequence);
    write32(t + 8, s.acknowledgement);
    t[12] = 5 << 4;
    t[13] = s.flags;
    write16(t + 14, 8192);
    std::memcpy(t + 20, s.payload.data(), s.payload.size());
    write16(t + 16, transportChecksum(t, 20 + s.payload.size(), kProtocolTcp, s.from, s.to));
    return d;
}

std::vector<std::uint8_t> udp(Ipv4Address to, std::uint16_t toPort, std::uint16_t fromPort,
                              const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> d(28 + payload.size(), 0);
    writeIpHeader(d.data(), d.size(), kProtocolUdp, kGuest, to, 2);
    write16(d.data() + 20, fromPort);
    write16(d.data() + 22, toPort);
    write16(d.data() + 24, static_cast<std::uint16_t>(8 + payload.size()));
    std::memcpy(d.data() + 28, payload.data(), payload.size());
    write16(d.data() + 26, transportChecksum(d.data() + 20, 8 + payload.size(), kProtocolUdp, kGuest, to));
    return d;
}

Segment parse(std::vector<std::uint8_t>& d)
{
    Datagram view(d.data(), d.size());
    Segment s;
    if (!view.valid() || view.protocol() != kProtocolTcp) return s;
    s.from = view.source();
    s.to = view.destination();
    s.fromPort = view.sourcePort();
    s.toPort = view.destinationPort();
    s.flags = view.tcpFlags();
    s.sequence = view.tcpSequence();
    s.acknowledgement = view.tcpAcknowledgement();
    const std::size_t header = static_cast<std::size_t>(view.transport()[12] >> 4) * 4;
    s.payload.assign(reinterpret_cast<char*>(view.transport()) + header, view.tcpPayload());
    EXPECT_EQ(onesComplementSum(d.data(), 20), 0xffff);
    EXPECT_EQ(transportChecksum(view.transport(), view.transportLength(), kProtocolTcp, s.from, s.to), 0);
    return s;
}


// The guest's side of a SLIP call, and the time it keeps.
class SlipCall : public ::testing::Test {
protected:
    void SetUp() override
    {
        session = DialupSession::start({network, clock}, settings(), Service::Slip);
        ASSERT_TRUE(session);
    }
    virtual DialupSettings settings() { return DialupSettings{}; }

    void send(const std::vector<std::uint8_t>& datagram)
    {
        std::vector<std::uint8_t> line(slipEncodedLimit(datagram.size()));
        line.resize(slipEncode(datagram.data(), datagram.size(), line.data()));
        EXPECT_EQ(session->send(line.data(), line.size()), line.size());
    }
    // Time passes a millisecond at a time, the session serviced at each.
    void run(int milliseconds = 2)
    {
        for (int i = 0; i < milliseconds; ++i) {
            clock.now += 1000;
            session->service(clock.now);
        }
    }
    std::vector<std::vector<std::uint8_t>> received()
    {
        run();
        std::vector<std::vector<std::uint8_t>> out;
        std::uint8_t buffer[512];
        while (std::size_t got = session->receive(buffer, sizeof buffer))
            for (std::size_t i = 0; i < got; ++i)
                if (decoder.take(buffer[i])) out.emplace_back(decoder.frame(), decoder.frame() + decoder.size());
        return out;
    }
    std::vector<Segment> segments()
    {
        std::vector<Segment> out;
        for (auto& d : received()) out.push_back(parse(d));
        return out;
    }
    // A connection from the guest's `port` to the far host, through the handshake.
    std::shared_ptr<FakeWire> connect(std::uint16_t port, std::uint32_t& guestNext, std::uint32_t& farNext)
    {
        send(tcp({kGuest, kFar, port, 80, kTcpSyn, 5000, 0, ""}));
        run();
        auto wire = network.wires.back();
        wire->answer();
        const auto answer = segments();
        EXPECT_EQ(answer.size(), 1u);
        if (answer.empty()) return wire;
        EXPECT_EQ(answer[0].flags, kTcpSyn | kTcpAck);
        EXPECT_EQ(answer[0].from, kFar);
        EXPECT_EQ(answer[0].fromPort, 80);
        EXPECT_EQ(answer[0].toPort, port);
        EXPECT_EQ(answer[0].acknowledgement, 5001u);
        guestNext = 5001;
        farNext = answer[0].sequence + 1;
        send(tcp({kGuest, kFar, port, 80, kTcpAck, guestNext, farNext, ""}));
        run();
        return wire;
    }

    FakeNetwork network;
    FakeClock& clock = sharedClock();
    std::unique_ptr<DialupSession> session;
    SlipDecoder decoder;
};
}  // namespace

TEST_F(SlipCall, AGuestConnectionIsCarriedOnByAHostConnectionBothWaysAndClosedFromBothEnds)
{
    std::uint32_t guestNext = 0, farNext = 0;
    auto wire = connect(1025, guestNext, farNext);
    EXPECT_EQ(network.requests, std::vector<std::string>{"connect 93.184.216.34 80"});
    send(tcp({kGuest, kFar, 1025, 80, kTcpAck | 0x08, guestNext, farNext, "GET /"}));
    run();
    EXPECT_EQ(std::string(wire->fromLine.begin(), wire->fromLine.end()), "GET /");
    wire->peerSends("HELLO");
    wire->peerGone = true;
    std::string data;
    bool fin = false;
    for (int i = 0; i < 5 && !fin; ++i)
        for (const Segment& s : segments()) {
            EXPECT_EQ(s.from, kFar);
            EXPECT_EQ(s.toPort, 1025);
            data += s.payload;
            fin |= (s.flags & kTcpFin) != 0;
        }
    EXPECT_EQ(data, "HELLO");
    EXPECT_TRUE(fin);
    EXPECT_EQ(session->figures().relay.connections, 1u);
    // The guest closes its side after the host's: the connection ends whole.
    send(tcp({kGuest, kFar, 1025, 80, kTcpFin | kTcpAck, guestNext + 5, farNext + 6, ""}));
    run(5);
    EXPECT_TRUE(wire->released);
    EXPECT_EQ(session->figures().relay.refused + session->figures().relay.overCap, 0u);
}

TEST_F(SlipCall, PlacesTheGuestMayNotReachAreResetWithoutAHostConnection)
{
    struct Case {
        const char* to;
        std::uint16_t port;
    } cases[] = {{"127.0.0.1", 80}, {"10.0.2.2", 22}, {"0.0.0.1", 80}, {"10.0.2.3", 53}};
    for (const Case& c : cases) {
        send(tcp({kGuest, ip(c.to), 1030, c.port, kTcpSyn, 77, 0, ""}));
        const auto answer = segments();
        ASSERT_EQ(answer.size(), 1u) << c.to;
        EXPECT_TRUE(answer[0].flags & kTcpRst) << c.to;
        EXPECT_EQ(answer[0].from, ip(c.to));
        EXPECT_EQ(answer[0].acknowledgement, 78u);
    }
    EXPECT_TRUE(network.requests.empty());
}

TEST_F(SlipCall, ARefusedHostConnectionIsResetAsTheFarHostWould)
{
    send(tcp({kGuest, kFar, 1040, 80, kTcpSyn, 9, 0, ""}));
    run();
    network.wires.back()->refuse();
    const auto answer = segments();
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].flags, kTcpRst | kTcpAck);
    EXPECT_EQ(answer[0].from, kFar);
    EXPECT_EQ(session->figures().relay.refused, 1u);
}

TEST_F(SlipCall, ASynFloodStopsAtTheCapsAndTheStepStaysBounded)
{
    for (std::uint16_t port = 2000; port < 2100; ++port)
        send(tcp({kGuest, kFar + port, port, 80, kTcpSyn, 1, 0, ""}));
    run();
    EXPECT_EQ(network.requests.size(), Relay::kMostConnecting);
    EXPECT_EQ(session->figures().relay.overCap, 100u - Relay::kMostConnecting);
    for (auto& wire : network.wires) wire->answer();
    received();
    for (std::uint16_t port = 3000; port < 3100; ++port)
        send(tcp({kGuest, kFar + port, port, 80, kTcpSyn, 1, 0, ""}));
    run(5);
    EXPECT_EQ(network.requests.size(), Relay::kMostConnections);
}

TEST_F(SlipCall, UdpIsRelayedAndNameQueriesAnsweredThroughTheHost)
{
    send(udp(ip("192.0.2.7"), 123, 4000, {1, 2, 3}));
    run();
    ASSERT_EQ(network.datagramSockets.size(), 1u);
    auto& far = *network.datagramSockets[0];
    ASSERT_EQ(far.sent.size(), 1u);
    EXPECT_EQ(far.sent[0].address, ip("192.0.2.7"));
    EXPECT_EQ(far.sent[0].bytes, (std::vector<std::uint8_t>{1, 2, 3}));
    far.arriving.push_back({ip("192.0.2.7"), 123, {9, 8}});
    far.arriving.push_back({kLoopback, 123, {6}});  // this computer is not to be heard
    auto back = received();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(read32(back[0].data() + 12), ip("192.0.2.7"));
    EXPECT_EQ(read16(back[0].data() + 22), 4000);
    EXPECT_EQ(back[0][28], 9);

    std::vector<std::uint8_t> query = {0xab, 0xcd, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0,
                                       7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'o', 'r', 'g', 0, 0, 1, 0, 1};
    send(udp(ip("10.0.2.3"), 53, 4001, query));
    run();
    ASSERT_EQ(network.lookups.size(), 1u);
    EXPECT_EQ(network.lookups[0]->name, "example.org");
    EXPECT_TRUE(received().empty());  // nothing until the resolver answers
    network.lookups[0]->found = {ip("93.184.216.34")};
    network.lookups[0]->state = NameLookup::State::Found;
    back = received();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(read32(back[0].data() + 12), ip("10.0.2.3"));
    const std::uint8_t* answer = back[0].data() + 28;
    EXPECT_EQ(read16(answer), 0xabcd);
    EXPECT_EQ(read16(answer + 6), 1);
    EXPECT_EQ(read32(answer + query.size() + 12), ip("93.184.216.34"));
}

TEST_F(SlipCall, TheGatewayAnswersEcho)
{
    std::vector<std::uint8_t> echo(28, 0);
    writeIpHeader(echo.data(), echo.size(), kProtocolIcmp, kGuest, ip("10.0.2.2"), 3);
    echo[20] = 8;
    write16(echo.data() + 24, 0x1234);
    write16(echo.data() + 22, static_cast<std::uint16_t>(~onesComplementSum(echo.data() + 20, 8)));
    send(echo);
    const auto back = received();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0][9], kProtocolIcmp);
    EXPECT_EQ(back[0][20], 0);  // echo reply
}

TEST_F(SlipCall, ADroppedCallLeavesACleanStackForTheNext)
{
    std::uint32_t guestNext = 0, farNext = 0;
    auto wire = connect(1050, guestNext, farNext);
    wire->peerSends(std::string(3000, 'x'));
    received();
    send(tcp({kGuest, kFar, 1050, 80, kTcpAck, guestNext, farNext, std::string(500, 'y')}));
    send(udp(ip("192.0.2.7"), 123, 4000, {1}));
    send(tcp({kGuest, kFar, 1051, 80, kTcpSyn, 1, 0, ""}));
    run();
    EXPECT_GT(LwipStack::poolsInUse(), 0u);
    EXPECT_FALSE(DialupSession::start({network, clock}, DialupSettings{}, Service::Login))
        << "one session at a time";
    session.reset();
    expectCleanStack(clock);
    EXPECT_TRUE(wire->released);
    EXPECT_TRUE(network.datagramSockets[0]->closed);
    session = DialupSession::start({network, clock}, DialupSettings{}, Service::Slip);
    ASSERT_TRUE(session);
    connect(1050, guestNext, farNext);
}


TEST(DialupPpp, TheLoginGivesWayToPppOnTheGuestsFirstFrame)
{
    FakeNetwork network;
    FakeClock& clock = sharedClock();
    auto session = DialupSession::start({network, clock}, DialupSettings{}, Service::Login);
    ASSERT_TRUE(session);
    std::uint8_t buffer[4096];
    std::string shown(reinterpret_cast<char*>(buffer), session->receive(buffer, sizeof buffer));
    EXPECT_EQ(shown, LoginScreen::greeting());
    // LCP Configure-Request, id 1, a magic number.
    const auto request = pppFrame({0xff, 0x03, 0xc0, 0x21, 0x01, 0x01, 0x00, 0x0a, 0x05, 0x06, 0x12, 0x34, 0x56, 0x78});
    session->send(request.data(), request.size());
    clock.now += 1000;
    EXPECT_EQ(session->link(), DialupSession::Link::Ppp);
    const std::string reply(reinterpret_cast<char*>(buffer), session->receive(buffer, sizeof buffer));
    // The server's own request and its Ack of the guest's, as LCP frames.
    EXPECT_NE(reply.find(std::string("\x7e\xff\x7d\x23\xc0\x21\x7d\x21", 8)), std::string::npos);
    EXPECT_NE(reply.find(std::string("\x7e\xff\x7d\x23\xc0\x21\x7d\x22\x7d\x21", 10)), std::string::npos);
    EXPECT_EQ(session->state(), TransportState::Open);
    // A frame whose sound check sequence follows its header at once carries
    // nothing: it is dropped and the link goes on.
    const auto empty = pppFrame({0xff, 0x03});
    session->send(empty.data(), empty.size());
    session->send(request.data(), request.size());
    clock.now += 1000;
    const std::string again(reinterpret_cast<char*>(buffer), session->receive(buffer, sizeof buffer));
    EXPECT_NE(again.find(std::string("\xff\x7d\x23\xc0\x21\x7d\x22\x7d\x21", 9)), std::string::npos) << "acked again";
    session.reset();
    expectCleanStack(clock);
}
