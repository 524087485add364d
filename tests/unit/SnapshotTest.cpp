// The 315-byte save block: the round trip, refused versions, restoring with
// and without the line, a line that cannot be opened, names that reach
// outside this computer, and blocks holding values no guest could produce.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ostream>

#include "tests/support/DeviceFixture.h"

namespace {
std::uint8_t& chipByte(Block& block, std::size_t field) { return block[snapshot_offset::chip + field]; }

class Snapshot : public DeviceTest {
protected:
    bool chipMatches(const Block& block)
    {
        const ChipRegisters registers = chip();
        return std::memcmp(&registers, block.data() + snapshot_offset::chip, sizeof registers) == 0;
    }

    // A block saved before any mode byte (no line in use), clock and count set.
    Block unusedLineBlock(std::int32_t count = 16)
    {
        device.setSystemClock(kClock);
        device.timer2Changed(count);
        return save();
    }
};

TEST_F(Snapshot, RoundTripKeepsEveryFieldAndTheLinesFormat)
{
    loadSettings(makeSettings("COM1"));
    lines.setInputs(kCtsDsrOn);
    programAsync(0x5A);  // 7 bits, odd parity
    device.writeModeCommand(0x37);
    device.writePortC(kEnableRxReady | kEnableTxReady);
    device.writeData('Q');
    lines.receive("R");
    host.fire();  // Q into the shift register, R into the receive register
    device.writeData('S');
    Block before = save();
    chipByte(before, offsetof(ChipRegisters, reserved4)) = 0xA5;  // what no operation uses comes back as it went
    mark();

    EXPECT_EQ(load(before), 1);

    EXPECT_EQ(save(), before);
    EXPECT_EQ(describeFormat(lines.currentFormat()), "9600 7 O 1 checked");
    const std::vector<std::string> log = logSinceMark();
    for (const char* raised : {"SetControl DTR on", "SetControl RTS on", "SetControl Break on"})
        EXPECT_EQ(std::count(log.begin(), log.end(), raised), 0) << raised;
    EXPECT_EQ(log.back(), "Restored");  // told last, once the machine is back
    EXPECT_TRUE(host.running());
}

class RefusedVersion : public Snapshot, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(RefusedVersion, ShowsTheMessageAndTouchesNothing)
{
    programmed();
    showPanel();
    const Block before = save();
    Block block = before;
    putBlock(block, snapshot_offset::version, GetParam());
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

TEST_F(Snapshot, LineInUseIsReprogrammedAsTheGuestDidThenTheRegistersArePutBack)
{
    const LineSettings lockedSettings = makeSettings("COM1", 1, 19200, 2, 2, 7);
    programmed(0x37, lockedSettings);  // DTR and RTS on
    device.writePortC(kEnableTxEmpty | kEnableRxReady);
    const Block block = save();

    const LineSettings userSettings = makeSettings("COM1");  // unlocked in the dialog since
    device.storeSettings(userSettings, false);
    device.reset();
    mark();

    EXPECT_EQ(load(block), 1);

    // The line stays open and only ever takes the saved format, never the
    // user's. It is programmed as a guest would from the state the device was
    // in: the first 0x00 is taken as a (synchronous) mode byte, two sync
    // characters follow, then the internal reset and the saved mode byte; the
    // controls the saved command raised stay down until the guest's next one.
    EXPECT_EQ(lines.opened().size(), 1u);
    const std::vector<std::string> controlsOff = {"SetControl DTR off", "SetControl Break off", "SetControl RTS off"};
    std::vector<std::string> expected;
    auto add = [&expected](const std::vector<std::string>& part) { expected.insert(expected.end(), part.begin(), part.end()); };
    add({"State", "Prepare"});                // bound again
    add({"State", "Prepare", "ReadFormat"});  // 0x00 as a mode byte
    add(controlsOff);                         // 0x40: the reset, then the command's own bits
    add({"Discard"});
    add(controlsOff);
    add({"State", "Prepare"});  // the saved mode byte
    add(controlsOff);
    add({"SetFormat 19200 7 E 2", "Discard", "ReadFormat"});
    add({"SetRate 19200", "ReadFormat"});  // the saved Timer2 count
    add({"Restored"});
    EXPECT_EQ(logSinceMark(), expected);
    const FakeLines::Controls controls = lines.controls();
    EXPECT_FALSE(controls.dtr || controls.rts || controls.sendBreak);
    EXPECT_TRUE(host.running());

    EXPECT_TRUE(chipMatches(block));
    EXPECT_EQ(chip().txEnable, 1);
    EXPECT_EQ(chip().programState, kExpectCommand);
    const DeviceState after = state();
    EXPECT_EQ(std::memcmp(&after.configuredSettings, &userSettings, sizeof userSettings), 0);
    EXPECT_EQ(std::memcmp(&after.appliedSettings, &lockedSettings, sizeof lockedSettings), 0);
    EXPECT_EQ(save(), block);
}

TEST_F(Snapshot, LineUnusedAtSavingIsLeftAloneButTold)
{
    device.writePortC(kEnableTxEmpty);
    const Block block = unusedLineBlock(7);
    programmed();
    mark();
    host.clearTimerCalls();

    EXPECT_EQ(load(block), 1);

    EXPECT_EQ(logSinceMark(), std::vector<std::string>{"Restored"});
    EXPECT_TRUE(host.timerCalls().empty());
    EXPECT_TRUE(chipMatches(block));
    EXPECT_EQ(state().timer2Count, 7);
    EXPECT_TRUE(state().lineOpen);
    EXPECT_STREQ(state().appliedSettings.portName, "COM1");  // the block's empty settings are ignored
}

// Saved with COM2 in use, restored where COM2 cannot be opened: the restore
// programs the line with several mode bytes, but only its own open reaches
// the catalog, so the message comes once, and no saved byte ever leaves.
class UnopenableOnRestore : public Snapshot, public ::testing::WithParamInterface<bool> {};

TEST_P(UnopenableOnRestore, TriesOnceAndShowsTheOpenFailureOnce)
{
    const bool expectingModeByte = GetParam();
    programmed(0x37, makeSettings("COM2"));
    device.writeData('X');
    host.fire();  // 'X' into the shift register
    const Block block = save();
    device.storeSettings(makeSettings("COM1"), false);
    device.writeModeCommand(0x40);
    device.writeModeCommand(0x4E);  // COM2 closed, COM1 open
    if (expectingModeByte) device.writeModeCommand(0x40);
    lines.refuseOpenOf("COM2");
    alert.clear();
    mark();

    EXPECT_EQ(load(block), 1);
    host.fireTimes(3);

    EXPECT_EQ(alert.shown(), std::vector<std::string>{openFailureText("COM2")});
    const std::vector<std::string> log = logSinceMark();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Open COM2"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Restored"), 0);
    EXPECT_FALSE(state().lineOpen);
    EXPECT_EQ(chip().portReady, 1);  // as saved, until the next open
    EXPECT_EQ(lines.written(), "");

