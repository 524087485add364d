// Calls through the modem: dialling and its results, data mode and the
// escape, incoming calls, the modem lines and flow control, DTR, a restore,
// and how a call's Telnet framing is chosen.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <tuple>

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
        const char* reached;  // "host port", or nothing dialled
        std::string heard;
    };
    const Case cases[] = {
        {"ATDTbbs.example.org", "bbs.example.org 23", ""},
        {"ATDPhost:2323", "host 2323", ""},
        {"ATDtelnet:host:99", "host 99", ""},
        {"ATDTtcp:host:99", "host 99", ""},
        {"ATD[::1]:6400", "::1 6400", ""},
        {"ATDTpt.example.org", "pt.example.org 23", ""},
        {"ATDlocalhost", "localhost 23", ""},
        {"ATDTbbsH0Z", "bbsH0Z 23", ""},  // nothing after D is a command
        {"ATDT 555-1234", "bbs 2323", ""},
        {"ATD(03)555.1234", "::1 6400", ""},
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
        const std::vector<std::string> expected =
            *c.reached ? std::vector<std::string>{std::string("connect ") + c.reached} : std::vector<std::string>{};
        EXPECT_EQ(rig.network.requests, expected);
    }

    ModemRig rig;  // DL dials the last dial string again
    rig.command("ATDThost:2");
    rig.type("x");  // abandons the dial
    rig.command("ATDL;");
    EXPECT_EQ(rig.network.requests, (std::vector<std::string>{"connect host 2", "connect host 2"}));
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
        rig.network.wires.back()->connecting = c.state;
        rig.network.wires.back()->failure = c.failure;
        EXPECT_EQ(rig.listen(), c.heard);
        EXPECT_EQ(rig.inputs().dcd, c.state == TransportState::Open);
    }

    ModemRig rig;  // S7 seconds without an answer, whatever the network's own limit
    rig.command("ATE0S7=2");
    rig.type("ATDThost\r", 0);
    EXPECT_EQ(rig.network.wires.back()->timeoutMilliseconds, 2000u);
    EXPECT_EQ(rig.listen(1900), "");
    EXPECT_EQ(rig.listen(200), "\r\nNO ANSWER\r\n");
    EXPECT_TRUE(rig.network.wires.back()->released);

    rig.network.refuseAll = true;  // no network to dial on
    EXPECT_EQ(rig.command("ATDThost"), "\r\nNO DIALTONE\r\n");
    EXPECT_EQ(rig.command("ATX3DThost"), NO_CARRIER);

    rig.network.refuseAll = false;  // any character from the guest abandons a dial
    EXPECT_EQ(rig.type("ATDThost\r\n"), "");  // but the LF of a line ended CR LF
    EXPECT_EQ(rig.type("\n"), NO_CARRIER);
    EXPECT_TRUE(rig.network.wires.back()->released);
}

TEST(ModemCalls, DataModeEscapeAndHangUp)
{
    ModemRig rig;
    rig.modem->setFormat(LineFormat{19200, 8, Parity::None, StopBits::One, false});
    rig.command("ATE0DTbbs");
    auto peer = rig.network.wires.back();
    peer->answer();
    peer->peerSends("Welcome");  // there before the modem sees the call up
    EXPECT_EQ(rig.listen(), "\r\nCONNECT 19200\r\nWelcome");
    EXPECT_TRUE(rig.inputs().dcd);

    EXPECT_EQ(rig.type("ATH\r+++"), "");  // data now, commands and all
    EXPECT_EQ(text(peer->fromLine), "ATH\r+++");

    // "+++" between silences: forwarded, then OK. The remote's bytes during
    // the guard do not reset it; in command mode they wait for ATO.
    peer->fromLine.clear();
    rig.listen(1000);
    rig.type("+++", 500);
    peer->peerSends("during");
    EXPECT_EQ(rig.listen(600), "during" + OK);
    EXPECT_EQ(text(peer->fromLine), "+++");
    peer->peerSends("held");
    EXPECT_EQ(rig.command("ATS0?"), "\r\n000\r\n" + OK);
    EXPECT_TRUE(rig.inputs().dcd);
    EXPECT_EQ(rig.command("ATO"), "\r\nCONNECT 19200\r\nheld");

    EXPECT_EQ(escape(rig), OK);
    EXPECT_EQ(rig.command("ATH"), OK);
    EXPECT_TRUE(peer->released);
    EXPECT_FALSE(rig.inputs().dcd);
}

