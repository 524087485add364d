// What the monitor's tests share: a clock the test turns, a platform whose
// writer runs only when the test says (real files, via the native platform,
// with writes that can be made to fail), a message box that records, a line
// with events of its own, and a scratch folder.
#pragma once

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/Platform.h"
#include "platform/lines/Clock.h"
#include "platform/lines/LineEvents.h"
#include "platform/monitor/MonitorPlatform.h"
#include "platform/native/NativeMonitorPlatform.h"

class TurnedClock final : public Clock {
public:
    std::uint64_t nowMicroseconds() override { return now.load(); }
    void advance(std::uint64_t microseconds) { now += microseconds; }
    std::atomic<std::uint64_t> now{5000000};
};

class RecordingAlert final : public UserAlert {
public:
    void show(const char* text) override { shown.emplace_back(text); }
    std::vector<std::string> shown;
};

// Files as the native platform has them; the writer's passes run when the
// test calls pass() (and the last one when the worker goes); detached tasks
// run at once. After `failAfter` more bytes, writes fail, as on a full disk.
class SteppedPlatform final : public MonitorPlatform {
public:
    std::unique_ptr<MonitorFile> openForAppend(const std::string& path, std::uint64_t& size) override;
    bool replace(const std::string& from, const std::string& to) override { return files.replace(from, to); }
    std::unique_ptr<MonitorWorker> startWorker(std::function<void()> pass, unsigned) override;
    void runDetached(std::function<void()> task) override { task(); }

    void pass() { current(); }

    NativeMonitorPlatform files;
    std::function<void()> current;
    long long failAfter = -1;  // bytes still written; -1: never fails
};

// A scratch folder for one test, removed with it.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    std::string path(const std::string& name) const { return folder_ + "/" + name; }

private:
    std::string folder_;
};

std::string readFile(const std::string& path);
// The file's lines, without their CR LF; the header lines starting with '#' left out.
std::vector<std::string> logLines(const std::string& path);
// The log's lines with the time column cut off.
std::vector<std::string> untimed(const std::vector<std::string>& lines);

// A line with events of its own, like a modem: it carries nothing, and keeps
// the events the monitor handed it for the test to call.
class EventfulLine final : public Line, public ReportsLineEvents {
public:
    std::uint32_t features() const override { return 0; }
    LineState state() override { return LineState::Open; }
    void prepare() override {}
    bool setFormat(const LineFormat&) override { return false; }
    bool setRate(std::uint32_t) override { return false; }
    bool readFormat(LineFormat&) override { return false; }
    bool setControl(Control, bool) override { return false; }
    bool readInputs(ModemInputs&) override { return false; }
    bool pollErrors(std::uint8_t&, std::uint32_t&) override { return false; }
    bool readByte(std::uint8_t& byte) override
    {
        if (incoming.empty()) return false;
        byte = static_cast<std::uint8_t>(incoming.front());
        incoming.erase(0, 1);
        return true;
    }
    bool writeByte(std::uint8_t) override { return true; }
    void discard() override {}
    void reportEventsTo(LineEvents* to) override { events = to; }

    LineEvents* events = nullptr;
    std::string incoming;
};
