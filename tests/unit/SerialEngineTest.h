// Shared by the tests of the port binding, the programming sequence, the
// character timer and the save block: a device with COM1 configured and a
// clock that gives 9600 baud for a Timer2 count of 16 at factor x16.
#pragma once

#include <string>
#include <vector>

#include "device/Messages.h"
#include "tests/support/DeviceFixture.h"

constexpr std::uint32_t kClock = 2457600;  // / (16 * 16) = 9600

// The Shift-JIS text that follows the port name in the open-failure message.
inline std::string openFailureText(const std::string& name) { return name + kOpenFailedSuffix; }

class EngineTest : public DeviceTest {
protected:
    // The port calls made since the last mark(), one readable line each.
    void mark() { mark_ = port.callCount(); }
    std::vector<std::string> logSinceMark() const { return port.logSince(mark_); }
    // The escapes since the last mark(), sorted: the lines asked for, in any order.
    std::vector<std::string> escapesSinceMark() const { return port.escapesSince(mark_); }

    // COM1 unlocked, CTS and DSR on, mode 0x4E at 9600, then `command`.
    void programmed(std::uint8_t command = 0x37, const LineSettings& settings = makeSettings("COM1"))
    {
        loadSettings(settings);
        port.setModemLines(kModemCtsOn | kModemDsrOn);
        programAsync(0x4E, kClock, 16);
        device.writeModeCommand(command);
    }

private:
    std::size_t mark_ = 0;
};
