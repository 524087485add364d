#include "platform/win32/DetachedThread.h"

namespace {
struct Detached {
    std::function<void()> task;
    HMODULE module = nullptr;
};

DWORD WINAPI runDetached(LPVOID argument)
{
    auto* detached = static_cast<Detached*>(argument);
    const HMODULE module = detached->module;
    detached->task();
    delete detached;  // before the module may go
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}
}  // namespace

bool startDetachedThread(std::function<void()> task, int priority)
{
    auto* detached = new Detached{std::move(task)};
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&runDetached),
                       &detached->module);
    HANDLE thread = CreateThread(nullptr, 0, runDetached, detached, CREATE_SUSPENDED, nullptr);
    if (!thread) {
        if (detached->module) FreeLibrary(detached->module);
        delete detached;
        return false;
    }
    if (priority != THREAD_PRIORITY_NORMAL) SetThreadPriority(thread, priority);
    ResumeThread(thread);
    CloseHandle(thread);
    return true;
}
