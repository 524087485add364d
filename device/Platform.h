// What the device needs of the computer it runs on, and nothing more: the
// lines a user can name, the user's attention, and the status panel's figure
// fields. The Win32 implementations live in platform/; tests bring fakes.
#pragma once

#include "device/Line.h"

// The status panel window, or none.
using WindowHandle = void*;

// A message the user must see: no owner window, the default title, OK only.
// It blocks until the user closes it, so the device shows it with no lock held.
class UserAlert {
public:
    virtual ~UserAlert() = default;
    virtual void show(const char* text) = 0;
};

// Sets the text of one figure field of the status panel. Called with the
// device's locks held from any thread, so it must never wait for the panel's
// own thread (which may itself be waiting for those locks).
class PanelFields {
public:
    virtual ~PanelFields() = default;
    virtual void setText(WindowHandle panel, int controlId, const char* text) = 0;
};

// Everything the device reaches the platform through.
struct Platform {
    LineCatalog* lines;
    UserAlert* alert;
    PanelFields* panelFields;
};
