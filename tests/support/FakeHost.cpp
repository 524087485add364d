#include "tests/support/FakeHost.h"

namespace {
FakeHost* activeHost = nullptr;
}  // namespace

FakeHost::FakeHost() { activeHost = this; }

FakeHost::~FakeHost()
{
    if (activeHost == this) activeHost = nullptr;
}

void FakeHost::attach(Rs232cDevice& device)
{
    ScopedLock lock(device.deviceLock);
    device.timerService = &FakeHost::timerService;
    device.raiseIrq = &FakeHost::raiseIrq;
}

std::uint8_t HOSTCALL FakeHost::timerService(std::uint32_t* slot, std::int32_t operation, std::int32_t value,
                                             TickCallback callback)
{
    FakeHost* host = activeHost;
    if (!host) return 0;
    std::lock_guard<std::recursive_mutex> guard(host->mutex_);
    host->calls_.push_back(TimerCall{operation, value, callback, slot});
    switch (operation) {
    case TimerAcquire: return host->acquireResult_;
    case TimerSet:
        host->pending_ = callback;
        host->period_ = value;
        break;
    case TimerStart: host->running_ = host->pending_ != nullptr; break;
    case TimerStop:
    case TimerHalt: host->running_ = false; break;
    default: break;
    }
    return 1;
}

void HOSTCALL FakeHost::raiseIrq(std::int32_t line)
{
    FakeHost* host = activeHost;
    if (!host) return;
    std::lock_guard<std::recursive_mutex> guard(host->mutex_);
    host->irqs_.push_back(line);
}

std::vector<TimerCall> FakeHost::timerCalls() const
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return calls_;
}

std::vector<std::int32_t> FakeHost::timerOperations() const
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    std::vector<std::int32_t> operations;
    for (const TimerCall& call : calls_) operations.push_back(call.operation);
    return operations;
}

std::vector<std::int32_t> FakeHost::periods() const
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    std::vector<std::int32_t> values;
    for (const TimerCall& call : calls_)
        if (call.operation == TimerSet) values.push_back(call.value);
    return values;
}

void FakeHost::clearTimerCalls()
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    calls_.clear();
}

bool FakeHost::running() const
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return running_;
}

std::int32_t FakeHost::currentPeriod() const
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return period_;
}

bool FakeHost::fire()
{
    TickCallback callback;
    {
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        if (!running_ || !pending_) return false;
        running_ = false;  // one expiry per start
        callback = pending_;
    }
    callback();
    return true;
}

int FakeHost::fireTimes(int count)
{
    int fired = 0;
    while (fired < count && fire()) ++fired;
    return fired;
}

int FakeHost::irqCount() const
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return static_cast<int>(irqs_.size());
}

std::vector<std::int32_t> FakeHost::irqLines() const
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return irqs_;
}

void FakeHost::clearIrqs()
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    irqs_.clear();
}

void FakeAlert::show(const char* text)
{
    std::lock_guard<std::mutex> guard(mutex_);
    shown_.emplace_back(text);
}

std::vector<std::string> FakeAlert::shown() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return shown_;
}

void FakeAlert::clear()
{
    std::lock_guard<std::mutex> guard(mutex_);
    shown_.clear();
}

void FakePanel::setText(WindowHandle, int controlId, const char* text)
{
    std::lock_guard<std::mutex> guard(mutex_);
    writes_.emplace_back(controlId, text);
}

std::vector<std::pair<int, std::string>> FakePanel::writes() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return writes_;
}

std::string FakePanel::latest(int controlId) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto it = writes_.rbegin(); it != writes_.rend(); ++it)
        if (it->first == controlId) return it->second;
    return "";
}

void FakePanel::clear()
{
    std::lock_guard<std::mutex> guard(mutex_);
    writes_.clear();
}
