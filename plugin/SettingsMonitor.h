// The line monitor's settings, from the section [RS-232C] of the settings
// file, read each time a line opens:
//   MONITOR=PATH          the log; none, or empty: no monitor
//   MONITORCAPTURE=PATH   the capture of PPP frames (default: the log's path
//                         with the extension .pcapng)
//   MONITORSIZE=MB        how large each file grows before it is renamed
//                         to PATH.1 and started afresh (default 16, 1 to 1024)
// A relative path is taken from the settings file's folder. Paths are in
// the ANSI code page, Shift-JIS on a Japanese system.
#pragma once

#include "platform/monitor/MonitoredCatalog.h"
#include "ui/Profile.h"

class SettingsMonitor final : public MonitorSettingsSource {
public:
    static constexpr char kLogKey[] = "MONITOR";
    static constexpr char kCaptureKey[] = "MONITORCAPTURE";
    static constexpr char kSizeKey[] = "MONITORSIZE";
    static constexpr int kDefaultMegabytes = 16;
    static constexpr int kMostMegabytes = 1024;

    // `settingsPath` is the module's buffer, empty until the host names the file.
    SettingsMonitor(PrivateProfile& profile, const char* settingsPath) : profile_(profile), path_(settingsPath) {}

    MonitorSettings read() override;

private:
    PrivateProfile& profile_;
    const char* path_;
};

// `path` as written in the settings, taken from the folder of `settingsFile`
// when it is relative.
std::string resolveMonitorPath(const std::string& path, const char* settingsFile);
// The capture's default: `logPath` with its extension replaced by .pcapng.
std::string defaultCapturePath(const std::string& logPath);
