// The character timer: the periods it asks the host for, what each tick moves
// between the chip and the line and when it raises line 4, and what a Timer2
// change does in each programming state.
#include "tests/support/DeviceFixture.h"

namespace {
class CharacterTimer : public DeviceTest {};

TEST_F(CharacterTimer, PeriodsCarryTheLostFractionAt9600)
{
    programmed();  // 9600 baud, 8N1: 9.0 bits a character
    host.fireTimes(4);
    EXPECT_EQ(host.periods(), (std::vector<std::int32_t>{93, 94, 94, 94, 93}));
}

TEST_F(CharacterTimer, PeriodsWithoutALineCountEightBits)
{
    loadSettings(makeSettings("COM1"));
    lines.refuseOpenOf("COM1");
    programAsync(0x4E);
    host.fireTimes(9);
    EXPECT_EQ(host.periods(), (std::vector<std::int32_t>{83, 83, 83, 84, 83, 83, 84, 83, 83, 84}));
}

TEST_F(CharacterTimer, PeriodFollowsTheFormatTheLineRunsWith)
{
    loadSettings(makeSettings("COM1"));
    programAsync(0xFA);  // 7 bits, even parity, two stop bits: 10.0 bits
    EXPECT_EQ(host.periods(), std::vector<std::int32_t>{104});
    device.writeModeCommand(0x40);
    device.writeModeCommand(0x83);  // x64 at 2400: 5 bits, 1.5 stop bits: 6.5 bits
    EXPECT_EQ(host.periods().back(), 270);

    // What the line reports counts, not what it was asked for; a format that
    // cannot be read counts 8 bits and is asked for again at the next re-arm.
    lines.setFormat({2400, 8, Parity::Odd, StopBits::Two, true});
    device.timer2Changed(16);  // the rate rewritten: the format is read afresh
    EXPECT_EQ(host.periods().back(), 459);  // 11.0 bits at 2400: 458.33, plus the carry
    lines.fail(LineOp::ReadFormat);
    device.timer2Changed(16);
    host.fire();
    EXPECT_EQ(lines.countOf(LineOp::ReadFormat), 5u);
    EXPECT_EQ(host.periods().back(), 333);  // 8.0 bits at 2400: 333.33
}

TEST_F(CharacterTimer, PeriodIsNeverZero)
{
    // A hand-edited settings file locking 0-bit characters at 115200, and a
    // line that reports them: one stop bit alone lasts 0.87 timer units.
    loadSettings(makeSettings("COM1", 1, 115200, 0, 0, 0));
    lines.setFormat({115200, 0, Parity::None, StopBits::One, false});
    programAsync(0x4E);
    host.fireTimes(2);
    EXPECT_EQ(host.periods(), (std::vector<std::int32_t>{1, 1, 1}));
}

TEST_F(CharacterTimer, RateChangeStartsTheCarryAfresh)
{
    programmed();
    ASSERT_EQ(host.periods(), std::vector<std::int32_t>{93});  // carries 0.75
    device.timer2Changed(8);   // 19200: 46.875, not 47.625
    device.timer2Changed(16);  // 9600 again: 93, not 94.625
    EXPECT_EQ(host.periods(), (std::vector<std::int32_t>{93, 46, 93}));
}

TEST_F(CharacterTimer, EveryTickArmsTheNextCharacterTime)
{
    programmed();
    ASSERT_TRUE(host.running());
    host.clearTimerCalls();
    mark();
    // Each expiry is used up by its tick, and each tick arms exactly one more.
    EXPECT_EQ(host.fireTimes(3), 3);
    EXPECT_EQ(host.periods(), (std::vector<std::int32_t>{94, 94, 94}));
    EXPECT_TRUE(host.running());
    // One service step for the line each; the format was read at the mode
    // byte, and ticks do not read it again.
    const std::vector<std::string> tick = {"Service", "PollErrors"};
    std::vector<std::string> ticks;
    for (int i = 0; i < 3; ++i) ticks.insert(ticks.end(), tick.begin(), tick.end());
    EXPECT_EQ(logSinceMark(), ticks);
}

// Transfers, with the transmitter and receiver enabled and CTS on.
class Transfer : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        programmed(0x37);
    }
    void enable(std::uint8_t mask)
    {
        device.writePortC(mask);
        host.clearIrqs();
    }
};

TEST_F(Transfer, AByteLeavesOnTheSecondTick)
{
    enable(kEnableTxEmpty | kEnableTxReady);
    device.writeData('A');
    mark();

    host.fire();  // holding -> shift: the TxRDY interrupt
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"Service", "PollErrors", "ReadInputs"}));
    EXPECT_TRUE(lines.written().empty());
    EXPECT_EQ(host.irqCount(), 1);
    EXPECT_EQ(device.readStatus() & (kStatusTxReady | kStatusTxEmpty), kStatusTxReady);

    mark();
    host.fire();  // shift -> line: the TxEMPTY interrupt
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"Service", "PollErrors", "WriteByte 0x41"}));
    EXPECT_EQ(host.irqCount(), 2);

    host.fire();  // nothing left to do
    EXPECT_EQ(host.irqCount(), 2);
    EXPECT_EQ(lines.written(), "A");
}

