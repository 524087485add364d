// The dial-up server behind the modem: which numbers reach it, CONNECT at
// once, a call that ends or is dropped by a restore heard as NO CARRIER with
// lwIP left clean, BUSY while lwIP serves another call, and what a monitor
// of the modem is told of the call.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/dialup/DialupSession.h"
#include "platform/dialup/DialupSwitchboard.h"
#include "platform/dialup/LoginScreen.h"
#include "tests/dialup/DialupRig.h"
#include "tests/modem/ModemRig.h"

using namespace dialup;

namespace {
const std::string kConnect = "\r\nCONNECT 9600\r\n";
const std::string kNoCarrier = "\r\nNO CARRIER\r\n";
// An LCP Configure-Request, id 1, with a magic number.
const std::vector<std::uint8_t> kLcpRequest = {0xff, 0x03, 0xc0, 0x21, 0x01, 0x01, 0x00, 0x0a,
                                               0x05, 0x06, 0x12, 0x34, 0x56, 0x78};

struct FixedSettings final : DialupSettingsSource {
    DialupSettings read() override { return value; }
    DialupSettings value;
};

// A modem whose calls go through the dial-up switchboard.
struct IspRig {
    IspRig() { rig.command("ATE0"); }
    std::string bytes(const std::vector<std::uint8_t>& data) { return rig.type(std::string(data.begin(), data.end())); }

    FakeNetwork network;
    FakePhonebook phonebook;
    FixedSettings settings;
    DialupSwitchboard board{{network, sharedClock(), phonebook, settings}};
    ModemRig rig{&board, &sharedClock()};
};

}  // namespace

TEST(DialupCalls, TheNumbersThatReachTheServerAndThoseThatDoNot)
{
    struct Case {
        std::map<std::string, std::string> phonebook;
        const char* dial;
        std::string heard;
        std::vector<std::string> requests;
    } cases[] = {
        {{}, "ATDT777", kConnect + LoginScreen::greeting(), {}},
        {{{"5550100", "PPP"}}, "ATDT 555-0100", kConnect + LoginScreen::greeting(), {}},
        {{{"5550100", "slip"}}, "ATDT555-0100", kConnect, {}},  // SLIP from CONNECT on: no login
        {{{"5550100", "cslip"}}, "ATDT555-0100", kConnect, {}},
        {{{"777", "bbs.example.org:23"}}, "ATDT777", "", {"connect bbs.example.org 23"}},  // the user's entry wins
        {{}, "ATDT778", kNoCarrier, {}},
    };
    for (const Case& c : cases) {
        IspRig isp;
        isp.phonebook.entries = c.phonebook;
        EXPECT_EQ(isp.rig.command(c.dial), c.heard) << c.dial;
        EXPECT_EQ(isp.network.requests, c.requests) << c.dial;
    }
    expectCleanStack(sharedClock());
}

TEST(DialupCalls, ExitAtTheLoginDropsTheCarrierAndACallWhileLwipIsHeldIsBusy)
{
    IspRig isp;
    EXPECT_EQ(isp.rig.command("ATDT777"), kConnect + LoginScreen::greeting());
    EXPECT_TRUE(isp.rig.inputs().dcd);
    EXPECT_EQ(isp.rig.type("guest\r"), "guest\r\nPassword:");
    isp.rig.type("anything\r");
    EXPECT_EQ(isp.rig.type("exit\r"), "exit\r\n" + kNoCarrier);
    EXPECT_FALSE(isp.rig.inputs().dcd);
    expectCleanStack(sharedClock());

    auto other = DialupSession::start({isp.network, sharedClock()}, DialupSettings{}, Service::Slip);
    ASSERT_TRUE(other);
    EXPECT_EQ(isp.rig.command("ATDT777"), "\r\nBUSY\r\n");
    other.reset();
    EXPECT_EQ(isp.rig.command("ATDT777"), kConnect + LoginScreen::greeting());
}

TEST(DialupCalls, TheGuestsTerminateRequestEndsTheCallAtOnce)
{
    IspRig isp;
    HeardEvents heard;
    isp.rig.modem->reportEventsTo(&heard);
    isp.rig.command("ATDT777");
    isp.bytes(pppFrame(kLcpRequest));
    // The guest acknowledges the server's own request: LCP is open.
    std::vector<std::uint8_t> ack;
    for (const auto& frame : heard.toGuest)
        if (frame.size() > 4 && frame[2] == 0xc0 && frame[3] == 0x21 && frame[4] == 0x01) ack = frame;
    ASSERT_FALSE(ack.empty());
    ack[4] = 0x02;
    isp.bytes(pppFrame(ack));
    const std::string ended = isp.bytes(pppFrame({0xff, 0x03, 0xc0, 0x21, 0x05, 0x07, 0x00, 0x04}));
    EXPECT_NE(ended.find(kNoCarrier), std::string::npos) << "within 300 ms of the Terminate-Ack";
    expectCleanStack(sharedClock());
}

TEST(DialupCalls, ARestoreDropsAPppCallWithNoCarrierAndLeavesLwipClean)
{
    IspRig isp;
    isp.rig.command("ATDT777");
    const std::string answer = isp.bytes(pppFrame(kLcpRequest));
    EXPECT_NE(answer.find("\x7e\xff\x7d\x23\xc0\x21"), std::string::npos) << "the server's LCP";
    isp.rig.modem->restored();
    EXPECT_EQ(isp.rig.listen(), kNoCarrier);
    expectCleanStack(sharedClock());
    EXPECT_EQ(isp.rig.command("ATDT777"), "ATDT777\r" + kConnect + LoginScreen::greeting());  // echo on again
}

TEST(DialupCalls, AMonitorHearsTheFramesBothWaysAndNeverThePassword)
{
    IspRig isp;
    isp.settings.value = DialupSettings::parse({"Gateway=10.0.2", "User=guest", "Password=secret"});
    HeardEvents heard;
    isp.rig.modem->reportEventsTo(&heard);
    isp.rig.command("ATDT777");
    EXPECT_EQ(heard.calls, (std::vector<std::string>{"dial-up settings: Gateway not understood, its default kept",
                                                     "dialling 777 (phonebook: ppp)", "connected"}));

    isp.rig.type("guest\r");
    EXPECT_EQ(heard.raw, std::vector<RawBytes>{RawBytes::Secret});  // from the prompt on
    isp.rig.type("secret\r");
    EXPECT_EQ(heard.raw, (std::vector<RawBytes>{RawBytes::Secret, RawBytes::Shown}));

    std::vector<std::uint8_t> damaged = pppFrame(kLcpRequest);
    damaged[8] ^= 0x01;
    isp.bytes(damaged);  // its check sequence is wrong: no frame
    isp.bytes(pppFrame(kLcpRequest));
    EXPECT_EQ(heard.raw.back(), RawBytes::AsFrames);
    EXPECT_EQ(heard.fromGuest, std::vector<std::vector<std::uint8_t>>{kLcpRequest});
    ASSERT_GE(heard.toGuest.size(), 2u);  // the server's own request and its Ack of the guest's
    for (const auto& frame : heard.toGuest)
        EXPECT_EQ(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 4),
                  (std::vector<std::uint8_t>{0xff, 0x03, 0xc0, 0x21}));

    isp.rig.modem->restored();
    EXPECT_EQ(heard.raw.back(), RawBytes::Shown);
}
