#include "ui/Win32Profile.h"

#include <windows.h>

std::size_t Win32Profile::getString(const char* section, const char* key, const char* fallback, char* out,
                                    std::size_t size, const char* file)
{
    return GetPrivateProfileStringA(section, key, fallback, out, static_cast<DWORD>(size), file);
}

std::int32_t Win32Profile::getInt(const char* section, const char* key, std::int32_t fallback, const char* file)
{
    return static_cast<std::int32_t>(GetPrivateProfileIntA(section, key, fallback, file));
}

std::size_t Win32Profile::getSection(const char* section, char* out, std::size_t size, const char* file)
{
    return GetPrivateProfileSectionA(section, out, static_cast<DWORD>(size), file);
}

bool Win32Profile::writeString(const char* section, const char* key, const char* value, const char* file)
{
    return WritePrivateProfileStringA(section, key, value, file) != FALSE;
}
