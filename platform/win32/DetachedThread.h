// A task on a thread of its own that nobody waits for: a connect, a name
// look-up, the monitor's writer.
#pragma once

#include <windows.h>

#include <functional>

// The thread holds a reference to this DLL while it runs, so that the host
// may unload the plug-in under a task still in progress; the task is
// destroyed before the thread lets the DLL go. False if no thread could be
// made (the task is then dropped unrun).
bool startDetachedThread(std::function<void()> task, int priority = THREAD_PRIORITY_NORMAL);
