#include "fuzz/GuestSession.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "device/Messages.h"
#include "fuzz/FuzzCheck.h"

void fuzzCheckFailed(const char* file, int line, const char* condition, const char* what)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", file, line, what, condition);
    std::abort();
}

namespace {

// The operations a kPortFaults word makes fail, bit by bit, and where the
// features its lines lack start.
constexpr LineOp kFaultable[] = {LineOp::Open,       LineOp::SetFormat,  LineOp::SetRate,
                                 LineOp::ReadFormat, LineOp::SetControl, LineOp::ReadInputs,
                                 LineOp::PollErrors, LineOp::ReadByte,   LineOp::WriteByte};
constexpr int kMissingFeatureShift = 12;
// COM10 stands for a name that reaches outside this computer.
constexpr char kOutsideName[] = "COM10";

// The longest character the port can be set to (8 data bits, parity, 2 stop
// bits) at the slowest rate, in timer units, plus the carried fraction.
constexpr std::int32_t kLongestPeriod = 11 * 100000 / 300 + 1;

void failOnLockOrder(LockRank, LockRank) { fuzzCheckFailed(__FILE__, __LINE__, "lock order", "lock taken out of order"); }

bool holdsNoLock()
{
    return lock_order::heldDepth(LockRank::Device) == 0 && lock_order::heldDepth(LockRank::Register) == 0 &&
           lock_order::heldDepth(LockRank::Timer) == 0;
}

// A settings record as the settings file or the dialog gives it: COM1 to
// COM10, a standard rate, parity 0-2, stop bits 0-2, 5 to 8 data bits.
LineSettings settingsFrom(FuzzInput& in, bool longName)
{
    const std::uint8_t portAndLock = in.byte();
    const std::uint8_t rateIndex = in.byte();
    const std::uint8_t format = in.byte();
    LineSettings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.lock = portAndLock >> 7;
    settings.baudRate = static_cast<std::int32_t>(StandardRates[rateIndex % kStandardRateCount]);
    settings.parity = format % 3;
    settings.stopBits = format / 3 % 3;
    settings.byteSize = 5 + format / 9 % 4;
    if (longName)
        std::memset(settings.portName, 'X', kMaxPortNameLength + 1);
    else
        std::snprintf(settings.portName, sizeof settings.portName, "COM%d", 1 + (portAndLock & 0x7F) % 10);
    return settings;
}

bool sameSettings(const LineSettings& a, const LineSettings& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool sameChip(const ChipRegisters& a, const ChipRegisters& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Everything a refused block must leave alone, the line itself included.
bool sameState(const DeviceState& a, const DeviceState& b)
{
    return sameChip(a.chip, b.chip) && sameSettings(a.appliedSettings, b.appliedSettings) &&
           sameSettings(a.configuredSettings, b.configuredSettings) && a.timer2Count == b.timer2Count &&
           a.baudFactor == b.baudFactor && a.computedBaud == b.computedBaud && a.modeByte == b.modeByte &&
           a.lineOpen == b.lineOpen && std::memcmp(a.openPortName, b.openPortName, sizeof a.openPortName) == 0;
}
}  // namespace

void GuestSession::Alerts::show(const char* text)
{
    // A message box waits for the user: holding a lock would freeze the tick.
    FUZZ_CHECK(holdsNoLock(), "message box shown while holding a device lock");
    FUZZ_CHECK(strnlen(text, 256) < 256, "message text not terminated within its buffer");
    ++shown;
}

void GuestSession::Panel::setText(WindowHandle, int controlId, const char* text)
{
    FUZZ_CHECK(controlId == kFieldComputedSpeed || controlId == kFieldActualSpeed || controlId == kFieldTimer2Count ||
                   controlId == kFieldSystemClock || controlId == kFieldDivider,
               "panel write to a field the device does not own");
    FUZZ_CHECK(strnlen(text, 16) < 16, "panel text longer than a figure");
    FUZZ_CHECK(lock_order::heldDepth(LockRank::Device) > 0, "panel write without the device lock");
}

void GuestSession::Timer::calledWithTheLock()
{
    FUZZ_CHECK(lock_order::heldDepth(LockRank::Timer) > 0, "timer called without the timer lock");
}

bool GuestSession::Timer::acquire()
{
    FUZZ_CHECK(false, "the device acquired the timer itself");
    return false;
}

void GuestSession::Timer::stop()
{
    calledWithTheLock();
    s_.timerRunning_ = false;
    last_ = Last::Stop;
}

void GuestSession::Timer::setPeriod(std::int32_t units)
{
    calledWithTheLock();
    FUZZ_CHECK(last_ == Last::Stop, "period set not right after a stop");
    FUZZ_CHECK(units >= 1 && units <= kLongestPeriod, "timer period out of range");
    last_ = Last::Period;
}

void GuestSession::Timer::start()
{
    calledWithTheLock();
    FUZZ_CHECK(last_ == Last::Period, "timer started not right after a period was set");
    s_.timerRunning_ = true;
    s_.timerHalted_ = false;
    s_.timerEverStarted_ = true;
    last_ = Last::Start;
}

void GuestSession::Timer::halt()
{
    calledWithTheLock();
    s_.timerRunning_ = false;
    s_.timerHalted_ = true;
    last_ = Last::Halt;
}

void GuestSession::Interrupts::raise()
{
    FUZZ_CHECK(lock_order::heldDepth(LockRank::Device) > 0 && lock_order::heldDepth(LockRank::Register) > 0,
               "interrupt requested without the device and register locks");
    ++s_.irqs_;
}

GuestSession::GuestSession(FuzzInput& setup)
{
    lock_order::setViolationHandler(failOnLockOrder);
    lines.reachOutsideWith(kOutsideName);
    device.construct(Platform{&lines, &alerts_, &panel_});
    const std::uint8_t flags = setup.byte();
    const LineSettings settings = settingsFrom(setup, (flags & 2) != 0);
    device.lendHost(HostLinks{&timer_, &interrupts_});
    device.setSystemClock(setup.u32());
    if (flags & 1) device.setPanel(reinterpret_cast<WindowHandle>(std::uintptr_t{0x1000}));
    device.storeSettings(settings, true);
}

GuestSession::~GuestSession()
{
    device.powerOff();  // the line closes under the device's locks, as every close must
    device.destroy();
    lock_order::setViolationHandler(nullptr);
}

void GuestSession::run(FuzzInput& in)
{
    while (!in.empty()) {
        const Op op = static_cast<Op>(in.byte() % kOpCount);
        irqs_ = 0;
        step(op, in);
        FUZZ_CHECK(lines.breaches().empty(), lines.breaches().front().c_str());
        const bool mayRaise = op == kWritePortC || op == kSetResetPortC;
        FUZZ_CHECK(irqs_ <= (mayRaise ? 1 : 0), "interrupt requested by an operation that may not raise one");
        checkInvariants();
    }
}

void GuestSession::step(Op op, FuzzInput& in)
{
    switch (op) {
    case kWriteData: writeData(in.byte()); break;
    case kReadData: readData(); break;
    case kReadStatus: readStatus(); break;
    case kWriteModeCommand: writeModeCommand(in.byte()); break;
    case kReadPortB: {
        const std::uint8_t value = device.readPortB();
        const DeviceState state = device.inspect();
        FUZZ_CHECK(value == state.chip.portB, "port B read differs from the register");
        if (!state.lineOpen) FUZZ_CHECK(value == kPortBAllOff, "CI, CS or CD on with no line");
        break;
    }
    case kReadPortC:
        FUZZ_CHECK(device.readPortC() == (device.inspect().chip.intMask & kEnableMask),
                   "port C read differs from the enables");
        break;
    case kWritePortC: device.writePortC(in.byte()); break;
    case kSetResetPortC: {
        const std::uint8_t value = in.byte();
        const std::uint8_t before = device.inspect().chip.intMask;
        device.setResetPortC(value);
        if (value > 5)
            FUZZ_CHECK(device.inspect().chip.intMask == before && irqs_ == 0, "port 0x37 acted on a foreign bit");
        break;
    }
    case kTimer2Changed: {
        const std::int32_t count = static_cast<std::int32_t>(in.u32());
        device.timer2Changed(count);
        FUZZ_CHECK(device.inspect().timer2Count == (count != 0 ? count : 1), "Timer2 count not stored");
        break;
    }
    case kTicks:
        for (int n = 1 + in.byte() % 16; n > 0 && timerRunning_; --n) tick();
        break;
    case kLateTick: tick(); break;
    case kReset: {
        device.reset();
        inFlight_.clear();
        const ChipRegisters chip = device.inspect().chip;
        FUZZ_CHECK(chip.status == (kStatusTxReady | kStatusTxEmpty) && chip.programState == kExpectMode,
                   "reset did not bring the USART back to expecting a mode byte");
        break;
    }
    case kPowerOff: {
        device.powerOff();
        inFlight_.clear();
        const DeviceState state = device.inspect();
        FUZZ_CHECK(!state.lineOpen && lines.linesAlive() == 0 && state.chip.status == kStatusTxEmpty &&
                       state.chip.portB == kPortBAllOff,
                   "power-off left the line open or its signals on");
        FUZZ_CHECK(!timerRunning_, "power-off left the timer running");
        break;
    }
    case kSave: save(); break;
    case kLoadSaved: {
        if (!haveSaved_) save();
        std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kSnapshotSize]);
        std::memcpy(block.get(), saved_.data(), kSnapshotSize);
        hostLoads(block.get());
        // A block the device saved itself comes back as it was saved; its
        // settings are taken only when it restores the port.
        std::array<std::uint8_t, kSnapshotSize> again{};
        device.saveSnapshot(again.data());
        const bool portRestored = block[snapshot_offset::chip + offsetof(ChipRegisters, portReady)] == 1;
        FUZZ_CHECK(std::memcmp(again.data() + snapshot_offset::chip, block.get() + snapshot_offset::chip,
                               sizeof(ChipRegisters)) == 0 &&
                       again[snapshot_offset::modeByte] == block[snapshot_offset::modeByte],
                   "save, load, save changed the registers or the mode byte");
        FUZZ_CHECK(!portRestored || std::memcmp(again.data() + snapshot_offset::appliedSettings,
                                                block.get() + snapshot_offset::appliedSettings,
                                                sizeof(LineSettings)) == 0,
                   "a restore that reprogrammed the port did not keep the saved settings");
        break;
    }
    case kDialogSettings: {
        const LineSettings settings = settingsFrom(in, false);
        const LineSettings applied = device.inspect().appliedSettings;
        device.storeSettings(settings, false);
        const DeviceState state = device.inspect();
        FUZZ_CHECK(sameSettings(state.configuredSettings, settings) && sameSettings(state.appliedSettings, applied),
                   "the dialog's settings reached the applied copy");
        break;
    }
    case kLineSignals: {
        const std::uint8_t signals = in.byte();
        lines.setInputs(ModemInputs{(signals & 0x10) != 0, (signals & 0x20) != 0, (signals & 0x40) != 0,
                                    (signals & 0x80) != 0});
        const std::uint8_t events = in.byte();
        lines.addErrors(events & (kLineErrorOverrun | kLineErrorParity | kLineErrorFraming));
        lines.setState((events & 0x10) ? LineState::Gone : (events & 0x20) ? LineState::Connecting : LineState::Open);
        lines.overstateWaiting(events >> 6);
        break;
    }
    case kLineReceives: {
        std::size_t count = 0;
        const std::uint8_t* bytes = in.bytes(1 + in.byte() % 8, count);
        lines.receive(std::string(bytes, bytes + count));
        break;
    }
    case kPortFaults: {
        const std::uint16_t faults = in.u16();
        for (std::size_t bit = 0; bit < sizeof kFaultable / sizeof kFaultable[0]; ++bit)
            lines.fail(kFaultable[bit], (faults >> bit) & 1);
        lines.setFeatures((kLineHasFormat | kLineHasControls | kLineHasBreak) & ~(faults >> kMissingFeatureShift));
        break;
    }
    case kOpCount: break;
    }
}

