// One emulated machine under the fuzzer: a freshly constructed device wired to
// a scripted line kind, a host timer that fires only when the input says so, an
// interrupt line, message boxes and a status panel. It plays the operations
// the input spells out (the guest's port accesses, ticks, reset, power-off,
// save and load, the dialog's settings, changes on the line) and checks the
// device's invariants after every one of them.
//
// Input: a setup of 8 bytes, then operations until the input ends.
//   setup:     flags (bit 0 panel shown, bit 1 port name too long to open),
//              settings as the settings file gives them (3 bytes, read as for
//              kDialogSettings), system clock (4 bytes, little-endian)
//   operation: one byte, taken modulo the number of operations (Op below),
//              followed by its arguments
#pragma once

#include <array>
#include <cstdint>
#include <deque>

#include "device/Host.h"
#include "device/Rs232cDevice.h"
#include "fuzz/FuzzInput.h"
#include "tests/support/FakeLine.h"

class GuestSession {
public:
    enum Op : std::uint8_t {
        kWriteData,       // value
        kReadData,
        kReadStatus,
        kWriteModeCommand,  // value
        kReadPortB,
        kReadPortC,
        kWritePortC,      // value
        kSetResetPortC,   // value
        kTimer2Changed,   // count, 4 bytes
        kTicks,           // 1 + byte % 16 expiries of the armed timer
        kLateTick,        // a tick the host had begun before the timer was stopped
        kReset,
        kPowerOff,
        kSave,
        kLoadSaved,       // the last saved block (saving one first if none)
        kDialogSettings,  // port (COM1 + bits 0-6 % 10) and lock (bit 7), rate index, format
        kLineSignals,     // modem inputs (bits 4-7: CTS, DSR, RI, DCD); errors (bits 0-2), gone (bit 4),
                          // connecting (bit 5), overstated count of waiting bytes (bits 6-7)
        kLineReceives,    // count (1 + byte % 8), then the bytes
        kPortFaults,      // 2 bytes: bit n fails the nth operation of kFaultable (GuestSession.cpp);
                          // bits 12-14 take the format, the controls, break from the lines opened from then on
        kOpCount,
    };

    explicit GuestSession(FuzzInput& setup);
    ~GuestSession();
    GuestSession(const GuestSession&) = delete;
    GuestSession& operator=(const GuestSession&) = delete;

    void run(FuzzInput& in);
    // The host's load handler with a block of exactly kSnapshotSize bytes;
    // checks the outcome against what the block holds.
    void hostLoads(const std::uint8_t* block);
    void checkInvariants();

    FakeLines lines{FakeLines::Keeping::Bytes};
    Rs232cDevice device;  // after the lines: a line it holds closes while they exist

private:
    class Alerts final : public UserAlert {
    public:
        void show(const char* text) override;
        int shown = 0;
    };
    class Panel final : public PanelFields {
    public:
        void setText(WindowHandle panel, int controlId, const char* text) override;
    };

    // The host timer: one expiry per start, none after a stop or a halt.
    // Checks that the device calls it with its timer lock held and re-arms as
    // a host expects: a period only right after a stop, a start only right
    // after a period.
    class Timer final : public HostTimer {
    public:
        explicit Timer(GuestSession& session) : s_(session) {}
        bool acquire() override;
        void stop() override;
        void setPeriod(std::int32_t units) override;
        void start() override;
        void halt() override;

    private:
        enum class Last { None, Stop, Period, Start, Halt };
        void calledWithTheLock();
        GuestSession& s_;
        Last last_ = Last::None;
    };
    class Interrupts final : public InterruptLine {
    public:
        explicit Interrupts(GuestSession& session) : s_(session) {}
        void raise() override;

    private:
        GuestSession& s_;
    };

    void step(Op op, FuzzInput& in);
    void writeData(std::uint8_t value);
    void readData();
    void readStatus();
    void writeModeCommand(std::uint8_t value);
    void tick();
    void save();

    Alerts alerts_;
    Panel panel_;
    Timer timer_{*this};
    Interrupts interrupts_{*this};
    bool timerRunning_ = false;
    bool timerHalted_ = false;
    bool timerEverStarted_ = false;
    int irqs_ = 0;  // requests during the current operation

    // Bytes the guest wrote that may still reach the line, oldest first: the
    // shift register's, then the holding register's.
    std::deque<std::uint8_t> inFlight_;

    std::array<std::uint8_t, kSnapshotSize> saved_{};
    bool haveSaved_ = false;
};
