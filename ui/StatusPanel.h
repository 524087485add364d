// The status panel: a page of the host's tab control with the four modem LEDs
// and the five speed figures.
#pragma once

#include <windows.h>

#include "platform/win32/Win32Platform.h"
#include "plugin/PluginModule.h"

// The panel's private messages.
constexpr UINT kLedsOffMessage = WM_USER + 100;     // darken all four LEDs
constexpr UINT kPanelTimerMessage = WM_USER + 102;  // wParam 1 starts the refresh, 0 stops it
static_assert(kLedsOffMessage == 0x464, "the panel's LED-off message");
static_assert(kPanelTimerMessage != kPanelFieldsMessage, "distinct panel messages");

// Loaded once at module load; never released.
void loadLedBitmaps(HINSTANCE module);

// The figure writes the device posts to the panel.
PanelFieldPoster& panelFieldPoster();

// The refresh timer and the LEDs, for the host's reset and power-off.
PanelControl& statusPanel();
