#include "platform/native/NativeMonitorPlatform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {
class PosixFile final : public MonitorFile {
public:
    explicit PosixFile(int descriptor) : descriptor_(descriptor) {}
    ~PosixFile() override { close(descriptor_); }

    bool write(const char* data, std::size_t length) override
    {
        while (length > 0) {
            const ssize_t written = ::write(descriptor_, data, length);
            if (written <= 0) return false;
            data += written;
            length -= static_cast<std::size_t>(written);
        }
        return true;
    }

private:
    int descriptor_;
};
}  // namespace

std::unique_ptr<MonitorFile> NativeMonitorPlatform::openForAppend(const std::string& path, std::uint64_t& size)
{
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (descriptor < 0) return nullptr;
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
        close(descriptor);
        return nullptr;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return std::make_unique<PosixFile>(descriptor);
}

bool NativeMonitorPlatform::replace(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool NativeMonitorPlatform::startWriter(std::function<bool()> pass, unsigned periodMs)
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ++writers_;
    }
    std::thread([this, pass = std::move(pass), period = std::chrono::milliseconds(periodMs)]() mutable {
        do std::this_thread::sleep_for(period);
        while (pass());
        pass = nullptr;
        std::lock_guard<std::mutex> guard(mutex_);
        --writers_;
        ended_.notify_all();
    }).detach();
    return true;
}

void NativeMonitorPlatform::waitForWriters()
{
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [this] { return writers_ == 0; });
}

void NativeMonitorPlatform::runDetached(std::function<void()> task) { std::thread(std::move(task)).detach(); }
