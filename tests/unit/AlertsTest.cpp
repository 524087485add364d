// A message box waits for the user. Every message the device raises must be
// shown, as often as it arises, only once the operation has let go of every
// lock, so that the tick, the guest and the panel run on meanwhile.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "tests/unit/SerialEngineTest.h"

namespace {
// Records each text and checks, while "the user reads it", that this thread
// holds no lock of the device and that another thread can take all three.
class LockFreeAlert final : public UserAlert {
public:
    explicit LockFreeAlert(Rs232cDevice& device) : device_(device) {}
    ~LockFreeAlert() override
    {
        for (std::thread& thread : others_) thread.join();
    }

    void show(const char* text) override
    {
        shown.emplace_back(text);
        for (LockRank rank : {LockRank::Device, LockRank::Register, LockRank::Timer})
            if (lock_order::heldDepth(rank) != 0) ++shownUnderLock;

        auto taken = std::make_shared<std::atomic<bool>>(false);
        others_.emplace_back([this, taken] {
            ScopedLock device(device_.deviceLock);
            ScopedLock registers(device_.registerLock);
            ScopedLock timer(device_.timerLock);
            *taken = true;
        });
        for (int i = 0; i < 200 && !*taken; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!*taken) ++blockedOthers;
    }

    std::vector<std::string> shown;
    int shownUnderLock = 0;
    int blockedOthers = 0;

private:
    Rs232cDevice& device_;
    std::vector<std::thread> others_;
};

class Alerts : public EngineTest {
protected:
    void expectShownWithoutLocks(const std::function<void()>& operation, const std::vector<std::string>& expected)
    {
        LockFreeAlert checking(device);
        device.platform.alert = &checking;
        operation();
        device.platform.alert = &alert;
        EXPECT_EQ(checking.shown, expected);
        EXPECT_EQ(checking.shownUnderLock, 0);
        EXPECT_EQ(checking.blockedOthers, 0);
    }
};

TEST_F(Alerts, OpenFailureAtAModeByte)
{
    loadSettings(makeSettings("COM1"));
    port.failOpenOf("//./COM1");
    expectShownWithoutLocks([&] { device.writeModeCommand(0x4E); }, {openFailureText("COM1")});
}

TEST_F(Alerts, OpenFailureWhenThePortIsOpenedDirectly)
{
    port.failOpenOf("//./");
    expectShownWithoutLocks([&] { EXPECT_EQ(device.openPort(false), 0); }, {openFailureText("")});
}

TEST_F(Alerts, RefusedSettingsAtAModeByteAndATimer2Change)
{
    loadSettings(makeSettings("COM1"));
    port.failOperation(PortOp::SetState);
    expectShownWithoutLocks([&] { programAsync(0x4E, kClock, 16); }, {kSetCommStateFailed});
    expectShownWithoutLocks([&] { device.timer2Changed(8); }, {kSetCommStateFailed});
}

TEST_F(Alerts, WrongSnapshotVersion)
{
    std::uint8_t block[kSnapshotSize];
    device.saveSnapshot(block);
    block[snapshot_offset::version] = 2;
    expectShownWithoutLocks([&] { EXPECT_EQ(device.loadSnapshot(block), 0); }, {kSnapshotVersionMismatch});
}

TEST_F(Alerts, RestoreOfAPortThatCannotBeOpened)
{
    programmed(0x37, makeSettings("COM2"));
    std::uint8_t block[kSnapshotSize];
    device.saveSnapshot(block);
    device.powerOff();
    port.failOpenOf("//./COM2");
    expectShownWithoutLocks([&] { EXPECT_EQ(device.loadSnapshot(block), 1); },
                            std::vector<std::string>{openFailureText("COM2")});
}
}  // namespace
