#include "platform/monitor/LogFormat.h"

#include <cstdio>
#include <cstring>

#include "platform/monitor/PppFrames.h"
#include "platform/monitor/ShiftJis.h"

namespace {
const char* const kControlNames[33] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI", "DLE",
    "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US",  "DEL",
};

constexpr std::size_t kHexWidth = LogFormat::kRowBytes * 3 - 1;

void appendTime(std::string& out, std::uint64_t microseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%5llu.%06llu", static_cast<unsigned long long>(microseconds / 1000000),
                  static_cast<unsigned long long>(microseconds % 1000000));
    out += text;
}

// The time column left blank, for the rows of a frame.
const std::string kNoTime(12, ' ');

const char* directionLabel(LineDirection direction) { return direction == LineDirection::FromGuest ? "TX" : "RX"; }

std::uint32_t read32(const std::uint8_t* payload)
{
    std::uint32_t value;
    std::memcpy(&value, payload, sizeof value);
    return value;
}

LineFormat formatOf(const std::uint8_t* payload)
{
    FormatPayload stored;
    std::memcpy(&stored, payload, sizeof stored);
    return LineFormat{stored.rate, stored.dataBits, static_cast<Parity>(stored.parity),
                      static_cast<StopBits>(stored.stopBits), stored.checkParity != 0};
}

void appendHex(std::string& out, const std::uint8_t* bytes, const bool* masked, std::size_t count)
{
    static const char digits[] = "0123456789ABCDEF";
    const std::size_t start = out.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (i) out += ' ';
        if (masked && masked[i]) {
            out += "**";
        } else {
            out += digits[bytes[i] >> 4];
            out += digits[bytes[i] & 15];
        }
    }
    out.append(kHexWidth - (out.size() - start), ' ');
}
}  // namespace

std::string formatText(const LineFormat& format)
{
    static const char parity[] = "NOEMS";
    static const char* const stop[] = {"1", "1.5", "2"};
    const unsigned parityCode = static_cast<unsigned>(format.parity);
    const unsigned stopCode = static_cast<unsigned>(format.stopBits);
    char text[64];
    std::snprintf(text, sizeof text, "%lu bit/s %u%c%s", static_cast<unsigned long>(format.rate),
                  static_cast<unsigned>(format.dataBits), parityCode < 5 ? parity[parityCode] : '?',
                  stopCode < 3 ? stop[stopCode] : "?");
    std::string out = text;
    if (format.parity != Parity::None && !format.checkParity) out += " (received parity not checked)";
    return out;
}

std::string LogFormat::sessionHeader(const std::string& product, const std::string& started)
{
    std::string out = "# " + product + " line monitor, " + started + kLineEnd;
    out += "# seconds since the line opened; TX: sent by the emulated PC, RX: received by it, --: an event";
    out += kLineEnd;
    return out;
}

std::string LogFormat::continuedHeader(const std::string& previous)
{
    return "# continued from " + previous + kLineEnd;
}

bool LogFormat::appendText(std::string& out, const std::uint8_t* bytes, const bool* masked, std::size_t count,
                           std::size_t skip, int next)
{
    bool usedNext = false;
    for (std::size_t i = skip; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (masked && masked[i]) {
            out += '*';
        } else if (byte < 0x20 || byte == 0x7F) {
            out += '<';
            out += kControlNames[byte < 0x20 ? byte : 32];
            out += '>';
        } else if (byte < 0x7F) {
            out += static_cast<char>(byte);
        } else if (isShiftJisLead(byte)) {
            const bool trailHere = i + 1 < count && !(masked && masked[i + 1]);
            const int trail = trailHere ? bytes[i + 1] : i + 1 == count ? next : -1;
            const char16_t character = trail >= 0 ? shiftJisPair(byte, static_cast<std::uint8_t>(trail)) : 0;
            if (character) {
                appendUtf8(out, character);
                if (i + 1 == count) usedNext = true;
                ++i;
            } else {
                out += '.';
            }
        } else if (const char16_t katakana = shiftJisSingle(byte)) {
            appendUtf8(out, katakana);
        } else {
            out += '.';
        }
    }
    return usedNext;
}

