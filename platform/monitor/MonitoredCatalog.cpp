#include "platform/monitor/MonitoredCatalog.h"

#include <cstring>

#include "platform/monitor/MonitorLine.h"

MonitoredCatalog::MonitoredCatalog(LineCatalog& lines, MonitorSettingsSource& settings, MonitorServices services)
    : lines_(lines),
      settings_(settings),
      services_(std::move(services)),
      writer_(std::make_shared<MonitorWriter>(*services_.platform))
{
}

MonitoredCatalog::~MonitoredCatalog() { writer_->unload(); }

std::unique_ptr<Line> MonitoredCatalog::open(const char* name)
{
    const MonitorSettings settings = settings_.read();
    std::unique_ptr<Line> line = lines_.open(name);
    if (settings.logPath.empty() || (settings.logPath == lastPath_ && lastFailed_->load())) return line;

    lastPath_ = settings.logPath;
    lastFailed_ = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> failed = lastFailed_;
    auto session = std::make_shared<MonitorSession>(services_, settings, name, [failed] { failed->store(true); });
    writer_->add(session);
    if (!line) {
        session->record(RecordKind::OpenFailed, 0, name, std::strlen(name));
        session->close(std::string());
        return nullptr;
    }
    session->record(RecordKind::Open, 0, name, std::strlen(name));
    return std::make_unique<MonitorLine>(std::move(line), std::move(session), name);
}
