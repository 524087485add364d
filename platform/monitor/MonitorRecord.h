// What the line monitor records: one record per byte, signal change or
// event, stamped with the microseconds since the line opened. The line's
// side makes them as the device calls it; the writer turns them into text.
#pragma once

#include <cstdint>

enum class RecordKind : std::uint8_t {
    Sent,             // arg: the byte the guest sent and the line took
    SentMasked,       // a byte the guest sent while it typed a secret
    SentRefused,      // the line did not take the byte just sent (lost, as on a wire)
    Received,         // arg: the byte the guest's side read
    Open,             // payload: the line's name
    OpenFailed,       // payload: the name that could not be opened
    Close,            // payload: the line's name and what went through it
    Format,           // arg: 1 when the line took it; payload: FormatPayload
    FormatInForce,    // payload: FormatPayload: what the line reports it runs with, when that differs
    Rate,             // arg: 1 when the line took it; payload: the rate, 4 bytes
    Control,          // arg: ControlArg bits
    Inputs,           // arg: kInput bits of the inputs now, and kInputsFirst on the first read
    InputsUnreadable,
    Errors,           // arg: LineError bits
    ErrorsUnreadable,
    State,            // arg: LineState
    Discard,
    Restored,
    ModemCommand,     // payload: text
    ModemResult,      // payload: text
    Call,             // payload: text
    PppFrame,         // arg: LineDirection; payload: the frame, its secrets masked
    RawBytesMode,     // arg: RawBytes
    Dropped,          // payload: the count of records lost before this one, 4 bytes
};

// Control records: which control, on or off, and whether the line took it.
enum ControlArg : std::uint8_t {
    kControlMask = 0x03,  // the Control value
    kControlOn = 0x10,
    kControlTaken = 0x20,
};

enum InputBit : std::uint8_t {
    kInputCts = 0x01,
    kInputDsr = 0x02,
    kInputRing = 0x04,
    kInputDcd = 0x08,
    kInputsFirst = 0x80,  // the first read: every input is shown
};

struct RecordHeader {
    std::uint64_t time;  // microseconds since the line opened
    RecordKind kind;
    std::uint8_t arg;
    std::uint16_t length;  // of the payload that follows
};

// A format as a record carries it.
struct FormatPayload {
    std::uint32_t rate;
    std::uint8_t dataBits;
    std::uint8_t parity;    // Parity
    std::uint8_t stopBits;  // StopBits
    std::uint8_t checkParity;
};
