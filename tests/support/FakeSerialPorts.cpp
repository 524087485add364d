#include "tests/support/FakeSerialPorts.h"

#include <algorithm>
#include <cstdio>

const char* portOpName(PortOp op)
{
    switch (op) {
    case PortOp::Open: return "Open";
    case PortOp::Close: return "Close";
    case PortOp::GetState: return "GetState";
    case PortOp::SetState: return "SetState";
    case PortOp::SetTimeouts: return "SetTimeouts";
    case PortOp::SetEventMask: return "SetEventMask";
    case PortOp::Purge: return "Purge";
    case PortOp::Escape: return "Escape";
    case PortOp::GetModemStatus: return "GetModemStatus";
    case PortOp::ClearErrors: return "ClearErrors";
    case PortOp::ReadByte: return "ReadByte";
    case PortOp::WriteByte: return "WriteByte";
    }
    return "?";
}

const char* escapeName(EscapeCode code)
{
    switch (code) {
    case EscapeCode::SetRts: return "SetRts";
    case EscapeCode::ClrRts: return "ClrRts";
    case EscapeCode::SetDtr: return "SetDtr";
    case EscapeCode::ClrDtr: return "ClrDtr";
    case EscapeCode::SetBreak: return "SetBreak";
    case EscapeCode::ClrBreak: return "ClrBreak";
    }
    return "?";
}

std::string describeState(const CommState& state)
{
    static const char parity[] = "NOE??";
    static const char* const stop[] = {"1", "1.5", "2"};
    char text[96];
    std::snprintf(text, sizeof text, "%u %u %c %s flags=0x%X", static_cast<unsigned>(state.BaudRate),
                  static_cast<unsigned>(state.ByteSize), state.Parity < 5 ? parity[state.Parity] : '?',
                  state.StopBits < 3 ? stop[state.StopBits] : "?", static_cast<unsigned>(state.flags & 0x7FFF));
    return text;
}

FakeSerialPorts::FakeSerialPorts()
{
    // A typical port as Windows reports it: 9600 8N1, binary mode, XON/XOFF characters set.
    state_.DCBlength = 28;
    state_.BaudRate = 9600;
    state_.flags = 0x0001;
    state_.XonLim = 2048;
    state_.XoffLim = 512;
    state_.ByteSize = 8;
    state_.Parity = kNoParity;
    state_.StopBits = kOneStopBit;
    state_.XonChar = 0x11;
    state_.XoffChar = 0x13;
}

void FakeSerialPorts::setModemLines(std::uint32_t lines)
{
    std::lock_guard<std::mutex> guard(mutex_);
    modemLines_ = lines;
}

void FakeSerialPorts::addLineErrors(std::uint32_t errors)
{
    std::lock_guard<std::mutex> guard(mutex_);
    errors_ |= errors;
}

void FakeSerialPorts::receive(const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard<std::mutex> guard(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
}

void FakeSerialPorts::receive(const std::string& text) { receive(std::vector<std::uint8_t>(text.begin(), text.end())); }

void FakeSerialPorts::failOperation(PortOp op, bool fail)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (fail)
        failing_.insert(op);
    else
        failing_.erase(op);
}

void FakeSerialPorts::failOpenOf(const std::string& path)
{
    std::lock_guard<std::mutex> guard(mutex_);
    refusedPaths_.insert(path);
}

void FakeSerialPorts::setState(const CommState& state)
{
    std::lock_guard<std::mutex> guard(mutex_);
    state_ = state;
}

std::vector<PortCall> FakeSerialPorts::calls() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return calls_;
}

std::vector<PortCall> FakeSerialPorts::callsOf(PortOp op) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<PortCall> matching;
    for (const PortCall& call : calls_)
        if (call.op == op) matching.push_back(call);
    return matching;
}

std::string FakeSerialPorts::describe(const PortCall& call)
{
    std::string text = portOpName(call.op);
    char detail[64];
    switch (call.op) {
    case PortOp::Open: return text + " " + call.path;
    case PortOp::SetState: return text + " " + describeState(call.state);
    case PortOp::SetEventMask:
    case PortOp::Purge:
        std::snprintf(detail, sizeof detail, " 0x%X", static_cast<unsigned>(call.value));
        return text + detail;
    case PortOp::Escape: return text + " " + escapeName(call.escape);
    case PortOp::WriteByte:
        std::snprintf(detail, sizeof detail, " 0x%02X", call.byte);
        return text + detail;
    default: return text;
    }
}

std::vector<std::string> FakeSerialPorts::log() const { return logSince(0); }

std::vector<std::string> FakeSerialPorts::logSince(std::size_t first) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<std::string> lines;
    for (std::size_t i = first; i < calls_.size(); ++i) lines.push_back(describe(calls_[i]));
    return lines;
}

