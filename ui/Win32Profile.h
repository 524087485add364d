// The settings file through the Windows private-profile functions.
#pragma once

#include "ui/Profile.h"

class Win32Profile final : public PrivateProfile {
public:
    std::size_t getString(const char* section, const char* key, const char* fallback, char* out, std::size_t size,
                          const char* file) override;
    std::int32_t getInt(const char* section, const char* key, std::int32_t fallback, const char* file) override;
    std::size_t getSection(const char* section, char* out, std::size_t size, const char* file) override;
    bool writeString(const char* section, const char* key, const char* value, const char* file) override;
};
