// The guest's view of ports 0x30, 0x32 (status), 0x33, 0x35 and 0x37: the
// transmitter flags, the modem lines, the line errors and the interrupt
// enables with the requests they raise.
#include <ostream>
#include <vector>

#include "tests/support/DeviceFixture.h"

namespace {
constexpr std::uint32_t kAllLines = kModemCtsOn | kModemDsrOn | kModemRingOn | kModemRlsdOn;

class RegisterFile : public DeviceTest {
protected:
    // COM1 opened by mode byte 0x4E at 9600 baud, the device expecting commands.
    void openLine(std::uint32_t modemLines)
    {
        loadSettings(makeSettings("COM1"));
        port.setModemLines(modemLines);
        programAsync(0x4E, 2457600, 16);
        ASSERT_TRUE(device.portOpen());
    }

    // Puts the transmit and receive latches where a test needs them, as ticks
    // and guest accesses would have left them.
    void setLatches(int holdingFull, int shiftFull, int rxReady = 0)
    {
        ScopedLock lockDevice(device.deviceLock);
        ScopedLock lockRegisters(device.registerLock);
        device.chip.txHoldingFull = static_cast<std::uint8_t>(holdingFull);
        device.chip.txShiftFull = static_cast<std::uint8_t>(shiftFull);
        device.chip.rxReady = static_cast<std::uint8_t>(rxReady);
    }

    void setStatus(std::uint8_t status)
    {
        ScopedLock lockRegisters(device.registerLock);
        device.chip.status = status;
    }

