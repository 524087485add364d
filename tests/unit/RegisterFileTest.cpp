// The guest's view of ports 0x30, 0x32 (status), 0x33, 0x35 and 0x37: the
// transmitter flags, the modem inputs, the receive errors and the interrupt
// enables with the requests they raise.
#include <ostream>
#include <vector>

#include "tests/support/DeviceFixture.h"

namespace {
constexpr ModemInputs kAllInputs{true, true, true, true};

class RegisterFile : public DeviceTest {
protected:
    // COM1 bound by mode byte 0x4E at 9600 baud, the device expecting commands.
    void openLine(const ModemInputs& inputs)
    {
        loadSettings(makeSettings("COM1"));
        lines.setInputs(inputs);
        programAsync(0x4E);
        ASSERT_TRUE(state().lineOpen);
    }

    // Puts the transmit and receive latches and the enables where a test
    // needs them, as ticks and guest accesses would have left them.
    void setLatches(int holdingFull, int shiftFull, int rxReady = 0, std::uint8_t intMask = 0)
    {
        restoreRegisters([&](ChipRegisters& registers) {
            registers.txHoldingFull = static_cast<std::uint8_t>(holdingFull);
            registers.txShiftFull = static_cast<std::uint8_t>(shiftFull);
            registers.rxReady = static_cast<std::uint8_t>(rxReady);
            registers.intMask = intMask;
        });
    }
};

TEST_F(RegisterFile, FreshDeviceShowsAnIdleTransmitterAndNoLine)
{
    EXPECT_EQ(device.readStatus(), 0x05);
    EXPECT_EQ(state().timer2Count, 4);
    EXPECT_EQ(state().baudFactor, 1u);
    EXPECT_EQ(device.readPortB(), 0xE0);
    EXPECT_EQ(device.readData(), 0);
    EXPECT_EQ(device.readPortC(), 0);
    EXPECT_EQ(lines.callCount(), 0u);
}

// ---- writeData and the TxEMPTY forcing rules ----

struct WriteCase {
    const char* name;
    bool lineOpen;
    ModemInputs inputs;
    bool inputsUnreadable;
    std::uint8_t latchedTxBits;  // status bits 0 and 2 right after the write
};
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class WriteData : public RegisterFile, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteData, DropsTxReadyAndKeepsTxEmptyOnlyWhenTheByteCanLeave)
{
    const WriteCase& c = GetParam();
    if (c.lineOpen) openLine(c.inputs);
    lines.fail(LineOp::ReadInputs, c.inputsUnreadable);

    device.writeData(0x41);
    EXPECT_EQ(chip().status & 0x05, c.latchedTxBits);
    EXPECT_EQ(device.readStatus(), c.latchedTxBits);  // DSR off, no errors, nothing received
    EXPECT_EQ(chip().txHolding, 0x41);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteData,
    ::testing::Values(WriteCase{"NoLine", false, kNoInputs, false, 0x04},
                      WriteCase{"CtsOn", true, kCtsOn, false, 0x00},
                      WriteCase{"CtsOff", true, kNoInputs, false, 0x04},
                      WriteCase{"InputsUnreadable", true, kCtsOn, true, 0x04}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

struct StatusCase {
    bool lineOpen;
    bool ctsOn;
    int holdingFull;
    int shiftFull;
    std::uint8_t txBits;
};
void PrintTo(const StatusCase& c, std::ostream* os)
{
    *os << (c.lineOpen ? (c.ctsOn ? "cts on" : "cts off") : "no line") << ", holding " << c.holdingFull << ", shift "
        << c.shiftFull;
}

class StatusRecompute : public RegisterFile, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusRecompute, TxReadyAndTxEmptyComeFromTheLatchesNotTheStoredStatus)
{
    const StatusCase& c = GetParam();
    if (c.lineOpen) openLine(c.ctsOn ? kCtsOn : kNoInputs);
    restoreRegisters([&](ChipRegisters& registers) {
        registers.txHoldingFull = static_cast<std::uint8_t>(c.holdingFull);
        registers.txShiftFull = static_cast<std::uint8_t>(c.shiftFull);
        registers.status = static_cast<std::uint8_t>(~c.txBits & 0x05);  // stale: the opposite of what is due
    });
    EXPECT_EQ(device.readStatus(), c.txBits);
}

INSTANTIATE_TEST_SUITE_P(Latches, StatusRecompute,
                         ::testing::Values(StatusCase{false, false, 0, 0, 0x05}, StatusCase{false, false, 1, 0, 0x04},
                                           StatusCase{false, false, 0, 1, 0x05}, StatusCase{false, false, 1, 1, 0x04},
                                           StatusCase{true, true, 0, 0, 0x05}, StatusCase{true, true, 1, 0, 0x00},
                                           StatusCase{true, true, 0, 1, 0x01}, StatusCase{true, true, 1, 1, 0x00},
                                           StatusCase{true, false, 1, 0, 0x04}, StatusCase{true, false, 0, 1, 0x05}));

TEST_F(RegisterFile, SecondWriteReplacesTheWaitingByte)
{
    openLine(kCtsOn);
    device.writeModeCommand(0x01);  // transmitter on
    device.writeData('A');
    device.writeData('B');
    host.fireTimes(4);
    EXPECT_EQ(lines.written(), "B");
}

// ---- Port B and DSR ----

struct InputsCase {
    ModemInputs inputs;
    std::uint8_t portB;
    std::uint8_t dsr;
};
void PrintTo(const InputsCase& c, std::ostream* os)
{
    *os << "cts " << c.inputs.cts << " dsr " << c.inputs.dsr << " ring " << c.inputs.ring << " dcd " << c.inputs.dcd;
}

class ModemInputsRead : public RegisterFile, public ::testing::WithParamInterface<InputsCase> {};

TEST_P(ModemInputsRead, AsActiveLowPortBBitsAndStatusDsr)
{
    openLine(GetParam().inputs);
    EXPECT_EQ(device.readPortB(), GetParam().portB);
    EXPECT_EQ(device.readStatus() & kStatusDsr, GetParam().dsr);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ModemInputsRead,
                         ::testing::Values(InputsCase{kNoInputs, 0xE0, 0}, InputsCase{{false, false, true, false}, 0x60, 0},
                                           InputsCase{kCtsOn, 0xA0, 0}, InputsCase{{false, false, false, true}, 0xC0, 0},
                                           InputsCase{{false, true, false, false}, 0xE0, 0x80},
                                           InputsCase{kAllInputs, 0x00, 0x80}));

TEST_F(RegisterFile, UnreadableInputsKeepTheLastOnesButCountAsCtsOffForTxEmpty)
{
    openLine({true, true, true, false});
    device.writeData(0x55);
    EXPECT_EQ(device.readPortB(), 0x20);
    EXPECT_EQ(device.readStatus(), 0x80);

    lines.setInputs(kNoInputs);
    lines.fail(LineOp::ReadInputs);
    EXPECT_EQ(device.readPortB(), 0x20);
    EXPECT_EQ(device.readStatus(), 0x84);
}

// ---- Port C: the interrupt enables ----

struct SetResetCase {
    std::uint8_t before;
    std::uint8_t value;
    std::uint8_t after;
};
void PrintTo(const SetResetCase& c, std::ostream* os)
{
    *os << "0x" << std::hex << int{c.value} << " over 0x" << int{c.before};
}

class SetResetPortC : public RegisterFile, public ::testing::WithParamInterface<SetResetCase> {};

TEST_P(SetResetPortC, ChangesOneEnableOrNothing)
{
    setLatches(1, 1, 0, GetParam().before);  // no condition holds, so no value may raise
    device.setResetPortC(GetParam().value);
    EXPECT_EQ(device.readPortC(), GetParam().after);
    EXPECT_EQ(host.irqCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SetResetPortC,
    ::testing::Values(SetResetCase{0x00, 1, 0x01}, SetResetCase{0x07, 0, 0x06}, SetResetCase{0x00, 3, 0x02},
                      SetResetCase{0x07, 2, 0x05}, SetResetCase{0x00, 5, 0x04}, SetResetCase{0x07, 4, 0x03},
                      SetResetCase{0x05, 1, 0x05}, SetResetCase{0x02, 0, 0x02}, SetResetCase{0x05, 6, 0x05},
                      SetResetCase{0x02, 7, 0x02}, SetResetCase{0x00, 0x0B, 0x00}, SetResetCase{0x05, 0x80, 0x05},
                      SetResetCase{0x02, 0xFF, 0x02}));

TEST_F(RegisterFile, PortCKeepsOnlyTheThreeEnables)
{
    device.writePortC(0xFF);
    EXPECT_EQ(device.readPortC(), 0x07);
    EXPECT_EQ(chip().intMask, 0x07);
}

TEST_F(RegisterFile, SetResetGoesThroughTheInterruptRules)
{
    device.setResetPortC(3);  // TxEMPTY enable on, both transmit registers empty
    EXPECT_EQ(host.irqCount(), 1);
    device.setResetPortC(7);
    EXPECT_EQ(host.irqCount(), 1);
}

struct IrqCase {
    const char* name;
    bool lineOpen;
    ModemInputs inputs;
    bool inputsUnreadable;
    int holdingFull, shiftFull, rxReady;
    std::uint8_t before, written;
    int raised;
};
void PrintTo(const IrqCase& c, std::ostream* os) { *os << c.name; }

class InterruptEnable : public RegisterFile, public ::testing::WithParamInterface<IrqCase> {};

TEST_P(InterruptEnable, RaisesLine4AtMostOnceForTheFirstRuleThatApplies)
{
    const IrqCase& c = GetParam();
    if (c.lineOpen) openLine(c.inputs);
    lines.fail(LineOp::ReadInputs, c.inputsUnreadable);
    setLatches(c.holdingFull, c.shiftFull, c.rxReady, c.before);
    host.clearIrqs();

    device.writePortC(c.written);
    EXPECT_EQ(host.irqCount(), c.raised);
    EXPECT_EQ(device.readPortC(), c.written & 0x07);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, InterruptEnable,
    ::testing::Values(
        // name, open, inputs, unreadable, holding, shift, rxReady, before, written, raised
        IrqCase{"TxEmptyOnlyBothEmpty", false, kNoInputs, false, 0, 0, 0, 0x00, 0x02, 1},
        IrqCase{"TxEmptyShiftFull", true, kCtsOn, false, 0, 1, 0, 0x00, 0x02, 0},
        IrqCase{"TxEmptyHoldingFull", true, kCtsOn, false, 1, 0, 0, 0x00, 0x02, 0},
        IrqCase{"TxReadyCtsOn", true, kCtsOn, false, 0, 1, 0, 0x00, 0x04, 1},
        IrqCase{"TxReadyCtsOff", true, kNoInputs, false, 0, 0, 0, 0x00, 0x04, 0},
        IrqCase{"TxReadyInputsUnreadable", true, kCtsOn, true, 0, 0, 0, 0x00, 0x04, 0},
        IrqCase{"TxReadyNoLine", false, kNoInputs, false, 0, 0, 0, 0x00, 0x04, 0},
        IrqCase{"TxReadyAlreadyOn", true, kCtsOn, false, 0, 0, 0, 0x04, 0x04, 0},
        IrqCase{"AllCtsOnRaisesOnce", true, kCtsOn, false, 0, 0, 1, 0x00, 0x07, 1},
        IrqCase{"AllCtsOffTxReadyRuleEndsTheDecision", true, kNoInputs, false, 0, 0, 1, 0x00, 0x07, 0},
        IrqCase{"TxEmptyWhileTxReadyStaysOn", true, kNoInputs, false, 0, 0, 0, 0x04, 0x06, 1},
        IrqCase{"AllHoldingFullRxReady", true, kCtsOn, false, 1, 0, 1, 0x00, 0x07, 1},
        IrqCase{"AllHoldingFullNothingReceived", true, kCtsOn, false, 1, 0, 0, 0x00, 0x07, 0},
        IrqCase{"RxReadyNothingReceived", true, kCtsOn, false, 1, 1, 0, 0x00, 0x01, 0},
        IrqCase{"RxReadyByteWaiting", false, kNoInputs, false, 1, 1, 1, 0x00, 0x01, 1},
        IrqCase{"RxReadySwitchedOnBesideTxEmpty", false, kNoInputs, false, 0, 0, 1, 0x02, 0x03, 1},
        IrqCase{"AllAlreadyOn", true, kCtsOn, false, 0, 0, 1, 0x07, 0x07, 0},
        IrqCase{"TurningOffNeverRaises", true, kCtsOn, false, 0, 0, 1, 0x07, 0x00, 0}),
    [](const ::testing::TestParamInfo<IrqCase>& info) { return std::string(info.param.name); });

// ---- Receive errors ----

struct ErrorCase {
    const char* name;
    std::uint8_t errors;
    std::uint8_t statusBits;
    std::uint8_t resetCommand;
};
void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class LineErrors : public RegisterFile, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(LineErrors, StayLatchedUntilTheErrorResetCommand)
{
    const ErrorCase& c = GetParam();
    openLine(kCtsOn);
    device.writeModeCommand(0x27);  // everything on but the error reset
    EXPECT_EQ(device.readStatus() & 0x38, 0);

    lines.addErrors(c.errors);
    EXPECT_EQ(device.readStatus() & 0x38, c.statusBits);
    EXPECT_EQ(device.readStatus() & 0x38, c.statusBits);  // the line has cleared them; the status has not
    device.writeModeCommand(0x27);
    EXPECT_EQ(device.readStatus() & 0x38, c.statusBits);

    device.writeModeCommand(c.resetCommand);
    EXPECT_EQ(device.readStatus() & 0x38, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, LineErrors,
    ::testing::Values(ErrorCase{"Framing", kLineErrorFraming, kStatusFramingError, 0x10},
                      ErrorCase{"Overrun", kLineErrorOverrun, kStatusOverrunError, 0x37},
                      ErrorCase{"Parity", kLineErrorParity, kStatusParityError, 0x37},
                      ErrorCase{"All", kLineErrorFraming | kLineErrorOverrun | kLineErrorParity, 0x38, 0x10}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST_F(RegisterFile, ErrorTakenByAPortBReadShowsInTheNextStatusRead)
{
    openLine(kCtsOn);
    lines.addErrors(kLineErrorParity);
    device.readPortB();
    EXPECT_EQ(device.readStatus() & 0x38, kStatusParityError);
}

TEST_F(RegisterFile, FailedErrorQueryRecordsNoError)
{
    openLine(kCtsOn);
    lines.addErrors(kLineErrorFraming);
    lines.fail(LineOp::PollErrors);
    EXPECT_EQ(device.readStatus() & 0x38, 0);
}

TEST_F(RegisterFile, SyncDetectBitIsAlwaysCleared)
{
    for (bool withLine : {false, true}) {
        SCOPED_TRACE(withLine ? "line open" : "no line");
        if (withLine) openLine(kCtsOn);
        restoreRegisters([](ChipRegisters& registers) { registers.status = 0x45; });
        EXPECT_EQ(device.readStatus(), 0x05);
    }
}
}  // namespace
