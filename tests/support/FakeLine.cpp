#include "tests/support/FakeLine.h"

#include <algorithm>
#include <cstdio>

#include "device/ReentrantLock.h"

std::string describeFormat(const LineFormat& format)
{
    static const char parity[] = "NOEMS";
    static const char* const stop[] = {"1", "1.5", "2"};
    const unsigned parityCode = static_cast<unsigned>(format.parity);
    const unsigned stopCode = static_cast<unsigned>(format.stopBits);
    char text[64];
    std::snprintf(text, sizeof text, "%u %u %c %s%s", static_cast<unsigned>(format.rate),
                  static_cast<unsigned>(format.dataBits), parityCode < 5 ? parity[parityCode] : '?',
                  stopCode < 3 ? stop[stopCode] : "?", format.checkParity ? " checked" : "");
    return text;
}

// One open line: every call goes to the catalog's log and script.
class FakeLine final : public Line {
public:
    FakeLines& lines;
    const std::uint32_t features_;

    FakeLine(FakeLines& owner, std::uint32_t features) : lines(owner), features_(features) {}
    ~FakeLine() override
    {
        lines.call(LineOp::Close, "Close");
        std::lock_guard<std::mutex> guard(lines.mutex_);
        --lines.alive_;
    }

    std::uint32_t features() const override { return features_; }

    LineState state() override
    {
        lines.call(LineOp::State, "State");
        std::lock_guard<std::mutex> guard(lines.mutex_);
        return lines.state_;
    }
    void prepare() override { lines.call(LineOp::Prepare, "Prepare"); }

    bool setFormat(const LineFormat& format) override
    {
        if (lines.call(LineOp::SetFormat, "SetFormat " + describeFormat(format))) return false;
        std::lock_guard<std::mutex> guard(lines.mutex_);
        lines.format_ = format;
        return true;
    }
    bool setRate(std::uint32_t rate) override
    {
        if (lines.call(LineOp::SetRate, "SetRate " + std::to_string(rate))) return false;
        std::lock_guard<std::mutex> guard(lines.mutex_);
        lines.format_.rate = rate;
        return true;
    }
    bool readFormat(LineFormat& format) override
    {
        if (lines.call(LineOp::ReadFormat, "ReadFormat")) return false;
        std::lock_guard<std::mutex> guard(lines.mutex_);
        format = lines.format_;
        return true;
    }

    bool setControl(Control control, bool on) override
    {
        static const char* const names[] = {"DTR", "RTS", "Break"};
        if (lines.call(LineOp::SetControl,
                       std::string("SetControl ") + names[static_cast<int>(control)] + (on ? " on" : " off")))
            return false;
        std::lock_guard<std::mutex> guard(lines.mutex_);
        bool& line = control == Control::Dtr ? lines.controls_.dtr
                     : control == Control::Rts ? lines.controls_.rts
                                               : lines.controls_.sendBreak;
        line = on;
        return true;
    }
    bool readInputs(ModemInputs& inputs) override
    {
        if (lines.call(LineOp::ReadInputs, "ReadInputs")) return false;
        std::lock_guard<std::mutex> guard(lines.mutex_);
        inputs = lines.inputs_;
        return true;
    }
    bool pollErrors(std::uint8_t& errors, std::uint32_t& waiting) override
    {
        if (lines.call(LineOp::PollErrors, "PollErrors")) return false;
        std::lock_guard<std::mutex> guard(lines.mutex_);
        errors = lines.errors_;
        lines.errors_ = 0;
        waiting = static_cast<std::uint32_t>(lines.input_.size());
        return true;
    }

    bool readByte(std::uint8_t& byte) override
    {
        if (lines.call(LineOp::ReadByte, "ReadByte")) return false;
        std::lock_guard<std::mutex> guard(lines.mutex_);
        if (lines.input_.empty()) return false;
        byte = lines.input_.front();
        lines.input_.pop_front();
        return true;
    }
    bool writeByte(std::uint8_t byte) override
    {
        char entry[32];
        std::snprintf(entry, sizeof entry, "WriteByte 0x%02X", byte);
        if (lines.call(LineOp::WriteByte, entry)) return false;
        std::lock_guard<std::mutex> guard(lines.mutex_);
        lines.written_ += static_cast<char>(byte);
        return true;
    }
    void discard() override
    {
        lines.call(LineOp::Discard, "Discard");
        std::lock_guard<std::mutex> guard(lines.mutex_);
        lines.input_.clear();
    }
    void restored() override { lines.call(LineOp::Restored, "Restored"); }
};

