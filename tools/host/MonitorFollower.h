// --monitor: the plug-in's line monitor log, printed on standard output as
// it grows, each line whole among the simulator's own.
#pragma once

#include <string>

// The log path the settings file `ini` names (MONITOR in [RS-232C]); when
// it names none, hostsim-monitor.log beside it, for this run only.
std::string monitorLogOf(const std::string& ini);
void startMonitorFollower(const std::string& path);
// Prints what the log still holds, then stops.
void stopMonitorFollower();
