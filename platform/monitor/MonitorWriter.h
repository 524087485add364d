// The monitor's writer: one thread that writes the records of every session,
// in the order the sessions started, so that a session touches its files only
// once every session before it (which may have had the same files) has
// closed them. A line that closes hands its session's end to the writer and
// returns at once; the writer writes the last records, closes the files and,
// with no session left, ends, to start again with the next one. It holds the
// plug-in's code loaded only while it runs.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/monitor/MonitorSession.h"

class MonitorWriter : public std::enable_shared_from_this<MonitorWriter> {
public:
    explicit MonitorWriter(MonitorPlatform& platform) : platform_(platform) {}
    ~MonitorWriter();
    MonitorWriter(const MonitorWriter&) = delete;
    MonitorWriter& operator=(const MonitorWriter&) = delete;

    // The writer takes the session from now on; never waits. When no thread
    // can be had, the session waits for the next add or the unload.
    void add(std::shared_ptr<MonitorSession> session);

    // The module is going, and the thread with the process's other threads,
    // perhaps: writes out here what it has not, unless it was stopped in the
    // middle of a pass (its text is then unsure).
    void unload();

private:
    struct Added {
        std::shared_ptr<MonitorSession> session;
        Added* next;
    };

    bool pass();
    void takeAdded();

    MonitorPlatform& platform_;
    std::atomic<Added*> added_{nullptr};  // the latest first
    std::atomic<bool> running_{false};
    std::atomic<bool> unloaded_{false};
    std::atomic_flag writing_ = ATOMIC_FLAG_INIT;  // held for a pass, and for good by the unload
    std::vector<std::shared_ptr<MonitorSession>> sessions_;  // in the order they started; the holder of writing_'s
};
