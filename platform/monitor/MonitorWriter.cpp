#include "platform/monitor/MonitorWriter.h"

#include <algorithm>
#include <utility>

MonitorWriter::~MonitorWriter()
{
    for (Added* added = added_.load(); added;) delete std::exchange(added, added->next);
}

void MonitorWriter::add(std::shared_ptr<MonitorSession> session)
{
    auto* added = new Added{std::move(session), added_.load()};
    while (!added_.compare_exchange_weak(added->next, added)) {
    }
    if (running_.exchange(true)) return;
    std::shared_ptr<MonitorWriter> self = shared_from_this();
    if (!platform_.startWriter([self] { return self->pass(); }, MonitorSession::kWriterPeriodMs)) running_ = false;
}

void MonitorWriter::takeAdded()
{
    const std::size_t before = sessions_.size();
    for (Added* added = added_.exchange(nullptr); added;) {
        sessions_.push_back(std::move(added->session));
        delete std::exchange(added, added->next);
    }
    std::reverse(sessions_.begin() + static_cast<std::ptrdiff_t>(before), sessions_.end());
}

bool MonitorWriter::pass()
{
    if (writing_.test_and_set(std::memory_order_acquire)) return !unloaded_;
    takeAdded();
    std::size_t ended = 0;
    while (ended < sessions_.size() && !sessions_[ended]->pass()) ++ended;
    sessions_.erase(sessions_.begin(), sessions_.begin() + static_cast<std::ptrdiff_t>(ended));
    bool more = !sessions_.empty();
    if (!more) {
        running_ = false;
        // A session added since: this thread takes it, unless the add has
        // already started another.
        more = added_.load() != nullptr && !running_.exchange(true);
    }
    writing_.clear(std::memory_order_release);
    return more;
}

void MonitorWriter::unload()
{
    unloaded_ = true;
    if (writing_.test_and_set(std::memory_order_acquire)) return;
    takeAdded();
    for (const std::shared_ptr<MonitorSession>& session : sessions_) session->unload();
    sessions_.clear();
}
