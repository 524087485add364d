// The Telnet session: framing both ways, option answers that never loop, the
// passive start, and damaged commands from the peer.
#include <gtest/gtest.h>

#include <string>

#include "tests/network/TelnetStreams.h"

using namespace telnet;

namespace {
constexpr std::uint8_t kNop = 241;
constexpr std::uint8_t kTerminalType = 24;
constexpr std::uint8_t kWindowSize = 31;
constexpr std::uint8_t kStatus = 5;

// An option of our own that keeps what the session hands it.
struct RecordingOption final : TelnetOption {
    std::uint8_t code() const override { return 99; }
    void agreed(bool on, TelnetBytes& out) override
    {
        agreements.push_back(on);
        if (on) out.push_back('!');
    }
    void subnegotiation(const std::uint8_t* body, std::size_t length, TelnetBytes&) override
    {
        bodies.emplace_back(body, body + length);
    }
    std::vector<bool> agreements;
    std::vector<Bytes> bodies;
};
}  // namespace

TEST(TelnetSession, OffersBinaryBothWaysThenDoublesIac)
{
    TelnetSession session;
    RecordingOption extra;
    session.addOption(extra);
    Bytes out;
    session.start(TelnetSession::Start::Offering, out);
    EXPECT_EQ(out, (Bytes{kIac, kWill, kOptionBinary, kIac, kDo, kOptionBinary, kIac, kWill, 99}));
    EXPECT_TRUE(session.negotiating());

    out.clear();
    for (std::uint8_t byte : {std::uint8_t{'A'}, kIac, kSe}) session.sendData(byte, out);
    EXPECT_EQ(out, (Bytes{'A', kIac, kIac, kSe}));
    EXPECT_EQ(feed(session, {'x', kIac, kIac, 'y', kIac, kNop, 'z'}).data, (Bytes{'x', kIac, 'y', 'z'}));

    // Agreement to what was offered needs no answer, nor does its repetition;
    // the added option says what it has to say once.
    for (const Bytes& answer : {Bytes{'!'}, Bytes{}})
        EXPECT_EQ(feed(session, {kIac, kDo, kOptionBinary, kIac, kWill, kOptionBinary, kIac, kDo, 99}).answer, answer);
    EXPECT_TRUE(session.weSendBinary());
    EXPECT_TRUE(session.peerSendsBinary());
    EXPECT_EQ(extra.agreements, (std::vector<bool>{true}));
}

TEST(TelnetSession, CarriageReturnTravelsAsCrNulUntilBinaryIsAgreed)
{
    TelnetSession session;
    Bytes out;
    session.start(TelnetSession::Start::Offering, out);
    out.clear();
    session.sendData('\r', out);
    session.sendData('\n', out);
    EXPECT_EQ(out, (Bytes{'\r', 0, '\n'}));
    EXPECT_EQ(feed(session, {'\r', 0, '\r', '\n', 0}).data, (Bytes{'\r', '\r', '\n', 0}));

    // Binary refused one way only: each direction follows its own agreement.
    feed(session, {kIac, kDo, kOptionBinary, kIac, kWont, kOptionBinary});
    out.clear();
    session.sendData('\r', out);
    EXPECT_EQ(out, (Bytes{'\r'}));
    EXPECT_EQ(feed(session, {'\r', 0}).data, (Bytes{'\r'}));
    feed(session, {kIac, kWill, kOptionBinary});
    EXPECT_EQ(feed(session, {'\r', 0}).data, (Bytes{'\r', 0}));
}

