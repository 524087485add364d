#include <windows.h>

#include "platform/win32/Win32Platform.h"

void Win32UserAlert::show(const char* text) { MessageBoxA(nullptr, text, nullptr, MB_OK); }