std::uint64_t LogFormat::pauseLimit() const
{
    const std::uint32_t rate = format_.rate ? format_.rate : 1;
    const auto characters = static_cast<std::uint64_t>(kPauseCharacters * bitsPerCharacter(format_) * 1000000.0 / rate);
    return characters > kShortestPause ? characters : kShortestPause;
}

bool LogFormat::writeRow(std::string& out, int next, bool groupEnds)
{
    Row& row = row_;
    bool usedNext = false;
    if (row.count > 0) {
        appendTime(out, row.firstTime);
        out += "  ";
        out += row.continuation ? "  " : directionLabel(row.direction);
        out += "  ";
        appendHex(out, row.bytes, row.masked, row.count);
        out += "  ";
        usedNext = appendText(out, row.bytes, row.masked, row.count, row.skip, next);
        out += kLineEnd;
    }
    if (groupEnds) {
        row.active = false;
        return usedNext;
    }
    row.continuation = row.continuation || row.count > 0;
    row.count = 0;
    row.skip = usedNext ? 1 : 0;
    return usedNext;
}

void LogFormat::takeByte(LineDirection direction, std::uint64_t time, std::uint8_t byte, bool masked,
                         std::string& out)
{
    const int next = masked ? -1 : byte;
    std::size_t skip = 0;
    if (row_.active && direction != row_.direction) {
        writeRow(out, -1, true);
    } else if (row_.active && time > row_.lastTime + pauseLimit()) {
        // The same way after a pause: a character split by it is still shown whole.
        skip = writeRow(out, next, true) ? 1 : 0;
    }
    if (row_.active && row_.count == kRowBytes) writeRow(out, next, false);
    if (!row_.active) {
        row_.active = true;
        row_.continuation = false;
        row_.direction = direction;
        row_.count = 0;
        row_.skip = skip;
    }
    if (row_.count == 0) row_.firstTime = time;
    row_.bytes[row_.count] = masked ? 0 : byte;
    row_.masked[row_.count] = masked;
    ++row_.count;
    row_.lastTime = time;
}

void LogFormat::idle(std::uint64_t now, std::string& out)
{
    // A row that ends in the first byte of a two-byte character waits longer
    // for its second, so that a pause in the middle of it is not shown as two
    // broken bytes.
    const bool halfCharacter = row_.active && row_.count > 0 && !row_.masked[row_.count - 1] &&
                               isShiftJisLead(row_.bytes[row_.count - 1]);
    const std::uint64_t limit = pauseLimit() + (halfCharacter ? kHalfCharacterWait : 0);
    if (row_.active && now > row_.lastTime + limit) writeRow(out, -1, true);
}

void LogFormat::end(std::string& out)
{
    if (row_.active) writeRow(out, -1, true);
}

void LogFormat::event(std::uint64_t time, const std::string& text, std::string& out)
{
    end(out);
    appendTime(out, time);
    out += "  --  ";
    out += text;
    out += kLineEnd;
}

std::string LogFormat::inputsText(std::uint8_t inputs)
{
    static const struct {
        std::uint8_t bit;
        const char* name;
    } kInputs[] = {{kInputCts, "CTS"}, {kInputDsr, "DSR"}, {kInputDcd, "CD"}, {kInputRing, "RI"}};
    const bool first = (inputs & kInputsFirst) != 0;
    std::string text;
    for (const auto& input : kInputs) {
        if (!first && ((inputs ^ inputs_) & input.bit) == 0) continue;
        if (!text.empty()) text += "  ";
        text += input.name;
        text += (inputs & input.bit) ? " on" : " off";
    }
    inputs_ = inputs & ~kInputsFirst;
    return text;
}

void LogFormat::frame(const RecordHeader& record, const std::uint8_t* payload, std::string& out)
{
    end(out);
    const auto direction = static_cast<LineDirection>(record.arg);
    appendTime(out, record.time);
    out += "  ";
    out += directionLabel(direction);
    out += "  PPP " + describeFrame(payload, record.length) + " (" + std::to_string(record.length) + " bytes)";
    out += kLineEnd;
    int skip = 0;
    for (std::size_t at = 0; at < record.length; at += kRowBytes) {
        const std::size_t count = record.length - at < kRowBytes ? record.length - at : kRowBytes;
        const int next = at + count < record.length ? payload[at + count] : -1;
        out += kNoTime;
        out += "      ";
        appendHex(out, payload + at, nullptr, count);
        out += "  ";
        skip = appendText(out, payload + at, nullptr, count, static_cast<std::size_t>(skip), next) ? 1 : 0;
        out += kLineEnd;
    }
}

