// The six functions the host calls by name. Exported undecorated, in the
// host's calling convention; "DeviceConect" is spelt with one n, as the host
// looks it up.
#pragma once

#include <cstdint>

#include "plugin/HostInterface.h"

#if defined(_WIN32)
#define RS232C_EXPORT extern "C" __declspec(dllexport)
#else
#define RS232C_EXPORT extern "C"
#endif

// Window handles travel as pointers, so that the declarations stay portable.
using HostWindow = void*;

// Names the settings file (at most 259 characters) and loads it.
RS232C_EXPORT void HOSTCALL SetPath(const char* path);
// Takes the host's timer and interrupt line, registers the port, reset,
// power-off, save and load handlers. 1 on success, 0 when the timer is refused.
RS232C_EXPORT std::int32_t HOSTCALL DeviceEntry(HostServices* services);
// Hooks the system port's RS-232C bits and the Timer2 count. 1 when every hook was taken.
RS232C_EXPORT std::int32_t HOSTCALL DeviceConect(HostDevices* devices);
// Writes the version text (25 characters and a NUL) and returns 25.
RS232C_EXPORT std::int32_t HOSTCALL DeviceVer(char* buffer);
// Creates the status panel as a page of the host's tab control; returns it.
RS232C_EXPORT HostWindow HOSTCALL FastGUI(HostWindow tabControl, std::int32_t position);
// Runs the configuration dialog modally; the dialog's result.
RS232C_EXPORT std::intptr_t HOSTCALL DeviceConfig(HostWindow owner);