void GuestSession::writeData(std::uint8_t value)
{
    const bool replacing = device.inspect().chip.txHoldingFull != 0;
    device.writeData(value);
    // A byte still in the holding register is replaced and never sent.
    if (replacing) {
        FUZZ_CHECK(!inFlight_.empty(), "holding register full with nothing the guest wrote");
        inFlight_.back() = value;
    } else {
        inFlight_.push_back(value);
    }
    const ChipRegisters chip = device.inspect().chip;
    FUZZ_CHECK(chip.txHoldingFull == 1 && !(chip.status & kStatusTxReady), "a written byte left TxRDY set");
}

void GuestSession::readData()
{
    const ChipRegisters before = device.inspect().chip;
    const std::uint8_t value = device.readData();
    const ChipRegisters after = device.inspect().chip;
    if (before.rxReady) {
        FUZZ_CHECK(value == before.rxData && !after.rxReady, "received byte not handed over once");
    } else {
        FUZZ_CHECK(value == 0 && sameChip(before, after), "an empty receiver read changed something");
    }
}

void GuestSession::readStatus()
{
    const std::uint8_t status = device.readStatus();
    const DeviceState state = device.inspect();
    const ChipRegisters& chip = state.chip;
    FUZZ_CHECK(status == chip.status, "status read differs from the register");
    FUZZ_CHECK(!(status & kStatusSyncDetect), "break detect reads as set");
    FUZZ_CHECK(((status & kStatusTxReady) != 0) == !chip.txHoldingFull, "TxRDY disagrees with the holding register");
    const bool lineIdle = !state.lineOpen || lines.fails(LineOp::ReadInputs) || !lines.inputs().cts;
    FUZZ_CHECK(((status & kStatusTxEmpty) != 0) == ((!chip.txShiftFull && !chip.txHoldingFull) || lineIdle),
               "TxEMPTY disagrees with the transmitter");
    if (!state.lineOpen)
        FUZZ_CHECK(!(status & kStatusDsr), "DSR on with no line");
    else if (!lines.fails(LineOp::ReadInputs))
        FUZZ_CHECK(((status & kStatusDsr) != 0) == lines.inputs().dsr, "DSR disagrees with the line");
}

