// The modem's phonebook and the dial-up server's settings as the settings file holds them.
#include <gtest/gtest.h>

#include <string>

#include "plugin/SettingsDialup.h"
#include "plugin/SettingsPhonebook.h"
#include "tests/support/IniProfile.h"

TEST(SettingsPhonebook, FindsNumbersWrittenAnyWay)
{
    IniTextProfile profile(
        "[RS-232C]\r\nPORT=modem\r\n"
        "[rs-232c phonebook]\r\n"
        "5551234=bbs.example.org\r\n"
        " (03) 555-12.34 = telnet:host:2323 \r\n"
        "; 999=tcp:commented:1\r\n"
        "a line without an equals sign\r\n"
        "[Other]\r\n777=tcp:other:1\r\n");
    char path[] = "settings.ini";
    SettingsPhonebook phonebook(profile, path);
    EXPECT_EQ(phonebook.lookup("5551234"), "bbs.example.org");
    EXPECT_EQ(phonebook.lookup("035551234"), "telnet:host:2323");
    for (const char* absent : {"999", "777", "555", ""}) EXPECT_EQ(phonebook.lookup(absent), std::nullopt) << absent;

    path[0] = '\0';  // no settings file named yet
    EXPECT_EQ(phonebook.lookup("5551234"), std::nullopt);
}

TEST(SettingsPhonebook, AnOversizedSectionIsReadAsFarAsItFits)
{
    std::string text = "[RS-232C Phonebook]\r\n";
    for (int i = 0; i < 3000; ++i) text += std::to_string(1000000 + i) + "=host" + std::to_string(i) + ".example.org\r\n";
    IniTextProfile profile(text);
    SettingsPhonebook phonebook(profile, "settings.ini");
    EXPECT_EQ(phonebook.lookup("1000000"), "host0.example.org");
    EXPECT_EQ(phonebook.lookup("1002999"), std::nullopt);  // past the first 32 KiB
}

// The dial-up server's section, read from the same file at each call.
TEST(SettingsDialup, ReadsItsOwnSectionAndDefaultsWithoutAFile)
{
    IniTextProfile profile(
        "[RS-232C Phonebook]\r\nUser=not-this-one\r\n"
        "[RS-232C Dialup]\r\n; User=commented\r\nUser = guest \r\nHostPorts=8080\r\nForward=2323:23\r\n");
    char path[] = "settings.ini";
    SettingsDialup settings(profile, path);
    const dialup::DialupSettings read = settings.read();
    EXPECT_EQ(read.user, "guest");
    EXPECT_EQ(read.hostPorts, std::vector<std::uint16_t>{8080});
    ASSERT_EQ(read.forwards.size(), 1u);
    EXPECT_EQ(read.forwards[0].hostPort, 2323);

    path[0] = '\0';
    EXPECT_EQ(settings.read().user, "");
}
