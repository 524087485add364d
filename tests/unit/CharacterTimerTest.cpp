// The character timer: the periods it asks the host for, the timer calls it
// makes, what each tick moves between the chip and the port and when it
// raises line 4, and what a Timer2 change does in each programming state.
#include "tests/unit/SerialEngineTest.h"

namespace {
class CharacterTimer : public EngineTest {};

TEST_F(CharacterTimer, PeriodsCarryTheLostFractionAt9600)
{
    programmed();  // 9600 baud, 8N1: 9.0 bits a character
    host.fireTimes(4);
    EXPECT_EQ(host.periods(), (std::vector<std::int32_t>{93, 94, 94, 94, 93}));
}

TEST_F(CharacterTimer, PeriodsWithoutAPortCountEightBits)
{
    loadSettings(makeSettings("COM1"));
    port.failOpenOf("//./COM1");
    programAsync(0x4E, kClock, 16);
    host.fireTimes(9);
    EXPECT_EQ(host.periods(), (std::vector<std::int32_t>{83, 83, 83, 84, 83, 83, 84, 83, 83, 84}));
}

TEST_F(CharacterTimer, PeriodFollowsThePortsCharacterFormat)
{
    loadSettings(makeSettings("COM1"));
    programAsync(0xFA, kClock, 16);  // 7 bits, even parity, two stop bits: 10.0 bits
    EXPECT_EQ(host.periods(), std::vector<std::int32_t>{104});
    device.writeModeCommand(0x40);
    device.writeModeCommand(0x83);  // x64 at 2400: 5 bits, 1.5 stop bits: 6.5 bits
    EXPECT_EQ(host.periods().back(), 270);
}

TEST_F(CharacterTimer, PeriodIsNeverZero)
{
    // A hand-edited settings file locking 0-bit characters at 115200: one stop
    // bit alone lasts 0.87 timer units.
    loadSettings(makeSettings("COM1", 1, 115200, kNoParity, kOneStopBit, 0));
    programAsync(0x4E, kClock, 16);
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
    // The character format was read at the mode byte; ticks do not read it again.
    EXPECT_EQ(port.callsOf(PortOp::GetState).size(), 3u);  // open, mode byte, first re-arm
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>(3, "ClearErrors")));
}

// Transfers, with the transmitter and receiver enabled and CTS on.
class Transfer : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
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
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"ClearErrors", "GetModemStatus"}));
    EXPECT_TRUE(port.written().empty());
    EXPECT_EQ(host.irqCount(), 1);
    EXPECT_EQ(device.readStatus() & (kStatusTxReady | kStatusTxEmpty), kStatusTxReady);

    mark();
    host.fire();  // shift -> port: the TxEMPTY interrupt
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"ClearErrors", "WriteByte 0x41"}));
    EXPECT_EQ(host.irqCount(), 2);

    host.fire();  // nothing left to do
    EXPECT_EQ(host.irqCount(), 2);
    EXPECT_EQ(port.written(), std::vector<std::uint8_t>{'A'});
}

TEST_F(Transfer, ReceiveSendAdvanceInOneTickRaiseOnce)
{
    enable(kEnableMask);
    device.writeData('A');
    host.fire();
    device.writeData('B');
    port.receive("Z");
    host.clearIrqs();
    mark();

    host.fire();

    EXPECT_EQ(logSinceMark(),
              (std::vector<std::string>{"ClearErrors", "ReadByte", "WriteByte 0x41", "GetModemStatus"}));
    EXPECT_EQ(host.irqCount(), 1);
    EXPECT_EQ(device.chip.txShift, 'B');
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
    EXPECT_EQ(port.written(), (std::vector<std::uint8_t>{'A', 'B'}));
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
        port.receive("Z");
        device.writeData('A');
        host.fireTimes(2);  // tick 1: receive and advance; tick 2: send
        EXPECT_EQ(host.irqCount(), c.irqs);
    }
}

TEST_F(Transfer, ReceiverDisabledConsumesAndDropsTheByte)
{
    device.writeModeCommand(0x33);  // transmitter only
    enable(kEnableRxReady);
    port.receive("Z");
    host.fire();
    EXPECT_EQ(port.pendingInput(), 0u);
    EXPECT_EQ(device.chip.rxReady, 0);
    EXPECT_EQ(device.readStatus() & kStatusRxReady, 0);
    EXPECT_EQ(host.irqCount(), 0);
}

TEST_F(Transfer, UnreadByteLeavesTheRestInThePort)
{
    port.receive("XY");
    host.fire();
    mark();
    host.fire();
    EXPECT_EQ(logSinceMark(), std::vector<std::string>{"ClearErrors"});  // no read while one is held
    EXPECT_EQ(port.pendingInput(), 1u);
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
    EXPECT_EQ(device.chip.txShiftFull, 1);
    EXPECT_EQ(device.chip.txHoldingFull, 0);
    EXPECT_EQ(host.irqCount(), 1);  // moving into the shift register still raises
    EXPECT_TRUE(port.written().empty());

    device.writeModeCommand(0x37);
    host.fire();
    EXPECT_EQ(port.written(), std::vector<std::uint8_t>{'A'});
}

TEST_F(Transfer, WithoutCtsTheByteStaysInTheHoldingRegister)
{
    for (bool queryFails : {false, true}) {
        SCOPED_TRACE(queryFails ? "modem status unreadable" : "CTS off");
        port.setModemLines(queryFails ? kModemCtsOn : kModemDsrOn);
        port.failOperation(PortOp::GetModemStatus, queryFails);
        device.writeData('A');
        host.fireTimes(3);
        EXPECT_EQ(device.chip.txHoldingFull, 1);
        EXPECT_EQ(device.chip.txShiftFull, 0);
        EXPECT_TRUE(port.written().empty());
    }
}

