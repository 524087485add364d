// The 315-byte save block: the round trip, refused versions, restoring with
// and without the port, a port that cannot be opened, and blocks holding
// values no guest could produce.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <ostream>

#include "tests/unit/SerialEngineTest.h"

namespace {
using Block = std::array<std::uint8_t, kSnapshotSize>;

void put32(Block& block, std::uint32_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) block[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint8_t& chipByte(Block& block, std::size_t field) { return block[snapshot_offset::chip + field]; }

class Snapshot : public EngineTest {
protected:
    Block save()
    {
        Block block{};
        device.saveSnapshot(block.data());
        return block;
    }
    int load(const Block& block) { return device.loadSnapshot(block.data()); }

    bool chipMatches(const Block& block)
    {
        return std::memcmp(&device.chip, block.data() + snapshot_offset::chip, sizeof(ChipRegisters)) == 0;
    }

    // A block saved before any mode byte (no port in use), clock and count set.
    Block unusedPortBlock(std::int32_t count = 16)
    {
        device.systemClock = kClock;
        device.timer2Changed(count);
        return save();
    }
};

TEST_F(Snapshot, RoundTripKeepsEveryFieldAndThePortsFormat)
{
    loadSettings(makeSettings("COM1"));
    port.setModemLines(kModemCtsOn | kModemDsrOn);
    programAsync(0x5A, kClock, 16);  // 7 bits, odd parity
    device.writeModeCommand(0x37);
    device.writePortC(kEnableRxReady | kEnableTxReady);
    device.writeData('Q');
    port.receive("R");
    host.fire();  // Q into the shift register, R into the receive register
    device.writeData('S');
    const Block before = save();
    const CommState format = port.currentState();
    mark();

    EXPECT_EQ(load(before), 1);

    EXPECT_EQ(save(), before);
    EXPECT_EQ(describeState(port.currentState()), describeState(format));
    EXPECT_EQ(describeState(format), "9600 7 O 1 flags=0x20A3");
    for (const std::string& line : logSinceMark()) {
        EXPECT_NE(line, "Escape SetDtr");
        EXPECT_NE(line, "Escape SetRts");
        EXPECT_NE(line, "Escape SetBreak");
    }
    EXPECT_TRUE(host.running());
}

class RefusedVersion : public Snapshot, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(RefusedVersion, ShowsTheMessageAndTouchesNothing)
{
    programmed();
    showPanel();
    const Block before = save();
    Block block = before;
    put32(block, snapshot_offset::version, GetParam());
    chipByte(block, offsetof(ChipRegisters, intMask)) = 7;
    mark();
    host.clearTimerCalls();
    panel.clear();

    EXPECT_EQ(load(block), 0);

    EXPECT_EQ(alert.shown(), std::vector<std::string>{kSnapshotVersionMismatch});
    EXPECT_EQ(save(), before);
    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_TRUE(host.timerCalls().empty());
    EXPECT_TRUE(panel.writes().empty());
}

INSTANTIATE_TEST_SUITE_P(Versions, RefusedVersion, ::testing::Values(2u, 0u));

TEST_F(Snapshot, PortInUseIsReprogrammedAsTheGuestDidThenTheRegistersArePutBack)
{
    const LineSettings lockedSettings = makeSettings("COM1", 1, 19200, kEvenParity, kTwoStopBits, 7);
    programmed(0x37, lockedSettings);  // DTR and RTS on
    device.writePortC(kEnableTxEmpty | kEnableRxReady);
    const Block block = save();

    const LineSettings userSettings = makeSettings("COM1");  // unlocked in the dialog since
    device.storeSettings(userSettings, false);
    device.reset();
    mark();

    EXPECT_EQ(load(block), 1);

    // The port stays open and only ever takes the saved format, never the
    // user's: the re-applies, the saved mode byte and the Timer2 re-rate.
    EXPECT_EQ(port.openCount(), 1u);
    EXPECT_TRUE(port.callsOf(PortOp::Close).empty());
    std::size_t formatsWritten = 0;
    for (const std::string& line : logSinceMark()) {
        if (line.rfind("SetState", 0) != 0) continue;
        EXPECT_EQ(line, "SetState 19200 7 E 2 flags=0x20A1");
        ++formatsWritten;
    }
    EXPECT_EQ(formatsWritten, 5u);
    EXPECT_EQ(describeState(port.currentState()), "19200 7 E 2 flags=0x20A1");
    // Programmed as the guest did up to its mode byte: the internal reset and
    // the mode byte each purge the port, and the lines the saved command
    // raised are down until the guest's next command.
    const std::vector<std::string> log = logSinceMark();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Purge 0xF"), 2);
    const FakeSerialPorts::OutputLines lines = port.outputLines();
    EXPECT_FALSE(lines.dtr || lines.rts || lines.breakOn);
    EXPECT_TRUE(host.running());

    EXPECT_TRUE(chipMatches(block));
    EXPECT_EQ(device.chip.txEnable, 1);
    EXPECT_EQ(device.chip.programState, kExpectCommand);
    EXPECT_EQ(std::memcmp(&device.configuredSettings, &userSettings, sizeof userSettings), 0);
    EXPECT_EQ(std::memcmp(&device.appliedSettings, &lockedSettings, sizeof lockedSettings), 0);
    EXPECT_EQ(save(), block);
}

TEST_F(Snapshot, PortUnusedAtSavingIsLeftAlone)
{
    device.writePortC(kEnableTxEmpty);
    const Block block = unusedPortBlock(7);
    programmed();
    const PortHandle open = device.portHandle;
    mark();
    host.clearTimerCalls();

    EXPECT_EQ(load(block), 1);

    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_TRUE(host.timerCalls().empty());
    EXPECT_TRUE(chipMatches(block));
    EXPECT_EQ(device.timer2Count, 7);
    EXPECT_EQ(device.portHandle, open);
    EXPECT_STREQ(device.appliedSettings.portName, "COM1");  // the block's empty settings are ignored
}

// Saved with COM2 in use, restored where COM2 cannot be opened: the restore
// programs the port with several mode bytes, but only its own open reaches
// the port, so the message comes once.
class UnopenableOnRestore : public Snapshot, public ::testing::WithParamInterface<bool> {};

TEST_P(UnopenableOnRestore, TriesOnceAndShowsTheOpenFailureOnce)
{
    const bool expectingModeByte = GetParam();
    programmed(0x37, makeSettings("COM2"));
    const Block block = save();
    device.storeSettings(makeSettings("COM1"), false);
    device.writeModeCommand(0x40);
    device.writeModeCommand(0x4E);  // COM2 closed, COM1 open
    if (expectingModeByte) device.writeModeCommand(0x40);
    port.failOpenOf("//./COM2");
    alert.clear();
    mark();

    EXPECT_EQ(load(block), 1);

    EXPECT_EQ(alert.shown(), std::vector<std::string>{openFailureText("COM2")});
    std::size_t opens = 0;
    for (const std::string& call : logSinceMark()) opens += call.rfind("Open ", 0) == 0;
    EXPECT_EQ(opens, 1u);
    EXPECT_FALSE(device.portOpen());
    EXPECT_EQ(device.chip.portReady, 1);  // as saved, until the next open
    EXPECT_TRUE(chipMatches(block));

    // Once the restore is over, the guest's own mode byte opens its port again.
    device.reset();
    device.writeModeCommand(0x4E);
    EXPECT_TRUE(device.portOpen());
    EXPECT_STREQ(device.openPortName, "COM1");
    EXPECT_EQ(alert.shown().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(States, UnopenableOnRestore, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "ExpectingModeByte" : "ExpectingCommand");
                         });

// Someone else's block naming a file: the restore opens it once, finds no
// line settings behind it, closes it and reports it; the saved bytes in the
// transmit registers never reach it, however often the block is restored.
TEST_F(Snapshot, BlockNamingAFileNeverWritesToIt)
{
    programmed(0x37, makeSettings("C:/Users/someone/notes.txt"));  // fake port: any name opens
    device.writeData('X');
    device.tick();  // 'X' into the shift register
    Block block = save();
    ASSERT_EQ(chipByte(block, offsetof(ChipRegisters, txShiftFull)), 1);
    device.powerOff();
    port.failOperation(PortOp::GetState);  // from now on the name is an ordinary file
    alert.clear();
    mark();

    for (int restore = 1; restore <= 2; ++restore) {
        EXPECT_EQ(load(block), 1);
        for (int i = 0; i < 3; ++i) device.tick();
        EXPECT_EQ(alert.shown(), std::vector<std::string>(restore, openFailureText("C:/Users/someone/notes.txt")));
        EXPECT_FALSE(device.portOpen());
    }
    const std::vector<std::string> log = logSinceMark();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Open //./C:/Users/someone/notes.txt"), 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Close"), 2);
    for (const std::string& call : log) EXPECT_EQ(call.rfind("WriteByte", 0), std::string::npos) << call;
}

// Port 0x33 is shared with the rest of the machine: whatever a block holds in
// port B's low five bits never shows there.
TEST_F(Snapshot, PortBLowBitsAreNeverRestored)
{
    for (const bool portInUse : {false, true}) {
        SCOPED_TRACE(portInUse ? "port in use" : "port unused");
        Block block = portInUse ? (programmed(), save()) : unusedPortBlock();
        chipByte(block, offsetof(ChipRegisters, portB)) = 0x1F | 0x40;  // CS off, CI and CD on
        EXPECT_EQ(load(block), 1);
        EXPECT_EQ(device.chip.portB & 0x1F, 0);
        EXPECT_EQ(device.readPortB() & 0x1F, 0);
        Block again = save();
        EXPECT_EQ(chipByte(again, offsetof(ChipRegisters, portB)) & 0x1F, 0);
    }
}

TEST_F(Snapshot, PortNameWithoutNulIsNeverOpened)
{
    programmed();
    Block block = save();
    std::memset(block.data() + snapshot_offset::appliedSettings + offsetof(LineSettings, portName), 'N',
                kPortNameSize);
    mark();

    EXPECT_EQ(load(block), 1);

    EXPECT_EQ(port.callsOf(PortOp::Open).size(), 1u);  // the first open, of COM1
    EXPECT_EQ(logSinceMark().at(0), "Close");
    EXPECT_EQ(alert.shown(), std::vector<std::string>{openFailureText(std::string(239, 'N'))});
}

// A baud factor that is not 1, 16 or 64 is taken from the saved mode byte.
struct FactorCase {
    std::uint32_t saved;
    std::uint8_t mode;
    std::int32_t count;
    std::uint32_t factor;
    const char* shownSpeed;  // kClock / ((count or 1) * factor)
};

void PrintTo(const FactorCase& c, std::ostream* os)
{
    *os << "factor " << c.saved << " mode 0x" << std::hex << int{c.mode} << std::dec << " count " << c.count;
}

class RestoredFactor : public Snapshot, public ::testing::WithParamInterface<FactorCase> {};

TEST_P(RestoredFactor, NeverDividesByZero)
{
    const FactorCase& c = GetParam();
    showPanel();
    Block block = unusedPortBlock();
    put32(block, snapshot_offset::baudFactor, c.saved);
    put32(block, snapshot_offset::timer2Count, static_cast<std::uint32_t>(c.count));
    block[snapshot_offset::modeByte] = c.mode;

    EXPECT_EQ(load(block), 1);

    EXPECT_EQ(device.baudFactor, c.factor);
    EXPECT_EQ(device.timer2Count, c.count);
    EXPECT_EQ(panel.latest(kFieldDivider), "1/" + std::to_string(c.factor));
    EXPECT_EQ(panel.latest(kFieldComputedSpeed), c.shownSpeed);
}

INSTANTIATE_TEST_SUITE_P(Factors, RestoredFactor,
                         ::testing::Values(FactorCase{0, 0x4F, 16, 64, "2400"}, FactorCase{7, 0x4E, 16, 16, "9600"},
                                           FactorCase{0, 0x00, 16, 1, "153600"},
                                           FactorCase{16, 0x4F, 16, 16, "9600"},
                                           FactorCase{0, 0x4E, 0, 16, "153600"},
                                           FactorCase{64, 0x4F, -1, 64, "0"}));

TEST_F(Snapshot, HugeCountsReRateThePortWithoutOverflow)
{
    programmed();
    const Block saved = save();
    for (std::int32_t count : {0x7FFFFFFF, -1}) {
        SCOPED_TRACE(count);
        Block block = saved;
        put32(block, snapshot_offset::timer2Count, static_cast<std::uint32_t>(count));
        put32(block, snapshot_offset::baudFactor, 64);
        block[snapshot_offset::modeByte] = 0x4F;
        EXPECT_EQ(load(block), 1);
        EXPECT_EQ(device.computedBaud, 0u);
        EXPECT_EQ(port.currentState().BaudRate, 300u);
        EXPECT_EQ(device.timer2Count, count);
    }
}

TEST_F(Snapshot, LatchesAreBroughtToValuesTheRegisterFileKnows)
{
    Block block = unusedPortBlock();
    chipByte(block, offsetof(ChipRegisters, rxReady)) = 5;
    chipByte(block, offsetof(ChipRegisters, status)) = kStatusTxReady | kStatusTxEmpty;
    chipByte(block, offsetof(ChipRegisters, intMask)) = 0xFF;
    chipByte(block, offsetof(ChipRegisters, txEnable)) = 2;
    chipByte(block, offsetof(ChipRegisters, rxEnable)) = 9;
    chipByte(block, offsetof(ChipRegisters, txShiftFull)) = 3;
    chipByte(block, offsetof(ChipRegisters, txHoldingFull)) = 0x80;
    chipByte(block, offsetof(ChipRegisters, portReady)) = 2;  // not 1: the port is not restored
    mark();

    EXPECT_EQ(load(block), 1);

    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_EQ(device.chip.rxReady, 1);
    EXPECT_EQ(device.chip.status, kStatusTxReady | kStatusTxEmpty | kStatusRxReady);
    EXPECT_EQ(device.chip.intMask, 7);
    EXPECT_EQ(device.readPortC(), 7);
    EXPECT_EQ(device.chip.txEnable, 1);
    EXPECT_EQ(device.chip.rxEnable, 1);
    EXPECT_EQ(device.chip.txShiftFull, 1);
    EXPECT_EQ(device.chip.txHoldingFull, 1);
    EXPECT_EQ(device.chip.portReady, 0);

    chipByte(block, offsetof(ChipRegisters, rxReady)) = 0;
    chipByte(block, offsetof(ChipRegisters, status)) = 0x87;
    EXPECT_EQ(load(block), 1);
    EXPECT_EQ(device.chip.status, 0x85);  // no byte waiting: RxRDY cleared
}

TEST_F(Snapshot, ProgramStateAboveThreeIsTakenAndPort32IgnoredUntilReset)
{
    programmed();
    Block block = save();
    chipByte(block, offsetof(ChipRegisters, programState)) = 5;
    EXPECT_EQ(load(block), 1);
    EXPECT_EQ(device.chip.programState, 5);

    // Restoring again from state 5: the port is re-applied, but all five
    // programming bytes are ignored and the Timer2 change only stores.
    chipByte(block, offsetof(ChipRegisters, programState)) = kExpectCommand;
    mark();
    EXPECT_EQ(load(block), 1);
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"GetState", "SetState 9600 8 N 1 flags=0x20A1",
                                                        "SetTimeouts", "SetEventMask 0x1C0"}));
    EXPECT_EQ(device.chip.programState, kExpectCommand);

    chipByte(block, offsetof(ChipRegisters, programState)) = 5;
    EXPECT_EQ(load(block), 1);
    mark();
    device.writeModeCommand(0x4E);
    EXPECT_TRUE(logSinceMark().empty());
    device.reset();
    device.writeModeCommand(0x4E);
    EXPECT_EQ(device.chip.programState, kExpectCommand);
    EXPECT_FALSE(logSinceMark().empty());
}
}  // namespace
