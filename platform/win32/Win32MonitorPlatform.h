// The line monitor's files and threads on Windows: the file API with ANSI
// paths (as the settings file gives them) and Win32 threads.
#pragma once

#include "platform/monitor/MonitorPlatform.h"

class Win32MonitorPlatform final : public MonitorPlatform {
public:
    std::unique_ptr<MonitorFile> openForAppend(const std::string& path, std::uint64_t& size) override;
    bool replace(const std::string& from, const std::string& to) override;
    bool startWriter(std::function<bool()> pass, unsigned periodMs) override;
    void runDetached(std::function<void()> task) override;
};
