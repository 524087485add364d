// The configuration dialog: port, lock, rate, parity, stop bits, byte size.
#pragma once

#include <windows.h>

#include <cstdint>

#include "device/Rs232cDevice.h"
#include "ui/Profile.h"

// Runs the dialog modally over `owner` and returns its result. It opens on
// what the settings file `settingsPath` holds; OK writes the six keys through
// `profile` and hands the settings to `device` for its next mode byte.
std::intptr_t runConfigDialog(HINSTANCE resources, HWND owner, PrivateProfile& profile, const char* settingsPath,
                              Rs232cDevice& device);
