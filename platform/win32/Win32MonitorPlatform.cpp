#include "platform/win32/Win32MonitorPlatform.h"

#include <windows.h>

namespace {
class Win32File final : public MonitorFile {
public:
    explicit Win32File(HANDLE file) : file_(file) {}
    ~Win32File() override { CloseHandle(file_); }

    bool write(const char* data, std::size_t length) override
    {
        while (length > 0) {
            const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
            DWORD written = 0;
            if (!WriteFile(file_, data, chunk, &written, nullptr) || written == 0) return false;
            data += written;
            length -= written;
        }
        return true;
    }

private:
    HANDLE file_;
};

// A pass every period until the stop event is set, then a last one.
class Win32Worker final : public MonitorWorker {
public:
    Win32Worker(std::function<void()> pass, unsigned periodMs) : pass_(std::move(pass)), period_(periodMs)
    {
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (stop_) thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
        // Below the emulator's threads: on a busy machine the log falls
        // behind (and says what it lost) rather than the emulated line.
        if (thread_) SetThreadPriority(thread_, THREAD_PRIORITY_BELOW_NORMAL);
    }
    ~Win32Worker() override
    {
        if (thread_) {
            SetEvent(stop_);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        } else {
            pass_();  // no thread could be had: the last pass runs here
        }
        if (stop_) CloseHandle(stop_);
    }

private:
    static DWORD WINAPI run(LPVOID self)
    {
        auto* worker = static_cast<Win32Worker*>(self);
        while (WaitForSingleObject(worker->stop_, worker->period_) == WAIT_TIMEOUT) worker->pass_();
        worker->pass_();
        return 0;
    }

    std::function<void()> pass_;
    DWORD period_;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
};

DWORD WINAPI runTask(LPVOID task)
{
    auto* owned = static_cast<std::function<void()>*>(task);
    (*owned)();
    delete owned;
    return 0;
}
}  // namespace

std::unique_ptr<MonitorFile> Win32MonitorPlatform::openForAppend(const std::string& path, std::uint64_t& size)
{
    // Readers may watch the log as it grows and the writer may rename it to
    // rotate it under them; nobody else may write it.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length)) {
        CloseHandle(file);
        return nullptr;
    }
    size = static_cast<std::uint64_t>(length.QuadPart);
    return std::make_unique<Win32File>(file);
}

bool Win32MonitorPlatform::replace(const std::string& from, const std::string& to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

std::unique_ptr<MonitorWorker> Win32MonitorPlatform::startWorker(std::function<void()> pass, unsigned periodMs)
{
    return std::make_unique<Win32Worker>(std::move(pass), periodMs);
}

void Win32MonitorPlatform::runDetached(std::function<void()> task)
{
    auto* owned = new std::function<void()>(std::move(task));
    HANDLE thread = CreateThread(nullptr, 0, runTask, owned, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        delete owned;  // no thread: the message is not shown, the monitor is stopped all the same
    }
}