// What each side accepts, what it refuses, and that only a change is answered.
TEST(TelnetSession, AnswersOnlyWhatChangesAndRefusesWhatItDoesNotDo)
{
    using Role = TelnetSession::Role;
    const struct {
        Role role;
        Bytes request;
        Bytes answer;
    } cases[] = {
        // A server's echo and go-ahead suppression are welcome to a client.
        {Role::Client, {kIac, kWill, kOptionEcho, kIac, kWill, kOptionSuppressGoAhead},
         {kIac, kDo, kOptionEcho, kIac, kDo, kOptionSuppressGoAhead}},
        // A client does not echo; a server does not let its caller echo.
        {Role::Client, {kIac, kDo, kOptionEcho}, {kIac, kWont, kOptionEcho}},
        {Role::Server, {kIac, kWill, kOptionEcho}, {kIac, kDont, kOptionEcho}},
        // Terminal type, window size, status: declined, DONT to WILL, WONT to DO, once per request.
        {Role::Client, {kIac, kDo, kTerminalType, kIac, kDo, kWindowSize, kIac, kWill, kStatus},
         {kIac, kWont, kTerminalType, kIac, kWont, kWindowSize, kIac, kDont, kStatus}},
        {Role::Server, {kIac, kWill, kTerminalType, kIac, kWill, kWindowSize},
         {kIac, kDont, kTerminalType, kIac, kDont, kWindowSize}},
        // Switching off what is on is acknowledged once; what is already off is not.
        {Role::Client, {kIac, kDont, kOptionBinary, kIac, kDont, kOptionBinary}, {kIac, kWont, kOptionBinary}},
        {Role::Client, {kIac, kWont, kOptionBinary, kIac, kWont, kOptionBinary}, {kIac, kDont, kOptionBinary}},
        {Role::Client, {kIac, kWont, kOptionEcho, kIac, kDont, kTerminalType}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.request));
        TelnetSession session(c.role);
        Bytes out;
        session.start(TelnetSession::Start::Offering, out);
        feed(session, {kIac, kDo, kOptionBinary, kIac, kWill, kOptionBinary});
        EXPECT_EQ(feed(session, c.request).answer, c.answer);
    }
}

// Two sessions wired back to back settle within a few exchanges, binary both
// ways, whatever each side is and however it starts; then every byte value
// crosses unchanged.
TEST(TelnetSession, TwoSessionsSettleAndCarryEveryByte)
{
    using Role = TelnetSession::Role;
    using Start = TelnetSession::Start;
    const struct {
        Role firstRole;
        Start firstStart;
        Role secondRole;
        Start secondStart;
    } cases[] = {
        {Role::Client, Start::Offering, Role::Server, Start::Passive},
        {Role::Client, Start::Offering, Role::Client, Start::Offering},
        {Role::Server, Start::Offering, Role::Client, Start::Passive},
        {Role::Server, Start::Offering, Role::Server, Start::Offering},
    };
    for (const auto& c : cases) {
        TelnetSession first(c.firstRole), second(c.secondRole);
        Bytes toSecond, toFirst;
        first.start(c.firstStart, toSecond);
        second.start(c.secondStart, toFirst);
        int exchanges = 0;
        while ((!toFirst.empty() || !toSecond.empty()) && exchanges < 10) {
            const Received atSecond = feed(second, toSecond);
            const Received atFirst = feed(first, toFirst);
            EXPECT_TRUE(atSecond.data.empty() && atFirst.data.empty());
            toFirst = atSecond.answer;
            toSecond = atFirst.answer;
            ++exchanges;
        }
        EXPECT_LE(exchanges, 3);
        EXPECT_TRUE(first.weSendBinary() && first.peerSendsBinary() && second.weSendBinary() && second.peerSendsBinary());

        Bytes all, wire;
        for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
        all.push_back('\r');
        all.push_back(0);
        for (std::uint8_t byte : all) first.sendData(byte, wire);
        EXPECT_EQ(feed(second, wire).data, all);
    }
}

