// The settings file: the four private-profile operations the plug-in uses,
// behind an interface so that the Win32 functions and a portable INI reader
// can stand in for each other.
#pragma once

#include <cstddef>
#include <cstdint>

class PrivateProfile {
public:
    virtual ~PrivateProfile() = default;
    // As GetPrivateProfileStringA: copies the value (or `fallback` when the
    // key is absent), cut to size - 1 characters, and returns its length.
    virtual std::size_t getString(const char* section, const char* key, const char* fallback, char* out,
                                  std::size_t size, const char* file) = 0;
    // As GetPrivateProfileIntA: the value's leading decimal number, or
    // `fallback` when the key is absent or empty.
    virtual std::int32_t getInt(const char* section, const char* key, std::int32_t fallback, const char* file) = 0;
    // As GetPrivateProfileSectionA: the section's entries as "key=value"
    // strings, each ended by a NUL and the last by a second one, cut to fit
    // `size`; returns the length without the final NUL (0 for no section).
    virtual std::size_t getSection(const char* section, char* out, std::size_t size, const char* file) = 0;
    // As WritePrivateProfileStringA: sets the key, adding it (and the section)
    // when absent. False when the file cannot be written.
    virtual bool writeString(const char* section, const char* key, const char* value, const char* file) = 0;
};

// Section and key names match as the profile functions match them: ASCII
// letters without regard to case, Shift-JIS bytes as they are.
inline bool sameProfileName(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
        if (x != y) return false;
        if (x == 0) return true;
    }
}
