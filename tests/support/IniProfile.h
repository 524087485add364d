// A portable stand-in for the Windows private-profile functions, for builds
// without them: the same lookups over INI text held in memory or in a file.
//
// What it reproduces: sections and keys are found without regard to ASCII
// case, the first match wins; names and values lose surrounding blanks, and a
// value wrapped in one pair of matching quotes loses them; a line without '='
// holds no key; an absent key gives the default (cut of trailing blanks); an
// integer is read like GetPrivateProfileIntA: an empty or absent value gives
// the default, otherwise leading blanks, a sign and the leading decimal digits
// (none: 0), wrapping at 32 bits; a section comes back as its entries, each
// "key=value" and NUL-terminated, cut like GetPrivateProfileSectionA's. A write replaces the key's line, or adds the
// key after the section's last entry, or adds the section at the end.
#pragma once

#include <string>

#include "ui/Profile.h"

// Profile operations on INI text; the `file` argument is ignored.
class IniTextProfile : public PrivateProfile {
public:
    explicit IniTextProfile(std::string text = std::string()) : text_(std::move(text)) {}

    std::size_t getString(const char* section, const char* key, const char* fallback, char* out, std::size_t size,
                          const char* file) override;
    std::int32_t getInt(const char* section, const char* key, std::int32_t fallback, const char* file) override;
    std::size_t getSection(const char* section, char* out, std::size_t size, const char* file) override;
    bool writeString(const char* section, const char* key, const char* value, const char* file) override;

    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Profile operations on the INI file named by each call, read and written
// whole every time, as the settings file is used.
class IniFileProfile : public PrivateProfile {
public:
    std::size_t getString(const char* section, const char* key, const char* fallback, char* out, std::size_t size,
                          const char* file) override;
    std::int32_t getInt(const char* section, const char* key, std::int32_t fallback, const char* file) override;
    std::size_t getSection(const char* section, char* out, std::size_t size, const char* file) override;
    bool writeString(const char* section, const char* key, const char* value, const char* file) override;
};
