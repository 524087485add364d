// The line monitor's keys in the settings file, and where their paths lead.
#include <gtest/gtest.h>

#include "plugin/SettingsMonitor.h"
#include "tests/support/IniProfile.h"

TEST(SettingsMonitor, PathsAreTakenFromTheSettingsFilesFolder)
{
    const struct {
        const char* written;
        const char* settingsFile;
        const char* path;
    } cases[] = {
        {"rs232c.log", "C:\\Emu\\emu.ini", "C:\\Emu\\rs232c.log"},
        {"logs\\line.log", "C:\\Emu\\emu.ini", "C:\\Emu\\logs\\line.log"},
        {"D:\\logs\\line.log", "C:\\Emu\\emu.ini", "D:\\logs\\line.log"},
        {"\\\\server\\share\\line.log", "C:\\Emu\\emu.ini", "\\\\server\\share\\line.log"},
        {"line.log", "emu.ini", "line.log"},
        // A folder named ソフト: the trail byte of ソ is a backslash.
        {"line.log", "C:\\\x83\x5c\x83\x74\x83\x67\\emu.ini", "C:\\\x83\x5c\x83\x74\x83\x67\\line.log"},
        {"line.log", "C:\\\x83\x5c\\emu.ini", "C:\\\x83\x5c\\line.log"},
    };
    for (const auto& c : cases) EXPECT_EQ(resolveMonitorPath(c.written, c.settingsFile), c.path) << c.written;
}

TEST(SettingsMonitor, KeysReadWithTheirDefaultsAndBounds)
{
    const struct {
        const char* keys;
        const char* log;
        const char* capture;  // the log's path with .pcapng unless named
        std::uint64_t megabytes;
    } cases[] = {
        {"PORT=COM1", "", "", 16},
        {"MONITOR=line.log", "C:\\Emu\\line.log", "C:\\Emu\\line.pcapng", 16},
        {"MONITOR=C:\\my.logs\\line\r\nMONITORSIZE=2", "C:\\my.logs\\line", "C:\\my.logs\\line.pcapng", 2},
        {"MONITOR=.log\r\nMONITORSIZE=0", "C:\\Emu\\.log", "C:\\Emu\\.log.pcapng", 16},
        {"MONITOR=a.log\r\nMONITORCAPTURE=calls.pcapng\r\nMONITORSIZE=-5", "C:\\Emu\\a.log", "C:\\Emu\\calls.pcapng", 16},
        {"MONITOR=a.log\r\nMONITORSIZE=x", "C:\\Emu\\a.log", "C:\\Emu\\a.pcapng", 16},
        {"MONITOR=a.log\r\nMONITORSIZE=99999", "C:\\Emu\\a.log", "C:\\Emu\\a.pcapng", 1024},
    };
    char path[] = "C:\\Emu\\emu.ini";
    for (const auto& c : cases) {
        IniTextProfile profile(std::string("[RS-232C]\r\n") + c.keys + "\r\n");
        const MonitorSettings settings = SettingsMonitor(profile, path).read();
        EXPECT_EQ(settings.logPath, c.log) << c.keys;
        if (!*c.log) continue;
        EXPECT_EQ(settings.capturePath, c.capture) << c.keys;
        EXPECT_EQ(settings.sizeLimit, c.megabytes << 20) << c.keys;
    }
    path[0] = '\0';  // no settings file named yet
    IniTextProfile on("[RS-232C]\r\nMONITOR=line.log\r\n");
    EXPECT_EQ(SettingsMonitor(on, path).read().logPath, "");
}