FakeLines::FakeLines() : format_{9600, 8, Parity::None, StopBits::One, false} {}

void FakeLines::checkLocks(LineOp op)
{
    const bool deviceHeld = lock_order::heldDepth(LockRank::Device) > 0;
    const bool registerHeld = lock_order::heldDepth(LockRank::Register) > 0;
    if (!deviceHeld || (op == LineOp::Close && !registerHeld)) ++callsWithoutLocks_;
}

bool FakeLines::call(LineOp op, const std::string& entry)
{
    std::lock_guard<std::mutex> guard(mutex_);
    checkLocks(op);
    log_.push_back(entry);
    ops_.push_back(op);
    return failing_.count(op) != 0;
}

std::unique_ptr<Line> FakeLines::open(const char* name)
{
    const bool failing = call(LineOp::Open, std::string("Open ") + name);
    std::lock_guard<std::mutex> guard(mutex_);
    if (failing || refused_.count(name)) return nullptr;
    opened_.emplace_back(name);
    ++alive_;
    controls_ = Controls{};
    return std::make_unique<FakeLine>(*this, features_);
}

bool FakeLines::reachesOutside(const char* name)
{
    call(LineOp::ReachesOutside, std::string("ReachesOutside ") + name);
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string text(name);
    return std::any_of(outside_.begin(), outside_.end(),
                       [&](const std::string& prefix) { return text.rfind(prefix, 0) == 0; });
}

void FakeLines::setInputs(const ModemInputs& inputs)
{
    std::lock_guard<std::mutex> guard(mutex_);
    inputs_ = inputs;
}

void FakeLines::addErrors(std::uint8_t errors)
{
    std::lock_guard<std::mutex> guard(mutex_);
    errors_ |= errors;
}

void FakeLines::receive(const std::string& bytes)
{
    std::lock_guard<std::mutex> guard(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
}

void FakeLines::fail(LineOp op, bool failing)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (failing)
        failing_.insert(op);
    else
        failing_.erase(op);
}

void FakeLines::refuseOpenOf(const std::string& name)
{
    std::lock_guard<std::mutex> guard(mutex_);
    refused_.insert(name);
}

void FakeLines::setFeatures(std::uint32_t features)
{
    std::lock_guard<std::mutex> guard(mutex_);
    features_ = features;
}

void FakeLines::setFormat(const LineFormat& format)
{
    std::lock_guard<std::mutex> guard(mutex_);
    format_ = format;
}

void FakeLines::setState(LineState state)
{
    std::lock_guard<std::mutex> guard(mutex_);
    state_ = state;
}

void FakeLines::reachOutsideWith(const std::string& prefix)
{
    std::lock_guard<std::mutex> guard(mutex_);
    outside_.push_back(prefix);
}

std::vector<std::string> FakeLines::log() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return log_;
}

std::vector<std::string> FakeLines::logSince(std::size_t first) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return std::vector<std::string>(log_.begin() + static_cast<std::ptrdiff_t>(std::min(first, log_.size())), log_.end());
}

std::size_t FakeLines::callCount() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return log_.size();
}

std::size_t FakeLines::countOf(LineOp op) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<std::size_t>(std::count(ops_.begin(), ops_.end(), op));
}

void FakeLines::clearLog()
{
    std::lock_guard<std::mutex> guard(mutex_);
    log_.clear();
    ops_.clear();
}

std::vector<std::string> FakeLines::opened() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return opened_;
}

int FakeLines::linesAlive() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return alive_;
}

std::string FakeLines::written() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return written_;
}

std::size_t FakeLines::pendingInput() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return input_.size();
}

LineFormat FakeLines::currentFormat() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return format_;
}

FakeLines::Controls FakeLines::controls() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return controls_;
}

int FakeLines::callsWithoutLocks() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return callsWithoutLocks_;
}
