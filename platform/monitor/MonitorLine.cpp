#include "platform/monitor/MonitorLine.h"

#include <cstring>

#include "platform/monitor/PppFrames.h"

namespace {
bool sameFormat(const LineFormat& a, const LineFormat& b)
{
    return a.rate == b.rate && a.dataBits == b.dataBits && a.parity == b.parity && a.stopBits == b.stopBits;
}

std::uint8_t inputBits(const ModemInputs& inputs)
{
    return static_cast<std::uint8_t>((inputs.cts ? kInputCts : 0) | (inputs.dsr ? kInputDsr : 0) |
                                     (inputs.ring ? kInputRing : 0) | (inputs.dcd ? kInputDcd : 0));
}
}  // namespace

MonitorLine::MonitorLine(std::unique_ptr<Line> line, std::shared_ptr<MonitorSession> session, std::string name)
    : line_(std::move(line)), session_(std::move(session)), name_(std::move(name))
{
    if (auto* reporting = dynamic_cast<ReportsLineEvents*>(line_.get())) reporting->reportEventsTo(this);
}

MonitorLine::~MonitorLine()
{
    line_.reset();
    session_->close(name_ + ": " + std::to_string(sent_) + " bytes sent, " + std::to_string(received_) +
                    " received");
}

std::uint32_t MonitorLine::features() const { return line_->features(); }

LineState MonitorLine::state()
{
    const LineState state = line_->state();
    // A line is open when it opens; only another state is news at first.
    const int now = static_cast<int>(state);
    if (now != state_ && !(state_ == -1 && state == LineState::Open))
        session_->record(RecordKind::State, static_cast<std::uint8_t>(state));
    state_ = now;
    return state;
}

void MonitorLine::prepare() { line_->prepare(); }

void MonitorLine::recordFormat(RecordKind kind, const LineFormat& format, bool taken)
{
    const FormatPayload payload{format.rate, format.dataBits, static_cast<std::uint8_t>(format.parity),
                                static_cast<std::uint8_t>(format.stopBits), format.checkParity};
    session_->record(kind, taken ? 1 : 0, &payload, sizeof payload);
}

bool MonitorLine::setFormat(const LineFormat& format)
{
    const bool taken = line_->setFormat(format);
    recordFormat(RecordKind::Format, format, taken);
    if (taken) {
        format_ = format;
        formatKnown_ = true;
    }
    return taken;
}

bool MonitorLine::setRate(std::uint32_t rate)
{
    const bool taken = line_->setRate(rate);
    session_->record(RecordKind::Rate, taken ? 1 : 0, &rate, sizeof rate);
    if (taken) format_.rate = rate;
    return taken;
}

bool MonitorLine::readFormat(LineFormat& format)
{
    const bool read = line_->readFormat(format);
    // What the line runs with is news only when it is not what was asked.
    if (read && (!formatKnown_ || !sameFormat(format, format_))) {
        recordFormat(RecordKind::FormatInForce, format, true);
        format_ = format;
        formatKnown_ = true;
    }
    return read;
}

bool MonitorLine::setControl(Control control, bool on)
{
    const bool taken = line_->setControl(control, on);
    const int index = static_cast<int>(control);
    const int outcome = (on ? kControlOn : 0) | (taken ? kControlTaken : 0);
    if (index >= 0 && index < 3 && controls_[index] != outcome) {
        session_->record(RecordKind::Control, static_cast<std::uint8_t>(index | outcome));
        controls_[index] = outcome;
    }
    return taken;
}

bool MonitorLine::readInputs(ModemInputs& inputs)
{
    const bool read = line_->readInputs(inputs);
    const int now = read ? inputBits(inputs) : -2;
    if (now != inputs_) {
        if (read)
            session_->record(RecordKind::Inputs, static_cast<std::uint8_t>(now | (inputs_ < 0 ? kInputsFirst : 0)));
        else
            session_->record(RecordKind::InputsUnreadable);
        inputs_ = now;
    }
    return read;
}

bool MonitorLine::pollErrors(std::uint8_t& errors, std::uint32_t& waiting)
{
    const bool read = line_->pollErrors(errors, waiting);
    if (read && errors) session_->record(RecordKind::Errors, errors);
    if (static_cast<int>(read) != errorsReadable_) {
        if (!read) session_->record(RecordKind::ErrorsUnreadable);
        errorsReadable_ = read;
    }
    return read;
}

bool MonitorLine::readByte(std::uint8_t& byte)
{
    const bool read = line_->readByte(byte);
    if (read) {
        ++received_;
        if (rawBytes_.load(std::memory_order_relaxed) != RawBytes::AsFrames) session_->record(RecordKind::Received, byte);
    }
    return read;
}

bool MonitorLine::writeByte(std::uint8_t byte)
{
    // Recorded before it is handed on: a modem reports the command line this
    // byte ends while it takes it, and the byte comes first.
    const RawBytes shown = rawBytes_.load(std::memory_order_relaxed);
    if (shown == RawBytes::Shown) session_->record(RecordKind::Sent, byte);
    else if (shown == RawBytes::Secret) session_->record(RecordKind::SentMasked);
    const bool taken = line_->writeByte(byte);
    if (taken)
        ++sent_;
    else
        session_->record(RecordKind::SentRefused);
    return taken;
}

void MonitorLine::service() { line_->service(); }

void MonitorLine::discard()
{
    line_->discard();
    session_->record(RecordKind::Discard);
}

void MonitorLine::restored()
{
    line_->restored();
    session_->record(RecordKind::Restored);
}

void MonitorLine::modemCommand(std::string_view text)
{
    session_->record(RecordKind::ModemCommand, 0, text.data(), text.size() < 1024 ? text.size() : 1024);
}

void MonitorLine::modemResult(std::string_view text)
{
    session_->record(RecordKind::ModemResult, 0, text.data(), text.size() < 1024 ? text.size() : 1024);
}

void MonitorLine::callEvent(std::string_view text)
{
    session_->record(RecordKind::Call, 0, text.data(), text.size() < 1024 ? text.size() : 1024);
}

void MonitorLine::pppFrame(LineDirection direction, const std::uint8_t* frame, std::size_t length)
{
    // Masked in a copy here, so that a secret never reaches the queue.
    std::uint8_t kept[kLongestFrame];
    const std::size_t count = length < kLongestFrame ? length : kLongestFrame;
    if (count) std::memcpy(kept, frame, count);
    maskSecrets(kept, count);
    session_->record(RecordKind::PppFrame, static_cast<std::uint8_t>(direction), kept, count);
}

void MonitorLine::rawBytes(RawBytes how)
{
    rawBytes_.store(how, std::memory_order_relaxed);
    session_->record(RecordKind::RawBytesMode, static_cast<std::uint8_t>(how));
}