TEST_F(Transfer, ReceiveSendAdvanceInOneTickRaiseOnce)
{
    enable(kEnableMask);
    device.writeData('A');
    host.fire();
    device.writeData('B');
    lines.receive("Z");
    host.clearIrqs();
    mark();

    host.fire();

    EXPECT_EQ(logSinceMark(),
              (std::vector<std::string>{"Service", "PollErrors", "ReadByte", "WriteByte 0x41", "ReadInputs"}));
    EXPECT_EQ(host.irqCount(), 1);
    EXPECT_EQ(chip().txShift, 'B');
    EXPECT_EQ(device.readData(), 'Z');
}

TEST_F(Transfer, TxEmptyWaitsForBothRegisters)
{
    enable(kEnableTxEmpty);
    device.writeData('A');
    host.fire();
    device.writeData('B');
    host.fire();  // A leaves while B waits in the holding register
    EXPECT_EQ(host.irqCount(), 0);
    host.fire();  // B leaves: now both are empty
    EXPECT_EQ(host.irqCount(), 1);
    EXPECT_EQ(lines.written(), "AB");
}

TEST_F(Transfer, EachConditionRaisesOnlyWhenEnabled)
{
    struct Case {
        std::uint8_t mask;
        int irqs;  // over: receive a byte; move a byte on; send it
    };
    for (const Case& c : {Case{0, 0}, Case{kEnableRxReady, 1}, Case{kEnableTxReady, 1}, Case{kEnableTxEmpty, 1},
                          Case{kEnableMask, 2}}) {
        SCOPED_TRACE(static_cast<int>(c.mask));
        device.readData();
        enable(c.mask);
        lines.receive("Z");
        device.writeData('A');
        host.fireTimes(2);  // tick 1: receive and advance; tick 2: send
        EXPECT_EQ(host.irqCount(), c.irqs);
    }
}

TEST_F(Transfer, ReceiverDisabledConsumesAndDropsTheByte)
{
    device.writeModeCommand(0x33);  // transmitter only
    enable(kEnableRxReady);
    lines.receive("Z");
    host.fire();
    EXPECT_EQ(lines.pendingInput(), 0u);
    EXPECT_EQ(chip().rxReady, 0);
    EXPECT_EQ(device.readStatus() & kStatusRxReady, 0);
    EXPECT_EQ(host.irqCount(), 0);
}

TEST_F(Transfer, UnreadByteLeavesTheRestOnTheLine)
{
    lines.receive("XY");
    host.fire();
    mark();
    host.fire();
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"Service", "PollErrors"}));  // no read while one is held
    EXPECT_EQ(lines.pendingInput(), 1u);
    EXPECT_EQ(device.readData(), 'X');
    host.fire();
    EXPECT_EQ(device.readData(), 'Y');
}

TEST_F(Transfer, TransmitterDisabledHoldsTheByteInTheShiftRegister)
{
    device.writeModeCommand(0x36);  // receiver only
    enable(kEnableTxReady);
    device.writeData('A');
    host.fireTimes(3);
    EXPECT_EQ(chip().txShiftFull, 1);
    EXPECT_EQ(chip().txHoldingFull, 0);
    EXPECT_EQ(host.irqCount(), 1);  // moving into the shift register still raises
    EXPECT_TRUE(lines.written().empty());

    device.writeModeCommand(0x37);
    host.fire();
    EXPECT_EQ(lines.written(), "A");
}

TEST_F(Transfer, WithoutCtsTheByteStaysInTheHoldingRegister)
{
    for (bool unreadable : {false, true}) {
        SCOPED_TRACE(unreadable ? "inputs unreadable" : "CTS off");
        lines.setInputs(unreadable ? kCtsOn : ModemInputs{false, true, false, false});
        lines.fail(LineOp::ReadInputs, unreadable);
        device.writeData('A');
        host.fireTimes(3);
        EXPECT_EQ(chip().txHoldingFull, 1);
        EXPECT_EQ(chip().txShiftFull, 0);
        EXPECT_TRUE(lines.written().empty());
    }
}

TEST_F(Transfer, FailedReadKeepsTheByteFailedWriteEmptiesTheShiftRegister)
{
    enable(kEnableTxEmpty);
    lines.fail(LineOp::ReadByte);
    lines.fail(LineOp::WriteByte);
    lines.receive("Z");
    device.writeData('A');
    host.fireTimes(2);
    EXPECT_EQ(chip().rxReady, 0);
    EXPECT_EQ(device.readStatus() & kStatusRxReady, 0);
    EXPECT_EQ(chip().txShiftFull, 0);
    EXPECT_EQ(lines.countOf(LineOp::WriteByte), 1u);
    EXPECT_EQ(host.irqCount(), 1);  // the shift register emptied all the same

    lines.fail(LineOp::ReadByte, false);
    host.fire();
    EXPECT_EQ(device.readData(), 'Z');
}

