// Opening the real port: the path, the set-up calls, keeping the port across
// mode bytes, replacing it when the name changes, and open failures.
#include <algorithm>
#include <cstring>
#include <ostream>

#include "tests/unit/SerialEngineTest.h"

namespace {
class PortBinding : public EngineTest {};

TEST_F(PortBinding, FirstModeByteOpensThePortAndPreparesItForPolling)
{
    loadSettings(makeSettings("COM1"));
    device.systemClock = kClock;
    device.timer2Changed(16);
    const CommState reported = port.currentState();

    device.writeModeCommand(0x4E);

    const std::vector<std::string> expected = {
        "Open //./COM1",
        "GetState", "SetState 9600 8 N 1 flags=0x1", "SetTimeouts", "SetEventMask 0x1C0",  // open and re-apply
        "Escape ClrDtr", "Escape ClrBreak", "Escape ClrRts",                                  // the mode byte
        "GetState", "SetState 9600 8 N 1 flags=0x20A1", "Purge 0xF",
        "GetState",  // the re-arm reads the character format
    };
    EXPECT_EQ(port.log(), expected);

    // The re-apply writes back exactly what the port reported.
    const std::vector<PortCall> states = port.callsOf(PortOp::SetState);
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(std::memcmp(&states[0].state, &reported, sizeof reported), 0);
    const CommTimeouts timeouts = port.callsOf(PortOp::SetTimeouts).at(0).timeouts;
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);

    EXPECT_EQ(device.chip.portReady, 1);
    EXPECT_STREQ(device.openPortName, "COM1");
    EXPECT_TRUE(port.isOpen(device.portHandle));
}

TEST_F(PortBinding, SameNameIsOpenedOnceButReappliedAtEveryModeByte)
{
    programmed(0x40);  // internal reset: the next byte is a mode byte again
    mark();
    device.writeModeCommand(0x4E);

    const std::vector<std::string> log = logSinceMark();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4),
              (std::vector<std::string>{"GetState", "SetState 9600 8 N 1 flags=0x20A1", "SetTimeouts",
                                        "SetEventMask 0x1C0"}));
    EXPECT_EQ(port.openCount(), 1u);
    EXPECT_TRUE(port.callsOf(PortOp::Close).empty());
}

TEST_F(PortBinding, ChangedNameClosesTheOldPortAndOpensTheNewOne)
{
    programmed(0x40);
    const PortHandle old = device.portHandle;
    device.storeSettings(makeSettings("COM2"), false);  // the dialog's OK
    mark();
    device.writeModeCommand(0x4E);

    const std::vector<std::string> log = logSinceMark();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "Close");
    EXPECT_EQ(log[1], "Open //./COM2");
    EXPECT_EQ(log[2], "GetState");
    EXPECT_EQ(port.callsOf(PortOp::Close).at(0).port, old);
    EXPECT_FALSE(port.isOpen(old));
    EXPECT_TRUE(port.isOpen(device.portHandle));
    EXPECT_STREQ(device.openPortName, "COM2");
    EXPECT_STREQ(device.appliedSettings.portName, "COM2");
}

TEST_F(PortBinding, KeptPortThatNoLongerAnswersIsOpenedAfresh)
{
    programmed(0x40);
    const PortHandle gone = device.portHandle;
    port.failOperation(PortOp::GetState);  // the adapter was pulled out
    port.failOperation(PortOp::Open);
    mark();
    device.writeModeCommand(0x4E);
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"GetState", "Close", "Open //./COM1"}));
    EXPECT_FALSE(port.isOpen(gone));
    EXPECT_FALSE(device.portOpen());
    EXPECT_EQ(device.chip.portReady, 0);
    EXPECT_EQ(alert.shown(), std::vector<std::string>{openFailureText("COM1")});

    // Plugged in again: the next mode byte opens it and programs it.
    port.failOperation(PortOp::GetState, false);
    port.failOperation(PortOp::Open, false);
    device.writeModeCommand(0x40);
    mark();
    device.writeModeCommand(0x4E);
    const std::vector<std::string> log = logSinceMark();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
              (std::vector<std::string>{"Open //./COM1", "GetState", "SetState 9600 8 N 1 flags=0x20A1"}));
    EXPECT_EQ(device.chip.portReady, 1);
    EXPECT_EQ(port.openCount(), 2u);
    EXPECT_EQ(alert.shown().size(), 1u);
}

TEST_F(PortBinding, ApplyingSavedSettingsOpensTheSavedPortName)
{
    loadSettings(makeSettings("COM1"));
    device.storeSettings(makeSettings("COM3"), false);
    EXPECT_EQ(device.openPort(true), 1);
    EXPECT_EQ(port.log().at(0), "Open //./COM1");
    EXPECT_STREQ(device.configuredSettings.portName, "COM3");
}

