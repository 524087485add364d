// Port 0x32 writes: what a mode byte writes into the port's DCB, the
// synchronous sequence, and what command bytes do to the port and the chip.
#include <algorithm>
#include <cstring>
#include <ostream>

#include "tests/unit/SerialEngineTest.h"

namespace {
class ModeCommand : public EngineTest {};

// The port reports a record with odd values everywhere the mode byte must
// not touch: they have to come back unchanged.
CommState reportedState()
{
    CommState state{};
    state.DCBlength = 12;
    state.BaudRate = 1200;
    state.flags = 0x9ABCD5FFu;
    state.XonLim = 1234;
    state.XoffLim = 321;
    state.ByteSize = 6;
    state.Parity = kOddParity;
    state.StopBits = kTwoStopBits;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    state.ErrorChar = '?';
    state.EofChar = 0x1A;
    state.EvtChar = 0x7E;
    return state;
}

struct DcbCase {
    std::uint8_t mode;
    std::int32_t count;
    LineSettings settings;
    std::uint32_t computed;  // kClock / (count * factor)
    std::uint32_t baud;
    std::uint8_t byteSize, parity, stopBits;
    std::uint32_t lowFlags;
};

LineSettings locked38400(int parity, int stopBits, int byteSize)
{
    return makeSettings("COM1", 1, 38400, parity, stopBits, byteSize);
}

void PrintTo(const DcbCase& c, std::ostream* os)
{
    *os << "mode 0x" << std::hex << int{c.mode} << std::dec << " count " << c.count << (c.settings.lock == 1 ? " locked" : "");
}

class ModeByteDcb : public EngineTest, public ::testing::WithParamInterface<DcbCase> {};

TEST_P(ModeByteDcb, WritesTheLineParametersAndKeepsTheRest)
{
    const DcbCase& c = GetParam();
    port.setState(reportedState());
    loadSettings(c.settings);
    showPanel();
    programAsync(c.mode, kClock, c.count);

    // DTR, RTS and break dropped, and the port purged once. The order of all
    // this is the port binding's test to pin.
    EXPECT_EQ(port.escapesSince(0), (std::vector<std::string>{"ClrBreak", "ClrDtr", "ClrRts"}));
    EXPECT_EQ(port.callsOf(PortOp::Purge).size(), 1u);

    CommState expected = reportedState();
    expected.DCBlength = 28;
    expected.BaudRate = c.baud;
    expected.ByteSize = c.byteSize;
    expected.Parity = c.parity;
    expected.StopBits = c.stopBits;
    expected.flags = (reportedState().flags & 0xFFFF8000u) | c.lowFlags;
    const CommState written = port.callsOf(PortOp::SetState).back().state;
    EXPECT_EQ(describeState(written), describeState(expected));
    EXPECT_EQ(written.flags, expected.flags);
    EXPECT_EQ(std::memcmp(&written, &expected, sizeof expected), 0);

    EXPECT_EQ(device.computedBaud, c.computed);
    EXPECT_EQ(panel.latest(kFieldComputedSpeed), std::to_string(c.computed));
    EXPECT_EQ(panel.latest(kFieldActualSpeed), std::to_string(c.baud));
    EXPECT_EQ(device.chip.programState, kExpectCommand);
    EXPECT_EQ(device.modeByte, c.mode);
}

const LineSettings kUnlocked = makeSettings("COM1");

INSTANTIATE_TEST_SUITE_P(
    Modes, ModeByteDcb,
    ::testing::Values(
        DcbCase{0x4E, 16, kUnlocked, 9600, 9600, 8, kNoParity, kOneStopBit, 0x20A1},
        DcbCase{0x4E, 15, kUnlocked, 10240, 19200, 8, kNoParity, kOneStopBit, 0x20A1},  // just above 9600
        DcbCase{0x4D, 16, kUnlocked, 153600, 115200, 8, kNoParity, kOneStopBit, 0x20A1},  // x1, beyond the top
        DcbCase{0xFE, 16, kUnlocked, 9600, 9600, 8, kEvenParity, kTwoStopBits, 0x20A3},
        DcbCase{0x5A, 16, kUnlocked, 9600, 9600, 7, kOddParity, kOneStopBit, 0x20A3},
        DcbCase{0x83, 16, kUnlocked, 2400, 2400, 5, kNoParity, kOne5StopBits, 0x20A1},
        DcbCase{0xCF, 16, kUnlocked, 2400, 2400, 8, kNoParity, kTwoStopBits, 0x20A1},
        DcbCase{0xC3, 16, kUnlocked, 2400, 2400, 5, kNoParity, kOne5StopBits, 0x20A1},  // 5 bits cannot take two
        DcbCase{0xBF, 16, kUnlocked, 2400, 2400, 8, kEvenParity, kOneStopBit, 0x20A3},  // 8 bits cannot take 1.5
        DcbCase{0x0E, 16, kUnlocked, 9600, 9600, 8, kNoParity, kOneStopBit, 0x20A1},    // stop field 00
        // Locked: the user's format and rate win, fParity still follows mode bit 4.
        DcbCase{0x4E, 16, locked38400(kOddParity, kTwoStopBits, 7), 9600, 38400, 7, kOddParity, kTwoStopBits,
                0x20A1},
        DcbCase{0xFE, 3, locked38400(kNoParity, kOneStopBit, 8), 51200, 38400, 8, kNoParity, kOneStopBit, 0x20A3},
        DcbCase{0x0E, 1000, locked38400(kEvenParity, kTwoStopBits, 8), 153, 38400, 8, kEvenParity, kOneStopBit,
                0x20A1},
        DcbCase{0xCE, 16, locked38400(kNoParity, kTwoStopBits, 5), 9600, 38400, 5, kNoParity, kOne5StopBits,
                0x20A1}));

// The port refuses the mode byte's DCB: the message comes once, and the rest
// of the programming goes on.
TEST_F(ModeCommand, RefusedDcbIsReportedAndProgrammingGoesOn)
{
    port.failOperation(PortOp::SetState);
    loadSettings(makeSettings("COM1"));
    programAsync(0x4E, kClock, 16);

    // Tried once by the re-apply (whose failure is ignored) and once by the mode byte.
    EXPECT_EQ(port.callsOf(PortOp::SetState).size(), 2u);
    EXPECT_EQ(alert.shown(), std::vector<std::string>{kSetCommStateFailed});
    EXPECT_EQ(port.callsOf(PortOp::Escape).size(), 3u);
    EXPECT_EQ(port.callsOf(PortOp::Purge).size(), 1u);
    EXPECT_EQ(device.chip.portReady, 1);
    EXPECT_EQ(device.chip.programState, kExpectCommand);
    EXPECT_TRUE(host.running());
}

class SyncMode : public EngineTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(SyncMode, TakesTwoSyncCharactersWithoutTouchingTheLine)
{
    loadSettings(makeSettings("COM1"));
    showPanel();
    device.systemClock = kClock;
    device.timer2Changed(16);
    panel.clear();
    host.clearTimerCalls();