TEST_F(CharacterTimer, WithoutALineATickMovesNothing)
{
    loadSettings(makeSettings("COM1"));
    lines.refuseOpenOf("COM1");
    programAsync(0x4E);
    device.writeModeCommand(0x37);
    device.writePortC(kEnableMask);
    device.writeData('A');
    host.clearIrqs();
    mark();
    EXPECT_EQ(host.fireTimes(3), 3);
    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_EQ(host.irqCount(), 0);
    EXPECT_EQ(chip().txHoldingFull, 1);
}

// ---- Timer2 changes ----

TEST_F(CharacterTimer, Timer2CountZeroIsStoredAsOne)
{
    showPanel();
    device.timer2Changed(0);
    EXPECT_EQ(state().timer2Count, 1);
    EXPECT_EQ(panel.latest(kFieldTimer2Count), "1");
}

TEST_F(CharacterTimer, Timer2ChangeBeforeACommandOnlyStoresTheCount)
{
    programmed(0x40);  // line open, a mode byte expected
    showPanel();
    host.clearTimerCalls();
    mark();
    device.timer2Changed(8);
    EXPECT_EQ(state().timer2Count, 8);
    EXPECT_EQ(state().computedBaud, 9600u);
    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_TRUE(host.timerCalls().empty());
    EXPECT_EQ(panel.writes(), (std::vector<std::pair<int, std::string>>{{kFieldTimer2Count, "8"}}));
}

TEST_F(CharacterTimer, Timer2ChangeReratesTheProgrammedLine)
{
    programmed();
    showPanel();
    host.clearTimerCalls();
    mark();
    device.timer2Changed(8);
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"SetRate 19200", "ReadFormat"}));
    EXPECT_EQ(state().computedBaud, 19200u);
    EXPECT_EQ(host.periods(), std::vector<std::int32_t>{46});  // 9.0 bits at 19200: 46.875
    EXPECT_TRUE(host.running());
    EXPECT_EQ(panel.writes().size(), 4u);
    EXPECT_EQ(panel.latest(kFieldComputedSpeed), "19200");
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "19200");
    EXPECT_EQ(panel.latest(kFieldDivider), "1/16");
    EXPECT_EQ(panel.latest(kFieldTimer2Count), "8");
}

TEST_F(CharacterTimer, Timer2ChangeReratesAfterSynchronousSetupToo)
{
    loadSettings(makeSettings("COM1"));
    device.setSystemClock(kClock);
    for (std::uint8_t value : {0x00, 0x16, 0x16}) device.writeModeCommand(value);
    ASSERT_EQ(chip().programState, kExpectCommand);
    mark();
    device.timer2Changed(16);  // factor 1: 153600, above the top rate
    EXPECT_EQ(state().computedBaud, 153600u);
    EXPECT_EQ(logSinceMark().at(0), "SetRate 115200");
}

TEST_F(CharacterTimer, Timer2ChangeLeavesALineThatIsNotReady)
{
    programmed();
    restoreRegisters([](ChipRegisters&) {});  // as a block saved without its line restores it
    host.clearTimerCalls();
    mark();
    device.timer2Changed(8);
    EXPECT_EQ(state().computedBaud, 19200u);
    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_EQ(host.periods(), std::vector<std::int32_t>{46});
}

TEST_F(CharacterTimer, Timer2ChangeReportsARefusedRate)
{
    programmed();
    lines.fail(LineOp::SetRate);
    host.clearTimerCalls();
    device.timer2Changed(8);
    EXPECT_EQ(alert.shown(), std::vector<std::string>{kSetCommStateFailed});
    EXPECT_EQ(host.periods().size(), 1u);  // paced at the new rate all the same
    EXPECT_TRUE(host.running());
}

TEST_F(CharacterTimer, DialogLockPacesAtOnceButLeavesTheLineUntilTheNextChange)
{
    showPanel();
    programmed();
    device.storeSettings(makeSettings("COM1", 1, 38400), false);  // the dialog's OK
    host.fireTimes(2);
    EXPECT_EQ(host.periods().back(), 23);  // 9.0 bits at 38400: 23.4375
    EXPECT_EQ(lines.currentFormat().rate, 9600u);
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "9600");

    device.timer2Changed(16);  // a Timer2 change applies the new rate to the line
    EXPECT_EQ(lines.currentFormat().rate, 38400u);
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "38400");
    device.reset();  // the refresh shows the rate over the settings the line last took
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "9600");
    device.writeModeCommand(0x4E);
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "38400");
    EXPECT_EQ(state().appliedSettings.lock, 1);
}
}  // namespace
