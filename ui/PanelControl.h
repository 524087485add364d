// What the host's machine reset and power-off do to the status panel.
#pragma once

// Each does nothing while there is no panel, and may be called from any thread.
class PanelControl {
public:
    virtual ~PanelControl() = default;
    virtual void startTimer() = 0;  // the 500 ms LED refresh
    virtual void stopTimer() = 0;
    virtual void darkenLeds() = 0;  // waits until the panel has done it
};