TEST(ModemCalls, RemoteHangUpAndHeldCalls)
{
    ModemRig rig;
    rig.command("ATE0");
    // A remote that answers, sends and hangs up at once: CONNECT whole, then its data.
    rig.type("ATDThost\r", 0);
    auto quick = rig.network.wires.back();
    quick->answer();
    quick->peerSends("banner");
    quick->peerGone = true;
    EXPECT_EQ(rig.listen(), CONNECT + "banner" + NO_CARRIER);
    rig.type("ATDThost\r", 0);  // and one that hangs up without a word
    rig.network.wires.back()->answer();
    rig.network.wires.back()->peerGone = true;
    EXPECT_EQ(rig.listen(), CONNECT + NO_CARRIER);

    auto peer = rig.connect();
    peer->peerSends("last words");
    peer->peerGone = true;
    EXPECT_EQ(rig.listen(5), "last ");
    EXPECT_FALSE(rig.inputs().dcd);  // at once, before the guest has read the rest
    EXPECT_EQ(rig.listen(), "words" + NO_CARRIER);
    EXPECT_EQ(rig.command("ATO"), NO_CARRIER);

    // ";" keeps command mode with the call up; ATO goes on line.
    rig.command("ATDThost;");
    peer = rig.network.wires.back();
    peer->answer();
    peer->peerSends("banner");
    EXPECT_EQ(rig.listen(), OK);
    EXPECT_TRUE(rig.inputs().dcd);
    EXPECT_EQ(rig.command("ATDThost"), "\r\nERROR\r\n");  // one call at a time
    EXPECT_EQ(rig.command("ATO"), CONNECT + "banner");

    // A hang-up while the call is put aside: NO CARRIER at once.
    escape(rig);
    peer->peerSends("unread");
    peer->peerGone = true;
    EXPECT_EQ(rig.listen(), NO_CARRIER);
}

TEST(ModemCalls, IncomingCalls)
{
    ModemRig rig(true);
    rig.command("ATE0");
    auto caller = rig.call();
    EXPECT_EQ(rig.listen(10), RING);
    EXPECT_TRUE(rig.inputs().ring);
    EXPECT_EQ(rig.listen(1000), "");
    EXPECT_FALSE(rig.inputs().ring);
    EXPECT_EQ(rig.listen(2000), RING);  // a steady three-second cadence
    EXPECT_EQ(rig.command("ATS1?"), "\r\n002\r\n" + OK);

    auto second = rig.call();  // refused while one rings
    rig.listen(5);
    EXPECT_EQ(text(second->fromLine), "BUSY\r\n");
    EXPECT_TRUE(second->released);

    caller->peerSends("hi");
    EXPECT_EQ(rig.command("ATA"), CONNECT + "hi");
    auto third = rig.call();  // and during the call
    rig.listen(5);
    EXPECT_EQ(text(third->fromLine), "BUSY\r\n");
    rig.type("ok");
    EXPECT_EQ(text(caller->fromLine), "ok");
    EXPECT_EQ(escape(rig), OK);
    EXPECT_EQ(rig.command("ATS1?"), "\r\n000\r\n" + OK);

    // A caller who gives up stops the ringing.
    rig.command("ATH");
    auto quitter = rig.call();
    EXPECT_EQ(rig.listen(10), RING);
    quitter->peerGone = true;
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
        rig.call();
        EXPECT_EQ(rig.listen(2900), RING);
        EXPECT_EQ(rig.listen(200), RING + (c.answered ? CONNECT : ""));
        EXPECT_EQ(rig.inputs().dcd, c.answered);
    }
}

