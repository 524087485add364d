// The dial-up server's own pieces, each where it is cheapest to see: the
// login's outcomes, SLIP framing, header rewriting and its checksums, the
// host's policy, DNS messages and the settings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/dialup/DialupSettings.h"
#include "platform/dialup/DnsMessage.h"
#include "platform/dialup/HostPolicy.h"
#include "platform/dialup/LoginScreen.h"
#include "platform/dialup/Packet.h"
#include "platform/dialup/SlipFraming.h"

using namespace dialup;

namespace {
std::vector<std::uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

Ipv4Address ip(const char* text) { return *parseIpv4(text); }

// A TCP segment (20-byte headers, a few payload bytes) with valid checksums.
std::vector<std::uint8_t> tcpSegment(Ipv4Address from, std::uint16_t fromPort, Ipv4Address to, std::uint16_t toPort)
{
    std::vector<std::uint8_t> d(44, 0);
    writeIpHeader(d.data(), d.size(), kProtocolTcp, from, to, 7);
    std::uint8_t* tcp = d.data() + 20;
    write16(tcp, fromPort);
    write16(tcp + 2, toPort);
    write32(tcp + 4, 1000);
    tcp[12] = 5 << 4;
    tcp[13] = kTcpAck;
    write16(tcp + 14, 4096);
    tcp[20] = 'd', tcp[21] = 'a', tcp[22] = 't', tcp[23] = 'a';
    write16(tcp + 16, transportChecksum(tcp, 24, kProtocolTcp, from, to));
    return d;
}
}  // namespace

TEST(DialupLogin, OutcomesFollowWhatTheCallerTypes)
{
    struct Case {
        const char* typed;
        const char* user;
        const char* password;
        LoginScreen::Outcome outcome;
        const char* shown;  // a piece of what the caller sees
    } cases[] = {
        {"guest\rsecret\rppp\r", "", "", LoginScreen::Outcome::Ppp, "Password:"},
        {"guest\r\nx\r\nslip\r\n", "", "", LoginScreen::Outcome::Slip, "Your IP address is 10.0.2.15, MTU is 1006"},
        {"a\nb\nCSLIP\n", "", "", LoginScreen::Outcome::Cslip, "Entering SLIP mode."},
        {"u\rp\rexit\r", "", "", LoginScreen::Outcome::HangUp, "$ "},
        {"bob\rwrong\rppp\r", "bob", "right", LoginScreen::Outcome::Waiting, "Login incorrect"},
        {"bob\rright\rppp\r", "bob", "right", LoginScreen::Outcome::Ppp, "Type ppp, slip or cslip"},
        {"u\rp\rtelnet host\r", "", "", LoginScreen::Outcome::Waiting, "sh: telnet: not found"},
        {"gux\x7f\x08uest\rp\rppp\r", "guest", "p", LoginScreen::Outcome::Ppp, "\b \b"},
        // Windows' dialler starts LCP right after CONNECT; a script may too, mid-login.
        {"\x7e\xff\x7d\x23\xc0\x21\x7d\x21", "", "", LoginScreen::Outcome::Ppp, ""},
        {"gue\x7e\xff\x03\xc0\x21", "", "", LoginScreen::Outcome::Ppp, "gue"},
    };
    for (const Case& c : cases) {
        DialupSettings settings;
        settings.user = c.user;
        settings.password = c.password;
        LoginScreen login(settings);
        const auto typed = bytes(c.typed);
        std::string shown;
        login.take(typed.data(), typed.size(), shown);
        EXPECT_EQ(login.outcome(), c.outcome) << c.typed;
        EXPECT_NE(shown.find(c.shown), std::string::npos) << c.typed << " showed " << shown;
    }
}

