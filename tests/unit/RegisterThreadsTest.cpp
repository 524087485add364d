// The guest, the timer and the status panel reach the registers from their
// own threads. Driving every register operation from two threads at once lets
// the sanitizers and the lock-order check see the locks under contention.
#include <thread>

#include "tests/support/DeviceFixture.h"

namespace {
class RegisterThreads : public DeviceTest {};

void driveRegisters(Rs232cDevice& device, unsigned seed, bool alsoTick)
{
    for (unsigned i = 0; i < 3000; ++i) {
        const std::uint8_t value = static_cast<std::uint8_t>(i * 37 + seed);
        device.writeData(value);
        device.readData();
        device.readStatus();
        device.readPortB();
        device.readPortC();
        device.writePortC(value);
        device.setResetPortC(value % 8);
        device.refreshLineStatus();
        if (i % 64 == 0) device.writeModeCommand(0x37);  // error reset, both directions on
        if (alsoTick) device.tick();
    }
    // Every operation gave back every lock it took on this thread.
    for (LockRank rank : {LockRank::Device, LockRank::Register, LockRank::Timer})
        EXPECT_EQ(lock_order::heldDepth(rank), 0);
}

TEST_F(RegisterThreads, EveryOperationFromTwoThreadsAtOnce)
{
    programmed(0x37);
    showPanel();
    lines.receive(std::string(500, 'x'));
    lines.addErrors(kLineErrorParity);

    std::thread guest(driveRegisters, std::ref(device), 1u, false);
    std::thread timerAndPanel(driveRegisters, std::ref(device), 2u, true);
    guest.join();
    timerAndPanel.join();

    // The registers still make sense and data moved both ways.
    EXPECT_LE(device.readPortC(), 0x07);
    EXPECT_EQ(device.readPortB(), 0xA0);
    EXPECT_FALSE(lines.written().empty());
    EXPECT_LT(lines.pendingInput(), 500u);
    EXPECT_EQ(chip().programState, kExpectCommand);
}
}  // namespace
