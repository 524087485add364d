// A file the monitor appends to, kept under a size limit: a write that would
// take it past the limit first renames it to NAME.1 (replacing the one
// before) and starts NAME afresh. The file is opened at the first write,
// and a session starts at the end of what earlier sessions left there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/monitor/MonitorPlatform.h"

class RotatingFile {
public:
    // What a file starts with when it is opened (`empty`: it holds nothing
    // yet) and after a rotation (`rotated`).
    using Prologue = std::function<std::string(bool empty, bool rotated)>;

    RotatingFile(MonitorPlatform& platform, std::string path, std::uint64_t limit, Prologue prologue);

    // False once a write, an open or a rotation has failed; nothing more is
    // written after that.
    bool write(const std::string& data);
    void close() { file_.reset(); }

    const std::string& path() const { return path_; }
    std::string rotatedPath() const { return path_ + ".1"; }

private:
    bool rotate();
    bool start(const std::string& prologue);

    MonitorPlatform& platform_;
    std::string path_;
    std::uint64_t limit_;
    Prologue prologue_;
    std::unique_ptr<MonitorFile> file_;
    std::uint64_t size_ = 0;
    bool failed_ = false;
};
