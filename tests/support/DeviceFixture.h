// A freshly constructed device wired to the scripted line kind, a fake host
// timer and interrupt line, a recording message box and panel. Any lock taken
// out of order, and any line call made without the device's locks, fails the
// test.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/Messages.h"
#include "device/Rs232cDevice.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FakeLine.h"

constexpr std::uint32_t kClock = 2457600;  // / (16 * 16) = 9600

inline void failOnLockOrderViolation(LockRank taking, LockRank held)
{
    ADD_FAILURE() << "lock of rank " << static_cast<int>(taking) << " taken while holding rank "
                  << static_cast<int>(held);
}

// Settings as the settings file would give them; unlocked unless asked.
inline LineSettings makeSettings(const std::string& port = "COM1", int lock = 0, int baudRate = 9600, int parity = 0,
                                 int stopBits = 0, int byteSize = 8)
{
    LineSettings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.lock = lock;
    settings.baudRate = baudRate;
    settings.parity = parity;
    settings.stopBits = stopBits;
    settings.byteSize = byteSize;
    std::strncpy(settings.portName, port.c_str(), sizeof settings.portName - 1);
    return settings;
}

// The far end's signals.
constexpr ModemInputs kNoInputs{false, false, false, false};
constexpr ModemInputs kCtsOn{true, false, false, false};
constexpr ModemInputs kCtsDsrOn{true, true, false, false};

// The Shift-JIS text that follows the port name in the open-failure message.
inline std::string openFailureText(const std::string& name) { return name + kOpenFailedSuffix; }

using Block = std::array<std::uint8_t, kSnapshotSize>;

inline void putBlock(Block& block, std::uint32_t offset, std::uint32_t value) { putBlock32(block.data() + offset, value); }

class DeviceTest : public ::testing::Test {
protected:
    // A panel handle the device writes its figures to (never dereferenced).
    static WindowHandle fakePanelWindow() { return reinterpret_cast<WindowHandle>(static_cast<std::uintptr_t>(0x1234)); }

    void SetUp() override
    {
        lock_order::setViolationHandler(failOnLockOrderViolation);
        device.construct(Platform{&lines, &alert, &panel});
        host.attach(device);
    }

    void TearDown() override
    {
        EXPECT_EQ(lines.breaches(), std::vector<std::string>{}) << "the device broke a rule of the line seam";
        device.destroy();
        lock_order::setViolationHandler(nullptr);
    }

    // The settings file was read (SetPath): both copies hold `settings`.
    void loadSettings(const LineSettings& settings) { device.storeSettings(settings, true); }
    // The panel exists (FastGUI has run).
    void showPanel() { device.setPanel(fakePanelWindow()); }

    // An asynchronous mode byte taken with the given clock and Timer2 count.
    void programAsync(std::uint8_t mode, std::uint32_t clock = kClock, std::int32_t count = 16)
    {
        device.setSystemClock(clock);
        device.timer2Changed(count);
        device.writeModeCommand(mode);
    }

    // COM1 unlocked, CTS and DSR on, mode 0x4E at 9600, then `command`.
    void programmed(std::uint8_t command = 0x37, const LineSettings& settings = makeSettings("COM1"))
    {
        loadSettings(settings);
        lines.setInputs(kCtsDsrOn);
        programAsync(0x4E);
        device.writeModeCommand(command);
    }

    DeviceState state() { return device.inspect(); }
    ChipRegisters chip() { return device.inspect().chip; }

    Block save()
    {
        Block block{};
        device.saveSnapshot(block.data());
        return block;
    }
    int load(const Block& block) { return device.loadSnapshot(block.data()); }

    // Puts register bytes in place the only way a guest's machine can: by a
    // restore, of a block saved without the line in use, so that the line is
    // left as it is (and portReady reads 0).
    void restoreRegisters(const std::function<void(ChipRegisters&)>& edit)
    {
        Block block = save();
        ChipRegisters registers;
        std::memcpy(&registers, block.data() + snapshot_offset::chip, sizeof registers);
        edit(registers);
        registers.portReady = 0;
        std::memcpy(block.data() + snapshot_offset::chip, &registers, sizeof registers);
        ASSERT_EQ(load(block), 1);
    }

    // The line calls since the last mark().
    void mark() { mark_ = lines.callCount(); }
    std::vector<std::string> logSinceMark() const { return lines.logSince(mark_); }

    FakeLines lines;
    FakeAlert alert;
    FakePanel panel;
    FakeHost host;
    Rs232cDevice device;  // after the lines: a line it holds closes while they exist

private:
    std::size_t mark_ = 0;
};
