#include "tests/support/FakeLine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/Messages.h"
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

// The catalog's own lock, taken only when several threads may meet here.
class FakeLines::Guard {
public:
    explicit Guard(const FakeLines& lines) : mutex_(lines.keeping_ == Keeping::Everything ? &lines.mutex_ : nullptr)
    {
        if (mutex_) mutex_->lock();
    }
    ~Guard()
    {
        if (mutex_) mutex_->unlock();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    std::mutex* mutex_;
};

// Counting alone costs an increment: a benchmark measures the device, not this.
template <typename Describe>
inline bool FakeLines::call(LineOp op, Describe describe)
{
    const int index = static_cast<int>(op);
    if (keeping_ == Keeping::Counts) {
        ++counts_[index];
        return (failing_ >> index) & 1;
    }
    return record(op, keeping_ == Keeping::Everything ? std::string(describe()) : std::string());
}

bool FakeLines::record(LineOp op, std::string entry)
{
    const int index = static_cast<int>(op);
    Guard guard(*this);
    ++counts_[index];
    if (keeping_ == Keeping::Everything) log_.push_back(std::move(entry));
    if (lock_order::heldDepth(LockRank::Device) == 0) breach("a line call without the device lock");
    if (op == LineOp::Close && lock_order::heldDepth(LockRank::Register) == 0)
        breach("a line closed without the register lock");
    return (failing_ >> index) & 1;
}

void FakeLines::breach(const char* what)
{
    if (std::find(breaches_.begin(), breaches_.end(), what) == breaches_.end()) breaches_.emplace_back(what);
}

// One open line: every call goes to the catalog's script and records.
class FakeLine final : public Line {
public:
    FakeLine(FakeLines& owner, std::uint32_t features) : lines_(owner), features_(features) {}
    ~FakeLine() override
    {
        lines_.call(LineOp::Close, [] { return "Close"; });
        FakeLines::Guard guard(lines_);
        --lines_.alive_;
    }

    std::uint32_t features() const override { return features_; }
    LineState state() override
    {
        lines_.call(LineOp::State, [] { return "State"; });
        FakeLines::Guard guard(lines_);
        return lines_.state_;
    }
    void prepare() override { lines_.call(LineOp::Prepare, [] { return "Prepare"; }); }
    void service() override { lines_.call(LineOp::Service, [] { return "Service"; }); }

    // What a UART cannot do is refused, as a driver refuses it.
    bool setFormat(const LineFormat& format) override
    {
        uses(kLineHasFormat);
        if (lines_.call(LineOp::SetFormat, [&] { return "SetFormat " + describeFormat(format); })) return false;
        const bool valid = format.rate != 0 && format.dataBits >= 5 && format.dataBits <= 8 &&
                           static_cast<unsigned>(format.parity) <= 4 && static_cast<unsigned>(format.stopBits) <= 2;
        FakeLines::Guard guard(lines_);
        if (valid) lines_.format_ = format;
        return valid;
    }
    bool setRate(std::uint32_t rate) override
    {
        uses(kLineHasFormat);
        if (lines_.call(LineOp::SetRate, [&] { return "SetRate " + std::to_string(rate); })) return false;
        FakeLines::Guard guard(lines_);
        if (rate != 0) lines_.format_.rate = rate;
        return rate != 0;
    }
    bool readFormat(LineFormat& format) override
    {
        uses(kLineHasFormat);
        if (lines_.call(LineOp::ReadFormat, [] { return "ReadFormat"; })) return false;
        FakeLines::Guard guard(lines_);
        format = lines_.format_;
        return true;
    }

    bool setControl(Control control, bool on) override
    {
        static const char* const names[] = {"DTR", "RTS", "Break"};
        uses(control == Control::Break ? kLineHasBreak : kLineHasControls);
        if (lines_.call(LineOp::SetControl, [&] {
                return std::string("SetControl ") + names[static_cast<int>(control)] + (on ? " on" : " off");
            }))
            return false;
        FakeLines::Guard guard(lines_);
        bool& line = control == Control::Dtr   ? lines_.controls_.dtr
                     : control == Control::Rts ? lines_.controls_.rts
                                               : lines_.controls_.sendBreak;
        line = on;
        return true;
    }
    bool readInputs(ModemInputs& inputs) override
    {
        if (lines_.call(LineOp::ReadInputs, [] { return "ReadInputs"; })) return false;
        FakeLines::Guard guard(lines_);
        inputs = lines_.inputs_;
        return true;
    }
    bool pollErrors(std::uint8_t& errors, std::uint32_t& waiting) override
    {
        if (lines_.call(LineOp::PollErrors, [] { return "PollErrors"; })) return false;
        FakeLines::Guard guard(lines_);
        errors = lines_.errors_;
        lines_.errors_ = 0;
        waiting = static_cast<std::uint32_t>(lines_.input_.size()) + lines_.overstated_ + (lines_.forever_ ? 1 : 0);
        return true;
    }

