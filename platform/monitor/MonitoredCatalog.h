// The catalog the device opens lines through when a monitor may be wanted:
// it asks the settings at each open, and when they name a log it wraps the
// line the catalog of kinds opened in a MonitorLine, with a session of its
// own. A failed open is logged too, as one record.
//
// After a file could not be written the monitor stays off for that log's
// path, so the user is told once; naming another path in the settings
// starts it again at the next open.
//
// Destroying the catalog is the module's unload: the plug-in leaves its line
// open then, and the writer may be gone with the process's other threads,
// so what it has not written is written out here.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "device/Line.h"
#include "platform/monitor/MonitorSession.h"
#include "platform/monitor/MonitorWriter.h"

// The monitor's settings as they stand when a line opens.
class MonitorSettingsSource {
public:
    virtual ~MonitorSettingsSource() = default;
    virtual MonitorSettings read() = 0;
};

class MonitoredCatalog final : public LineCatalog {
public:
    // All of them outlive the catalog.
    MonitoredCatalog(LineCatalog& lines, MonitorSettingsSource& settings, MonitorServices services);
    ~MonitoredCatalog() override;

    std::unique_ptr<Line> open(const char* name) override;
    bool reachesOutside(const char* name) override { return lines_.reachesOutside(name); }

private:
    LineCatalog& lines_;
    MonitorSettingsSource& settings_;
    MonitorServices services_;
    std::string lastPath_;  // the log path of the last session
    std::shared_ptr<std::atomic<bool>> lastFailed_ = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<MonitorWriter> writer_;
};
