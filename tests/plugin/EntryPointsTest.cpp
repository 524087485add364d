// The exports against host records made up here: what DeviceEntry and
// DeviceConect register, in which order and with what, what they refuse, and
// what the registered handlers do to the device and the status panel.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "device/Messages.h"
#include "plugin/Exports.h"
#include "plugin/PluginModule.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FakeHostService.h"
#include "tests/support/FakeLine.h"
#include "tests/support/IniProfile.h"

namespace {
// ---- The host's registration functions, recording what they are given ----

struct Registrations {
    std::vector<std::string> log;
    PortWriteHandler write30 = nullptr, write32 = nullptr, hookWrite35 = nullptr, hookWrite37 = nullptr;
    PortReadHandler read30 = nullptr, read32 = nullptr, hookRead33 = nullptr, hookRead35 = nullptr;
    std::vector<PortReadHandler> constantHooks;
    ResetHandler reset = nullptr;
    SaveHandler save = nullptr;
    LoadHandler load = nullptr;
    PowerOffHandler powerOff = nullptr;
    std::string refuse;  // the hook call ("read 0x33" ...) the host answers with 0
};
Registrations* host = nullptr;

std::string portText(const char* kind, std::uint16_t port)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s 0x%02X", kind, port);
    return text;
}

void HOSTCALL registerPortWrite(std::uint16_t port, PortWriteHandler handler)
{
    host->log.push_back(portText("write", port));
    (port == 0x30 ? host->write30 : host->write32) = handler;
}
void HOSTCALL registerPortRead(std::uint16_t port, PortReadHandler handler)
{
    host->log.push_back(portText("read", port));
    (port == 0x30 ? host->read30 : host->read32) = handler;
}
void HOSTCALL registerReset(ResetHandler handler)
{
    host->log.push_back("reset");
    host->reset = handler;
}
void HOSTCALL registerSave(std::uint32_t size, SaveHandler handler)
{
    host->log.push_back("save " + std::to_string(size));
    host->save = handler;
}
void HOSTCALL registerLoad(LoadHandler handler)
{
    host->log.push_back("load");
    host->load = handler;
}
void HOSTCALL registerPowerOff(PowerOffHandler handler)
{
    host->log.push_back("power-off");
    host->powerOff = handler;
}

std::int32_t hookAnswer(const std::string& call)
{
    host->log.push_back(call);
    return call == host->refuse ? 0 : 1;
}
std::int32_t HOSTCALL hookConstant(std::uint16_t port, PortReadHandler handler)
{
    host->constantHooks.push_back(handler);
    return hookAnswer(portText("zero", port));
}
std::int32_t HOSTCALL hookRead(std::uint16_t port, PortReadHandler handler)
{
    (port == 0x33 ? host->hookRead33 : host->hookRead35) = handler;
    return hookAnswer(portText("read", port));
}
std::int32_t HOSTCALL hookWrite(std::uint16_t port, PortWriteHandler handler)
{
    (port == 0x35 ? host->hookWrite35 : host->hookWrite37) = handler;
    return hookAnswer(portText("write", port));
}

void HOSTCALL otherListener(std::int32_t) {}

// ---- The status panel, noting the device's state at each request ----

class RecordingPanel final : public PanelControl {
public:
    explicit RecordingPanel(Rs232cDevice& device) : device_(device) {}
    void startTimer() override { note("start"); }
    void stopTimer() override { note("stop"); }
    void darkenLeds() override { note("darken"); }
    std::vector<std::string> events;

private:
    // What the request saw: the interrupt enables and port B, and whether any
    // of the device's locks was held.
    void note(const char* what)
    {
        const bool locked = lock_order::heldDepth(LockRank::Device) + lock_order::heldDepth(LockRank::Register) +
                                lock_order::heldDepth(LockRank::Timer) !=
                            0;
        const ChipRegisters chip = device_.inspect().chip;
        char text[64];
        std::snprintf(text, sizeof text, "%s mask=%u portB=0x%02X%s", what, chip.intMask, chip.portB,
                      locked ? " locked" : "");
        events.push_back(text);
    }
    Rs232cDevice& device_;
};

