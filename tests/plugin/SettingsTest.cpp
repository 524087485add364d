// The settings file's rules, and the configuration dialog's choices: the
// dialog opens on what the file loads as, so OK never changes a value the
// user did not touch.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/IniProfile.h"
#include "ui/Settings.h"

namespace {
// Records every write, on top of INI text.
class RecordingProfile : public IniTextProfile {
public:
    using IniTextProfile::IniTextProfile;
    bool writeString(const char* section, const char* key, const char* value, const char* file) override
    {
        writes.push_back(std::string(key) + "=" + value);
        return IniTextProfile::writeString(section, key, value, file);
    }
    std::vector<std::string> writes;
};

LineSettings load(const std::string& keys)
{
    IniTextProfile ini("[RS-232C]\n" + keys);
    return readSettings(ini, "settings.ini");
}

void expectSettings(const LineSettings& s, const char* port, int lock, int rate, int parity, int stopBits, int size)
{
    EXPECT_STREQ(s.portName, port);
    EXPECT_EQ(s.lock, lock);
    EXPECT_EQ(s.baudRate, rate);
    EXPECT_EQ(s.parity, parity);
    EXPECT_EQ(s.stopBits, stopBits);
    EXPECT_EQ(s.byteSize, size);
}

// What the dialog's OK writes and stores when the user changes nothing.
std::vector<std::string> untouchedOk(const std::string& keys, LineSettings& stored)
{
    RecordingProfile ini("[RS-232C]\n" + keys);
    const ConfigChoices choices = openingChoices(ini, "settings.ini");
    EXPECT_TRUE(ini.writes.empty()) << "opening the dialog writes nothing";
    stored = confirmChoices(ini, "settings.ini", choices);
    return ini.writes;
}

TEST(Settings, AnEmptyFileGivesTheDefaults)
{
    const LineSettings loaded = load("");
    expectSettings(loaded, "COM1", 1, 9600, 0, 0, 8);
    const LineSettings defaults = defaultSettings();
    EXPECT_EQ(std::memcmp(&loaded, &defaults, sizeof loaded), 0);
}

TEST(Settings, ValuesOutOfRangeFallBack)
{
    expectSettings(load("PORT=com7\nLOCK=1\nBAUDRATE=19200\nPARITY=even\nSTOPBITS=1.5\nBYTESIZE=7\n"), "com7", 1,
                   19200, 2, 1, 7);
    expectSettings(load("LOCK=2\nBAUDRATE=9601\nPARITY=MARK\nSTOPBITS=3\nBYTESIZE=9\n"), "COM1", 0, 9600, 0, 0, 8);
    expectSettings(load("LOCK=0\nBAUDRATE=0\nSTOPBITS=2\nBYTESIZE=4\nPARITY=Odd\n"), "COM1", 0, 9600, 1, 2, 8);
    expectSettings(load("BAUDRATE=09600x\nBYTESIZE=5\n"), "COM1", 1, 9600, 0, 0, 5);
}

TEST(Settings, APortNameIsCutToItsField)
{
    const LineSettings s = load("PORT=" + std::string(300, 'P') + "\n");
    EXPECT_EQ(std::string(s.portName), std::string(kPortNameSize - 1, 'P'));
}

TEST(SettingsPath, APathThatDoesNotFitIsRefused)
{
    char buffer[kSettingsPathSize];
    const std::string fits(kSettingsPathSize - 1, 'a');
    EXPECT_TRUE(storeSettingsPath(buffer, fits.c_str()));
    EXPECT_EQ(std::string(buffer), fits);

    const std::string tooLong(kSettingsPathSize, 'b');
    EXPECT_FALSE(storeSettingsPath(buffer, tooLong.c_str()));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(storeSettingsPath(buffer, nullptr));
    EXPECT_STREQ(buffer, "");
}

TEST(ConfigDialog, OkWritesAllSixKeysAndTheRecordTheyMake)
{
    RecordingProfile ini("");
    ConfigChoices choices = openingChoices(ini, "settings.ini");
    EXPECT_EQ(choices.port, 0);
    EXPECT_TRUE(choices.locked);
    choices.port = 9;
    choices.locked = false;
    choices.rate = 9;
    choices.parity = 2;
    choices.stopBits = 1;
    choices.byteSize = 2;
    const LineSettings s = confirmChoices(ini, "settings.ini", choices);
    expectSettings(s, "COM10", 0, 115200, 2, 1, 7);
    EXPECT_EQ(ini.writes, (std::vector<std::string>{"PORT=COM10", "LOCK=0", "BAUDRATE=115200", "PARITY=EVEN",
                                                    "STOPBITS=1.5", "BYTESIZE=7"}));
    const LineSettings reread = readSettings(ini, "settings.ini");
    EXPECT_EQ(std::memcmp(&reread, &s, sizeof s), 0);
}

TEST(ConfigDialog, NoneSelectedMeansTheFirstItem)
{
    RecordingProfile ini("");
    ConfigChoices choices = openingChoices(ini, "settings.ini");
    choices.port = choices.rate = choices.parity = choices.stopBits = choices.byteSize = -1;
    expectSettings(confirmChoices(ini, "settings.ini", choices), "COM1", 1, 300, 0, 0, 5);
}

TEST(ConfigDialog, OpensOnWhatTheFileLoadsAsSoUntouchedOkKeepsIt)
{
    LineSettings stored;
    // Values the file holds in forms other than the list's own.
    EXPECT_EQ(untouchedOk("PORT=com3\nLOCK=2\nBAUDRATE=09600\nPARITY=even\nSTOPBITS=3\nBYTESIZE=9\n", stored),
              (std::vector<std::string>{"PORT=COM3", "LOCK=0", "BAUDRATE=9600", "PARITY=EVEN", "STOPBITS=1",
                                        "BYTESIZE=8"}));
    expectSettings(stored, "COM3", 0, 9600, 2, 0, 8);

    EXPECT_EQ(untouchedOk("BAUDRATE=1234\n", stored)[2], "BAUDRATE=9600");
    EXPECT_EQ(untouchedOk("", stored),
              (std::vector<std::string>{"PORT=COM1", "LOCK=1", "BAUDRATE=9600", "PARITY=NONE", "STOPBITS=1",
                                        "BYTESIZE=8"}));
}

TEST(ConfigDialog, APortOutsideTheListIsOfferedAfterItAndKept)
{
    LineSettings stored;
    EXPECT_EQ(untouchedOk("PORT=COM11\n", stored)[0], "PORT=COM11");
    EXPECT_STREQ(stored.portName, "COM11");
    EXPECT_EQ(untouchedOk("PORT=modem:0.0.0.0:2323\n", stored)[0], "PORT=modem:0.0.0.0:2323");

    RecordingProfile ini("[RS-232C]\nPORT=\\\\.\\CNCA0\n");
    ConfigChoices choices = openingChoices(ini, "settings.ini");
    EXPECT_TRUE(choices.hasOtherPort);
    EXPECT_EQ(choices.port, kPortItemCount);
    EXPECT_STREQ(choices.otherPort, "\\\\.\\CNCA0");
    choices.port = 1;  // the user picks COM2 instead
    EXPECT_STREQ(confirmChoices(ini, "settings.ini", choices).portName, "COM2");

    EXPECT_EQ(untouchedOk("PORT=\n", stored)[0], "PORT=");  // an empty name stays empty
}

TEST(ConfigDialog, APortNameTheProfileWouldTrimIsWrittenInQuotesAndLoadsBackAsItWas)
{
    for (const char* name : {"'COM7'", "\"COM7\"", " COM7", "COM7\t", "\"", "'"}) {
        const std::string file = std::string("[RS-232C]\nPORT=") + (name[0] == '"' ? "'" : "\"") + name +
                                 (name[0] == '"' ? "'" : "\"") + "\n";
        RecordingProfile ini(file);
        const LineSettings loaded = readSettings(ini, "settings.ini");
        ASSERT_STREQ(loaded.portName, name) << file;
        const LineSettings confirmed = confirmChoices(ini, "settings.ini", openingChoices(ini, "settings.ini"));
        EXPECT_STREQ(confirmed.portName, name);
        EXPECT_STREQ(readSettings(ini, "settings.ini").portName, name) << "after OK, the file reads back another name";
    }
}

TEST(ConfigDialog, AnOverlongPortIsCutAsItLoadsAndNothingOverruns)
{
    LineSettings stored;
    const std::string longName(1000, 'Q');
    const std::vector<std::string> writes = untouchedOk("PORT=" + longName + "\n", stored);
    EXPECT_EQ(writes[0], "PORT=" + std::string(kPortNameSize - 1, 'Q'));
    EXPECT_EQ(strnlen(stored.portName, kPortNameSize), kPortNameSize - 1);
}
}  // namespace
