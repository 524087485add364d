// What a line that is more than a wire tells whoever watches it: a modem's
// command lines, result codes and the steps of its calls; a dial-up server's
// frames. The line monitor is such a watcher. A line with events of its own
// implements ReportsLineEvents, and the monitor hands it a LineEvents when it
// wraps the line; a line the monitor does not wrap is never given one.
//
// Each call may come from any thread and is recorded whole, in the order the
// calls are made. A call made during one of the line's own Line methods is
// recorded in its place among the bytes and signals of that moment, so a
// modem that reports a result code before it queues the text shows the code
// before its characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

enum class LineDirection : std::uint8_t {
    FromGuest,  // sent by the emulated PC
    ToGuest,    // received by the emulated PC
};

// How the monitor shows the bytes between the guest and the line, from the
// call on. A line switches it where its bytes carry something that must not
// be kept in a log.
enum class RawBytes : std::uint8_t {
    Shown,     // as they are (the start of every line)
    Secret,    // the guest's bytes masked: it types a password at a text login
    AsFrames,  // not shown (only counted): a framed session runs, and its frames,
               // with their secrets masked, are shown instead through pppFrame
};

class LineEvents {
public:
    virtual ~LineEvents() = default;

    // A command line the modem took, as the guest typed it, without the
    // character that ended it.
    virtual void modemCommand(std::string_view text) = 0;
    // A result code the modem sent, without its CR LF ("CONNECT 9600", "0").
    virtual void modemResult(std::string_view text) = 0;
    // A step of a call in a few words: "dialling bbs.example.org:23",
    // "ringing", "answered", "hung up by the far end".
    virtual void callEvent(std::string_view text) = 0;
    // One whole PPP frame as the async HDLC framing carried it, once that is
    // taken off: the address and control fields unless compressed away, the
    // protocol, the information; no flags, no escapes, no FCS. The monitor
    // masks a PAP password and a CHAP response before it keeps the frame.
    virtual void pppFrame(LineDirection direction, const std::uint8_t* frame, std::size_t length) = 0;
    virtual void rawBytes(RawBytes how) = 0;
};

// A line that has events. The monitor calls this once, after it wraps the
// line; the events it hands over stay valid until the line is destroyed, so
// a modem may still report the end of its call while it closes.
class ReportsLineEvents {
public:
    virtual void reportEventsTo(LineEvents* events) = 0;

protected:
    ~ReportsLineEvents() = default;
};
