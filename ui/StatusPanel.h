// The status panel: a page of the host's tab control with the four modem LEDs
// and the five speed figures.
#pragma once

#include <windows.h>

#include "device/Rs232cDevice.h"
#include "ui/PanelControl.h"
#include "ui/PanelFieldPoster.h"

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

// Creates the panel as the page at `position` of the host's tab control, showing
// `device`'s modem lines and receiving its figures; null when it cannot be made.
// One page at a time: while it lives, a second call returns it and adds no tab.
HWND createStatusPanel(HINSTANCE resources, HWND tabs, int position, Rs232cDevice& device);
