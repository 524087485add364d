// A message box waits for the user. Every message the device raises must be
// shown, as often as it arises, only once the operation has let go of every
// lock, so that the tick, the guest and the panel run on meanwhile.
#include <chrono>
#include <future>
#include <functional>

#include "tests/support/DeviceFixture.h"

namespace {
class Alerts : public DeviceTest {
protected:
    // While "the user reads" each message: this thread holds no lock of the
    // device, and a tick, which takes all three, runs on another thread.
    void SetUp() override
    {
        DeviceTest::SetUp();
        alert.whileShown([this] {
            for (LockRank rank : {LockRank::Device, LockRank::Register, LockRank::Timer})
                if (lock_order::heldDepth(rank) != 0) ++shownUnderLock;
            std::future<void> tick = std::async(std::launch::async, [this] { device.tick(); });
            if (tick.wait_for(std::chrono::seconds(2)) != std::future_status::ready) ++blockedOthers;
        });
    }

    void expectShownWithoutLocks(const std::function<void()>& operation, const std::vector<std::string>& expected)
    {
        alert.clear();
        operation();
        EXPECT_EQ(alert.shown(), expected);
        EXPECT_EQ(shownUnderLock, 0);
        EXPECT_EQ(blockedOthers, 0);
    }

    int shownUnderLock = 0;
    int blockedOthers = 0;
};

TEST_F(Alerts, OpenFailureAtAModeByteAndAtADirectOpen)
{
    loadSettings(makeSettings("COM1"));
    lines.refuseOpenOf("COM1");
    expectShownWithoutLocks([&] { device.writeModeCommand(0x4E); }, {openFailureText("COM1")});
    expectShownWithoutLocks([&] { EXPECT_EQ(device.openPort(false), 0); }, {openFailureText("COM1")});
}

TEST_F(Alerts, RefusedFormatAtAModeByteAndRefusedRateAtATimer2Change)
{
    loadSettings(makeSettings("COM1"));
    lines.fail(LineOp::SetFormat);
    lines.fail(LineOp::SetRate);
    expectShownWithoutLocks([&] { programAsync(0x4E); }, {kSetCommStateFailed});
    expectShownWithoutLocks([&] { device.timer2Changed(8); }, {kSetCommStateFailed});
}

TEST_F(Alerts, WrongSnapshotVersionAndARestoredLineThatCannotBeOpened)
{
    programmed(0x37, makeSettings("COM2"));
    Block block = save();
    device.powerOff();
    lines.refuseOpenOf("COM2");
    expectShownWithoutLocks([&] { EXPECT_EQ(load(block), 1); }, {openFailureText("COM2")});
    putBlock(block, snapshot_offset::version, 2);
    expectShownWithoutLocks([&] { EXPECT_EQ(load(block), 0); }, {kSnapshotVersionMismatch});
}
}  // namespace