void LogFormat::take(const RecordHeader& record, const std::uint8_t* payload, std::string& out)
{
    const std::uint64_t time = record.time;
    const std::string text(reinterpret_cast<const char*>(payload), record.length);
    const char* refused = record.arg & 1 ? "" : " refused by the line";
    switch (record.kind) {
    case RecordKind::Sent: takeByte(LineDirection::FromGuest, time, record.arg, false, out); return;
    case RecordKind::SentMasked: takeByte(LineDirection::FromGuest, time, 0, true, out); return;
    case RecordKind::Received: takeByte(LineDirection::ToGuest, time, record.arg, false, out); return;
    case RecordKind::SentRefused: event(time, "the line did not take the last byte sent: lost", out); return;
    case RecordKind::Open: event(time, "open " + text, out); return;
    case RecordKind::Close: event(time, "close " + text, out); return;
    case RecordKind::OpenFailed: event(time, "open " + text + " failed: the line could not be opened", out); return;
    case RecordKind::Format: {
        const LineFormat format = formatOf(payload);
        if (record.arg & 1) format_ = format;
        event(time, "format " + formatText(format) + refused, out);
        return;
    }
    case RecordKind::FormatInForce:
        format_ = formatOf(payload);
        event(time, "the line runs at " + formatText(format_), out);
        return;
    case RecordKind::Rate: {
        const std::uint32_t rate = read32(payload);
        if (record.arg & 1) format_.rate = rate;
        event(time, "rate " + std::to_string(rate) + " bit/s" + refused, out);
        return;
    }
    case RecordKind::Control: {
        static const char* const names[] = {"DTR", "RTS", "break", "?"};
        const std::string taken = record.arg & kControlTaken ? "" : " refused by the line";
        event(time, std::string(names[record.arg & kControlMask]) + (record.arg & kControlOn ? " on" : " off") + taken,
              out);
        return;
    }
    case RecordKind::Inputs: event(time, inputsText(record.arg), out); return;
    case RecordKind::InputsUnreadable: event(time, "the line's modem inputs cannot be read", out); return;
    case RecordKind::Errors: {
        std::string errors;
        for (const auto& error : {std::make_pair(kLineErrorParity, "parity"), std::make_pair(kLineErrorFraming, "framing"),
                                  std::make_pair(kLineErrorOverrun, "overrun")})
            if (record.arg & error.first) errors += errors.empty() ? error.second : std::string(", ") + error.second;
        event(time, "receive error: " + errors, out);
        return;
    }
    case RecordKind::ErrorsUnreadable: event(time, "the line's errors cannot be read", out); return;
    case RecordKind::State: {
        static const char* const states[] = {"connected", "connecting", "gone: the line was lost"};
        event(time, record.arg < 3 ? states[record.arg] : "state ?", out);
        return;
    }
    case RecordKind::Discard: event(time, "discard: bytes waiting on the line thrown away", out); return;
    case RecordKind::Restored: event(time, "saved state loaded", out); return;
    case RecordKind::ModemCommand: event(time, "modem command: " + text, out); return;
    case RecordKind::ModemResult: event(time, "modem result: " + text, out); return;
    case RecordKind::Call: event(time, "call: " + text, out); return;
    case RecordKind::PppFrame: frame(record, payload, out); return;
    case RecordKind::RawBytesMode: {
        static const char* const modes[] = {"bytes shown as they are", "the guest types a secret: its bytes masked",
                                            "PPP: the bytes shown as frames"};
        event(time, record.arg < 3 ? modes[record.arg] : "bytes ?", out);
        return;
    }
    case RecordKind::Dropped:
        event(time, "lost " + std::to_string(read32(payload)) + " records here: the monitor fell behind", out);
        return;
    }
}