TEST_F(PortBinding, OpenFailureIsReportedAtEveryModeByte)
{
    loadSettings(makeSettings("COM1"));
    port.failOpenOf("//./COM1");
    device.systemClock = kClock;
    device.timer2Changed(16);

    device.writeModeCommand(0x4E);
    EXPECT_EQ(port.log(), std::vector<std::string>{"Open //./COM1"});
    EXPECT_EQ(device.chip.portReady, 0);
    EXPECT_FALSE(device.portOpen());
    EXPECT_EQ(device.chip.programState, kExpectCommand);  // the mode byte is still taken
    EXPECT_EQ(device.computedBaud, 9600u);
    EXPECT_TRUE(host.running());
    EXPECT_EQ(alert.shown(), std::vector<std::string>{openFailureText("COM1")});

    device.writeModeCommand(0x40);
    device.writeModeCommand(0x4E);
    EXPECT_EQ(alert.shown(), std::vector<std::string>(2, openFailureText("COM1")));
    EXPECT_EQ(port.openCount(), 0u);
}

TEST_F(PortBinding, EmptyNameFailsWithTheBareMessage)
{
    port.failOpenOf("//./");  // no settings file was ever read
    device.writeModeCommand(0x4E);
    EXPECT_EQ(port.log(), std::vector<std::string>{"Open //./"});
    EXPECT_EQ(alert.shown(), std::vector<std::string>{openFailureText("")});
}

// A path that opens but cannot report line settings is a file, a pipe or
// another device, never a serial port: it is closed at once and reported as an
// open failure, and nothing the guest sends ever reaches it.
TEST_F(PortBinding, HandleWithoutLineSettingsIsClosedAndNeverWritten)
{
    loadSettings(makeSettings("C:/Users/someone/notes.txt"));
    port.failOperation(PortOp::GetState);
    port.setModemLines(kModemCtsOn | kModemDsrOn);
    device.systemClock = kClock;
    device.timer2Changed(16);

    device.writeModeCommand(0x4E);
    EXPECT_EQ(port.log(), (std::vector<std::string>{"Open //./C:/Users/someone/notes.txt", "GetState", "Close"}));
    EXPECT_FALSE(device.portOpen());
    EXPECT_EQ(device.chip.portReady, 0);
    EXPECT_EQ(alert.shown(), std::vector<std::string>{openFailureText("C:/Users/someone/notes.txt")});

    // The guest goes on as with any port that failed to open.
    device.writeModeCommand(0x37);
    device.writeData('A');
    for (int i = 0; i < 4; ++i) device.tick();
    EXPECT_TRUE(port.written().empty());
    EXPECT_EQ(port.callsOf(PortOp::Open).size(), 1u);
    EXPECT_EQ(port.callsOf(PortOp::Close).size(), 1u);
    for (const PortCall& call : port.calls())
        EXPECT_TRUE(call.op == PortOp::Open || call.op == PortOp::GetState || call.op == PortOp::Close)
            << portOpName(call.op);
}

// Names from a hand-edited settings file or a damaged save block: one that
// fits the 256-byte path and message buffers is opened, any other never is.
struct NameCase {
    const char* what;
    std::string name;     // stored without its NUL when it fills all 260 bytes
    bool opened;
    std::string shownName;  // the name in front of the failure message
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.what; }

class PortNames : public EngineTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(PortNames, OnlyNamesThatFitAreOpened)
{
    const NameCase& c = GetParam();
    LineSettings settings = makeSettings("");
    std::memcpy(settings.portName, c.name.data(), std::min(c.name.size(), sizeof settings.portName));
    loadSettings(settings);

    const int result = device.openPort(false);

    if (c.opened) {
        EXPECT_EQ(result, 1);
        EXPECT_EQ(port.log().at(0), "Open //./" + c.name);
        EXPECT_TRUE(alert.shown().empty());
    } else {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(port.callsOf(PortOp::Open).empty());
        EXPECT_EQ(device.chip.portReady, 0);
        ASSERT_EQ(alert.shown().size(), 1u);
        EXPECT_EQ(alert.shown()[0], openFailureText(c.shownName));
        EXPECT_LE(alert.shown()[0].size(), 255u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, PortNames,
    ::testing::Values(NameCase{"longest", std::string(239, 'A'), true, ""},
                      NameCase{"oneTooLong", std::string(240, 'A'), false, std::string(239, 'A')},
                      NameCase{"noNul", std::string(260, 'B'), false, std::string(239, 'B')}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.what); });
}  // namespace
