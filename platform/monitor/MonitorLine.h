// The line monitor's tap: a line that wraps the line the catalog opened and
// passes every call through to it unchanged, recording on the way what the
// device sent and read, what it asked of the line and what the line
// answered. The device sees only a Line, so it neither knows nor changes.
//
// Every method of Line is forwarded here, each exactly once. A method added
// to Line must be added here too: a pure one will not compile until it is,
// and the monitor's tests fail for one with a default body that this class
// leaves to Line.
//
// Only changes are recorded for what the device reads again and again (the
// modem inputs, the line's state, whether errors can be read), and a control
// set to what it already was is not recorded again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "device/Line.h"
#include "platform/lines/LineEvents.h"
#include "platform/monitor/MonitorSession.h"

class MonitorLine final : public Line, private LineEvents {
public:
    // The longest PPP frame kept whole; a longer one is cut.
    static constexpr std::size_t kLongestFrame = 4096;

    MonitorLine(std::unique_ptr<Line> line, std::shared_ptr<MonitorSession> session, std::string name);
    // Closes the wrapped line, then hands the session's end (a close record)
    // to its writer.
    ~MonitorLine() override;

    std::uint32_t features() const override;
    LineState state() override;
    void prepare() override;
    void service() override;
    bool setFormat(const LineFormat& format) override;
    bool setRate(std::uint32_t rate) override;
    bool readFormat(LineFormat& format) override;
    bool setControl(Control control, bool on) override;
    bool readInputs(ModemInputs& inputs) override;
    bool pollErrors(std::uint8_t& errors, std::uint32_t& waiting) override;
    bool readByte(std::uint8_t& byte) override;
    bool writeByte(std::uint8_t byte) override;
    void discard() override;
    void restored() override;

private:
    // LineEvents, for a line that has them.
    void modemCommand(std::string_view text) override;
    void modemResult(std::string_view text) override;
    void callEvent(std::string_view text) override;
    void pppFrame(LineDirection direction, const std::uint8_t* frame, std::size_t length) override;
    void rawBytes(RawBytes how) override;

    void recordFormat(RecordKind kind, const LineFormat& format, bool taken);

    std::unique_ptr<Line> line_;
    std::shared_ptr<MonitorSession> session_;
    std::string name_;
    std::atomic<RawBytes> rawBytes_{RawBytes::Shown};
    std::uint64_t sent_ = 0;
    std::uint64_t received_ = 0;

    // What was last recorded; -1 until something is.
    int state_ = -1;
    int inputs_ = -1;          // InputBit bits, or -2 while they cannot be read
    int errorsReadable_ = -1;  // 1 or 0
    int controls_[3] = {-1, -1, -1};  // ControlArg's on and taken bits, per Control
    bool formatKnown_ = false;
    LineFormat format_{};  // the format last asked for or reported
};
