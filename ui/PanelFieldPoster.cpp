#include "ui/PanelFieldPoster.h"

#include <cstring>

#include "device/Rs232cDevice.h"
#include "ui/resources/ResourceIds.h"

// The device names the figure fields by the panel's control identifiers.
static_assert(kFieldComputedSpeed == IDC_COMPUTED_SPEED && kFieldActualSpeed == IDC_ACTUAL_SPEED &&
                  kFieldTimer2Count == IDC_TIMER2_COUNT && kFieldSystemClock == IDC_SYSTEM_CLOCK &&
                  kFieldDivider == IDC_DIVIDER,
              "the device's panel fields are the panel's controls");

PanelFieldPoster::PanelFieldPoster()
    : fields_{{kFieldSystemClock, false, {}},
              {kFieldComputedSpeed, false, {}},
              {kFieldActualSpeed, false, {}},
              {kFieldDivider, false, {}},
              {kFieldTimer2Count, false, {}}},
      postedTo_(nullptr)
{
    InitializeCriticalSection(&lock_);
}

PanelFieldPoster::~PanelFieldPoster() { DeleteCriticalSection(&lock_); }

void PanelFieldPoster::setText(WindowHandle panel, int controlId, const char* text)
{
    EnterCriticalSection(&lock_);
    for (Field& field : fields_) {
        if (field.controlId != controlId) continue;
        std::strncpy(field.text, text, sizeof field.text - 1);
        field.text[sizeof field.text - 1] = '\0';
        field.changed = true;
    }
    // One message carries every change made before the panel gets to it. A
    // message posted to a panel that has since gone is lost, so a new panel
    // gets a message of its own.
    if (postedTo_ != panel)
        postedTo_ = PostMessageA(static_cast<HWND>(panel), kPanelFieldsMessage, 0, 0) ? static_cast<HWND>(panel) : nullptr;
    LeaveCriticalSection(&lock_);
}

void PanelFieldPoster::applyPending(HWND panel)
{
    Field changed[kFieldCount];
    int count = 0;
    EnterCriticalSection(&lock_);
    for (Field& field : fields_) {
        if (!field.changed) continue;
        changed[count++] = field;
        field.changed = false;
    }
    postedTo_ = nullptr;
    LeaveCriticalSection(&lock_);
    // SetDlgItemText sends to our own window: no lock may be held here.
    for (int i = 0; i < count; ++i) SetDlgItemTextA(panel, changed[i].controlId, changed[i].text);
}
