// Calls through the modem: dialling and its results, data mode and the
// escape, incoming calls, the modem lines and flow control, DTR, a restore,
// and how a call's Telnet framing is chosen.
#include <gtest/gtest.h>

#include "tests/modem/ModemRig.h"

namespace {
const std::string OK = "\r\nOK\r\n";
const std::string CONNECT = "\r\nCONNECT 9600\r\n";
const std::string NO_CARRIER = "\r\nNO CARRIER\r\n";
const std::string RING = "\r\nRING\r\n";
const std::string BUSY = "\r\nBUSY\r\n";

// Silence for the guard time on each side of "+++" (S12=50 is one second).
std::string escape(ModemRig& rig)
{
    rig.listen(1000);
    return rig.type("+++", 1100);
}
}  // namespace

TEST(ModemCalls, WhatADialStringReaches)
{
    struct Case {
        const char* dial;
        const char* reached;  // host:port, or nothing dialled
        std::string heard;
    };
    const Case cases[] = {
        {"ATDTbbs.example.org", "bbs.example.org:23", ""},
        {"ATDPhost:2323", "host:2323", ""},
        {"ATDtelnet:host:99", "host:99", ""},
        {"ATDTtcp:host:99", "host:99", ""},
        {"ATD[::1]:6400", "::1:6400", ""},
        {"ATDTpt.example.org", "pt.example.org:23", ""},
        {"ATDlocalhost", "localhost:23", ""},
        {"ATDTbbsH0Z", "bbsH0Z:23", ""},  // nothing after D is a command
        {"ATDT 555-1234", "bbs:2323", ""},
        {"ATD(03)555.1234", "::1:6400", ""},
        {"ATDT5550000", "", NO_CARRIER},  // no such number
        {"ATD", "", NO_CARRIER},
        {"ATDTbad!host", "", "\r\nERROR\r\n"},
        {"ATDL", "", "\r\nERROR\r\n"},  // nothing dialled yet
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dial);
        ModemRig rig;
        rig.phonebook.entries = {{"5551234", "tcp:bbs:2323"}, {"035551234", "[::1]:6400"}};
        rig.command("ATE0");
        EXPECT_EQ(rig.command(c.dial), c.heard);
        const std::vector<std::string> expected = *c.reached ? std::vector<std::string>{c.reached}
                                                             : std::vector<std::string>{};
        EXPECT_EQ(rig.network.dialled, expected);
    }

    ModemRig rig;  // DL dials the last dial string again
    rig.command("ATDThost:2");
    rig.type("x");  // abandons the dial
    rig.command("ATDL;");
    EXPECT_EQ(rig.network.dialled, (std::vector<std::string>{"host:2", "host:2"}));
}

