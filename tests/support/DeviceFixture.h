// A freshly constructed device wired to a scripted port, a fake host timer and
// interrupt line, a recording message box and panel. Any lock taken out of
// order during a test fails it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/Rs232cDevice.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FakeSerialPorts.h"

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

class DeviceTest : public ::testing::Test {
protected:
    // A panel handle the device writes its figures to (never dereferenced).
    static WindowHandle fakePanelWindow() { return reinterpret_cast<WindowHandle>(static_cast<std::uintptr_t>(0x1234)); }

    void SetUp() override
    {
        lock_order::setViolationHandler(failOnLockOrderViolation);
        device.construct(Platform{&port, &alert, &panel});
        host.attach(device);
    }

    void TearDown() override
    {
        device.destroy();
        lock_order::setViolationHandler(nullptr);
    }

    // The settings file was read (SetPath): both copies hold `settings`.
    void loadSettings(const LineSettings& settings) { device.storeSettings(settings, true); }

    // The panel exists (FastGUI has run).
    void showPanel()
    {
        ScopedLock lock(device.deviceLock);
        device.panel = fakePanelWindow();
    }

    // An asynchronous mode byte taken with the given clock and Timer2 count,
    // leaving the device expecting commands with the port open.
    void programAsync(std::uint8_t mode, std::uint32_t clock, std::int32_t count)
    {
        device.systemClock = clock;
        device.timer2Changed(count);
        device.writeModeCommand(mode);
    }

    FakeSerialPorts port;
    FakeAlert alert;
    FakePanel panel;
    FakeHost host;
    Rs232cDevice device;
};