    device.writeModeCommand(GetParam());
    EXPECT_EQ(port.log(), (std::vector<std::string>{"Open //./COM1", "GetState", "SetState 9600 8 N 1 flags=0x1",
                                                    "SetTimeouts", "SetEventMask 0x1C0", "GetState"}));
    EXPECT_EQ(device.chip.programState, kExpectSync1);
    EXPECT_EQ(device.baudFactor, 1u);
    EXPECT_EQ(device.computedBaud, 0u);
    EXPECT_EQ(panel.latest(kFieldDivider), "1/1");
    EXPECT_EQ(panel.latest(kFieldComputedSpeed), "");
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "");
    // Re-armed at 300 baud (computed speed 0) for the port's 9-bit format.
    EXPECT_EQ(host.periods(), std::vector<std::int32_t>{3000});
    EXPECT_TRUE(host.running());

    mark();
    host.clearTimerCalls();
    device.writeModeCommand(0x16);
    EXPECT_EQ(device.chip.programState, kExpectSync2);
    device.writeModeCommand(0x4E);  // looks like a mode byte, is the second sync character
    EXPECT_EQ(device.chip.programState, kExpectCommand);
    EXPECT_EQ(device.chip.syncChar1, 0x16);
    EXPECT_EQ(device.chip.syncChar2, 0x4E);
    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_TRUE(host.timerCalls().empty());

