// The kinds the plug-in ships as LineKinds wires them in the catalog: which
// kind a name belongs to (every name no other kind claims is a COM port),
// whether it reaches outside; and a network line in the device, whose status
// the panel reads without moving a byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/Rs232cDevice.h"
#include "platform/lines/LineKinds.h"
#include "tests/com/FakeCommApi.h"
#include "tests/network/FakeNetwork.h"
#include "tests/support/FakeHost.h"

namespace {
struct NoPhonebook final : Phonebook {
    std::optional<std::string> lookup(const std::string&) override { return std::nullopt; }
};
struct DialupDefaults final : dialup::DialupSettingsSource {
    dialup::DialupSettings read() override { return {}; }
};

// The plug-in's kinds over a fake comm API, network and clock.
struct ShippedKinds {
    FakeCommApi comm;
    FakeNetwork network;
    FakeClock clock;
    NoPhonebook phonebook;
    DialupDefaults dialupSettings;
    LineKinds kinds{LineServices{comm, network, clock, phonebook, dialupSettings, "modem"}};
};
}  // namespace

TEST(LineKinds, ThePlugInsKindsEachTakeTheirNames)
{
    ShippedKinds shipped;
    FakeCommApi& comm = shipped.comm;
    FakeNetwork& network = shipped.network;
    const std::uint32_t all = kLineHasFormat | kLineHasControls | kLineHasBreak;
    const int none = -1;  // no line opens
    const struct {
        const char* name;
        int features;        // of the line opened
        const char* comPath;  // what the comm API was asked to open, if anything
        const char* request;  // what the network was asked, if anything
        bool outside;
    } cases[] = {
        {"COM1", all, "//./COM1", nullptr, false},
        {"\\\\.\\COM12", all, "//./COM12", nullptr, false},
        {"TCP:host:23", 0, nullptr, "connect host 23", true},  // raw: no format, no controls
        {"tcp:host", 0, nullptr, "connect host 23", true},     // the port a dial string would take
        {"tcp:2001:db8::7", 0, nullptr, "connect 2001:db8::7 23", true},
        {"telnet:host:2217", all, nullptr, "connect host 2217", true},
        {"TELNET:[::1]:2217", all, nullptr, "connect ::1 2217", true},
        {"listen:5000", 0, nullptr, "listen 127.0.0.1 5000", true},
        {"listen:0.0.0.0:5000", 0, nullptr, "listen 0.0.0.0 5000", true},
        {"tcp:host:", none, nullptr, nullptr, true},  // malformed: opens nothing, not a COM port either
        {"listen:99999", none, nullptr, nullptr, true},
        {"tcpip:host:23", all, "//./tcpip:host:23", nullptr, false},
        {"modem", kLineHasFormat | kLineHasControls, nullptr, nullptr, true},  // dials only when told to
        {"Modem:2323", kLineHasFormat | kLineHasControls, nullptr, "listen 127.0.0.1 2323", true},
        {"modem:[::]:23", kLineHasFormat | kLineHasControls, nullptr, "listen :: 23", true},
        {"modem:", none, nullptr, nullptr, true},
        {"modem:host:", none, nullptr, nullptr, true},
        {"modems", all, "//./modems", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        comm.clearCalls();
        network.requests.clear();
        const std::unique_ptr<Line> line = shipped.kinds.open(c.name);
        EXPECT_EQ(line ? static_cast<int>(line->features()) : none, c.features);
        const std::vector<CommCall> opens = comm.callsOf(CommOp::Open);
        EXPECT_EQ(opens.empty() ? "" : opens[0].path, c.comPath ? c.comPath : "");
        EXPECT_EQ(network.requests, c.request ? std::vector<std::string>{c.request} : std::vector<std::string>{});
        EXPECT_EQ(shipped.kinds.reachesOutside(c.name), c.outside);

        if (c.request) {
            network.refuseAll = true;  // the network cannot even start: no line
            EXPECT_EQ(shipped.kinds.open(c.name), nullptr);
            network.refuseAll = false;
        }
    }
}

// The panel's refresh reads the status and port B (the inputs and the errors
// of the line) from the window thread: only the tick's service step may move
// a network byte.
TEST(LineKinds, APanelRefreshMovesNoNetworkByte)
{
    ShippedKinds shipped;
    FakeHost host;
    FakeAlert alert;
    FakePanel panel;
    Rs232cDevice device;
    device.construct(Platform{&shipped.kinds, &alert, &panel});
    host.attach(device);
    LineSettings settings{};
    settings.baudRate = 9600;
    settings.byteSize = 8;
    std::strcpy(settings.portName, "tcp:peer:23");
    device.storeSettings(settings, true);
    device.setSystemClock(2457600);
    device.timer2Changed(16);
    device.writeModeCommand(0x4E);
    device.writeModeCommand(0x37);
    FakeWire& peer = *shipped.network.wires.at(0);
    peer.answer();
    shipped.clock.now += 1000;
    host.fire();
    ASSERT_NE(device.readStatus() & kStatusDsr, 0);  // connected

    device.writeData('g');
    peer.peerSends("p");
    const int receives = peer.receiveCalls;
    for (int refresh = 0; refresh < 100; ++refresh) {
        shipped.clock.now += 1000;
        device.readStatus();
        device.readPortB();
        device.refreshLineStatus();
    }
    EXPECT_EQ(peer.receiveCalls, receives);
    EXPECT_EQ(peer.toLine.size(), 1u);
    EXPECT_TRUE(peer.fromLine.empty());

    for (int tick = 0; tick < 3; ++tick) {
        shipped.clock.now += 1000;
        host.fire();
    }
    EXPECT_TRUE(peer.toLine.empty());
    EXPECT_EQ(std::string(peer.fromLine.begin(), peer.fromLine.end()), "g");
    device.powerOff();
    device.destroy();
}
