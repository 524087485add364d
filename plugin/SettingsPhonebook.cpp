#include "plugin/SettingsPhonebook.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "platform/network/Address.h"

namespace {
std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}
}  // namespace

std::optional<std::string> SettingsPhonebook::lookup(const std::string& number)
{
    if (path_[0] == '\0' || number.empty()) return std::nullopt;
    std::vector<char> section(kLongestSection);
    const std::size_t length = profile_.getSection(kSection, section.data(), section.size(), path_);
    for (std::size_t at = 0; at < length;) {
        const std::string_view entry(section.data() + at, std::strlen(section.data() + at));
        at += entry.size() + 1;
        const std::size_t equals = entry.find('=');
        if (entry.empty() || entry.front() == ';' || equals == std::string_view::npos) continue;
        if (phonebookKey(trimmed(entry.substr(0, equals))) == number)
            return std::string(trimmed(entry.substr(equals + 1)));
    }
    return std::nullopt;
}
