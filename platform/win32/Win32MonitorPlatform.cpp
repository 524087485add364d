#include "platform/win32/Win32MonitorPlatform.h"

#include <windows.h>

#include "platform/win32/DetachedThread.h"

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

bool Win32MonitorPlatform::startWriter(std::function<bool()> pass, unsigned periodMs)
{
    // Below the emulator's threads: on a busy machine the log falls behind
    // (and says what it lost) rather than the emulated line.
    return startDetachedThread(
        [pass = std::move(pass), periodMs] {
            do Sleep(periodMs);
            while (pass());
        },
        THREAD_PRIORITY_BELOW_NORMAL);
}

// No thread: the message is not shown, the monitor is stopped all the same.
void Win32MonitorPlatform::runDetached(std::function<void()> task)
{
    startDetachedThread(std::move(task));
}