    device.writeModeCommand(0x37);  // now a command
    EXPECT_EQ(escapesSinceMark(), (std::vector<std::string>{"ClrBreak", "SetDtr", "SetRts"}));
    EXPECT_EQ(device.chip.txEnable, 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, SyncMode, ::testing::Values(0x80, 0x00));

struct CommandCase {
    std::uint8_t command;
    bool dtr, breakOn, rts;
    std::uint8_t txEnable, rxEnable;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << "command 0x" << std::hex << int{c.command}; }

class CommandByte : public EngineTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandByte, DrivesDtrBreakRtsAndTheEnables)
{
    const CommandCase& c = GetParam();
    programmed(0x2A);  // every line on: the command must take down what it does not set
    mark();
    host.clearTimerCalls();
    device.writeModeCommand(c.command);
    const FakeSerialPorts::OutputLines lines = port.outputLines();
    EXPECT_EQ(lines.dtr, c.dtr);
    EXPECT_EQ(lines.breakOn, c.breakOn);
    EXPECT_EQ(lines.rts, c.rts);
    EXPECT_EQ(escapesSinceMark().size(), 3u) << "one escape a line, every command";
    EXPECT_EQ(device.chip.txEnable, c.txEnable);
    EXPECT_EQ(device.chip.rxEnable, c.rxEnable);
    EXPECT_EQ(device.chip.programState, kExpectCommand);
    EXPECT_TRUE(host.timerCalls().empty());  // commands never re-arm
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandByte,
    ::testing::Values(CommandCase{0x37, true, false, true, 1, 1}, CommandCase{0x0A, true, true, false, 0, 0},
                      CommandCase{0xA0, false, false, true, 0, 0}, CommandCase{0x05, false, false, false, 1, 1},
                      CommandCase{0x01, false, false, false, 1, 0}));

// What the port sees of a command: DTR, then break, then RTS, each once.
TEST_F(ModeCommand, ACommandGivesThePortDtrThenBreakThenRts)
{
    programmed(0x00);
    mark();
    device.writeModeCommand(0x2A);
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"Escape SetDtr", "Escape SetBreak", "Escape SetRts"}));
}

TEST_F(ModeCommand, ErrorResetClearsOnlyTheErrorBits)
{
    programmed(0x37);
    port.addLineErrors(kLineErrorParity | kLineErrorOverrun | kLineErrorFrame);
    EXPECT_EQ(device.readStatus() & 0x38, 0x38);
    device.writeModeCommand(0x27);  // no error reset: they stay
    EXPECT_EQ(device.readStatus() & 0x38, 0x38);
    device.writeModeCommand(0x37);
    EXPECT_EQ(device.chip.status, kStatusDsr | kStatusTxEmpty | kStatusTxReady);
}

TEST_F(ModeCommand, Timer2CountZeroIsStoredAsOneBeforeTheDivision)
{
    loadSettings(makeSettings("COM1"));
    device.systemClock = kClock;
    {
        ScopedLock lock(device.deviceLock);
        device.timer2Count = 0;  // only a restored block can leave it so
    }
    device.writeModeCommand(0x4E);
    EXPECT_EQ(device.timer2Count, 1);
    EXPECT_EQ(device.computedBaud, kClock / 16);
}