std::size_t FakeSerialPorts::callCount() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return calls_.size();
}

void FakeSerialPorts::clearCalls()
{
    std::lock_guard<std::mutex> guard(mutex_);
    calls_.clear();
}

std::vector<std::uint8_t> FakeSerialPorts::written() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return written_;
}

CommState FakeSerialPorts::currentState() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return state_;
}

std::size_t FakeSerialPorts::openCount() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return openCount_;
}

bool FakeSerialPorts::isOpen(PortHandle port) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return open_.count(port) != 0;
}

std::size_t FakeSerialPorts::pendingInput() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return input_.size();
}

FakeSerialPorts::OutputLines FakeSerialPorts::outputLines() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
}

std::vector<std::string> FakeSerialPorts::escapesSince(std::size_t first) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<std::string> names;
    for (std::size_t i = first; i < calls_.size(); ++i)
        if (calls_[i].op == PortOp::Escape) names.emplace_back(escapeName(calls_[i].escape));
    std::sort(names.begin(), names.end());
    return names;
}

PortHandle FakeSerialPorts::open(const char* path)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::Open, kNoPort);
    call.path = path;
    record(call);
    if (failing(PortOp::Open) || refusedPaths_.count(path)) return kNoPort;
    const PortHandle handle = nextHandle_++;
    open_.insert(handle);
    ++openCount_;
    lines_ = OutputLines{};
    return handle;
}

bool FakeSerialPorts::close(PortHandle port)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::Close, port);
    record(call);
    if (failing(PortOp::Close)) return false;
    return open_.erase(port) != 0;
}

bool FakeSerialPorts::getState(PortHandle port, CommState& state)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::GetState, port);
    record(call);
    if (failing(PortOp::GetState)) return false;
    state = state_;
    return true;
}

bool FakeSerialPorts::setState(PortHandle port, const CommState& state)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::SetState, port);
    call.state = state;
    record(call);
    if (failing(PortOp::SetState)) return false;
    state_ = state;
    return true;
}

bool FakeSerialPorts::setTimeouts(PortHandle port, const CommTimeouts& timeouts)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::SetTimeouts, port);
    call.timeouts = timeouts;
    record(call);
    return !failing(PortOp::SetTimeouts);
}

bool FakeSerialPorts::setEventMask(PortHandle port, std::uint32_t mask)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::SetEventMask, port);
    call.value = mask;
    record(call);
    return !failing(PortOp::SetEventMask);
}

bool FakeSerialPorts::purge(PortHandle port, std::uint32_t flags)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::Purge, port);
    call.value = flags;
    record(call);
    if (failing(PortOp::Purge)) return false;
    // Purging drops what the port had buffered from the line.
    if (flags & 0x08) input_.clear();
    return true;
}

bool FakeSerialPorts::escape(PortHandle port, EscapeCode code)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::Escape, port);
    call.escape = code;
    record(call);
    if (failing(PortOp::Escape)) return false;
    switch (code) {
    case EscapeCode::SetDtr: lines_.dtr = true; break;
    case EscapeCode::ClrDtr: lines_.dtr = false; break;
    case EscapeCode::SetRts: lines_.rts = true; break;
    case EscapeCode::ClrRts: lines_.rts = false; break;
    case EscapeCode::SetBreak: lines_.breakOn = true; break;
    case EscapeCode::ClrBreak: lines_.breakOn = false; break;
    }
    return true;
}

bool FakeSerialPorts::getModemStatus(PortHandle port, std::uint32_t& lines)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::GetModemStatus, port);
    record(call);
    if (failing(PortOp::GetModemStatus)) return false;
    lines = modemLines_;
    return true;
}

bool FakeSerialPorts::clearErrors(PortHandle port, std::uint32_t& errors, std::uint32_t& inputQueued)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::ClearErrors, port);
    record(call);
    if (failing(PortOp::ClearErrors)) return false;
    errors = errors_;
    errors_ = 0;
    inputQueued = static_cast<std::uint32_t>(input_.size());
    return true;
}

bool FakeSerialPorts::readByte(PortHandle port, std::uint8_t& byte, std::uint32_t& bytesRead)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::ReadByte, port);
    record(call);
    bytesRead = 0;
    if (failing(PortOp::ReadByte)) return false;
    if (!input_.empty()) {
        byte = input_.front();
        input_.pop_front();
        bytesRead = 1;
    }
    return true;
}

bool FakeSerialPorts::writeByte(PortHandle port, std::uint8_t byte)
{
    std::lock_guard<std::mutex> guard(mutex_);
    PortCall call(PortOp::WriteByte, port);
    call.byte = byte;
    record(call);
    if (failing(PortOp::WriteByte)) return false;
    written_.push_back(byte);
    return true;
}
