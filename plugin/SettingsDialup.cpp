#include "plugin/SettingsDialup.h"

#include <cstring>
#include <string>
#include <vector>

dialup::DialupSettings SettingsDialup::read()
{
    std::vector<std::string> entries;
    if (path_[0] != '\0') {
        std::vector<char> section(kLongestSection);
        const std::size_t length =
            profile_.getSection(dialup::DialupSettings::kSection, section.data(), section.size(), path_);
        for (std::size_t at = 0; at < length;) {
            const std::size_t size = std::strlen(section.data() + at);
            entries.emplace_back(section.data() + at, size);
            at += size + 1;
        }
    }
    return dialup::DialupSettings::parse(entries);
}