void GuestSession::writeModeCommand(std::uint8_t value)
{
    const ChipRegisters before = device.inspect().chip;
    device.writeModeCommand(value);
    const DeviceState state = device.inspect();
    const ChipRegisters& chip = state.chip;
    switch (before.programState) {
    case kExpectMode: {
        const Usart8251::ModeInstruction mode = Usart8251::decodeMode(value);
        FUZZ_CHECK(state.modeByte == value && state.baudFactor == mode.baudFactor, "mode byte not taken");
        FUZZ_CHECK(chip.programState == (mode.synchronous ? kExpectSync1 : kExpectCommand),
                   "wrong state after a mode byte");
        FUZZ_CHECK(timerRunning_, "a mode byte did not arm the timer");
        break;
    }
    case kExpectSync1:
    case kExpectSync2: FUZZ_CHECK(chip.programState == before.programState + 1, "sync character not taken"); break;
    case kExpectCommand:
        if (value & 0x40) {
            inFlight_.clear();
            FUZZ_CHECK(chip.programState == kExpectMode && !chip.txShiftFull && !chip.txHoldingFull && !chip.rxReady,
                       "internal reset left data in the USART");
        }
        if (value & 0x10) FUZZ_CHECK((chip.status & 0x78) == 0, "error reset left an error bit");
        FUZZ_CHECK(chip.txEnable == (value & 1) && chip.rxEnable == ((value >> 2) & 1), "enables differ from the command");
        break;
    default:
        // A restored block left the USART out of sequence: port 0x32 is deaf.
        FUZZ_CHECK(sameChip(before, chip), "a byte to a deaf port 0x32 changed the registers");
        break;
    }
}

