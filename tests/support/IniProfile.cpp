#include "tests/support/IniProfile.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string trim(const std::string& text)
{
    std::size_t first = 0, last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// Names of the text may hold any byte; a NUL inside one never matches.
bool sameName(const std::string& a, const char* b) { return a.size() == std::strlen(b) && sameProfileName(a.c_str(), b); }

// One line of the text, without its line end.
struct Line {
    std::size_t begin;
    std::size_t end;
};

std::vector<Line> splitLines(const std::string& text)
{
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        lines.push_back(Line{begin, end});
        begin = end + 1;
    }
    return lines;
}

// "[name]" gives the section's name.
std::optional<std::string> sectionName(const std::string& line)
{
    const std::string body = trim(line);
    if (body.empty() || body[0] != '[') return std::nullopt;
    const std::size_t close = body.rfind(']');
    if (close == std::string::npos) return std::nullopt;
    return trim(body.substr(1, close - 1));
}

struct Entry {
    std::string key;
    std::string value;
};

std::optional<Entry> entryOf(const std::string& line)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return std::nullopt;
    Entry entry{trim(line.substr(0, equals)), trim(line.substr(equals + 1))};
    const std::string& v = entry.value;
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) entry.value = v.substr(1, v.size() - 2);
    return entry;
}

// Where a key sits in the text: the line of the key, or, when only its
// section exists, the line after which to add it.
struct Place {
    bool sectionFound = false;
    bool keyFound = false;
    std::size_t keyLine = 0;
    std::size_t lastEntryLine = 0;  // the section header or its last non-blank line
    std::string value;
};

Place locate(const std::string& text, const std::vector<Line>& lines, const char* section, const char* key)
{
    Place place;
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = text.substr(lines[i].begin, lines[i].end - lines[i].begin);
        if (const auto name = sectionName(line)) {
            if (inSection) break;  // the first section of that name is the one used
            inSection = sameName(*name, section);
            if (inSection) {
                place.sectionFound = true;
                place.lastEntryLine = i;
            }
            continue;
        }
        if (!inSection) continue;
        if (!trim(line).empty()) place.lastEntryLine = i;
        const auto entry = entryOf(line);
        if (entry && sameName(entry->key, key)) {
            place.keyFound = true;
            place.keyLine = i;
            place.value = entry->value;
            return place;
        }
    }
    return place;
}

std::string readFile(const char* file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Leading blanks, a sign, then decimal digits, wrapping at 32 bits.
std::int32_t leadingInteger(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

// The longest text the integer read looks at, as GetPrivateProfileIntA's own buffer.
constexpr std::size_t kIntegerBufferSize = 30;
}  // namespace

std::size_t IniTextProfile::getString(const char* section, const char* key, const char* fallback, char* out,
                                      std::size_t size, const char*)
{
    if (size == 0) return 0;
    const Place place = locate(text_, splitLines(text_), section, key);
    std::string value = place.keyFound ? place.value : std::string(fallback ? fallback : "");
    if (!place.keyFound) {
        while (!value.empty() && value.back() == ' ') value.pop_back();
    }
    const std::size_t length = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(out, value.data(), length);
    out[length] = '\0';
    return length;
}

std::int32_t IniTextProfile::getInt(const char* section, const char* key, std::int32_t fallback, const char* file)
{
    char value[kIntegerBufferSize];
    if (getString(section, key, "", value, sizeof value, file) == 0) return fallback;
    return leadingInteger(value);
}

std::size_t IniTextProfile::getSection(const char* section, char* out, std::size_t size, const char*)
{
    if (size < 2) return 0;
    std::string entries;
    bool inSection = false;
    for (const Line& range : splitLines(text_)) {
        const std::string line = text_.substr(range.begin, range.end - range.begin);
        if (const auto name = sectionName(line)) {
            if (inSection) break;
            inSection = sameName(*name, section);
        } else if (const auto entry = inSection ? entryOf(line) : std::nullopt) {
            entries += entry->key + "=" + entry->value + '\0';
        }
    }
    // Cut to the room there is, the two NULs at the end kept.
    if (entries.size() > size - 1) entries.resize(size - 2);
    std::memcpy(out, entries.data(), entries.size());
    out[entries.size()] = '\0';
    if (entries.size() + 1 < size) out[entries.size() + 1] = '\0';
    return entries.size();
}

bool IniTextProfile::writeString(const char* section, const char* key, const char* value, const char*)
{
    const std::vector<Line> lines = splitLines(text_);
    const Place place = locate(text_, lines, section, key);
    if (place.keyFound) {
        // Keep the key as the file spells it; only the value changes.
        const Line& line = lines[place.keyLine];
        const std::string old = text_.substr(line.begin, line.end - line.begin);
        const bool crlf = !old.empty() && old.back() == '\r';
        const std::string replacement = trim(old.substr(0, old.find('='))) + "=" + value + (crlf ? "\r" : "");
        text_.replace(line.begin, line.end - line.begin, replacement);
        return true;
    }
    const std::string entry = std::string(key) + "=" + value + "\r\n";
    if (place.sectionFound) {
        const Line& after = lines[place.lastEntryLine];
        std::size_t at = after.end + 1;
        if (after.end == text_.size()) {  // the section's last line ends the text unterminated
            text_ += "\r\n";
            at = text_.size();
        }
        text_.insert(at, entry);
        return true;
    }
    if (!text_.empty() && text_.back() != '\n') text_ += "\r\n";
    text_ += "[" + std::string(section) + "]\r\n" + entry;
    return true;
}

std::size_t IniFileProfile::getString(const char* section, const char* key, const char* fallback, char* out,
                                      std::size_t size, const char* file)
{
    IniTextProfile contents(readFile(file));
    return contents.getString(section, key, fallback, out, size, file);
}

std::int32_t IniFileProfile::getInt(const char* section, const char* key, std::int32_t fallback, const char* file)
{
    IniTextProfile contents(readFile(file));
    return contents.getInt(section, key, fallback, file);
}

std::size_t IniFileProfile::getSection(const char* section, char* out, std::size_t size, const char* file)
{
    IniTextProfile contents(readFile(file));
    return contents.getSection(section, out, size, file);
}

bool IniFileProfile::writeString(const char* section, const char* key, const char* value, const char* file)
{
    IniTextProfile contents(readFile(file));
    contents.writeString(section, key, value, file);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << contents.text();
    return static_cast<bool>(out.flush());
}