TEST(ModemCalls, HowADialEnds)
{
    struct Case {
        const char* name;
        TransportState state;
        ConnectFailure failure;
        const char* results;  // X level
        std::string heard;
    };
    const Case cases[] = {
        {"refused", TransportState::Closed, ConnectFailure::Refused, "X4", "\r\nBUSY\r\n"},
        {"refused, X0", TransportState::Closed, ConnectFailure::Refused, "X0", NO_CARRIER},
        {"name unknown", TransportState::Closed, ConnectFailure::NotResolved, "X4", NO_CARRIER},
        {"no answer from the network", TransportState::Closed, ConnectFailure::NoAnswer, "X4", "\r\nNO ANSWER\r\n"},
        {"answered", TransportState::Open, ConnectFailure::None, "X4", CONNECT},
        {"answered, X0", TransportState::Open, ConnectFailure::None, "X0", "\r\nCONNECT\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModemRig rig;
        rig.command(std::string("ATE0") + c.results);
        EXPECT_EQ(rig.command("ATDThost"), "");
        rig.network.calls.back()->state = c.state;
        rig.network.calls.back()->failure = c.failure;
        EXPECT_EQ(rig.listen(), c.heard);
        EXPECT_EQ(rig.inputs().dcd, c.state == TransportState::Open);
    }

    ModemRig rig;  // S7 seconds without an answer
    rig.command("ATE0S7=2");
    rig.type("ATDThost\r", 0);
    EXPECT_EQ(rig.listen(1900), "");
    EXPECT_EQ(rig.listen(200), "\r\nNO ANSWER\r\n");
    EXPECT_TRUE(rig.network.calls.back()->dropped);

    rig.network.working = false;  // no network to dial on
    EXPECT_EQ(rig.command("ATDThost"), "\r\nNO DIALTONE\r\n");
    EXPECT_EQ(rig.command("ATX3DThost"), NO_CARRIER);

    rig.network.working = true;  // any character from the guest abandons a dial
    EXPECT_EQ(rig.type("ATDThost\r\n"), "");  // but the LF of a line ended CR LF
    EXPECT_EQ(rig.type("\n"), NO_CARRIER);
    EXPECT_TRUE(rig.network.calls.back()->dropped);
}

TEST(ModemCalls, DataModeEscapeAndHangUp)
{
    ModemRig rig;
    rig.modem->setFormat(LineFormat{19200, 8, Parity::None, StopBits::One, false});
    rig.command("ATE0DTbbs");
    auto peer = rig.network.calls.back();
    peer->state = TransportState::Open;
    peer->say("Welcome");  // there before the modem sees the call up
    EXPECT_EQ(rig.listen(), "\r\nCONNECT 19200\r\nWelcome");
    EXPECT_TRUE(rig.inputs().dcd);

    EXPECT_EQ(rig.type("ATH\r+++"), "");  // data now, commands and all
    EXPECT_EQ(peer->heard(), "ATH\r+++");

    // "+++" between silences: forwarded, then OK. The remote's bytes during
    // the guard do not reset it; in command mode they wait for ATO.
    peer->fromModem.clear();
    rig.listen(1000);
    rig.type("+++", 500);
    peer->say("during");
    EXPECT_EQ(rig.listen(600), "during" + OK);
    EXPECT_EQ(peer->heard(), "+++");
    peer->say("held");
    EXPECT_EQ(rig.command("ATS0?"), "\r\n000\r\n" + OK);
    EXPECT_TRUE(rig.inputs().dcd);
    EXPECT_EQ(rig.command("ATO"), "\r\nCONNECT 19200\r\nheld");

    EXPECT_EQ(escape(rig), OK);
    EXPECT_EQ(rig.command("ATH"), OK);
    EXPECT_TRUE(peer->dropped);
    EXPECT_FALSE(rig.inputs().dcd);
}

TEST(ModemCalls, RemoteHangUpAndHeldCalls)
{
    ModemRig rig;
    rig.command("ATE0");
    auto peer = rig.connect();
    peer->say("last words");
    peer->state = TransportState::Closed;
    EXPECT_EQ(rig.listen(5), "last ");
    EXPECT_FALSE(rig.inputs().dcd);  // at once, before the guest has read the rest
    EXPECT_EQ(rig.listen(), "words" + NO_CARRIER);
    EXPECT_EQ(rig.command("ATO"), NO_CARRIER);

    // ";" keeps command mode with the call up; ATO goes on line.
    rig.command("ATDThost;");
    peer = rig.network.calls.back();
    peer->state = TransportState::Open;
    peer->say("banner");
    EXPECT_EQ(rig.listen(), OK);
    EXPECT_TRUE(rig.inputs().dcd);
    EXPECT_EQ(rig.command("ATDThost"), "\r\nERROR\r\n");  // one call at a time
    EXPECT_EQ(rig.command("ATO"), CONNECT + "banner");

    // A hang-up while the call is put aside: NO CARRIER at once.
    escape(rig);
    peer->say("unread");
    peer->state = TransportState::Closed;
    EXPECT_EQ(rig.listen(), NO_CARRIER);
}

TEST(ModemCalls, IncomingCalls)
{
    ModemRig rig(true);
    rig.command("ATE0");
    auto caller = rig.network.call();
    EXPECT_EQ(rig.listen(10), RING);
    EXPECT_TRUE(rig.inputs().ring);
    EXPECT_EQ(rig.listen(1000), "");
    EXPECT_FALSE(rig.inputs().ring);
    EXPECT_EQ(rig.listen(2000), RING);  // a steady three-second cadence
    EXPECT_EQ(rig.command("ATS1?"), "\r\n002\r\n" + OK);

    auto second = rig.network.call();  // refused while one rings
    rig.listen(5);
    EXPECT_EQ(second->heard(), "BUSY\r\n");
    EXPECT_TRUE(second->dropped);

    caller->say("hi");
    EXPECT_EQ(rig.command("ATA"), CONNECT + "hi");
    auto third = rig.network.call();  // and during the call
    rig.listen(5);
    EXPECT_EQ(third->heard(), "BUSY\r\n");
    rig.type("ok");
    EXPECT_EQ(caller->heard(), "ok");
    EXPECT_EQ(escape(rig), OK);
    EXPECT_EQ(rig.command("ATS1?"), "\r\n000\r\n" + OK);

    // A caller who gives up stops the ringing.
    rig.command("ATH");
    auto quitter = rig.network.call();
    EXPECT_EQ(rig.listen(10), RING);
    quitter->state = TransportState::Closed;
    EXPECT_EQ(rig.listen(4000), "");
}

TEST(ModemCalls, AutoAnswerAfterS0RingsUnlessDtrForbids)
{
    struct Case {
        const char* setup;
        bool dtr;
        bool answered;
    };
    for (const Case& c : {Case{"ATE0S0=2", true, true}, Case{"ATE0S0=2&D2", false, false},
                          Case{"ATE0S0=2&D3", false, false}, Case{"ATE0S0=2&D0", false, true}}) {
        SCOPED_TRACE(c.setup);
        ModemRig rig(true);
        rig.command(c.setup);
        rig.modem->setControl(Control::Dtr, c.dtr);
        rig.network.call();
        EXPECT_EQ(rig.listen(2900), RING);
        EXPECT_EQ(rig.listen(200), RING + (c.answered ? CONNECT : ""));
        EXPECT_EQ(rig.inputs().dcd, c.answered);
    }
}

TEST(ModemCalls, FlowControlBothWaysLosesNothing)
{
    ModemRig rig;
    rig.command("ATE0");
    auto peer = rig.connect();

    // The network takes nothing: CTS drops before the modem's buffer is full.
    peer->accepts = 0;
    std::string sent;
    for (int i = 0; rig.inputs().cts; ++i) {
        const char byte = static_cast<char>('a' + i % 26);
        ASSERT_TRUE(rig.modem->writeByte(static_cast<std::uint8_t>(byte)));
        sent.push_back(byte);
        rig.listen(1);
    }
    EXPECT_LE(sent.size(), Modem::kOutgoingCapacity);
    peer->accepts = SIZE_MAX;
    rig.listen(5);
    EXPECT_TRUE(rig.inputs().cts);
    EXPECT_EQ(peer->heard(), sent);

    // A flooding remote while the guest holds RTS off: the modem keeps a
    // bounded amount, the rest waits in the network, all of it arrives.
    std::string flood;
    for (int i = 0; i < 50000; ++i) flood.push_back(static_cast<char>(i * 7));
    peer->say(flood);
    rig.modem->setControl(Control::Rts, false);
    EXPECT_EQ(rig.listen(200), "");
    EXPECT_GE(peer->toModem.size(), flood.size() - Modem::kDataCapacity);
    rig.modem->setControl(Control::Rts, true);
    EXPECT_EQ(rig.listen(50000), flood);

    // With &K0 RTS holds nothing back.
    escape(rig);
    rig.command("AT&K0O");
    rig.modem->setControl(Control::Rts, false);
    peer->say("free");
    EXPECT_EQ(rig.listen(), "free");
}

TEST(ModemCalls, DtrDropAfterS25)
{
    struct Case {
        const char* setup;
        std::string heard;
        bool callKept;
        bool dcd;
    };
    for (const Case& c : {Case{"AT&D0", "", true, true}, Case{"AT&D1", OK, true, true},
                          Case{"AT&D2", NO_CARRIER, false, false}, Case{"AT&D3", NO_CARRIER, false, false}}) {
        SCOPED_TRACE(c.setup);
        ModemRig rig;
        rig.command(std::string(c.setup) + "E0S25=10");
        auto peer = rig.connect();
        rig.modem->setControl(Control::Dtr, false);  // shorter than S25: a glitch
        rig.listen(90);
        rig.modem->setControl(Control::Dtr, true);
        EXPECT_EQ(rig.listen(200), "");
        rig.modem->setControl(Control::Dtr, false);
        EXPECT_EQ(rig.listen(200), c.heard);
        rig.modem->setControl(Control::Dtr, true);
        EXPECT_EQ(peer->dropped, !c.callKept);
        EXPECT_EQ(rig.inputs().dcd, c.dcd);
    }
}

TEST(ModemCalls, RestoreLeavesItOnHookWithDefaults)
{
    ModemRig rig;
    rig.command("ATE0S7=99&C0");
    auto peer = rig.connect();
    peer->say("lost");
    rig.modem->restored();
    EXPECT_TRUE(peer->dropped);
    EXPECT_FALSE(rig.inputs().dcd);  // &C1 again, and no call
    EXPECT_EQ(rig.listen(), "");
    EXPECT_EQ(rig.command("ATS7?"), "ATS7?\r\r\n050\r\n" + OK);
}

// A Telnet framing that the tests can see: the remote's "IAC x y" triples are
// dropped and answered "IAC 254 y", data has IAC doubled, and a dialled
// call starts with an offer.
struct MarkingTelnet : TelnetStreams {
    struct Stream : CallStream {
        explicit Stream(bool placed) : placed(placed) {}
        void start(std::vector<std::uint8_t>& answers) override
        {
            if (placed) answers.insert(answers.end(), {255, 251, 0});
        }
        std::size_t decode(const std::uint8_t* in, std::size_t length, std::uint8_t* data,
                           std::vector<std::uint8_t>& answers) override
        {
            std::size_t produced = 0;
            for (std::size_t i = 0; i < length; ++i) {
                if (skip > 0) {
                    if (--skip == 0) answers.insert(answers.end(), {255, 254, in[i]});
                } else if (in[i] == 255) {
                    skip = 2;
                } else {
                    data[produced++] = in[i];
                }
            }
            return produced;
        }
        void encode(std::uint8_t byte, std::vector<std::uint8_t>& out) override
        {
            out.push_back(byte);
            if (byte == 255) out.push_back(byte);
        }
        std::size_t answersPerByte() const override { return 1; }
        bool placed;
        int skip = 0;
    };
    std::unique_ptr<CallStream> open(bool placed) override
    {
        ++opened;
        return std::make_unique<Stream>(placed);
    }
    int opened = 0;
};

TEST(ModemCalls, TelnetWhenTheNumberSaysOrTheRemoteNegotiates)
{
    const std::vector<std::uint8_t> negotiation{255, 251, 1, 'h', 'i', 255};
    struct Case {
        const char* dial;
        bool remoteNegotiates;
        bool telnet;
    };
    for (const Case& c : {Case{"ATDThost", true, true}, Case{"ATDThost", false, false},
                          Case{"ATDTtelnet:host:23", false, true}, Case{"ATDTtcp:host:23", true, false}}) {
        SCOPED_TRACE(std::string(c.dial) + (c.remoteNegotiates ? ", remote negotiates" : ""));
        MarkingTelnet telnet;
        ModemRig rig(false, &telnet);
        rig.command("ATE0");
        auto peer = rig.connect(c.dial);
        peer->say(c.remoteNegotiates ? negotiation : std::vector<std::uint8_t>{'h', 'i', 255});
        const std::string heard = rig.listen();
        rig.type(std::string(1, '\xff'));
        EXPECT_EQ(telnet.opened, c.telnet ? 1 : 0);
        if (c.telnet) {
            EXPECT_EQ(heard, "hi");
            std::vector<std::uint8_t> expected{255, 251, 0};  // the offer of a dialled call
            if (c.remoteNegotiates) expected.insert(expected.end(), {255, 254, 1});
            expected.insert(expected.end(), {255, 255});
            EXPECT_EQ(peer->fromModem, expected);
        } else {
            EXPECT_EQ(heard, std::string(c.remoteNegotiates ? "\xff\xfb\x01hi\xff" : "hi\xff"));
            EXPECT_EQ(peer->fromModem, std::vector<std::uint8_t>{255});
        }
    }
}
