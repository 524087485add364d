// One opening of a line, as the monitor keeps it: the records the line's
// side adds, the queue they wait in, and what the writer thread
// (MonitorWriter) turns them into: the log and, for PPP frames, the capture.
//
// The line's side only adds to a bounded queue: it never formats, never
// waits for the writer and never touches a file, not even when the line
// closes: the writer then writes the last records and closes the files. When
// the writer cannot write, the monitor stops (records are no longer even
// queued), the user is told once, and the line carries on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "device/Platform.h"
#include "platform/lines/Clock.h"
#include "platform/monitor/LogFormat.h"
#include "platform/monitor/MonitorPlatform.h"
#include "platform/monitor/RecordQueue.h"
#include "platform/monitor/RotatingFile.h"

struct MonitorSettings {
    std::string logPath;      // empty: no monitor
    std::string capturePath;  // where PPP frames go; made at the first frame
    std::uint64_t sizeLimit = 16u << 20;  // bytes a file may grow to before it is rotated
};

// What every session shares: the machine, the time, the user's attention and
// the product's name for the logs.
struct MonitorServices {
    MonitorPlatform* platform;
    Clock* clock;
    UserAlert* alert;
    std::string product;
};

class MonitorSession {
public:
    static constexpr std::size_t kQueueBytes = 256 * 1024;
    static constexpr unsigned kWriterPeriodMs = 25;

    // `lineName` names the capture's interface; `onFailure` runs on the
    // writer thread when a file cannot be written.
    MonitorSession(const MonitorServices& services, const MonitorSettings& settings, const std::string& lineName,
                   std::function<void()> onFailure);
    MonitorSession(const MonitorSession&) = delete;
    MonitorSession& operator=(const MonitorSession&) = delete;

    // Adds a record stamped with the time now. Cheap, never waits; does
    // nothing once the monitor has stopped.
    void record(RecordKind kind, std::uint8_t arg = 0, const void* payload = nullptr, std::size_t length = 0);

    // The line has closed: after the records it added, the writer ends this
    // session's part of the log with the records it lost and `closing` (an
    // event, none when empty) and closes the files. Returns at once.
    void close(const std::string& closing);

    // The writer's: writes what has been queued, and once the line has
    // closed, the end; false once the session has ended.
    bool pass();
    // The writer's at the module's unload, the line perhaps still open:
    // writes what has been queued and ends the session, without a message.
    void unload();

    bool stopped() const { return stopped_.load(std::memory_order_relaxed); }

private:
    std::uint64_t now() const;
    bool writeOut(bool last);
    void take(const RecordHeader& record, const std::uint8_t* payload);
    void write();
    void fail(const std::string& path);
    std::string logPrologue(bool empty, bool rotated) const;

    MonitorServices services_;
    std::function<void()> onFailure_;
    std::string lineName_;
    std::uint64_t openedAt_;         // the clock's time
    std::uint64_t openedAtEpoch_;    // microseconds since 1970, for the capture
    std::string started_;            // local date and time, for the log
    RecordQueue queue_;
    std::atomic<bool> stopped_{false};

    // Set by the line's side before closed_, read by the writer after it.
    std::string closing_;
    std::uint64_t closedAt_ = 0;
    std::atomic<bool> closed_{false};

    // The writer's own.
    bool ended_ = false;
    bool unloading_ = false;
    LogFormat format_;
    RotatingFile log_;
    RotatingFile capture_;
    std::string logText_;
    std::string captureBytes_;
};
