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
    worker_ = services.platform->startWorker([this] { pass(); }, kWriterPeriodMs);
}

MonitorSession::~MonitorSession() { worker_.reset(); }

std::uint64_t MonitorSession::now() const { return services_.clock->nowMicroseconds() - openedAt_; }

void MonitorSession::record(RecordKind kind, std::uint8_t arg, const void* payload, std::size_t length)
{
    if (stopped()) return;
    queue_.add(RecordHeader{now(), kind, arg, static_cast<std::uint16_t>(length)}, payload);
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

void MonitorSession::pass()
{
    // The time is read first: every record stamped before it is in the queue
    // by now, so a group the pass ends for its pause has really paused.
    const std::uint64_t passStarted = now();
    queue_.takeAll([this](const RecordHeader& record, const std::uint8_t* payload) { take(record, payload); });
    if (stopped()) return;
    format_.idle(passStarted, logText_);
    write();
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
    if (!alert) return;
    // The message box waits for the user on a thread of its own, so that
    // neither the writer nor a line closing on the device's thread waits.
    const std::string message = kMonitorWriteFailedPrefix + path;
    services_.platform->runDetached([alert, message] { alert->show(message.c_str()); });
}

void MonitorSession::finish(const std::string& closing)
{
    worker_.reset();
    if (stopped()) return;
    if (const std::uint32_t lost = queue_.unreported())
        format_.take(RecordHeader{now(), RecordKind::Dropped, 0, sizeof lost}, reinterpret_cast<const std::uint8_t*>(&lost),
                     logText_);
    format_.end(logText_);
    if (!closing.empty())
        format_.take(RecordHeader{now(), RecordKind::Close, 0, static_cast<std::uint16_t>(closing.size())},
                     reinterpret_cast<const std::uint8_t*>(closing.data()), logText_);
    write();
}