    // Once the restore is over, the guest's own mode byte opens its line again.
    device.reset();
    device.writeModeCommand(0x4E);
    EXPECT_TRUE(state().lineOpen);
    EXPECT_STREQ(state().openPortName, "COM1");
    EXPECT_EQ(alert.shown().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(States, UnopenableOnRestore, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "ExpectingModeByte" : "ExpectingCommand");
                         });

// A save block can name a line that reaches outside this computer. It is
// reached only when it is the user's own choice, so that a block from someone
// else never makes the plug-in connect anywhere; other names open as before.
struct OutsideCase {
    const char* name;
    const char* saved;         // the line in use when the block was saved
    const char* userNow;       // the user's choice at the restore
    bool stillOpen;            // the saved line is still open at the restore
    const char* opened;        // what the restore opens and keeps, or ""
};
void PrintTo(const OutsideCase& c, std::ostream* os) { *os << c.name; }

class OutsideLines : public Snapshot, public ::testing::WithParamInterface<OutsideCase> {};

TEST_P(OutsideLines, AreReachedOnlyAsTheUsersOwnChoice)
{
    const OutsideCase& c = GetParam();
    lines.reachOutsideWith("tcp:");
    programmed(0x37, makeSettings(c.saved));
    const Block block = save();
    if (!c.stillOpen) device.powerOff();
    device.storeSettings(makeSettings(c.userNow), false);  // the dialog's OK; the line stays until the next mode byte
    mark();
    alert.clear();

    EXPECT_EQ(load(block), 1);

    std::vector<std::string> opened;
    for (const std::string& call : logSinceMark())
        if (call.rfind("Open ", 0) == 0) opened.push_back(call.substr(5));
    EXPECT_EQ(opened, c.opened[0] ? std::vector<std::string>{c.opened} : std::vector<std::string>{});
    EXPECT_EQ(state().lineOpen, c.opened[0] != '\0');
    EXPECT_EQ(alert.shown().empty(), state().lineOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Names, OutsideLines,
    ::testing::Values(OutsideCase{"SomeoneElsesNetworkLine", "tcp:198.51.100.7:23", "COM1", false, ""},
                      OutsideCase{"TheUsersOwnNetworkLine", "tcp:127.0.0.1:2323", "tcp:127.0.0.1:2323", false,
                                  "tcp:127.0.0.1:2323"},
                      OutsideCase{"ALineTheUserHasSinceLeftIsClosed", "tcp:127.0.0.1:2323", "COM2", true, ""},
                      OutsideCase{"AComPortFromAnyBlock", "COM3", "COM1", false, "COM3"}),
    [](const ::testing::TestParamInfo<OutsideCase>& info) { return std::string(info.param.name); });

// Port 0x33 is shared with the rest of the machine: whatever a block holds in
// port B's low five bits never shows there.
TEST_F(Snapshot, PortBLowBitsAreNeverRestored)
{
    for (const bool lineInUse : {false, true}) {
        SCOPED_TRACE(lineInUse ? "line in use" : "line unused");
        Block block = lineInUse ? (programmed(), save()) : unusedLineBlock();
        chipByte(block, offsetof(ChipRegisters, portB)) = 0x1F | 0x40;  // CS off, CI and CD on
        EXPECT_EQ(load(block), 1);
        EXPECT_EQ(chip().portB & 0x1F, 0);
        EXPECT_EQ(device.readPortB() & 0x1F, 0);
    }
}

TEST_F(Snapshot, NameWithoutNulIsNeverOpened)
{
    programmed();
    Block block = save();
    std::memset(block.data() + snapshot_offset::appliedSettings + offsetof(LineSettings, portName), 'N',
                kPortNameSize);
    mark();

    EXPECT_EQ(load(block), 1);

    EXPECT_EQ(lines.opened(), std::vector<std::string>{"COM1"});
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
    Block block = unusedLineBlock();
    putBlock(block, snapshot_offset::baudFactor, c.saved);
    putBlock(block, snapshot_offset::timer2Count, static_cast<std::uint32_t>(c.count));
    block[snapshot_offset::modeByte] = c.mode;

    EXPECT_EQ(load(block), 1);

    EXPECT_EQ(state().baudFactor, c.factor);
    EXPECT_EQ(state().timer2Count, c.count);
    EXPECT_EQ(panel.latest(kFieldDivider), "1/" + std::to_string(c.factor));
    EXPECT_EQ(panel.latest(kFieldComputedSpeed), c.shownSpeed);
}

INSTANTIATE_TEST_SUITE_P(Factors, RestoredFactor,
                         ::testing::Values(FactorCase{0, 0x4F, 16, 64, "2400"}, FactorCase{7, 0x4E, 16, 16, "9600"},
                                           FactorCase{0, 0x00, 16, 1, "153600"},
                                           FactorCase{16, 0x4F, 16, 16, "9600"},
                                           FactorCase{0, 0x4E, 0, 16, "153600"},
                                           FactorCase{64, 0x4F, -1, 64, "0"}));

TEST_F(Snapshot, HugeCountsReRateTheLineWithoutOverflow)
{
    programmed();
    const Block saved = save();
    for (std::int32_t count : {0x7FFFFFFF, -1}) {
        SCOPED_TRACE(count);
        Block block = saved;
        putBlock(block, snapshot_offset::timer2Count, static_cast<std::uint32_t>(count));
        putBlock(block, snapshot_offset::baudFactor, 64);
        block[snapshot_offset::modeByte] = 0x4F;
        EXPECT_EQ(load(block), 1);
        EXPECT_EQ(state().computedBaud, 0u);
        EXPECT_EQ(lines.currentFormat().rate, 300u);
        EXPECT_EQ(state().timer2Count, count);
    }
}

TEST_F(Snapshot, LatchesAreBroughtToValuesTheRegisterFileKnows)
{
    Block block = unusedLineBlock();
    chipByte(block, offsetof(ChipRegisters, rxReady)) = 5;
    chipByte(block, offsetof(ChipRegisters, status)) = kStatusTxReady | kStatusTxEmpty;
    chipByte(block, offsetof(ChipRegisters, intMask)) = 0xFF;
    chipByte(block, offsetof(ChipRegisters, txEnable)) = 2;
    chipByte(block, offsetof(ChipRegisters, rxEnable)) = 9;
    chipByte(block, offsetof(ChipRegisters, txShiftFull)) = 3;
    chipByte(block, offsetof(ChipRegisters, txHoldingFull)) = 0x80;
    chipByte(block, offsetof(ChipRegisters, portReady)) = 2;  // not 1: the line is not restored
    mark();

    EXPECT_EQ(load(block), 1);

    EXPECT_TRUE(logSinceMark().empty());
    const ChipRegisters after = chip();
    EXPECT_EQ(after.rxReady, 1);
    EXPECT_EQ(after.status, kStatusTxReady | kStatusTxEmpty | kStatusRxReady);
    EXPECT_EQ(after.intMask, 7);
    EXPECT_EQ(device.readPortC(), 7);
    EXPECT_EQ(after.txEnable, 1);
    EXPECT_EQ(after.rxEnable, 1);
    EXPECT_EQ(after.txShiftFull, 1);
    EXPECT_EQ(after.txHoldingFull, 1);
    EXPECT_EQ(after.portReady, 0);

    chipByte(block, offsetof(ChipRegisters, rxReady)) = 0;
    chipByte(block, offsetof(ChipRegisters, status)) = 0x87;
    EXPECT_EQ(load(block), 1);
    EXPECT_EQ(chip().status, 0x85);  // no byte waiting: RxRDY cleared
}

TEST_F(Snapshot, ProgramStateAboveThreeIsTakenAndPort32IgnoredUntilReset)
{
    programmed();
    Block block = save();
    chipByte(block, offsetof(ChipRegisters, programState)) = 5;
    EXPECT_EQ(load(block), 1);
    EXPECT_EQ(chip().programState, 5);

    // Restoring again from state 5: the line is bound again, but all five
    // programming bytes are ignored and the Timer2 change only stores.
    chipByte(block, offsetof(ChipRegisters, programState)) = kExpectCommand;
    mark();
    EXPECT_EQ(load(block), 1);
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"State", "Prepare", "Restored"}));
    EXPECT_EQ(chip().programState, kExpectCommand);

    chipByte(block, offsetof(ChipRegisters, programState)) = 5;
    EXPECT_EQ(load(block), 1);
    mark();
    device.writeModeCommand(0x4E);
    EXPECT_TRUE(logSinceMark().empty());
    device.reset();
    device.writeModeCommand(0x4E);
    EXPECT_EQ(chip().programState, kExpectCommand);
    EXPECT_FALSE(logSinceMark().empty());
}
}  // namespace
