// The modem's phonebook from the settings file: the section
// [RS-232C Phonebook], one NUMBER=ADDRESS per line. It is read at each
// lookup, so an edit counts from the next dial.
#pragma once

#include "platform/modem/Phonebook.h"
#include "ui/Profile.h"

class SettingsPhonebook final : public Phonebook {
public:
    static constexpr char kSection[] = "RS-232C Phonebook";
    // The most of the section read: some hundreds of entries.
    static constexpr std::size_t kLongestSection = 32 * 1024;

    // `settingsPath` is the module's buffer, empty until the host names the file.
    SettingsPhonebook(PrivateProfile& profile, const char* settingsPath) : profile_(profile), path_(settingsPath) {}

    // A NUMBER matches when it is the same once spaces, dashes, dots and
    // parentheses are gone from it.
    std::optional<std::string> lookup(const std::string& number) override;

private:
    PrivateProfile& profile_;
    const char* path_;
};
