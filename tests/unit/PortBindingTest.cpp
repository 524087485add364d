// Binding the line: opened by name through the catalog, made ready at every
// mode byte, kept while the name stays and the line has not gone, replaced
// when the name changes, and the failures the user hears of.
#include <algorithm>
#include <cstring>
#include <ostream>

#include "tests/support/DeviceFixture.h"

namespace {
class PortBinding : public DeviceTest {};

TEST_F(PortBinding, FirstModeByteOpensTheLineAndPreparesIt)
{
    loadSettings(makeSettings("COM1"));
    device.setSystemClock(kClock);
    device.timer2Changed(16);

    device.writeModeCommand(0x4E);

    EXPECT_EQ(lines.log(), (std::vector<std::string>{
                               "Open COM1", "Prepare",                                                     // bound
                               "SetControl DTR off", "SetControl Break off", "SetControl RTS off",          // the mode byte
                               "SetFormat 9600 8 N 1", "Discard",
                               "ReadFormat",  // the re-arm paces by the format in force
                           }));
    EXPECT_EQ(chip().portReady, 1);
    EXPECT_STREQ(state().openPortName, "COM1");
    EXPECT_TRUE(state().lineOpen);
}

TEST_F(PortBinding, SameNameIsOpenedOnceButPreparedAtEveryModeByte)
{
    programmed(0x40);  // internal reset: the next byte is a mode byte again
    mark();
    device.writeModeCommand(0x4E);
    const std::vector<std::string> log = logSinceMark();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 2), (std::vector<std::string>{"State", "Prepare"}));
    EXPECT_EQ(lines.opened().size(), 1u);
    EXPECT_EQ(lines.countOf(LineOp::Close), 0u);
}

TEST_F(PortBinding, ChangedNameClosesTheOldLineAndOpensTheNewOne)
{
    programmed(0x40);
    device.storeSettings(makeSettings("COM2"), false);  // the dialog's OK
    mark();
    device.writeModeCommand(0x4E);
    const std::vector<std::string> log = logSinceMark();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
              (std::vector<std::string>{"Close", "Open COM2", "Prepare"}));
    EXPECT_EQ(lines.linesAlive(), 1);
    EXPECT_STREQ(state().openPortName, "COM2");
    EXPECT_STREQ(state().appliedSettings.portName, "COM2");
}

// A line that has gone never works again: it is closed and the name opened
// afresh, now and at every mode byte until it opens. A line still being
// connected is usable.
TEST_F(PortBinding, GoneLineIsOpenedAfreshConnectingLineIsKept)
{
    programmed(0x40);
    lines.setState(LineState::Connecting);
    mark();
    device.writeModeCommand(0x4E);
    EXPECT_EQ(logSinceMark().at(1), "Prepare");
    EXPECT_EQ(chip().portReady, 1);

    device.writeModeCommand(0x40);
    lines.setState(LineState::Gone);  // the adapter was pulled out
    lines.fail(LineOp::Open);
    mark();
    device.writeModeCommand(0x4E);
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"State", "Close", "Open COM1"}));
    EXPECT_FALSE(state().lineOpen);
    EXPECT_EQ(chip().portReady, 0);
    EXPECT_EQ(alert.shown(), std::vector<std::string>{openFailureText("COM1")});

    // Plugged in again: the next mode byte opens it and programs it.
    lines.setState(LineState::Open);
    lines.fail(LineOp::Open, false);
    device.writeModeCommand(0x40);
    mark();
    device.writeModeCommand(0x4E);
    const std::vector<std::string> log = logSinceMark();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 2), (std::vector<std::string>{"Open COM1", "Prepare"}));
    EXPECT_EQ(chip().portReady, 1);
    EXPECT_EQ(lines.opened().size(), 2u);
    EXPECT_EQ(alert.shown().size(), 1u);
}

TEST_F(PortBinding, ApplyingSavedSettingsOpensTheSavedName)
{
    loadSettings(makeSettings("COM1"));
    device.storeSettings(makeSettings("COM3"), false);
    EXPECT_EQ(device.openPort(true), 1);
    EXPECT_EQ(lines.opened(), std::vector<std::string>{"COM1"});
    EXPECT_STREQ(state().configuredSettings.portName, "COM3");
}

TEST_F(PortBinding, OpenFailureIsReportedAtEveryModeByte)
{
    loadSettings(makeSettings("COM1"));
    lines.refuseOpenOf("COM1");
    device.setSystemClock(kClock);
    device.timer2Changed(16);

    device.writeModeCommand(0x4E);
    EXPECT_EQ(lines.log(), std::vector<std::string>{"Open COM1"});
    const DeviceState after = state();
    EXPECT_EQ(after.chip.portReady, 0);
    EXPECT_FALSE(after.lineOpen);
    EXPECT_EQ(after.chip.programState, kExpectCommand);  // the mode byte is still taken
    EXPECT_EQ(after.computedBaud, 9600u);
    EXPECT_TRUE(host.running());
    EXPECT_EQ(alert.shown(), std::vector<std::string>{openFailureText("COM1")});

    device.writeModeCommand(0x40);
    device.writeModeCommand(0x4E);
    EXPECT_EQ(alert.shown(), std::vector<std::string>(2, openFailureText("COM1")));
    EXPECT_TRUE(lines.opened().empty());
}

TEST_F(PortBinding, EmptyNameFailsWithTheBareMessage)
{
    lines.refuseOpenOf("");  // no settings file was ever read
    device.writeModeCommand(0x4E);
    EXPECT_EQ(lines.log(), std::vector<std::string>{"Open "});
    EXPECT_EQ(alert.shown(), std::vector<std::string>{openFailureText("")});
}

// Names from a hand-edited settings file or a damaged save block: one that
// fits the 256-byte message buffer is opened, any other never is.
struct NameCase {
    const char* what;
    std::string name;  // stored without its NUL when it fills all 260 bytes
    bool opened;
    std::string shownName;  // the name in front of the failure message
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.what; }

class PortNames : public DeviceTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(PortNames, OnlyNamesThatFitAreOpened)
{
    const NameCase& c = GetParam();
    LineSettings settings = makeSettings("");
    std::memcpy(settings.portName, c.name.data(), std::min(c.name.size(), sizeof settings.portName));
    loadSettings(settings);

    const int result = device.openPort(false);

    EXPECT_EQ(result, c.opened ? 1 : 0);
    if (c.opened) {
        EXPECT_EQ(lines.opened(), std::vector<std::string>{c.name});
        EXPECT_TRUE(alert.shown().empty());
    } else {
        EXPECT_EQ(lines.countOf(LineOp::Open), 0u);
        EXPECT_EQ(chip().portReady, 0);
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