TEST(DialupLogin, APasswordIsNeverEchoedAndPppTakesTheRestOfTheBytes)
{
    LoginScreen login{DialupSettings{}};
    const auto typed = bytes("me\rhidden\rppp\r\x7e\xff");
    std::string shown;
    const std::size_t used = login.take(typed.data(), typed.size(), shown);
    EXPECT_EQ(shown.find("hidden"), std::string::npos);
    EXPECT_EQ(typed.size() - used, 2u);  // the frame's first bytes belong to PPP
    std::string frame = "\x7e\xff\x7d\x23\xc0";
    LoginScreen detecting{DialupSettings{}};
    detecting.take(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size(), shown);
    EXPECT_EQ(detecting.outcome(), LoginScreen::Outcome::Waiting);  // split across writes
    const std::uint8_t last = 0x21;
    detecting.take(&last, 1, shown);
    EXPECT_EQ(detecting.outcome(), LoginScreen::Outcome::Ppp);
    EXPECT_EQ(detecting.frameStart(), std::string("\x7e\xff\x7d\x23\xc0\x21"));
}

TEST(DialupSlip, FramesRoundTripAndBrokenOnesAreDropped)
{
    const std::vector<std::vector<std::uint8_t>> packets = {
        {0x45, 0x00, 0x01}, {kSlipEnd, kSlipEsc, 0x00, kSlipEnd}, {kSlipEsc, kSlipEsc, kSlipEscEnd}};
    for (const auto& packet : packets) {
        std::vector<std::uint8_t> line(slipEncodedLimit(packet.size()));
        line.resize(slipEncode(packet.data(), packet.size(), line.data()));
        SlipDecoder decoder;
        std::vector<std::uint8_t> got;
        for (std::uint8_t byte : line)
            if (decoder.take(byte)) got.assign(decoder.frame(), decoder.frame() + decoder.size());
        EXPECT_EQ(got, packet);
    }
    struct Broken {
        std::vector<std::uint8_t> line;
        std::uint32_t dropped;
    } broken[] = {
        {{0x01, kSlipEsc, 0x02, kSlipEnd}, 1},  // an escape of nothing
        {{kSlipEnd, kSlipEnd, kSlipEnd}, 0},    // empty frames are not frames
    };
    for (const Broken& b : broken) {
        SlipDecoder decoder;
        bool any = false;
        for (std::uint8_t byte : b.line) any |= decoder.take(byte);
        EXPECT_FALSE(any);
        EXPECT_EQ(decoder.dropped(), b.dropped);
    }
    SlipDecoder decoder;  // too long for any datagram: dropped whole, and the next frame is fine
    for (std::size_t i = 0; i < SlipDecoder::kLargestFrame + 10; ++i) EXPECT_FALSE(decoder.take(0x11));
    EXPECT_FALSE(decoder.take(kSlipEnd));
    EXPECT_EQ(decoder.dropped(), 1u);
    decoder.take(0x45);
    EXPECT_TRUE(decoder.take(kSlipEnd));
}

TEST(DialupPacket, RewrittenHeadersKeepTheirChecksumsValidOrInvalid)
{
    struct Rewrite {
        void (*apply)(Datagram&);
    } rewrites[] = {
        {[](Datagram& d) { d.setDestination(ip("10.0.2.2")); }},
        {[](Datagram& d) { d.setSource(ip("203.0.113.9")); }},
        {[](Datagram& d) { d.setSourcePort(20005); }},
        {[](Datagram& d) {
             d.setDestinationPort(1);
             d.setSourcePort(65535);
             d.setDestination(ip("255.255.255.254"));
         }},
    };
    for (const Rewrite& rewrite : rewrites) {
        auto segment = tcpSegment(ip("10.0.2.15"), 1025, ip("93.184.216.34"), 80);
        Datagram d(segment.data(), segment.size());
        ASSERT_TRUE(d.valid() && d.hasPorts());
        rewrite.apply(d);
        EXPECT_EQ(onesComplementSum(segment.data(), 20), 0xffff);
        EXPECT_EQ(transportChecksum(d.transport(), 24, kProtocolTcp, d.source(), d.destination()), 0)
            << "a valid segment sums to zero";
        // A segment damaged before the rewrite stays damaged after it.
        auto damaged = tcpSegment(ip("10.0.2.15"), 1025, ip("93.184.216.34"), 80);
        damaged[41] ^= 0x20;
        Datagram bad(damaged.data(), damaged.size());
        rewrite.apply(bad);
        EXPECT_NE(transportChecksum(bad.transport(), 24, kProtocolTcp, bad.source(), bad.destination()), 0);
    }
}