void GuestSession::tick()
{
    const ChipRegisters before = device.inspect().chip;
    irqs_ = 0;
    timerRunning_ = false;  // this expiry is used up
    device.tick();

    const std::string written = lines.written();
    const std::string delivered = lines.delivered();
    lines.clearBytes();
    FUZZ_CHECK(irqs_ <= 1, "more than one interrupt request in one tick");
    FUZZ_CHECK(written.size() <= 1 && delivered.size() <= 1, "more than one byte each way in one tick");
    for (const char byte : written) {
        FUZZ_CHECK(!inFlight_.empty() && inFlight_.front() == static_cast<std::uint8_t>(byte),
                   "a byte went out that the guest did not write, or out of order");
        inFlight_.pop_front();
    }
    if (delivered.size() == 1 && !before.rxReady && before.rxEnable) {
        const ChipRegisters after = device.inspect().chip;
        FUZZ_CHECK(after.rxReady && after.rxData == static_cast<std::uint8_t>(delivered[0]), "received byte lost");
    }
    FUZZ_CHECK(timerRunning_, "a tick did not re-arm the timer");
    irqs_ = 0;  // checked here, per tick
}

void GuestSession::save()
{
    device.saveSnapshot(saved_.data());
    haveSaved_ = true;
    const DeviceState state = device.inspect();
    FUZZ_CHECK(getBlock32(saved_.data()) == kSnapshotVersion, "saved block without version 1");
    FUZZ_CHECK(std::memcmp(saved_.data() + snapshot_offset::chip, &state.chip, sizeof(ChipRegisters)) == 0 &&
                   std::memcmp(saved_.data() + snapshot_offset::appliedSettings, &state.appliedSettings,
                               sizeof(LineSettings)) == 0,
               "saved block differs from the device");
}

