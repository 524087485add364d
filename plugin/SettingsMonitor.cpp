#include "plugin/SettingsMonitor.h"

#include "platform/monitor/ShiftJis.h"
#include "ui/Settings.h"

namespace {
// Where the folder part of `path` ends (just past its last separator; 0 for
// none). A Shift-JIS trail byte can be 0x5C, the backslash, so lead and trail
// bytes are stepped over as one character.
std::size_t folderEnd(const std::string& path)
{
    std::size_t end = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (isShiftJisLead(c)) {
            ++i;
        } else if (c == '\\' || c == '/' || (c == ':' && i == 1)) {
            end = i + 1;
        }
    }
    return end;
}

bool isAbsolute(const std::string& path)
{
    return (!path.empty() && (path[0] == '\\' || path[0] == '/')) || (path.size() >= 2 && path[1] == ':');
}
}  // namespace

std::string resolveMonitorPath(const std::string& path, const char* settingsFile)
{
    if (path.empty() || isAbsolute(path)) return path;
    const std::string file = settingsFile;
    return file.substr(0, folderEnd(file)) + path;
}

std::string defaultCapturePath(const std::string& logPath)
{
    const std::size_t name = folderEnd(logPath);
    std::size_t dot = std::string::npos;
    for (std::size_t i = name; i < logPath.size(); ++i) {
        if (isShiftJisLead(static_cast<unsigned char>(logPath[i])))
            ++i;
        else if (logPath[i] == '.')
            dot = i;
    }
    return (dot == std::string::npos || dot == name ? logPath : logPath.substr(0, dot)) + ".pcapng";
}

MonitorSettings SettingsMonitor::read()
{
    MonitorSettings settings;
    if (path_[0] == '\0') return settings;
    char value[kSettingsPathSize];
    profile_.getString(kSettingsSection, kLogKey, "", value, sizeof value, path_);
    settings.logPath = resolveMonitorPath(value, path_);
    if (settings.logPath.empty()) return settings;
    profile_.getString(kSettingsSection, kCaptureKey, "", value, sizeof value, path_);
    settings.capturePath = value[0] ? resolveMonitorPath(value, path_) : defaultCapturePath(settings.logPath);
    std::int32_t megabytes = profile_.getInt(kSettingsSection, kSizeKey, kDefaultMegabytes, path_);
    if (megabytes < 1) megabytes = kDefaultMegabytes;
    if (megabytes > kMostMegabytes) megabytes = kMostMegabytes;
    settings.sizeLimit = static_cast<std::uint64_t>(megabytes) << 20;
    return settings;
}
