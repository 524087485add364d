// The monitor's log: text a person reads, one line per event and one per
// row of up to 16 bytes, as a serial analyser shows a line. Every line
// starts with the time since the line opened, in seconds to the microsecond;
// then who sent the bytes (TX: the emulated PC, RX: the line) or "--" for an
// event; then the bytes in hex and, beside them, as text: Shift-JIS shown as
// Japanese, control characters by name (<CR>, <ESC>...), other bytes as '.'.
//
//        0.000000  --  open COM1
//        0.000012  --  format 9600 bit/s 8N1
//        0.000105  --  DTR on
//        0.001250  TX  41 54 5A 0D                                      ATZ<CR>
//        0.021342  RX  0D 0A 4F 4B 0D 0A                                <CR><LF>OK<CR><LF>
//        1.500000  RX  82 B1 82 F1 82 C9 82 BF 82 CD 0D 0A 93 FA 96 7B  こんにちは<CR><LF>日本
//        1.512500      8C EA                                            語
//
// Bytes that go one way without a pause form a group: its first row carries
// the direction, the rows after it none. A new group starts when the
// direction changes, after any event, and after a pause of more than four
// character times at the line's rate and format, and at least 20 ms: the
// times are the computer's, and an emulator runs its machine in bursts (a
// frame of the screen at a time), so a shorter gap is the emulator's rhythm
// rather than the line's. A character whose two Shift-JIS bytes fall on two
// rows, or on both sides of a pause, is shown on the first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/Line.h"
#include "platform/lines/LineEvents.h"
#include "platform/monitor/MonitorRecord.h"

class LogFormat {
public:
    static constexpr std::size_t kRowBytes = 16;
    static constexpr double kPauseCharacters = 4;
    static constexpr std::uint64_t kShortestPause = 20000;       // microseconds
    static constexpr std::uint64_t kHalfCharacterWait = 1000000;  // microseconds
    static constexpr const char* kLineEnd = "\r\n";

    // The lines that start one opening of the line in the log.
    static std::string sessionHeader(const std::string& product, const std::string& started);
    // The lines that start a file after the one before was renamed to `previous`.
    static std::string continuedHeader(const std::string& previous);

    // Takes one record; appends to `out` the lines it completes.
    void take(const RecordHeader& record, const std::uint8_t* payload, std::string& out);
    // Ends the group in progress if by `now` (microseconds since the line
    // opened) it has paused longer than a group may.
    void idle(std::uint64_t now, std::string& out);
    // Ends the group in progress.
    void end(std::string& out);

    // How long a group may pause, in microseconds, at the format in force.
    std::uint64_t pauseLimit() const;

    // The text column for `count` bytes (nullptr masks, '*' each), the first
    // `skip` of them already shown; `next` is the byte after them when there
    // is one (-1 when not), for a character split across rows. Returns
    // whether that next byte was shown here.
    static bool appendText(std::string& out, const std::uint8_t* bytes, const bool* masked, std::size_t count,
                           std::size_t skip, int next);

private:
    struct Row {
        bool active = false;
        bool continuation = false;  // not the group's first row: no direction shown
        LineDirection direction = LineDirection::FromGuest;
        std::uint64_t firstTime = 0;
        std::uint64_t lastTime = 0;
        std::uint8_t bytes[kRowBytes] = {};
        bool masked[kRowBytes] = {};
        std::size_t count = 0;
        std::size_t skip = 0;  // leading bytes shown with the row before
    };

    void takeByte(LineDirection direction, std::uint64_t time, std::uint8_t byte, bool masked, std::string& out);
    // Returns whether `next` was shown with the row.
    bool writeRow(std::string& out, int next, bool groupEnds);
    void event(std::uint64_t time, const std::string& text, std::string& out);
    void frame(const RecordHeader& record, const std::uint8_t* payload, std::string& out);
    std::string inputsText(std::uint8_t inputs);

    Row row_;
    LineFormat format_{9600, 8, Parity::None, StopBits::One, false};
    std::uint8_t inputs_ = 0;
};

// "9600 bit/s 8N1"
std::string formatText(const LineFormat& format);