// A message box that must never be shown while a lock is held.
class LockCheckingAlert final : public UserAlert {
public:
    void show(const char* text) override
    {
        shown.push_back(text);
        EXPECT_EQ(lock_order::heldDepth(LockRank::Timer), 0);
        EXPECT_EQ(lock_order::heldDepth(LockRank::Device), 0);
    }
    std::vector<std::string> shown;
};

void failOnLockOrderViolation(LockRank taking, LockRank held)
{
    ADD_FAILURE() << "lock of rank " << static_cast<int>(taking) << " taken while holding " << static_cast<int>(held);
}

class EntryPoints : public ::testing::Test {
protected:
    void SetUp() override
    {
        lock_order::setViolationHandler(failOnLockOrderViolation);
        host = &registrations;
        loadPlugin(Platform{&lines, &alert, &fields}, &panel, &profile);
        SetPath("settings.ini");

        machine.systemClock = 2457600;
        irq.raiseIrq = &FakeHostService::raiseIrq;
        services.machine = &machine;
        services.irqController = &irq;
        services.timerService = &FakeHostService::timerService;
        services.registerPortWrite = &registerPortWrite;
        services.registerPortRead = &registerPortRead;
        services.registerReset = &registerReset;
        services.registerSave = &registerSave;
        services.registerLoad = &registerLoad;
        services.registerPowerOff = &registerPowerOff;

        hooks = PortHookTable{&hookConstant, &hookRead, &hookWrite};
        timer2.channel = &channel;
        devices.portHooks = &hooks;
        devices.timer2 = &timer2;
    }

    void TearDown() override
    {
        device().powerOff();  // a line still open closes while its catalog exists
        unloadPlugin();
        host = nullptr;
        lock_order::setViolationHandler(nullptr);
    }

    Rs232cDevice& device() { return plugin().device; }

    FakeLines lines;
    LockCheckingAlert alert;
    FakePanel fields;
    IniTextProfile profile{"[RS-232C]\nPORT=COM2\nLOCK=0\n"};
    RecordingPanel panel{plugin().device};
    FakeHostService timerHost;
    Registrations registrations;

    MachineInfo machine{};
    IrqController irq{};
    HostServices services{};
    PortHookTable hooks{};
    Timer2Channel channel{};
    Timer2Record timer2{};
    HostDevices devices{};
};

TEST_F(EntryPoints, SetPathLoadsBothCopies)
{
    EXPECT_STREQ(plugin().settingsPath, "settings.ini");
    const DeviceState state = device().inspect();
    EXPECT_STREQ(state.configuredSettings.portName, "COM2");
    EXPECT_EQ(state.appliedSettings.lock, 0);
    EXPECT_EQ(state.appliedSettings.baudRate, 9600);
}

TEST_F(EntryPoints, AnOverlongSettingsPathLeavesNoFileAndTheDefaults)
{
    const std::string tooLong(kSettingsPathSize + 40, 'p');
    SetPath(tooLong.c_str());
    EXPECT_STREQ(plugin().settingsPath, "");
    const DeviceState state = device().inspect();
    EXPECT_STREQ(state.appliedSettings.portName, "COM1");
    EXPECT_EQ(state.configuredSettings.lock, 1);
}

TEST_F(EntryPoints, DeviceEntryTakesTheTimerAndRegistersInOrder)
{
    ASSERT_EQ(DeviceEntry(&services), 1);
    EXPECT_EQ(registrations.log, (std::vector<std::string>{"reset", "write 0x30", "write 0x32", "read 0x30",
                                                           "read 0x32", "save 315", "load", "power-off"}));
    const std::vector<HostTimerCall> timerCalls = timerHost.calls();
    ASSERT_EQ(timerCalls.size(), 1u);
    EXPECT_EQ(timerCalls[0].operation, TimerAcquire);
    EXPECT_EQ(timerCalls[0].value, 0);
    EXPECT_NE(timerCalls[0].callback, nullptr);
    EXPECT_EQ(timerCalls[0].slot, plugin().hostTimer.slot());
    EXPECT_EQ(device().inspect().systemClock, 2457600u);
    EXPECT_TRUE(alert.shown.empty());
}

