#include "tools/host/HostModel.h"

#include "tools/host/HostMachine.h"

namespace {
HostModel model = HostModel::Emulator;
LONG interruptsSeen = 0;
}  // namespace

void startHost(HostModel chosen, HostTimer::Clock clock)
{
    model = chosen;
    // The emulator's guest runs on the tick's own thread: it looks at the
    // request count at its next step, with no event to set or wait for.
    hostMachine().signalInterrupts(chosen == HostModel::Threaded);
    hostTimer().start(clock, chosen == HostModel::Emulator ? HostTimer::Firing::Caller
                                                          : HostTimer::Firing::OwnThread);
}

void stopHost() { hostTimer().stop(); }

HostModel hostModel() { return model; }

const char* hostModelName(HostModel chosen) { return chosen == HostModel::Emulator ? "emulator" : "threaded"; }

bool letTimePass()
{
    HostTimer& timer = hostTimer();
    if (timer.virtualClock()) return timer.fireNext();
    if (model == HostModel::Emulator)
        timer.fireWhenDue();
    else
        WaitForSingleObject(hostMachine().interruptEvent(), 1);
    return true;
}

bool takeInterrupt()
{
    const LONG count = static_cast<LONG>(hostMachine().interruptCount());
    const bool raised = count != interruptsSeen;
    interruptsSeen = count;
    return raised;
}

void passRealTime(DWORD milliseconds)
{
    const DWORD started = GetTickCount();
    if (model == HostModel::Emulator && !hostTimer().virtualClock()) {
        while (GetTickCount() - started < milliseconds) hostTimer().fireWhenDue();
    } else {
        Sleep(milliseconds);
    }
}
