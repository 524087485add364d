// The user's attention on Windows: a message box with no owner, the default
// title and OK only.
#pragma once

#include "device/Platform.h"

class Win32UserAlert final : public UserAlert {
public:
    void show(const char* text) override;
};
