#include "tests/support/DeviceFixture.h"

namespace {
class Smoke : public DeviceTest {};

TEST_F(Smoke, ByteTravelsBothWays)
{
    loadSettings(makeSettings("COM1"));
    port.setModemLines(kModemCtsOn | kModemDsrOn);
    programAsync(0x4E, 2457600, 16);  // 2457600 / (16 * 16) = 9600
    EXPECT_EQ(device.computedBaud, 9600u);
    device.writeModeCommand(0x37);
    device.writeData('A');
    port.receive("Z");
    host.fireTimes(3);
    EXPECT_EQ(port.written(), std::vector<std::uint8_t>{'A'});
    EXPECT_EQ(device.readStatus() & kStatusRxReady, kStatusRxReady);
    EXPECT_EQ(device.readData(), 'Z');
}
}  // namespace