TEST_F(Transfer, FailedReadKeepsTheByteFailedWriteEmptiesTheShiftRegister)
{
    enable(kEnableTxEmpty);
    port.failOperation(PortOp::ReadByte);
    port.failOperation(PortOp::WriteByte);
    port.receive("Z");
    device.writeData('A');
    host.fireTimes(2);
    EXPECT_EQ(device.chip.rxReady, 0);
    EXPECT_EQ(device.readStatus() & kStatusRxReady, 0);
    EXPECT_EQ(device.chip.txShiftFull, 0);
    EXPECT_EQ(port.callsOf(PortOp::WriteByte).size(), 1u);
    EXPECT_EQ(host.irqCount(), 1);  // the shift register emptied all the same

    port.failOperation(PortOp::ReadByte, false);
    host.fire();
    EXPECT_EQ(device.readData(), 'Z');
}

TEST_F(CharacterTimer, WithoutAPortATickMovesNothing)
{
    loadSettings(makeSettings("COM1"));
    port.failOpenOf("//./COM1");
    programAsync(0x4E, kClock, 16);
    device.writeModeCommand(0x37);
    device.writePortC(kEnableMask);
    device.writeData('A');
    host.clearIrqs();
    mark();
    EXPECT_EQ(host.fireTimes(3), 3);
    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_EQ(host.irqCount(), 0);
    EXPECT_EQ(device.chip.txHoldingFull, 1);
}

TEST_F(CharacterTimer, Timer2CountZeroIsStoredAsOne)
{
    showPanel();
    device.timer2Changed(0);
    EXPECT_EQ(device.timer2Count, 1);
    EXPECT_EQ(panel.latest(kFieldTimer2Count), "1");
}

TEST_F(CharacterTimer, Timer2ChangeBeforeACommandOnlyStoresTheCount)
{
    programmed(0x40);  // port open, a mode byte expected
    showPanel();
    host.clearTimerCalls();
    mark();
    device.timer2Changed(8);
    EXPECT_EQ(device.timer2Count, 8);
    EXPECT_EQ(device.computedBaud, 9600u);
    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_TRUE(host.timerCalls().empty());
    EXPECT_EQ(panel.writes(), (std::vector<std::pair<int, std::string>>{{kFieldTimer2Count, "8"}}));
}

TEST_F(CharacterTimer, Timer2ChangeReratesTheProgrammedPort)
{
    programmed();
    showPanel();
    host.clearTimerCalls();
    mark();
    device.timer2Changed(8);
    EXPECT_EQ(logSinceMark(), (std::vector<std::string>{"GetState", "SetState 19200 8 N 1 flags=0x20A1", "GetState"}));
    EXPECT_EQ(device.computedBaud, 19200u);
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
    device.systemClock = kClock;
    for (std::uint8_t value : {0x00, 0x16, 0x16}) device.writeModeCommand(value);
    ASSERT_EQ(device.chip.programState, kExpectCommand);
    mark();
    device.timer2Changed(16);  // factor 1: 153600, above the top rate
    EXPECT_EQ(device.computedBaud, 153600u);
    EXPECT_EQ(logSinceMark().at(1), "SetState 115200 8 N 1 flags=0x1");
}

TEST_F(CharacterTimer, Timer2ChangeLeavesAPortThatIsNotReady)
{
    programmed();
    {
        ScopedLock lock(device.deviceLock);
        device.chip.portReady = 0;  // as a block saved without a port restores it
    }
    host.clearTimerCalls();
    mark();
    device.timer2Changed(8);
    EXPECT_EQ(device.computedBaud, 19200u);
    EXPECT_TRUE(logSinceMark().empty());
    EXPECT_EQ(host.periods(), std::vector<std::int32_t>{46});
}

TEST_F(CharacterTimer, Timer2ChangeReportsARefusedRate)
{
    programmed();
    for (PortOp failing : {PortOp::SetState, PortOp::GetState}) {
        port.failOperation(failing);
        alert.clear();
        host.clearTimerCalls();
        device.timer2Changed(8);
        EXPECT_EQ(alert.shown(), std::vector<std::string>{kSetCommStateFailed});
        EXPECT_EQ(host.periods().size(), 1u);  // paced at the new rate all the same
        EXPECT_TRUE(host.running());
    }
}

TEST_F(CharacterTimer, DialogLockPacesAtOnceButLeavesThePortUntilTheNextChange)
{
    showPanel();
    programmed();
    device.storeSettings(makeSettings("COM1", 1, 38400), false);  // the dialog's OK
    host.fireTimes(2);
    EXPECT_EQ(host.periods().back(), 23);  // 9.0 bits at 38400: 23.4375
    EXPECT_EQ(port.callsOf(PortOp::SetState).size(), 2u);
    EXPECT_EQ(port.currentState().BaudRate, 9600u);
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "9600");

    device.timer2Changed(16);  // a Timer2 change applies the new rate to the port
    EXPECT_EQ(port.currentState().BaudRate, 38400u);
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "38400");
    device.reset();  // the refresh shows the rate over the settings the port last took
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "9600");
    device.writeModeCommand(0x4E);
    EXPECT_EQ(panel.latest(kFieldActualSpeed), "38400");
    EXPECT_EQ(device.appliedSettings.lock, 1);
}
}  // namespace
