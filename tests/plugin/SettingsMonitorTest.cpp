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

    EXPECT_EQ(defaultCapturePath("C:\\Emu\\line.log"), "C:\\Emu\\line.pcapng");
    EXPECT_EQ(defaultCapturePath("C:\\my.logs\\line"), "C:\\my.logs\\line.pcapng");
    EXPECT_EQ(defaultCapturePath("C:\\Emu\\.log"), "C:\\Emu\\.log.pcapng");
}

TEST(SettingsMonitor, KeysReadWithTheirDefaultsAndBounds)
{
    char path[] = "C:\\Emu\\emu.ini";
    IniTextProfile off("[RS-232C]\r\nPORT=COM1\r\n");
    EXPECT_EQ(SettingsMonitor(off, path).read().logPath, "");

    IniTextProfile on("[RS-232C]\r\nMONITOR=line.log\r\n");
    MonitorSettings settings = SettingsMonitor(on, path).read();
    EXPECT_EQ(settings.logPath, "C:\\Emu\\line.log");
    EXPECT_EQ(settings.capturePath, "C:\\Emu\\line.pcapng");
    EXPECT_EQ(settings.sizeLimit, 16u << 20);

    IniTextProfile all("[RS-232C]\r\nMONITOR=D:\\a.log\r\nMONITORCAPTURE=calls.pcapng\r\nMONITORSIZE=2\r\n");
    settings = SettingsMonitor(all, path).read();
    EXPECT_EQ(settings.capturePath, "C:\\Emu\\calls.pcapng");
    EXPECT_EQ(settings.sizeLimit, 2u << 20);
    for (const char* size : {"0", "-5", "x"}) {
        IniTextProfile bad(std::string("[RS-232C]\r\nMONITOR=a.log\r\nMONITORSIZE=") + size + "\r\n");
        EXPECT_EQ(SettingsMonitor(bad, path).read().sizeLimit, 16u << 20) << size;
    }
    IniTextProfile huge("[RS-232C]\r\nMONITOR=a.log\r\nMONITORSIZE=99999\r\n");
    EXPECT_EQ(SettingsMonitor(huge, path).read().sizeLimit, 1024ull << 20);

    path[0] = '\0';  // no settings file named yet
    EXPECT_EQ(SettingsMonitor(on, path).read().logPath, "");
}
