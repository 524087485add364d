#include "fuzz/FuzzLine.h"

#include <cstring>

#include "device/Messages.h"
#include "device/ReentrantLock.h"
#include "fuzz/FuzzCheck.h"

namespace {
void calledUnderTheDeviceLock()
{
    FUZZ_CHECK(lock_order::heldDepth(LockRank::Device) > 0, "line call without the device lock");
}

class FuzzLine final : public Line {
public:
    FuzzLine(FuzzLines& lines, std::uint32_t features) : lines_(lines), features_(features) {}
    ~FuzzLine() override
    {
        calledUnderTheDeviceLock();
        FUZZ_CHECK(lock_order::heldDepth(LockRank::Register) > 0, "line closed without the register lock");
        lines_.lineOpen = false;
    }

    std::uint32_t features() const override { return features_; }
    LineState state() override { return use(), lines_.state; }
    void prepare() override { use(); }

    bool setFormat(const LineFormat& format) override
    {
        use(kLineHasFormat);
        // What a UART cannot do is refused, as a driver refuses it.
        const bool valid = format.rate != 0 && format.dataBits >= 5 && format.dataBits <= 8 &&
                           static_cast<unsigned>(format.parity) <= 4 && static_cast<unsigned>(format.stopBits) <= 2;
        if (lines_.fails(FuzzLines::kSetFormat) || !valid) return false;
        lines_.format = format;
        return true;
    }
    bool setRate(std::uint32_t rate) override
    {
        use(kLineHasFormat);
        if (lines_.fails(FuzzLines::kSetRate) || rate == 0) return false;
        lines_.format.rate = rate;
        return true;
    }
    bool readFormat(LineFormat& format) override
    {
        use(kLineHasFormat);
        if (lines_.fails(FuzzLines::kReadFormat)) return false;
        format = lines_.format;
        return true;
    }

    bool setControl(Control control, bool) override
    {
        use(control == Control::Break ? kLineHasBreak : kLineHasControls);
        return !lines_.fails(FuzzLines::kSetControl);
    }
    bool readInputs(ModemInputs& inputs) override
    {
        use();
        if (lines_.fails(FuzzLines::kReadInputs)) return false;
        inputs = lines_.inputs;
        return true;
    }
    bool pollErrors(std::uint8_t& errors, std::uint32_t& waiting) override
    {
        use();
        if (lines_.fails(FuzzLines::kPollErrors)) return false;
        errors = lines_.lineErrors;
        lines_.lineErrors = 0;
        waiting = static_cast<std::uint32_t>(lines_.input.size()) + lines_.phantomWaiting;
        return true;
    }

    bool readByte(std::uint8_t& byte) override
    {
        use();
        if (lines_.fails(FuzzLines::kRead) || lines_.input.empty()) return false;
        byte = lines_.lastDelivered = lines_.input.front();
        lines_.input.pop_front();
        ++lines_.readsDelivered;
        return true;
    }
    bool writeByte(std::uint8_t byte) override
    {
        use();
        lines_.written.push_back(byte);  // what the device tried to send counts, taken or not
        return !lines_.fails(FuzzLines::kWrite);
    }
    void discard() override
    {
        use();
        lines_.input.clear();
    }
    void restored() override { use(); }

private:
    void use(std::uint32_t feature = 0) const
    {
        calledUnderTheDeviceLock();
        FUZZ_CHECK((features_ & feature) == feature, "a line asked for a feature it lacks");
    }

    FuzzLines& lines_;
    const std::uint32_t features_;
};
}  // namespace

bool FuzzLines::outside(const char* name) { return std::strcmp(name, "COM10") == 0; }

std::unique_ptr<Line> FuzzLines::open(const char* name)
{
    calledUnderTheDeviceLock();
    FUZZ_CHECK(!lineOpen, "a second line opened while one is open");
    FUZZ_CHECK(strnlen(name, kMaxPortNameLength + 1) <= kMaxPortNameLength, "line name longer than its buffer allows");
    if (fails(kOpen)) return nullptr;
    lineOpen = true;
    ++opens;
    state = LineState::Open;
    return std::make_unique<FuzzLine>(*this, features);
}

bool FuzzLines::reachesOutside(const char* name)
{
    calledUnderTheDeviceLock();
    return outside(name);
}
