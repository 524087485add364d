#include "platform/monitor/RotatingFile.h"

RotatingFile::RotatingFile(MonitorPlatform& platform, std::string path, std::uint64_t limit, Prologue prologue)
    : platform_(platform), path_(std::move(path)), limit_(limit), prologue_(std::move(prologue))
{
}

bool RotatingFile::rotate()
{
    file_.reset();
    return platform_.replace(path_, rotatedPath()) && (file_ = platform_.openForAppend(path_, size_)) != nullptr;
}

bool RotatingFile::start(const std::string& prologue)
{
    if (!file_->write(prologue.data(), prologue.size())) return false;
    size_ += prologue.size();
    return true;
}

bool RotatingFile::write(const std::string& data)
{
    if (failed_) return false;
    if (data.empty()) return true;
    bool ready;
    if (!file_) {
        // A session starts at the end of what earlier ones left, unless its
        // start would not fit: then in a fresh file.
        file_ = platform_.openForAppend(path_, size_);
        ready = file_ != nullptr;
        if (ready) {
            std::string prologue = prologue_(size_ == 0, false);
            if (size_ > 0 && size_ + prologue.size() + data.size() > limit_) {
                ready = rotate();
                prologue = prologue_(true, false);
            }
            ready = ready && start(prologue);
        }
    } else if (size_ + data.size() > limit_) {
        ready = rotate() && start(prologue_(true, true));
    } else {
        ready = true;
    }
    if (!ready || !file_->write(data.data(), data.size())) {
        file_.reset();
        failed_ = true;
        return false;
    }
    size_ += data.size();
    return true;
}
