// The portable profile reader must answer as the Windows private-profile
// functions do, or the settings tests below prove nothing about Windows.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/IniProfile.h"

namespace {
std::string getString(IniTextProfile& ini, const char* section, const char* key, const char* fallback,
                      std::size_t size = 260)
{
    char out[300];
    ini.getString(section, key, fallback, out, size, "");
    return out;
}

TEST(IniProfile, FindsSectionsAndKeysWithoutRegardToCaseFirstMatchWinning)
{
    IniTextProfile ini(
        "PORT=COM9\n"  // before any section: in none
        "[other]\nPORT=COM8\n"
        " [ rs-232c ] \r\n"
        "  port =  COM2  \r\n"
        "Port=COM3\r\n"
        "LOCK\r\n"
        "BAUDRATE=\"4800\"\r\n"
        "[RS-232C]\nPARITY=ODD\n");
    EXPECT_EQ(getString(ini, "RS-232C", "PORT", "COM1"), "COM2");
    EXPECT_EQ(getString(ini, "RS-232C", "BAUDRATE", ""), "4800");
    EXPECT_EQ(getString(ini, "RS-232C", "LOCK", "dflt  "), "dflt");  // no '=': no key
    EXPECT_EQ(getString(ini, "RS-232C", "PARITY", "NONE"), "NONE");  // only the first section counts
    EXPECT_EQ(getString(ini, "missing", "PORT", "COM1"), "COM1");
}

TEST(IniProfile, CutsLongValuesToTheBuffer)
{
    IniTextProfile ini("[s]\nk=" + std::string(400, 'x') + "\n");
    char out[16];
    out[15] = '!';
    EXPECT_EQ(ini.getString("s", "k", "", out, sizeof out, ""), 15u);
    EXPECT_EQ(std::string(out), std::string(15, 'x'));
}

TEST(IniProfile, ReadsIntegersLikeGetPrivateProfileInt)
{
    IniTextProfile ini(
        "[s]\nplain=19200\nspaced=  42abc\nsigned=-7\nplus=+5\nletters=abc\nempty=\nwrap=4294967297\n");
    EXPECT_EQ(ini.getInt("s", "plain", 1, ""), 19200);
    EXPECT_EQ(ini.getInt("s", "spaced", 1, ""), 42);
    EXPECT_EQ(ini.getInt("s", "signed", 1, ""), -7);
    EXPECT_EQ(ini.getInt("s", "plus", 1, ""), 5);
    EXPECT_EQ(ini.getInt("s", "letters", 1, ""), 0);
    EXPECT_EQ(ini.getInt("s", "empty", 9, ""), 9);
    EXPECT_EQ(ini.getInt("s", "absent", 9, ""), 9);
    EXPECT_EQ(ini.getInt("s", "wrap", 9, ""), 1);
}

TEST(IniProfile, WritesReplaceInPlaceOrAddKeyAndSection)
{
    IniTextProfile ini("; settings\r\n[RS-232C]\r\nport=COM2\r\nLOCK=1\r\n\r\n[next]\r\nX=1\r\n");
    ini.writeString("RS-232C", "PORT", "COM5", "");
    ini.writeString("RS-232C", "PARITY", "EVEN", "");
    ini.writeString("new", "K", "V", "");
    EXPECT_EQ(ini.text(),
              "; settings\r\n[RS-232C]\r\nport=COM5\r\nLOCK=1\r\nPARITY=EVEN\r\n\r\n[next]\r\nX=1\r\n"
              "[new]\r\nK=V\r\n");

    IniTextProfile unterminated("[RS-232C]\nLOCK=0");
    unterminated.writeString("RS-232C", "PORT", "COM3", "");
    EXPECT_EQ(unterminated.text(), "[RS-232C]\nLOCK=0\r\nPORT=COM3\r\n");
}

TEST(IniProfile, FileProfileReadsAndWritesTheNamedFile)
{
    const std::string path = ::testing::TempDir() + "ini_profile_test.ini";
    std::remove(path.c_str());
    IniFileProfile profile;
    char out[32];
    EXPECT_EQ(profile.getString("RS-232C", "PORT", "COM1", out, sizeof out, path.c_str()), 4u);
    EXPECT_TRUE(profile.writeString("RS-232C", "PORT", "COM4", path.c_str()));
    EXPECT_TRUE(profile.writeString("RS-232C", "LOCK", "0", path.c_str()));
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "[RS-232C]\r\nPORT=COM4\r\nLOCK=0\r\n");
    EXPECT_EQ(profile.getInt("rs-232c", "lock", 1, path.c_str()), 0);
    std::remove(path.c_str());
}
}  // namespace
