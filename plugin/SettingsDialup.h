// The dial-up server's settings from the settings file: the section
// [RS-232C Dialup], KEY=VALUE lines (see platform/dialup/DialupSettings.h).
// It is read at each call to the server, so an edit counts from the next dial.
#pragma once

#include "platform/dialup/DialupSettings.h"
#include "ui/Profile.h"

class SettingsDialup final : public dialup::DialupSettingsSource {
public:
    static constexpr std::size_t kLongestSection = 8 * 1024;

    // `settingsPath` is the module's buffer, empty until the host names the
    // file; the defaults stand until it does.
    SettingsDialup(PrivateProfile& profile, const char* settingsPath) : profile_(profile), path_(settingsPath) {}

    dialup::DialupSettings read() override;

private:
    PrivateProfile& profile_;
    const char* path_;
};
