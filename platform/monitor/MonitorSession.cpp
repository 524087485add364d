#include "platform/monitor/MonitorSession.h"

#include <chrono>
#include <ctime>

#include "platform/monitor/MonitorMessages.h"
#include "platform/monitor/Pcapng.h"

namespace {
std::string localTimeNow()
{
    const std::time_t now = std::time(nullptr);
    char text[32] = "";
    // Sessions start one at a time, on the device's thread.
    if (const std::tm* local = std::localtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    return text;
}

std::uint64_t microsecondsSince1970()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

const char kUtf8Mark[] = "\xEF\xBB\xBF";  // Notepad then reads the log as UTF-8, not as the ANSI code page
}  // namespace

MonitorSession::MonitorSession(const MonitorServices& services, const MonitorSettings& settings,
                               const std::string& lineName, std::function<void()> onFailure)
    : services_(services),
      onFailure_(std::move(onFailure)),
      lineName_(lineName),
      openedAt_(services.clock->nowMicroseconds()),
      openedAtEpoch_(microsecondsSince1970()),
      started_(localTimeNow()),
      queue_(kQueueBytes),
      log_(*services.platform, settings.logPath, settings.sizeLimit,
           [this](bool empty, bool rotated) { return logPrologue(empty, rotated); }),
      capture_(*services.platform, settings.capturePath, settings.sizeLimit,
               [this](bool, bool) { return pcapng::sectionStart(services_.product, lineName_); })
{
}

std::uint64_t MonitorSession::now() const { return services_.clock->nowMicroseconds() - openedAt_; }

void MonitorSession::record(RecordKind kind, std::uint8_t arg, const void* payload, std::size_t length)
{
    if (stopped()) return;
    queue_.add(RecordHeader{now(), kind, arg, static_cast<std::uint16_t>(length)}, payload);
}

void MonitorSession::close(const std::string& closing)
{
    closing_ = closing;
    closedAt_ = now();
    closed_.store(true, std::memory_order_release);
}

std::string MonitorSession::logPrologue(bool empty, bool rotated) const
{
    std::string start = empty ? kUtf8Mark : LogFormat::kLineEnd;
    if (rotated) return start + LogFormat::continuedHeader(log_.rotatedPath());
    return start + LogFormat::sessionHeader(services_.product, started_);
}

void MonitorSession::take(const RecordHeader& record, const std::uint8_t* payload)
{
    if (stopped()) return;  // what is left is only drained
    format_.take(record, payload, logText_);
    if (record.kind == RecordKind::PppFrame && !capture_.path().empty())
        captureBytes_ += pcapng::packet(openedAtEpoch_ + record.time, static_cast<LineDirection>(record.arg), payload,
                                        record.length);
}

bool MonitorSession::pass() { return writeOut(closed_.load(std::memory_order_acquire)); }

void MonitorSession::unload()
{
    unloading_ = true;
    writeOut(true);
}

// Writes what the line's side has queued, and with `last` the session's end,
// and closes the files. False once the session has ended.
bool MonitorSession::writeOut(bool last)
{
    if (ended_) return false;
    // The time is read first: every record stamped before it is in the queue
    // by now, so a group the pass ends for its pause has really paused.
    const std::uint64_t passStarted = now();
    queue_.takeAll([this](const RecordHeader& record, const std::uint8_t* payload) { take(record, payload); });
    if (!last) {
        if (!stopped()) {
            format_.idle(passStarted, logText_);
            write();
        }
        return true;
    }
    const bool closed = closed_.load(std::memory_order_acquire);
    const std::uint64_t endedAt = closed ? closedAt_ : passStarted;
    if (!stopped()) {
        if (const std::uint32_t lost = queue_.unreported())
            format_.take(RecordHeader{endedAt, RecordKind::Dropped, 0, sizeof lost},
                         reinterpret_cast<const std::uint8_t*>(&lost), logText_);
        format_.end(logText_);
        if (closed && !closing_.empty())
            format_.take(RecordHeader{endedAt, RecordKind::Close, 0, static_cast<std::uint16_t>(closing_.size())},
                         reinterpret_cast<const std::uint8_t*>(closing_.data()), logText_);
        write();
    }
    stopped_.store(true, std::memory_order_relaxed);
    log_.close();
    capture_.close();
    ended_ = true;
    return false;
}

void MonitorSession::write()
{
    if (!log_.write(logText_)) return fail(log_.path());
    logText_.clear();
    if (!capture_.write(captureBytes_)) return fail(capture_.path());
    captureBytes_.clear();
}

void MonitorSession::fail(const std::string& path)
{
    stopped_.store(true, std::memory_order_relaxed);
    if (onFailure_) onFailure_();
    UserAlert* alert = services_.alert;
    if (!alert || unloading_) return;  // no thread is left to show it on
    // The message box waits for the user on a thread of its own, so that
    // the writer does not wait.
    const std::string message = kMonitorWriteFailedPrefix + path;
    services_.platform->runDetached([alert, message] { alert->show(message.c_str()); });
}