    void setIntMask(std::uint8_t mask)
    {
        ScopedLock lockRegisters(device.registerLock);
        device.chip.intMask = mask;
    }
};

TEST_F(RegisterFile, FreshDeviceShowsAnIdleTransmitterAndNoLine)
{
    EXPECT_EQ(device.readStatus(), 0x05);
    EXPECT_EQ(device.timer2Count, 4);
    EXPECT_EQ(device.baudFactor, 1u);
    EXPECT_EQ(device.readPortB(), 0xE0);
    EXPECT_EQ(device.readData(), 0);
    EXPECT_EQ(device.readPortC(), 0);
    EXPECT_EQ(port.callCount(), 0u);
}

// ---- writeData and the TxEMPTY forcing rules ----

struct WriteCase {
    const char* name;
    bool portOpen;
    std::uint32_t lines;
    bool modemQueryFails;
    std::uint8_t latchedTxBits;  // status bits 0 and 2 right after the write
};
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class WriteData : public RegisterFile, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteData, DropsTxReadyAndKeepsTxEmptyOnlyWhenTheByteCanLeave)
{
    const WriteCase& c = GetParam();
    if (c.portOpen) openLine(c.lines);
    port.failOperation(PortOp::GetModemStatus, c.modemQueryFails);

    device.writeData(0x41);
    EXPECT_EQ(device.chip.status & 0x05, c.latchedTxBits);
    EXPECT_EQ(device.readStatus(), c.latchedTxBits);  // DSR off, no errors, nothing received
    EXPECT_EQ(device.chip.txHolding, 0x41);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteData,
    ::testing::Values(WriteCase{"NoPort", false, 0, false, 0x04}, WriteCase{"CtsOn", true, kModemCtsOn, false, 0x00},
                      WriteCase{"CtsOff", true, 0, false, 0x04},
                      WriteCase{"ModemQueryFails", true, kModemCtsOn, true, 0x04}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

struct StatusCase {
    bool portOpen;
    bool ctsOn;
    int holdingFull;
    int shiftFull;
    std::uint8_t txBits;
};
void PrintTo(const StatusCase& c, std::ostream* os)
{
    *os << (c.portOpen ? (c.ctsOn ? "cts on" : "cts off") : "no port") << ", holding " << c.holdingFull << ", shift "
        << c.shiftFull;
}

class StatusRecompute : public RegisterFile, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusRecompute, TxReadyAndTxEmptyComeFromTheLatchesNotTheStoredStatus)
{
    const StatusCase& c = GetParam();
    if (c.portOpen) openLine(c.ctsOn ? kModemCtsOn : 0);
    setLatches(c.holdingFull, c.shiftFull);
    setStatus(static_cast<std::uint8_t>(~c.txBits & 0x05));  // stale: the opposite of what is due
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
    openLine(kModemCtsOn);
    device.writeModeCommand(0x01);  // transmitter on
    device.writeData('A');
    device.writeData('B');
    host.fireTimes(4);
    EXPECT_EQ(port.written(), std::vector<std::uint8_t>{'B'});
}

// ---- Port B and DSR ----

struct LinesCase {
    std::uint32_t lines;
    std::uint8_t portB;
    std::uint8_t dsr;
};
void PrintTo(const LinesCase& c, std::ostream* os) { *os << "lines 0x" << std::hex << c.lines; }

class ModemLines : public RegisterFile, public ::testing::WithParamInterface<LinesCase> {};

TEST_P(ModemLines, ReadAsActiveLowPortBBitsAndStatusDsr)
{
    openLine(GetParam().lines);
    EXPECT_EQ(device.readPortB(), GetParam().portB);
    EXPECT_EQ(device.readStatus() & kStatusDsr, GetParam().dsr);
}

INSTANTIATE_TEST_SUITE_P(Lines, ModemLines,
                         ::testing::Values(LinesCase{0, 0xE0, 0}, LinesCase{kModemRingOn, 0x60, 0},
                                           LinesCase{kModemCtsOn, 0xA0, 0}, LinesCase{kModemRlsdOn, 0xC0, 0},
                                           LinesCase{kModemDsrOn, 0xE0, 0x80}, LinesCase{kAllLines, 0x00, 0x80}));

TEST_F(RegisterFile, FailedModemQueryKeepsTheLastLinesButCountsAsCtsOffForTxEmpty)
{
    openLine(kModemCtsOn | kModemDsrOn | kModemRingOn);
    device.writeData(0x55);
    EXPECT_EQ(device.readPortB(), 0x20);
    EXPECT_EQ(device.readStatus(), 0x80);

    port.setModemLines(0);
    port.failOperation(PortOp::GetModemStatus);
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
    setIntMask(GetParam().before);
    setLatches(1, 1);  // no condition holds, so no value may raise
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

TEST_F(RegisterFile, PortCReadsOnlyTheThreeEnables)
{
    device.writePortC(0xFF);
    EXPECT_EQ(device.readPortC(), 0x07);
    setIntMask(0xFD);
    EXPECT_EQ(device.readPortC(), 0x05);
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
    bool portOpen;
    std::uint32_t lines;
    bool modemQueryFails;
    int holdingFull, shiftFull, rxReady;
    std::uint8_t before, written;
    int raised;
};
void PrintTo(const IrqCase& c, std::ostream* os) { *os << c.name; }

class InterruptEnable : public RegisterFile, public ::testing::WithParamInterface<IrqCase> {};

TEST_P(InterruptEnable, RaisesLine4AtMostOnceForTheFirstRuleThatApplies)
{
    const IrqCase& c = GetParam();
    if (c.portOpen) openLine(c.lines);
    port.failOperation(PortOp::GetModemStatus, c.modemQueryFails);
    setLatches(c.holdingFull, c.shiftFull, c.rxReady);
    setIntMask(c.before);
    host.clearIrqs();

    device.writePortC(c.written);
    EXPECT_EQ(host.irqCount(), c.raised);
    EXPECT_EQ(device.readPortC(), c.written & 0x07);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, InterruptEnable,
    ::testing::Values(
        // name, open, lines, query fails, holding, shift, rxReady, before, written, raised
        IrqCase{"TxEmptyOnlyBothEmpty", false, 0, false, 0, 0, 0, 0x00, 0x02, 1},
        IrqCase{"TxEmptyShiftFull", true, kModemCtsOn, false, 0, 1, 0, 0x00, 0x02, 0},
        IrqCase{"TxEmptyHoldingFull", true, kModemCtsOn, false, 1, 0, 0, 0x00, 0x02, 0},
        IrqCase{"TxReadyCtsOn", true, kModemCtsOn, false, 0, 1, 0, 0x00, 0x04, 1},
        IrqCase{"TxReadyCtsOff", true, 0, false, 0, 0, 0, 0x00, 0x04, 0},
        IrqCase{"TxReadyModemQueryFails", true, kModemCtsOn, true, 0, 0, 0, 0x00, 0x04, 0},
        IrqCase{"TxReadyNoPort", false, 0, false, 0, 0, 0, 0x00, 0x04, 0},
        IrqCase{"TxReadyAlreadyOn", true, kModemCtsOn, false, 0, 0, 0, 0x04, 0x04, 0},
        IrqCase{"AllCtsOnRaisesOnce", true, kModemCtsOn, false, 0, 0, 1, 0x00, 0x07, 1},
        IrqCase{"AllCtsOffTxReadyRuleEndsTheDecision", true, 0, false, 0, 0, 1, 0x00, 0x07, 0},
        IrqCase{"TxEmptyWhileTxReadyStaysOn", true, 0, false, 0, 0, 0, 0x04, 0x06, 1},
        IrqCase{"AllHoldingFullRxReady", true, kModemCtsOn, false, 1, 0, 1, 0x00, 0x07, 1},
        IrqCase{"AllHoldingFullNothingReceived", true, kModemCtsOn, false, 1, 0, 0, 0x00, 0x07, 0},
        IrqCase{"RxReadyNothingReceived", true, kModemCtsOn, false, 1, 1, 0, 0x00, 0x01, 0},
        IrqCase{"RxReadyByteWaiting", false, 0, false, 1, 1, 1, 0x00, 0x01, 1},
        IrqCase{"RxReadySwitchedOnBesideTxEmpty", false, 0, false, 0, 0, 1, 0x02, 0x03, 1},
        IrqCase{"AllAlreadyOn", true, kModemCtsOn, false, 0, 0, 1, 0x07, 0x07, 0},
        IrqCase{"TurningOffNeverRaises", true, kModemCtsOn, false, 0, 0, 1, 0x07, 0x00, 0}),
    [](const ::testing::TestParamInfo<IrqCase>& info) { return std::string(info.param.name); });

// ---- Line errors ----

struct ErrorCase {
    const char* name;
    std::uint32_t errors;
    std::uint8_t statusBits;
    std::uint8_t resetCommand;
};
void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class LineErrors : public RegisterFile, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(LineErrors, StayLatchedUntilTheErrorResetCommand)
{
    const ErrorCase& c = GetParam();
    openLine(kModemCtsOn);
    device.writeModeCommand(0x27);  // everything on but the error reset
    EXPECT_EQ(device.readStatus() & 0x38, 0);

    port.addLineErrors(c.errors);
    EXPECT_EQ(device.readStatus() & 0x38, c.statusBits);
    EXPECT_EQ(device.readStatus() & 0x38, c.statusBits);  // the port has cleared them; the status has not
    device.writeModeCommand(0x27);
    EXPECT_EQ(device.readStatus() & 0x38, c.statusBits);

    device.writeModeCommand(c.resetCommand);
    EXPECT_EQ(device.readStatus() & 0x38, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, LineErrors,
    ::testing::Values(ErrorCase{"Framing", kLineErrorFrame, kStatusFramingError, 0x10},
                      ErrorCase{"Overrun", kLineErrorOverrun, kStatusOverrunError, 0x37},
                      ErrorCase{"RxOver", kLineErrorRxOver, kStatusOverrunError, 0x10},
                      ErrorCase{"Parity", kLineErrorParity, kStatusParityError, 0x37},
                      ErrorCase{"All", kLineErrorFrame | kLineErrorRxOver | kLineErrorParity, 0x38, 0x10}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST_F(RegisterFile, ErrorTakenByAPortBReadShowsInTheNextStatusRead)
{
    openLine(kModemCtsOn);
    port.addLineErrors(kLineErrorParity);
    device.readPortB();
    EXPECT_EQ(device.readStatus() & 0x38, kStatusParityError);
}

TEST_F(RegisterFile, FailedErrorQueryRecordsNoError)
{
    openLine(kModemCtsOn);
    port.addLineErrors(kLineErrorFrame);
    port.failOperation(PortOp::ClearErrors);
    EXPECT_EQ(device.readStatus() & 0x38, 0);
}

TEST_F(RegisterFile, SyncDetectBitIsAlwaysCleared)
{
    setStatus(0x45);
    EXPECT_EQ(device.readStatus(), 0x05);
    openLine(kModemCtsOn);
    setStatus(0x45);
    EXPECT_EQ(device.readStatus(), 0x05);
}
}  // namespace