// The call's queues and their bounds are the engine's (ConnectionTest); the
// modem adds RTS flow control toward the guest under &K3.
TEST(ModemCalls, CtsFollowsTheCallAndRtsHoldsTheRemoteUnderK3)
{
    ModemRig rig;
    rig.command("ATE0");
    auto peer = rig.connect();
    peer->sendRoom = 0;  // the network takes nothing: CTS drops
    for (int i = 0; i < 2000 && rig.inputs().cts; ++i) rig.modem->writeByte('a');
    EXPECT_FALSE(rig.inputs().cts);
    peer->sendRoom = std::numeric_limits<std::size_t>::max();
    rig.listen(5);
    EXPECT_TRUE(rig.inputs().cts);

    peer->peerSends("held");
    rig.modem->setControl(Control::Rts, false);
    EXPECT_EQ(rig.listen(), "");
    rig.modem->setControl(Control::Rts, true);
    EXPECT_EQ(rig.listen(), "held");

    escape(rig);  // with &K0 RTS holds nothing back
    rig.command("AT&K0O");
    rig.modem->setControl(Control::Rts, false);
    peer->peerSends("free");
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
        EXPECT_EQ(peer->released, !c.callKept);
        EXPECT_EQ(rig.inputs().dcd, c.dcd);
    }
}

TEST(ModemCalls, RestoreLeavesItOnHookWithDefaults)
{
    ModemRig rig;
    rig.command("ATE0S7=99&C0");
    auto peer = rig.connect();
    peer->peerSends("lost");
    rig.modem->setControl(Control::Dtr, false);  // as bringing the chip back leaves them
    rig.modem->setControl(Control::Rts, false);
    rig.modem->restored();
    EXPECT_TRUE(peer->released);
    EXPECT_FALSE(rig.inputs().dcd);  // &C1 again, and no call
    EXPECT_EQ(rig.listen(), "\r\nNO CARRIER\r\n");  // the call's end, not its data
    // The guest does not write its command byte again: RTS counts as on, so
    // replies are not held under &K3.
    EXPECT_EQ(rig.command("ATS7?"), "ATS7?\r\r\n050\r\n" + OK);
}

// The modem chooses how its call is framed (the Telnet session itself is
// TelnetSessionTest's). A telnet: call offers Telnet at once, a tcp: call never speaks it, any other
// waits for the remote; the modem is the client of a call it placed and the
// server (refusing the options it does not do) of one it answered.
TEST(ModemCalls, TheDialStringChoosesTheCallsFraming)
{
    using Bytes = std::vector<std::uint8_t>;
    const Bytes negotiating{255, 251, 1, 255, 251, 200, 'h', 'i'};  // WILL ECHO, WILL 200, "hi"
    for (const auto& [dial, offers, telnet] : {std::tuple{"ATDThost", false, true},
                                               std::tuple{"ATDTtelnet:host:23", true, true},
                                               std::tuple{"ATDTtcp:host:23", false, false}}) {
        SCOPED_TRACE(dial);
        ModemRig rig;
        rig.command("ATE0");
        auto peer = rig.connect(dial);
        EXPECT_EQ(!peer->fromLine.empty(), offers);
        peer->peerSends(negotiating);
        EXPECT_EQ(rig.listen(), telnet ? "hi" : text(negotiating));
    }

    ModemRig rig(true);
    rig.command("ATE0S0=1");
    auto caller = rig.call();
    caller->peerSends(negotiating);
    EXPECT_EQ(rig.listen(), "\r\nRING\r\n" + CONNECT + "hi");
    EXPECT_NE(text(caller->fromLine).find(text(Bytes{255, 254, 200})), std::string::npos);  // DONT 200
    EXPECT_NE(text(caller->fromLine).find(text(Bytes{255, 251, 1})), std::string::npos);    // WILL ECHO: it echoes
}

