// The line monitor's files and threads on a native build (tests): POSIX
// files and the standard library's threads.
#pragma once

#include "platform/monitor/MonitorPlatform.h"

class NativeMonitorPlatform final : public MonitorPlatform {
public:
    std::unique_ptr<MonitorFile> openForAppend(const std::string& path, std::uint64_t& size) override;
    bool replace(const std::string& from, const std::string& to) override;
    std::unique_ptr<MonitorWorker> startWorker(std::function<void()> pass, unsigned periodMs) override;
    void runDetached(std::function<void()> task) override;
};
