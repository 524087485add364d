// The device's figure writes to the status panel, on Windows.
#pragma once

#include <windows.h>

#include "device/Platform.h"

// Message the panel procedure handles by applying the figures posted to it.
constexpr UINT kPanelFieldsMessage = WM_USER + 101;

// Panel writes come from the emulation and timer threads with the device's
// locks held, while the panel's thread may be waiting for those locks in its
// LED refresh. So a write never sends: it stores the newest text of the field
// and posts one message; the panel's thread sets the texts when it gets there.
class PanelFieldPoster final : public PanelFields {
public:
    PanelFieldPoster();
    ~PanelFieldPoster() override;
    PanelFieldPoster(const PanelFieldPoster&) = delete;
    PanelFieldPoster& operator=(const PanelFieldPoster&) = delete;

    void setText(WindowHandle panel, int controlId, const char* text) override;
    // On the panel's thread, in answer to kPanelFieldsMessage.
    void applyPending(HWND panel);

private:
    struct Field {
        int controlId;
        bool changed;
        char text[32];
    };
    static constexpr int kFieldCount = 5;

    CRITICAL_SECTION lock_;
    Field fields_[kFieldCount];
    HWND postedTo_;  // the panel a message is on its way to, or none
};