// The steps of its calls as the modem tells the line monitor, from the dial
// to the hang-up, in a few words each.
TEST(ModemCalls, EachStepOfACallIsReported)
{
    const auto failing = [](ConnectFailure failure) {
        return [failure](ModemRig& rig) {
            rig.type("ATDThost\r", 2);
            rig.network.wires.back()->connecting = TransportState::Closed;
            rig.network.wires.back()->failure = failure;
            rig.listen();
        };
    };
    struct Case {
        const char* name;
        std::function<void(ModemRig&)> play;
        std::vector<std::string> steps;
        bool listening = false;
    };
    const Case cases[] = {
        {"a phonebook number, hung up by the far end",
         [](ModemRig& rig) {
             rig.connect("ATDT 555-1234")->peerGone = true;
             rig.listen();
         },
         {"dialling 555-1234 (phonebook: tcp:bbs:2323)", "connected", "hung up by the far end"}},
        {"escape, back on line, ATH",
         [](ModemRig& rig) {
             rig.connect();
             escape(rig);
             rig.command("ATO");
             escape(rig);
             rig.command("ATH");
         },
         {"dialling bbs.example.org", "connected", "escape to command mode", "back on line", "escape to command mode",
          "hung up by the guest: ATH"}},
        {"held by ;, then ATZ",
         [](ModemRig& rig) {
             rig.connect("ATDThost;");
             rig.command("ATZ");
         },
         {"dialling host", "connected, in command mode", "hung up by the guest: ATZ"}},
        {"DTR dropped under &D1, then &D2",
         [](ModemRig& rig) {
             rig.command("AT&D1");
             rig.connect();
             rig.modem->setControl(Control::Dtr, false);
             rig.listen(100);
             rig.modem->setControl(Control::Dtr, true);
             rig.command("AT&D2O");
             rig.modem->setControl(Control::Dtr, false);
             rig.listen(100);
         },
         {"dialling bbs.example.org", "connected", "command mode: DTR dropped", "back on line",
          "hung up by the guest: DTR dropped"}},
        {"busy", failing(ConnectFailure::Refused), {"dialling host", "busy"}},
        {"no answer", failing(ConnectFailure::NoAnswer), {"dialling host", "no answer"}},
        {"no such host", failing(ConnectFailure::NotResolved), {"dialling host", "no such host"}},
        {"failed", failing(ConnectFailure::Other), {"dialling host", "the call failed"}},
        {"no network",
         [](ModemRig& rig) {
             rig.network.refuseAll = true;
             rig.command("ATDThost");
         },
         {"dialling host: no network"}},
        {"restored",
         [](ModemRig& rig) {
             rig.connect();
             rig.modem->restored();
         },
         {"dialling bbs.example.org", "connected", "hung up: the machine's state restored"}},
        {"no such number", [](ModemRig& rig) { rig.command("ATDT5550000"); },
         {"dialling 5550000: no such number"}},
        {"abandoned", [](ModemRig& rig) { rig.type("ATDThost\rx"); }, {"dialling host", "dial abandoned by the guest"}},
        {"answered, then a caller who gives up",
         [](ModemRig& rig) {
             rig.call();
             rig.listen(10);
             rig.command("ATA");
             escape(rig);
             rig.command("ATH");
             auto quitter = rig.call();
             rig.listen(10);
             quitter->peerGone = true;
             rig.listen(10);
         },
         {"ringing", "answered", "escape to command mode", "hung up by the guest: ATH", "ringing", "the caller hung up"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModemRig rig(c.listening);
        rig.phonebook.entries = {{"5551234", "tcp:bbs:2323"}};
        rig.command("ATS25=5");
        HeardEvents heard;
        rig.modem->reportEventsTo(&heard);
        c.play(rig);
        EXPECT_EQ(heard.calls, c.steps);
    }
}
