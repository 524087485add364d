#include "platform/native/NativeMonitorPlatform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
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

class ThreadWorker final : public MonitorWorker {
public:
    ThreadWorker(std::function<void()> pass, unsigned periodMs)
        : pass_(std::move(pass)), period_(periodMs), thread_([this] { run(); })
    {
    }
    ~ThreadWorker() override
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, period_, [this] { return stopping_; })) {
            lock.unlock();
            pass_();
            lock.lock();
        }
        lock.unlock();
        pass_();
    }

    std::function<void()> pass_;
    std::chrono::milliseconds period_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once the rest is there
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

std::unique_ptr<MonitorWorker> NativeMonitorPlatform::startWorker(std::function<void()> pass, unsigned periodMs)
{
    return std::make_unique<ThreadWorker>(std::move(pass), periodMs);
}

void NativeMonitorPlatform::runDetached(std::function<void()> task) { std::thread(std::move(task)).detach(); }
