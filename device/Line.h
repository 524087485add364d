// The line behind the USART, in the terms of a serial line: its format, the
// controls the guest drives, the modem inputs it reports, line errors and the
// bytes themselves. A COM port, a network connection and a modem are each one
// kind of line; the device knows none of them, only this.
//
// The device calls a line with its device lock held, so a line has one caller
// at a time and needs no lock of its own for the device's sake. A line that
// has work of its own (time to keep, a network to serve) does it in service(),
// which the device calls once a tick; every other call only reports or takes
// what the line holds, so a look at the line (the status panel's refresh, a
// guest polling the status) moves nothing.
#pragma once

#include <cstdint>
#include <memory>

// Parity and stop bits carry the values the settings record and the save
// block store (0, 1, 2), so a value read from either passes through as it is.
enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBits : std::uint8_t { One = 0, OneAndHalf = 1, Two = 2 };

// A rate and a character format.
struct LineFormat {
    std::uint32_t rate;     // bit/s
    std::uint8_t dataBits;  // 5 to 8
    Parity parity;
    StopBits stopBits;
    bool checkParity;       // received characters are checked against the parity
};

// Bits one character takes on the line, start bit not counted: the data bits,
// a parity bit, and 1, 1.5 or 2 stop bits.
inline double bitsPerCharacter(const LineFormat& format)
{
    return 0.5 * (static_cast<int>(format.stopBits) + 2) + (format.parity != Parity::None ? 1 : 0) + format.dataBits;
}

// The outputs the guest drives through the USART's command byte.
enum class Control : std::uint8_t { Dtr, Rts, Break };

// The far end's signals as the line reports them.
struct ModemInputs {
    bool cts;
    bool dsr;
    bool ring;
    bool dcd;  // carrier detect
};

// Receive errors since they were last fetched.
enum LineError : std::uint8_t {
    kLineErrorOverrun = 0x01,  // a character was lost: the receiver or its buffer was full
    kLineErrorParity = 0x02,
    kLineErrorFraming = 0x04,
};

enum class LineState : std::uint8_t {
    Open,        // usable
    Connecting,  // not yet there (a connection being made, a listener waiting for its caller); still usable
    Gone,        // never usable again (an adapter pulled out, a peer that hung up): close it and open the name afresh
};

// What a kind of line can do beyond carrying bytes. A line that lacks one
// says so here; the device then leaves it alone rather than count on it.
enum LineFeature : std::uint32_t {
    kLineHasFormat = 0x01,    // takes a rate and a character format, and reports the one in force
    kLineHasControls = 0x02,  // DTR and RTS reach the far end
    kLineHasBreak = 0x04,     // a break can be sent
};

class Line {
public:
    virtual ~Line() = default;  // closes the line

    virtual std::uint32_t features() const = 0;

    // One step of the line's own work: once a tick of the guest's line, under
    // the device lock, before the tick reads or writes a byte.
    virtual void service() {}

    // Where the line stands now.
    virtual LineState state() = 0;
    // Makes the line ready for the device's polled, byte-at-a-time use: reads
    // return at once with what is buffered. Called after every open, and
    // again each time the guest's mode byte finds the line already open.
    virtual void prepare() = 0;

    // The rate and character format (kLineHasFormat). False when refused.
    virtual bool setFormat(const LineFormat& format) = 0;
    // The rate alone, the format left as it is (kLineHasFormat). False when refused.
    virtual bool setRate(std::uint32_t rate) = 0;
    // The format the line actually runs with (kLineHasFormat). False when it cannot be read.
    virtual bool readFormat(LineFormat& format) = 0;

    // DTR, RTS (kLineHasControls) and break (kLineHasBreak). False when refused.
    virtual bool setControl(Control control, bool on) = 0;
    // False when the inputs cannot be read.
    virtual bool readInputs(ModemInputs& inputs) = 0;
    // Fetches and clears the receive errors (LineError bits) and counts the
    // bytes waiting to be read. False when neither can be had.
    virtual bool pollErrors(std::uint8_t& errors, std::uint32_t& waiting) = 0;

    // True when exactly one byte was read.
    virtual bool readByte(std::uint8_t& byte) = 0;
    // False when the byte was not taken.
    virtual bool writeByte(std::uint8_t byte) = 0;
    // Discards whatever waits to be read or to be sent.
    virtual void discard() = 0;

    // The emulated machine has just been put back to a saved state (the device
    // calls this at the end of every restore it takes while a line is open).
    // A line that is itself part of the emulated machine, such as a modem,
    // goes back to its power-on state, since the save block cannot hold its
    // own; a real port or a network connection carries on.
    virtual void restored() {}
};

// The kinds of line a user can name in the settings, and how each is opened.
class LineCatalog {
public:
    virtual ~LineCatalog() = default;
    // Opens the line the name stands for; null when it cannot be opened. The
    // name is the user's, NUL-terminated, at most 239 characters.
    virtual std::unique_ptr<Line> open(const char* name) = 0;
    // True when the name reaches outside this computer (a network line, a
    // modem that dials). A save block may come from anyone, so the device
    // opens such a name from one only when it is the user's own choice.
    virtual bool reachesOutside(const char* name) = 0;
};