TEST_F(ModeCommand, InternalResetKeepsDsrReceivedByteAndInterruptEnables)
{
    programmed(0x37);
    port.receive("Z");
    host.fire();  // the byte waits in the receive register
    port.setModemLines(kModemDsrOn);  // CTS off: the next byte stays in the holding register
    device.writePortC(kEnableRxReady | kEnableTxReady);
    device.writeData('A');
    port.addLineErrors(kLineErrorParity);
    EXPECT_EQ(device.readStatus(), kStatusDsr | kStatusParityError | kStatusTxEmpty | kStatusRxReady);
    host.clearTimerCalls();
    mark();

    device.writeModeCommand(0x40);

    // Every line down and the port purged (the command's own bits, none here,
    // then apply as in any command).
    const FakeSerialPorts::OutputLines lines = port.outputLines();
    EXPECT_FALSE(lines.dtr || lines.rts || lines.breakOn);
    const std::vector<std::string> log = logSinceMark();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Purge 0xF"), 1);
    EXPECT_EQ(escapesSinceMark(), (std::vector<std::string>{"ClrBreak", "ClrBreak", "ClrDtr", "ClrDtr", "ClrRts",
                                                             "ClrRts"}));  // the reset's, then the command's
    EXPECT_EQ(device.chip.status, kStatusDsr | kStatusTxEmpty | kStatusTxReady);
    EXPECT_EQ(device.chip.programState, kExpectMode);
    EXPECT_EQ(device.chip.rxReady, 0);
    EXPECT_EQ(device.chip.rxData, 'Z');
    EXPECT_EQ(device.chip.intMask, kEnableRxReady | kEnableTxReady);
    EXPECT_EQ(device.chip.txHoldingFull, 0);
    EXPECT_EQ(device.chip.txShiftFull, 0);
    EXPECT_EQ(device.chip.txEnable, 0);
    EXPECT_EQ(device.chip.rxEnable, 0);
    EXPECT_TRUE(host.timerCalls().empty());

    // The enables in the same byte still apply after the reset.
    device.writeModeCommand(0x4E);
    device.writeModeCommand(0x45);
    EXPECT_EQ(device.chip.programState, kExpectMode);
    EXPECT_EQ(device.chip.txEnable, 1);
    EXPECT_EQ(device.chip.rxEnable, 1);
}

TEST_F(ModeCommand, CommandsWithoutAPortChangeOnlyTheChip)
{
    loadSettings(makeSettings("COM1"));
    port.failOpenOf("//./COM1");
    programAsync(0x4E, kClock, 16);
    mark();
    device.writeModeCommand(0x37);
    device.writeModeCommand(0x40);
    device.writeModeCommand(0x4E);
    device.writeModeCommand(0x05);
    EXPECT_EQ(logSinceMark(), std::vector<std::string>{"Open //./COM1"});
    EXPECT_EQ(device.chip.txEnable, 1);
    EXPECT_EQ(device.chip.rxEnable, 1);
}

TEST_F(ModeCommand, StateAboveThreeIgnoresPort32UntilReset)
{
    programmed(0x37);
    {
        ScopedLock lock(device.deviceLock);
        device.chip.programState = 5;  // as a restored block can leave it
    }
    mark();
    host.clearTimerCalls();
    for (std::uint8_t value : {0x4E, 0x40, 0x00, 0x80, 0x12}) device.writeModeCommand(value);
    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_TRUE(host.timerCalls().empty());
    EXPECT_EQ(device.chip.programState, 5);
    EXPECT_EQ(device.chip.txEnable, 1);
    EXPECT_EQ(device.modeByte, 0x4E);

    device.reset();
    device.writeModeCommand(0xFE);
    EXPECT_EQ(device.chip.programState, kExpectCommand);
    EXPECT_EQ(describeState(port.currentState()), "9600 8 E 2 flags=0x20A3");
}
}  // namespace