TEST(DialupPacket, MalformedDatagramsAreNotValid)
{
    const auto good = tcpSegment(ip("10.0.2.15"), 1025, ip("1.2.3.4"), 80);
    struct Case {
        std::size_t offset;
        std::uint8_t value;
    } cases[] = {
        {0, 0x65},  // IPv6's version
        {0, 0x44},  // a header shorter than 20 bytes
        {0, 0x4f},  // a header longer than the datagram
        {2, 0xff},  // a total length past the buffer
        {32, 0x10}, // a TCP header of 4 bytes
        {32, 0xf0}, // a TCP header past the datagram
    };
    for (const Case& c : cases) {
        auto d = good;
        d[c.offset] = c.value;
        EXPECT_FALSE(Datagram(d.data(), d.size()).valid()) << c.offset << "=" << int(c.value);
    }
    auto shortBuffer = good;
    EXPECT_FALSE(Datagram(shortBuffer.data(), 30).valid());
}

TEST(DialupHostPolicy, TheGuestReachesTheWorldButNotThisComputer)
{
    DialupSettings settings;
    settings.hostPorts = {8080};
    const HostPolicy policy(settings, {ip("192.168.1.20")});
    struct Case {
        const char* to;
        std::uint16_t port;
        const char* goesTo;  // null: blocked
    } cases[] = {
        {"93.184.216.34", 80, "93.184.216.34"},
        {"192.168.1.1", 80, "192.168.1.1"},  // the LAN, but not this computer
        {"192.168.1.20", 80, nullptr},       // this computer's own address
        {"127.0.0.1", 8080, nullptr},        // loopback, even an opened port
        {"127.5.5.5", 80, nullptr},
        {"0.1.2.3", 80, nullptr},
        {"10.0.2.2", 8080, "127.0.0.1"},     // the gateway's opened port is the host's
        {"10.0.2.2", 22, nullptr},
        {"10.0.2.3", 80, nullptr},
        {"224.0.0.251", 5353, nullptr},
        {"255.255.255.255", 67, nullptr},
        {"93.184.216.34", 0, nullptr},
    };
    for (const Case& c : cases) {
        const auto route = policy.outbound({ip(c.to), c.port});
        if (!c.goesTo) {
            EXPECT_FALSE(route) << c.to << ":" << c.port;
        } else {
            ASSERT_TRUE(route) << c.to << ":" << c.port;
            EXPECT_EQ(route->address, ip(c.goesTo));
            EXPECT_EQ(route->port, c.port);
        }
    }
    EXPECT_EQ(policy.inbound({kLoopback, 8080}), (Endpoint{ip("10.0.2.2"), 8080}));
    EXPECT_FALSE(policy.inbound({kLoopback, 53}));
    EXPECT_FALSE(policy.inbound({ip("192.168.1.20"), 53}));
    EXPECT_TRUE(policy.inbound({ip("8.8.8.8"), 53}));
}

