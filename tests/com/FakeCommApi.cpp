#include "tests/com/FakeCommApi.h"

#include <cstdio>

namespace {
const char* const kOpNames[] = {"Open",    "Close",  "GetState",       "SetState",    "SetTimeouts", "SetEventMask",
                                "Purge",   "Escape", "GetModemStatus", "ClearErrors", "ReadByte",    "WriteByte"};

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

std::string hex(std::uint32_t value, const char* format = "0x%X")
{
    char text[16];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
    return text;
}
}  // namespace

std::string describeState(const CommState& state)
{
    static const char parity[] = "NOEMS";
    static const char* const stop[] = {"1", "1.5", "2"};
    return std::to_string(state.BaudRate) + " " + std::to_string(state.ByteSize) + " " +
           (state.Parity < 5 ? parity[state.Parity] : '?') + " " + (state.StopBits < 3 ? stop[state.StopBits] : "?") +
           " flags=" + hex(state.flags & 0x7FFF);
}

FakeCommApi::FakeCommApi()
{
    // A typical port as Windows reports it: 9600 8N1, binary mode, XON/XOFF characters set.
    state_.DCBlength = 28;
    state_.BaudRate = 9600;
    state_.flags = 0x0001;
    state_.XonLim = 2048;
    state_.XoffLim = 512;
    state_.ByteSize = 8;
    state_.XonChar = 0x11;
    state_.XoffChar = 0x13;
}

void FakeCommApi::fail(CommOp op, bool failing)
{
    if (failing)
        failing_.insert(op);
    else
        failing_.erase(op);
}

std::vector<std::string> FakeCommApi::log() const { return log_; }

std::vector<CommCall> FakeCommApi::callsOf(CommOp op) const
{
    std::vector<CommCall> matching;
    for (const CommCall& call : calls_)
        if (call.op == op) matching.push_back(call);
    return matching;
}

bool FakeCommApi::record(CommCall call, const std::string& detail)
{
    log_.push_back(kOpNames[static_cast<int>(call.op)] + (detail.empty() ? "" : " " + detail));
    const bool fails = failing_.count(call.op) != 0;
    calls_.push_back(std::move(call));
    return fails;
}

PortHandle FakeCommApi::open(const char* path)
{
    if (record({CommOp::Open, kNoPort, path}, path)) return kNoPort;
    open_.insert(nextHandle_);
    return nextHandle_++;
}

bool FakeCommApi::close(PortHandle port) { return !record({CommOp::Close, port}) && open_.erase(port) != 0; }

bool FakeCommApi::getState(PortHandle port, CommState& state)
{
    if (record({CommOp::GetState, port})) return false;
    state = state_;
    return true;
}

bool FakeCommApi::setState(PortHandle port, const CommState& state)
{
    CommCall call{CommOp::SetState, port};
    call.state = state;
    if (record(call, describeState(state))) return false;
    state_ = state;
    return true;
}

bool FakeCommApi::setTimeouts(PortHandle port, const CommTimeouts& timeouts)
{
    CommCall call{CommOp::SetTimeouts, port};
    call.timeouts = timeouts;
    return !record(call);
}

bool FakeCommApi::setEventMask(PortHandle port, std::uint32_t mask) { return !record({CommOp::SetEventMask, port}, hex(mask)); }

bool FakeCommApi::purge(PortHandle port, std::uint32_t flags)
{
    if (record({CommOp::Purge, port}, hex(flags))) return false;
    input_.clear();
    return true;
}

bool FakeCommApi::escape(PortHandle port, EscapeCode code) { return !record({CommOp::Escape, port}, escapeName(code)); }

bool FakeCommApi::getModemStatus(PortHandle port, std::uint32_t& lines)
{
    if (record({CommOp::GetModemStatus, port})) return false;
    lines = modemLines_;
    return true;
}

bool FakeCommApi::clearErrors(PortHandle port, std::uint32_t& errors, std::uint32_t& inputQueued)
{
    if (record({CommOp::ClearErrors, port})) return false;
    errors = errors_;
    errors_ = 0;
    inputQueued = static_cast<std::uint32_t>(input_.size());
    return true;
}

bool FakeCommApi::readByte(PortHandle port, std::uint8_t& byte, std::uint32_t& bytesRead)
{
    bytesRead = 0;
    if (record({CommOp::ReadByte, port})) return false;
    if (!input_.empty()) {
        byte = input_.front();
        input_.pop_front();
        bytesRead = 1;
    }
    return true;
}

bool FakeCommApi::writeByte(PortHandle port, std::uint8_t byte)
{
    return !record({CommOp::WriteByte, port}, hex(byte, "0x%02X"));
}
