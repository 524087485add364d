#include "tests/support/FakeHost.h"

void FakeHost::attach(Rs232cDevice& device)
{
    {
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        device_ = &device;
    }
    device.lendHost(HostLinks{this, this});
}

bool FakeHost::acquire()
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    calls_.push_back(TimerCall{TimerOp::Acquire, 0});
    return acquireResult_;
}

void FakeHost::stop()
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    calls_.push_back(TimerCall{TimerOp::Stop, 0});
    running_ = false;
}

void FakeHost::setPeriod(std::int32_t units)
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    calls_.push_back(TimerCall{TimerOp::SetPeriod, units});
    period_ = units;
    periodSet_ = true;
}

void FakeHost::start()
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    calls_.push_back(TimerCall{TimerOp::Start, 0});
    running_ = periodSet_;
}

void FakeHost::halt()
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    calls_.push_back(TimerCall{TimerOp::Halt, 0});
    running_ = false;
}

void FakeHost::raise()
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    ++irqs_;
}

std::vector<TimerCall> FakeHost::timerCalls() const
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return calls_;
}

std::vector<TimerOp> FakeHost::timerOps() const
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    std::vector<TimerOp> ops;
    for (const TimerCall& call : calls_) ops.push_back(call.op);
    return ops;
}

std::vector<std::int32_t> FakeHost::periods() const
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    std::vector<std::int32_t> values;
    for (const TimerCall& call : calls_)
        if (call.op == TimerOp::SetPeriod) values.push_back(call.period);
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
    Rs232cDevice* device;
    {
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        if (!running_ || !device_) return false;
        running_ = false;  // one expiry per start
        device = device_;
    }
    device->tick();
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
    return irqs_;
}

void FakeHost::clearIrqs()
{
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    irqs_ = 0;
}

void FakeAlert::show(const char* text)
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shown_.emplace_back(text);
    }
    if (look_) look_();
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