TEST_F(EntryPoints, TheDevicesTimerAndInterruptReachTheHostsServiceAndLine)
{
    ASSERT_EQ(DeviceEntry(&services), 1);
    const TickCallback tick = timerHost.calls()[0].callback;
    timerHost.clear();

    // A tick stops the timer, then re-arms: stop, the period with the tick
    // callback, start, all on the slot.
    tick();
    const std::vector<HostTimerCall> arm = timerHost.calls();
    ASSERT_EQ(arm.size(), 4u);
    EXPECT_EQ(arm[0].operation, TimerStop);
    EXPECT_EQ(arm[1].operation, TimerStop);
    EXPECT_EQ(arm[1].callback, nullptr);
    EXPECT_EQ(arm[2].operation, TimerSet);
    EXPECT_EQ(arm[2].value, 2666);  // 8 bits at 300 bit/s: no line, no speed computed yet
    EXPECT_EQ(arm[2].callback, tick);
    EXPECT_EQ(arm[3].operation, TimerStart);
    EXPECT_EQ(arm[3].callback, nullptr);
    for (const HostTimerCall& call : arm) EXPECT_EQ(call.slot, plugin().hostTimer.slot());
    EXPECT_TRUE(timerHost.armed());

    // An interrupt goes to line 4.
    device().writePortC(kEnableTxEmpty);  // both transmit registers empty: raises at once
    EXPECT_EQ(timerHost.irqLines(), std::vector<std::int32_t>{4});
}

TEST_F(EntryPoints, AfterUnloadingTheTickCallbackTicksNothing)
{
    ASSERT_EQ(DeviceEntry(&services), 1);
    const TickCallback tick = timerHost.calls()[0].callback;
    unloadPlugin();
    timerHost.clear();
    tick();
    EXPECT_TRUE(timerHost.calls().empty());
    loadPlugin(Platform{&lines, &alert, &fields}, &panel, &profile);  // for TearDown
}

TEST_F(EntryPoints, RegisteredPortHandlersDriveTheUsart)
{
    ASSERT_EQ(DeviceEntry(&services), 1);
    EXPECT_EQ(registrations.read32() & kStatusTxReady, kStatusTxReady);
    registrations.write30('A');
    EXPECT_EQ(registrations.read32() & kStatusTxReady, 0);
    EXPECT_EQ(registrations.read30(), 0);  // nothing received

    lines.setInputs(ModemInputs{true, false, false, false});
    registrations.write32(0x4E);  // asynchronous mode byte: opens the configured line
    EXPECT_EQ(lines.opened(), std::vector<std::string>{"COM2"});
    EXPECT_TRUE(timerHost.armed());
}

TEST_F(EntryPoints, SaveAndLoadHandlersCarryTheBlock)
{
    ASSERT_EQ(DeviceEntry(&services), 1);
    std::array<std::uint8_t, kSnapshotSize> block{};
    registrations.save(block.data());
    EXPECT_EQ(block[0], kSnapshotVersion);
    EXPECT_EQ(registrations.load(block.data()), 1);
    block[0] = 0x7F;  // another version: refused with the message
    EXPECT_EQ(registrations.load(block.data()), 0);
    EXPECT_EQ(alert.shown, std::vector<std::string>{kSnapshotVersionMismatch});
}

TEST_F(EntryPoints, ResetStartsThePanelTimerBeforeResetting)
{
    ASSERT_EQ(DeviceEntry(&services), 1);
    device().writePortC(kEnableRxReady);
    EXPECT_EQ(registrations.reset(), 0);
    EXPECT_EQ(panel.events, std::vector<std::string>{"start mask=1 portB=0x00"});
    EXPECT_EQ(device().inspect().chip.intMask, 0);
    EXPECT_EQ(device().inspect().chip.status, kStatusTxReady | kStatusTxEmpty);
}

