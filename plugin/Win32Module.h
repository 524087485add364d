// The loaded module on Windows: its instance handle, for resources and dialogs.
#pragma once

#include <windows.h>

HINSTANCE moduleInstance();