TEST(DialupDns, QueriesAreReadAndAnswered)
{
    // id 0x1234, RD, one question: www.example.org A IN.
    std::vector<std::uint8_t> query = {0x12, 0x34, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    for (const char* label : {"www", "example", "org"}) {
        query.push_back(static_cast<std::uint8_t>(std::strlen(label)));
        query.insert(query.end(), label, label + std::strlen(label));
    }
    query.insert(query.end(), {0, 0, 1, 0, 1});
    const auto parsed = parseDnsQuery(query.data(), query.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->name, "www.example.org");
    EXPECT_EQ(parsed->type, kDnsTypeA);
    const Ipv4Address found[] = {ip("93.184.216.34"), ip("93.184.216.35")};
    std::uint8_t answer[kLargestAnswer];
    const std::size_t length = writeDnsAnswer(query.data(), *parsed, DnsCode::NoError, found, 2, answer);
    EXPECT_EQ(length, query.size() + 32);
    EXPECT_EQ(read16(answer), 0x1234);
    EXPECT_EQ(read16(answer + 2), 0x8180);  // a response, recursion desired and available, no error
    EXPECT_EQ(read16(answer + 6), 2);
    EXPECT_EQ(read32(answer + query.size() + 12), found[0]);

    struct Broken {
        std::size_t offset;
        std::uint8_t value;
    } broken[] = {
        {2, 0x81},  // a response, not a query
        {2, 0x29},  // opcode 5 (update)
        {5, 2},     // two questions
        {12, 0xc0}, // a compression pointer in the question
        {13, 'w' | 0x80},
        {12, 60},   // a label running past the message
        {static_cast<std::size_t>(query.size() - 1), 3},  // class CH
    };
    for (const Broken& b : broken) {
        auto bad = query;
        bad[b.offset] = b.value;
        EXPECT_FALSE(parseDnsQuery(bad.data(), bad.size())) << b.offset;
    }
    EXPECT_FALSE(parseDnsQuery(query.data(), query.size() - 2));
}

TEST(DialupSettingsTest, KeysParseAndBadValuesFallBackToDefaults)
{
    const DialupSettings defaults;
    const auto settings = DialupSettings::parse({
        "Guest=192.168.7.2", " gateway = 192.168.7.1 ", "DNS=192.168.7.3", "User=alice", "Password=s3cret",
        "HostPorts=80, 8080,80", "Forward=2323:23, 0.0.0.0:8080:80", "; comment=1", "Other=kept elsewhere",
    });
    EXPECT_EQ(settings.guest, ip("192.168.7.2"));
    EXPECT_EQ(settings.gateway, ip("192.168.7.1"));
    EXPECT_EQ(settings.dns, ip("192.168.7.3"));
    EXPECT_EQ(settings.user, "alice");
    EXPECT_TRUE(settings.checksLogin());
    EXPECT_EQ(settings.hostPorts, (std::vector<std::uint16_t>{80, 8080}));
    ASSERT_EQ(settings.forwards.size(), 2u);
    EXPECT_EQ(settings.forwards[0].hostAddress, "127.0.0.1");
    EXPECT_EQ(settings.forwards[0].hostPort, 2323);
    EXPECT_EQ(settings.forwards[0].guestPort, 23);
    EXPECT_EQ(settings.forwards[1].hostAddress, "0.0.0.0");
    EXPECT_TRUE(settings.rejected.empty());

    struct Bad {
        const char* entry;
        const char* rejected;
    } bad[] = {
        {"Guest=127.0.0.1", "Guest"},     {"Gateway=10.0.2", "Gateway"},     {"DNS=224.0.0.1", "DNS"},
        {"HostPorts=80,x", "HostPorts"}, {"HostPorts=0", "HostPorts"},     {"Forward=23", "Forward"},
        {"Forward=70000:23", "Forward"}, {"Forward=a.b:1:2", "Forward"},   {"Forward=1:2,1:3", "Forward"},
        {"Guest=10.0.2.2", "Guest/Gateway/DNS"},
    };
    for (const Bad& b : bad) {
        const auto parsed = DialupSettings::parse({b.entry});
        EXPECT_EQ(parsed.rejected, std::vector<std::string>{b.rejected}) << b.entry;
        EXPECT_EQ(parsed.guest, defaults.guest);
        EXPECT_TRUE(parsed.hostPorts.empty());
        EXPECT_TRUE(parsed.forwards.empty());
    }

    struct Value {
        const char* value;
        std::optional<Service> service;
    } values[] = {{"ppp", Service::Login}, {" PPP ", Service::Login}, {"slip", Service::Slip},
                  {"CSlip", Service::Cslip}, {"bbs.example.org:23", std::nullopt}, {"pppx", std::nullopt}};
    for (const Value& v : values) EXPECT_EQ(serviceForPhonebookValue(v.value), v.service) << v.value;
}