TEST_F(EntryPoints, PowerOffStopsTimerThenPowersOffThenDarkensWithNoLockHeld)
{
    ASSERT_EQ(DeviceEntry(&services), 1);
    registrations.reset();
    panel.events.clear();
    timerHost.clear();
    EXPECT_EQ(registrations.powerOff(), 0u);
    EXPECT_EQ(panel.events, (std::vector<std::string>{"stop mask=0 portB=0x00", "darken mask=0 portB=0xE0"}));
    EXPECT_EQ(timerHost.operations(), std::vector<std::int32_t>{TimerHalt});
    EXPECT_EQ(device().inspect().chip.status, kStatusTxEmpty);
}

TEST_F(EntryPoints, HandlersWithoutAPanelStillWork)
{
    plugin().panel = nullptr;
    ASSERT_EQ(DeviceEntry(&services), 1);
    EXPECT_EQ(registrations.reset(), 0);
    EXPECT_EQ(registrations.powerOff(), 0u);
    EXPECT_EQ(device().inspect().chip.portB, kPortBAllOff);
}

TEST_F(EntryPoints, ARefusedTimerShowsTheMessageAndRegistersNothing)
{
    timerHost.setAcquireResult(0);
    EXPECT_EQ(DeviceEntry(&services), 0);
    EXPECT_TRUE(registrations.log.empty());
    EXPECT_EQ(alert.shown, std::vector<std::string>{kTimerAcquireFailed});
    EXPECT_EQ(device().inspect().systemClock, 0u);
}

TEST_F(EntryPoints, DeviceConectHooksTheSystemPortAndTimer2)
{
    ASSERT_EQ(DeviceConect(&devices), 1);
    EXPECT_EQ(registrations.log, (std::vector<std::string>{"zero 0x33", "zero 0x35", "zero 0x37", "read 0x33",
                                                           "read 0x35", "write 0x35", "write 0x37"}));
    ASSERT_EQ(registrations.constantHooks.size(), 3u);
    for (PortReadHandler zero : registrations.constantHooks) EXPECT_EQ(zero(), 0);

    // Each hook reaches its own register.
    EXPECT_EQ(registrations.hookRead33(), kPortBAllOff);
    registrations.hookWrite35(kEnableTxReady);
    EXPECT_EQ(registrations.hookRead35(), kEnableTxReady);
    registrations.hookWrite37(0x03);  // set bit 1, the TxEMPTY enable
    EXPECT_EQ(registrations.hookRead35(), kEnableTxReady | kEnableTxEmpty);

    ASSERT_NE(channel.countChanged, nullptr);
    channel.countChanged(32);
    EXPECT_EQ(device().inspect().timer2Count, 32);
}

TEST_F(EntryPoints, DeviceConectLeavesATakenTimer2SlotAlone)
{
    channel.countChanged = &otherListener;
    EXPECT_EQ(DeviceConect(&devices), 1);
    EXPECT_EQ(channel.countChanged, &otherListener);
    EXPECT_EQ(registrations.log.size(), 7u);

    timer2.channel = nullptr;  // no channel at all: the hooks still go in
    registrations.log.clear();
    EXPECT_EQ(DeviceConect(&devices), 1);
    EXPECT_EQ(registrations.log.size(), 7u);
}

TEST_F(EntryPoints, DeviceConectFailsOnMissingRecordsAndRefusedHooks)
{
    devices.timer2 = nullptr;
    EXPECT_EQ(DeviceConect(&devices), 0);
    EXPECT_TRUE(registrations.log.empty());

    devices.timer2 = &timer2;
    devices.portHooks = nullptr;
    EXPECT_EQ(DeviceConect(&devices), 0);
    EXPECT_NE(channel.countChanged, nullptr) << "the Timer2 slot comes first";
    EXPECT_TRUE(registrations.log.empty());

    devices.portHooks = &hooks;
    registrations.refuse = "read 0x33";
    EXPECT_EQ(DeviceConect(&devices), 0);
    EXPECT_EQ(registrations.log, (std::vector<std::string>{"zero 0x33", "zero 0x35", "zero 0x37", "read 0x33"}));
}

TEST(DeviceVer, WritesTheVersionTextAndItsLength)
{
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(DeviceVer(buffer), 25);
    EXPECT_STREQ(buffer, "RS-232C Interface Ver1.00");
    EXPECT_EQ(buffer[26], '#');
}
}  // namespace
