// The message texts in the Japanese code page, and the open-failure text
// built around a port name.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>

#include "device/Messages.h"

namespace {
// The text converted from UTF-8 by the C library, as a Japanese Windows
// would hold it in its ANSI code page.
std::string shiftJis(const std::string& utf8)
{
    iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) converter = iconv_open("SHIFT_JIS", "UTF-8");
    EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1)) << "no Shift-JIS converter in this C library";
    if (converter == reinterpret_cast<iconv_t>(-1)) return "";
    std::string in = utf8;
    char out[512];
    char* inPtr = in.data();
    char* outPtr = out;
    std::size_t inLeft = in.size();
    std::size_t outLeft = sizeof out;
    const std::size_t result = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    EXPECT_NE(result, static_cast<std::size_t>(-1)) << utf8;
    EXPECT_EQ(inLeft, 0u);
    return std::string(out, outPtr);
}

TEST(Messages, TextsAreShiftJis)
{
    EXPECT_EQ(std::string(kOpenFailedSuffix), shiftJis("のオープンに失敗"));
    EXPECT_EQ(std::string(kSetCommStateFailed), shiftJis("SetCommState NG"));
    EXPECT_EQ(std::string(kSnapshotVersionMismatch), shiftJis("セーブデータのバージョンが違います"));
    EXPECT_EQ(std::string(kTimerAcquireFailed), shiftJis("タイマ取得失敗"));
    EXPECT_EQ(std::strlen(kOpenFailedSuffix), 16u);  // what leaves 239 bytes for the name
}

TEST(Messages, OpenFailureNamesThePortInFront)
{
    struct Case {
        std::string name;
        std::string shown;
    };
    const std::string kanji = shiftJis("漢");
    ASSERT_EQ(kanji.size(), 2u);
    const Case cases[] = {
        {"COM1", "COM1"},
        {"", ""},
        {std::string(237, 'A') + kanji, std::string(237, 'A') + kanji},  // exactly 239 bytes
        {std::string(238, 'A') + kanji, std::string(238, 'A')},          // the character would straddle the cut
        {kanji + std::string(258, 'B'), kanji + std::string(237, 'B')},  // a name with no NUL at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.size());
        char out[kMessageBufferSize];
        std::memset(out, 0x7F, sizeof out);
        formatOpenFailure(out, c.name.data(), c.name.size());
        EXPECT_EQ(std::string(out), c.shown + shiftJis("のオープンに失敗"));
    }
}
}  // namespace
