#include "tests/monitor/MonitorRig.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace {
class FailingFile final : public MonitorFile {
public:
    FailingFile(std::unique_ptr<MonitorFile> file, long long& budget) : file_(std::move(file)), budget_(budget) {}
    bool write(const char* data, std::size_t length) override
    {
        if (budget_ >= 0 && static_cast<long long>(length) > budget_) return false;
        if (budget_ >= 0) budget_ -= static_cast<long long>(length);
        return file_->write(data, length);
    }

private:
    std::unique_ptr<MonitorFile> file_;
    long long& budget_;
};

class SteppedWorker final : public MonitorWorker {
public:
    SteppedWorker(std::function<void()> pass, std::function<void()>& slot) : pass_(std::move(pass)), slot_(slot)
    {
        slot_ = pass_;
    }
    ~SteppedWorker() override
    {
        pass_();
        slot_ = [] {};
    }

private:
    std::function<void()> pass_;
    std::function<void()>& slot_;
};
}  // namespace

std::unique_ptr<MonitorFile> SteppedPlatform::openForAppend(const std::string& path, std::uint64_t& size)
{
    std::unique_ptr<MonitorFile> file = files.openForAppend(path, size);
    if (!file) return nullptr;
    return std::make_unique<FailingFile>(std::move(file), failAfter);
}

std::unique_ptr<MonitorWorker> SteppedPlatform::startWorker(std::function<void()> pass, unsigned)
{
    return std::make_unique<SteppedWorker>(std::move(pass), current);
}

ScratchFolder::ScratchFolder()
{
    char pattern[] = "/tmp/rs232c-monitor-XXXXXX";
    folder_ = mkdtemp(pattern);
}

ScratchFolder::~ScratchFolder() { std::filesystem::remove_all(folder_); }

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> logLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> untimed(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const std::string& line : lines) out.push_back(line.size() > 14 ? line.substr(14) : line);
    return out;
}