    bool readByte(std::uint8_t& byte) override
    {
        if (lines_.call(LineOp::ReadByte, [] { return "ReadByte"; })) return false;
        if (lines_.forever_) {
            byte = lines_.foreverByte_;
            return true;
        }
        FakeLines::Guard guard(lines_);
        if (lines_.input_.empty()) return false;
        byte = lines_.input_.front();
        lines_.input_.pop_front();
        if (lines_.keeping_ != FakeLines::Keeping::Counts) lines_.delivered_.push_back(static_cast<char>(byte));
        return true;
    }
    bool writeByte(std::uint8_t byte) override
    {
        const bool failing = lines_.call(LineOp::WriteByte, [&] {
            char entry[32];
            std::snprintf(entry, sizeof entry, "WriteByte 0x%02X", byte);
            return std::string(entry);
        });
        if (lines_.keeping_ == FakeLines::Keeping::Counts) return !failing;
        FakeLines::Guard guard(lines_);
        lines_.written_.push_back(static_cast<char>(byte));
        return !failing;
    }
    void discard() override
    {
        lines_.call(LineOp::Discard, [] { return "Discard"; });
        FakeLines::Guard guard(lines_);
        lines_.input_.clear();
    }
    void restored() override { lines_.call(LineOp::Restored, [] { return "Restored"; }); }

private:
    void uses(std::uint32_t feature)
    {
        if ((features_ & feature) == feature) return;
        FakeLines::Guard guard(lines_);
        lines_.breach("a line asked for a feature it lacks");
    }

    FakeLines& lines_;
    const std::uint32_t features_;
};

FakeLines::FakeLines(Keeping keeping) : keeping_(keeping), format_{9600, 8, Parity::None, StopBits::One, false} {}

std::unique_ptr<Line> FakeLines::open(const char* name)
{
    const bool failing = call(LineOp::Open, [&] { return std::string("Open ") + name; });
    Guard guard(*this);
    if (keeping_ != Keeping::Counts) {
        if (alive_ > 0) breach("a second line opened while one is open");
        if (strnlen(name, kMaxPortNameLength + 1) > kMaxPortNameLength) breach("a line name longer than the settings hold");
    }
    if (failing || refused_.count(name)) return nullptr;
    if (keeping_ != Keeping::Counts) opened_.emplace_back(name);
    ++alive_;
    controls_ = Controls{};
    return std::make_unique<FakeLine>(*this, features_);
}

bool FakeLines::reachesOutside(const char* name)
{
    call(LineOp::ReachesOutside, [&] { return std::string("ReachesOutside ") + name; });
    return marksOutside(name);
}

bool FakeLines::marksOutside(const char* name) const
{
    Guard guard(*this);
    const std::string text(name);
    return std::any_of(outside_.begin(), outside_.end(),
                       [&](const std::string& prefix) { return text.rfind(prefix, 0) == 0; });
}

void FakeLines::setInputs(const ModemInputs& inputs)
{
    Guard guard(*this);
    inputs_ = inputs;
}

void FakeLines::addErrors(std::uint8_t errors)
{
    Guard guard(*this);
    errors_ |= errors;
}

void FakeLines::receive(const std::string& bytes)
{
    Guard guard(*this);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
}

void FakeLines::receiveForever(std::uint8_t byte)
{
    Guard guard(*this);
    forever_ = true;
    foreverByte_ = byte;
}

void FakeLines::overstateWaiting(std::uint32_t extra)
{
    Guard guard(*this);
    overstated_ = extra;
}

void FakeLines::fail(LineOp op, bool failing)
{
    Guard guard(*this);
    const std::uint32_t bit = 1u << static_cast<int>(op);
    failing_ = failing ? failing_ | bit : failing_ & ~bit;
}

void FakeLines::refuseOpenOf(const std::string& name)
{
    Guard guard(*this);
    refused_.insert(name);
}

void FakeLines::setFeatures(std::uint32_t features)
{
    Guard guard(*this);
    features_ = features;
}

void FakeLines::setFormat(const LineFormat& format)
{
    Guard guard(*this);
    format_ = format;
}

void FakeLines::setState(LineState state)
{
    Guard guard(*this);
    state_ = state;
}

void FakeLines::reachOutsideWith(const std::string& prefix)
{
    Guard guard(*this);
    outside_.push_back(prefix);
}

std::vector<std::string> FakeLines::log() const
{
    Guard guard(*this);
    return log_;
}

std::vector<std::string> FakeLines::logSince(std::size_t first) const
{
    Guard guard(*this);
    return std::vector<std::string>(log_.begin() + static_cast<std::ptrdiff_t>(std::min(first, log_.size())), log_.end());
}

std::size_t FakeLines::callCount() const
{
    Guard guard(*this);
    std::size_t total = 0;
    for (std::size_t count : counts_) total += count;
    return total;
}

std::size_t FakeLines::countOf(LineOp op) const
{
    Guard guard(*this);
    return counts_[static_cast<int>(op)];
}

void FakeLines::clearLog()
{
    Guard guard(*this);
    log_.clear();
    counts_.fill(0);
}

std::vector<std::string> FakeLines::opened() const
{
    Guard guard(*this);
    return opened_;
}

int FakeLines::linesAlive() const
{
    Guard guard(*this);
    return alive_;
}

std::string FakeLines::written() const
{
    Guard guard(*this);
    return written_;
}

std::string FakeLines::delivered() const
{
    Guard guard(*this);
    return delivered_;
}

void FakeLines::clearBytes()
{
    Guard guard(*this);
    written_.clear();
    delivered_.clear();
}

std::size_t FakeLines::pendingInput() const
{
    Guard guard(*this);
    return input_.size();
}

LineFormat FakeLines::currentFormat() const
{
    Guard guard(*this);
    return format_;
}

ModemInputs FakeLines::inputs() const
{
    Guard guard(*this);
    return inputs_;
}

bool FakeLines::fails(LineOp op) const
{
    Guard guard(*this);
    return (failing_ >> static_cast<int>(op)) & 1;
}

FakeLines::Controls FakeLines::controls() const
{
    Guard guard(*this);
    return controls_;
}

std::vector<std::string> FakeLines::breaches() const
{
    Guard guard(*this);
    return breaches_;
}