// A passive session is decided by the peer's first byte: a command makes it
// Telnet (offering binary then), anything else a raw stream for good.
TEST(TelnetSession, PassiveStartFollowsThePeer)
{
    Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
    all.push_back(kIac);
    all.push_back(kWill);
    all.push_back(kOptionEcho);

    TelnetSession raw(TelnetSession::Role::Server);
    Bytes out;
    raw.start(TelnetSession::Start::Passive, out);
    EXPECT_TRUE(out.empty());
    for (std::uint8_t byte : {kIac, std::uint8_t{'\r'}}) raw.sendData(byte, out);  // undecided: sent as they are
    EXPECT_EQ(out, (Bytes{kIac, '\r'}));
    const Received r = feed(raw, all);
    EXPECT_EQ(r.data, all);
    EXPECT_TRUE(r.answer.empty());
    EXPECT_FALSE(raw.negotiating());
    out.clear();
    for (std::uint8_t byte : all) raw.sendData(byte, out);
    EXPECT_EQ(out, all);

    TelnetSession telnetPeer(TelnetSession::Role::Server);
    telnetPeer.start(TelnetSession::Start::Passive, out);
    const Received t = feed(telnetPeer, {kIac, kDo, kOptionSuppressGoAhead, 'h', 'i'});
    EXPECT_TRUE(telnetPeer.negotiating());
    EXPECT_EQ(t.data, (Bytes{'h', 'i'}));
    EXPECT_EQ(t.answer, (Bytes{kIac, kWill, kOptionBinary, kIac, kDo, kOptionBinary, kIac, kWill,
                               kOptionSuppressGoAhead, kIac, kWill, kOptionEcho}));
    out.clear();
    telnetPeer.sendData(kIac, out);
    EXPECT_EQ(out, (Bytes{kIac, kIac}));
}

TEST(TelnetSession, DamagedSubnegotiationsAreDroppedAndTheDataAroundThemSurvives)
{
    RecordingOption extra;
    TelnetSession session;
    session.addOption(extra);
    Bytes out;
    session.start(TelnetSession::Start::Offering, out);

    // Before the peer agrees to the option, its subnegotiations are not ours to take.
    feed(session, {kIac, kSb, 99, 1, kIac, kSe});
    EXPECT_TRUE(extra.bodies.empty());
    feed(session, {kIac, kDo, 99});

    for (bool oneByteAtATime : {false, true}) {
        SCOPED_TRACE(oneByteAtATime ? "one byte at a time" : "whole");
        extra.bodies.clear();
        Bytes stream = {'1', kIac, kSb, 99};  // longer than any we keep: read to its end, dropped
        stream.insert(stream.end(), 300, 0x10);
        // A command inside a subnegotiation cuts it short; the command still counts.
        for (std::uint8_t byte : {kIac, kSe, std::uint8_t{'2'}, kIac, kSb, std::uint8_t{99}, std::uint8_t{7}, kIac,
                                  kWill, kTerminalType, std::uint8_t{'3'}})
            stream.push_back(byte);
        // Empty, another option's, a stray SE; then one kept, IAC undoubled in its body.
        for (std::uint8_t byte : {kIac, kSb, kIac, kSe, kIac, kSb, kTerminalType, std::uint8_t{0}, std::uint8_t{'x'},
                                  kIac, kSe, kIac, kSe, std::uint8_t{'4'}, kIac, kSb, std::uint8_t{99}, std::uint8_t{5},
                                  kIac, kIac, kIac, kSe})
            stream.push_back(byte);
        const Received r = oneByteAtATime ? feedByteByByte(session, stream) : feed(session, stream);
        EXPECT_EQ(r.data, (Bytes{'1', '2', '3', '4'}));
        EXPECT_EQ(r.answer, (Bytes{kIac, kDont, kTerminalType}));
        EXPECT_EQ(extra.bodies, (std::vector<Bytes>{{5, kIac}}));
    }
    // The option withdrawn: told once, and its subnegotiations are dropped again.
    feed(session, {kIac, kDont, 99, kIac, kDont, 99, kIac, kSb, 99, 1, kIac, kSe});
    EXPECT_EQ(extra.agreements, (std::vector<bool>{true, false}));
    EXPECT_EQ(extra.bodies.size(), 1u);
}
