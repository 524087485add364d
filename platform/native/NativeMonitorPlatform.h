// The line monitor's files and threads on a native build (tests): POSIX
// files and the standard library's threads.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/monitor/MonitorPlatform.h"

class NativeMonitorPlatform final : public MonitorPlatform {
public:
    std::unique_ptr<MonitorFile> openForAppend(const std::string& path, std::uint64_t& size) override;
    bool replace(const std::string& from, const std::string& to) override;
    bool startWriter(std::function<bool()> pass, unsigned periodMs) override;
    void runDetached(std::function<void()> task) override;

    // Returns once every writer has ended (a test, before what the writers
    // use goes).
    void waitForWriters();

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    int writers_ = 0;
};