void GuestSession::hostLoads(const std::uint8_t* block)
{
    const DeviceState before = device.inspect();
    const std::size_t opensBefore = lines.opened().size();
    const int shownBefore = alerts_.shown;
    const bool ours = getBlock32(block) == kSnapshotVersion;
    irqs_ = 0;

    const int result = device.loadSnapshot(block);

    FUZZ_CHECK(result == (ours ? 1 : 0), "load result disagrees with the block's version");
    FUZZ_CHECK(irqs_ == 0 && lines.written().empty(), "a restore raised an interrupt or sent a byte");
    const DeviceState after = device.inspect();
    if (!ours) {
        FUZZ_CHECK(sameState(before, after) && lines.opened().size() == opensBefore,
                   "a refused block changed the device");
        FUZZ_CHECK(alerts_.shown == shownBefore + 1, "a refused block was not reported once");
        return;
    }
    FUZZ_CHECK(sameSettings(after.configuredSettings, before.configuredSettings),
               "the user's settings did not come back after a restore");
    // A name that reaches outside is opened from a block only as the user's own choice.
    const char* savedName = reinterpret_cast<const char*>(block + snapshot_offset::appliedSettings +
                                                          offsetof(LineSettings, portName));
    if (lines.opened().size() != opensBefore &&
        std::strncmp(savedName, before.configuredSettings.portName, kPortNameSize) != 0)
        FUZZ_CHECK(!lines.marksOutside(after.openPortName), "a restore reached outside for someone else's line");
    // Whatever the block held in the transmit registers may now go out.
    const std::uint8_t* chip = block + snapshot_offset::chip;
    inFlight_.clear();
    if (chip[offsetof(ChipRegisters, txShiftFull)]) inFlight_.push_back(chip[offsetof(ChipRegisters, txShift)]);
    if (chip[offsetof(ChipRegisters, txHoldingFull)]) inFlight_.push_back(chip[offsetof(ChipRegisters, txHolding)]);
}

void GuestSession::checkInvariants()
{
    const DeviceState state = device.inspect();
    const ChipRegisters& chip = state.chip;
    FUZZ_CHECK(holdsNoLock(), "an operation returned holding a lock");
    FUZZ_CHECK(chip.intMask <= kEnableMask, "interrupt enables beyond the three bits");
    FUZZ_CHECK(((chip.status & kStatusRxReady) != 0) == (chip.rxReady != 0), "status RxRDY disagrees with the receiver");
    FUZZ_CHECK(chip.rxReady <= 1 && chip.rxEnable <= 1 && chip.txEnable <= 1 && chip.txShiftFull <= 1 &&
                   chip.txHoldingFull <= 1,
               "a latch holds something other than 0 or 1");
    FUZZ_CHECK(state.baudFactor == 1 || state.baudFactor == 16 || state.baudFactor == 64, "baud factor not 1, 16 or 64");
    FUZZ_CHECK(state.lineOpen == (lines.linesAlive() > 0), "the device's line is not the one open");
    FUZZ_CHECK((chip.portB & kPortBOtherBits) == 0, "port B bits 0 to 4 are not this interface's");
    FUZZ_CHECK(lines.written().empty(), "a byte went out other than on a tick");
    FUZZ_CHECK(!timerEverStarted_ || timerRunning_ || timerHalted_, "the timer stopped without a power-off");

    std::deque<std::uint8_t> registers;
    if (chip.txShiftFull) registers.push_back(chip.txShift);
    if (chip.txHoldingFull) registers.push_back(chip.txHolding);
    FUZZ_CHECK(registers == inFlight_, "the transmit registers hold other bytes than the guest wrote");
}
