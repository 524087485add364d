// The log as a person reads it: the text beside the hex, the rows and
// groups of bytes, and the secrets masked in PPP frames. (The events' words:
// the monitor's tests, where a line's calls make them.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/monitor/LogFormat.h"
#include "platform/monitor/PppFrames.h"

namespace {
std::string textOf(const std::vector<std::uint8_t>& bytes, int next = -1)
{
    std::string out;
    LogFormat::appendText(out, bytes.data(), nullptr, bytes.size(), 0, next);
    return out;
}

struct Feed {
    LogFormat format;
    std::string out;

    void bytes(RecordKind kind, std::uint64_t time, std::uint64_t step, const std::string& values)
    {
        for (char c : values) {
            format.take(RecordHeader{time, kind, static_cast<std::uint8_t>(c), 0}, nullptr, out);
            time += step;
        }
    }
    void record(RecordKind kind, std::uint64_t time, std::uint8_t arg, const void* payload = nullptr,
                std::size_t length = 0)
    {
        format.take(RecordHeader{time, kind, arg, static_cast<std::uint16_t>(length)},
                    static_cast<const std::uint8_t*>(payload), out);
    }
    std::vector<std::string> lines()
    {
        format.end(out);
        std::vector<std::string> result;
        for (std::size_t at = 0; at < out.size();) {
            const std::size_t end = out.find("\r\n", at);
            result.push_back(out.substr(at, end - at));
            at = end + 2;
        }
        return result;
    }
};

constexpr std::uint64_t k9600 = 937;  // one character at 9600 bit/s 8N1, in microseconds (9 bits a character)
}  // namespace

TEST(LogText, BytesShownAsText)
{
    const struct {
        std::vector<std::uint8_t> bytes;
        const char* text;
    } cases[] = {
        {{'A', 'T', 'Z', 0x0D, 0x0A}, "ATZ<CR><LF>"},
        {{0x00, 0x1B, 0x07, 0x7F, 0x1F}, "<NUL><ESC><BEL><DEL><US>"},
        {{0x82, 0xB1, 0x82, 0xF1, 0x93, 0xFA, 0x96, 0x7B}, "こん日本"},
        {{0x83, 0x5C, 0x83, 0x74, 0x83, 0x67}, "ソフト"},  // a trail byte that is a backslash
        {{0x81, 0x40, 0x87, 0x40, 0xED, 0x40}, "\xE3\x80\x80\xE2\x91\xA0\xE7\xBA\x8A"},  // ideographic space, circled 1, NEC-selected kanji
        {{0xB1, 0xB2, 0xDF}, "ｱｲﾟ"},
        {{0x80, 0xA0, 0xFD, 0xFF}, "...."},
        {{0x82, 0x20}, ". "},  // a lead byte without a trail
        {{0xF0, 0x40}, ".@"},  // the user-defined area
        {{0x82}, "."},
    };
    for (const auto& c : cases) EXPECT_EQ(textOf(c.bytes), c.text) << c.text;
    // A character whose trail byte is the next row's first.
    EXPECT_EQ(textOf({'x', 0x82}, 0xA0), "xあ");
}

TEST(LogGroups, BytesGroupByDirectionPauseAndEvent)
{
    Feed feed;
    feed.bytes(RecordKind::Sent, 1000, k9600, "ATZ\r");
    feed.bytes(RecordKind::Received, 5000, k9600, "\r\nOK\r\n");
    feed.bytes(RecordKind::Received, 40000, k9600, "x");  // after a pause
    feed.record(RecordKind::Control, 41000, static_cast<std::uint8_t>(Control::Dtr) | kControlOn | kControlTaken);
    feed.bytes(RecordKind::Received, 41500, k9600, "y");
    EXPECT_EQ(feed.lines(), (std::vector<std::string>{
                                "    0.001000  TX  41 54 5A 0D                                      ATZ<CR>",
                                "    0.005000  RX  0D 0A 4F 4B 0D 0A                                <CR><LF>OK<CR><LF>",
                                "    0.040000  RX  78                                               x",
                                "    0.041000  --  DTR on",
                                "    0.041500  RX  79                                               y",
                            }));
}

TEST(LogGroups, LongGroupsContinueOnRowsWithoutDirectionAndKeepCharactersWhole)
{
    Feed feed;
    // 15 letters, then あ across the row's end, then 2 more.
    feed.bytes(RecordKind::Sent, 0, k9600, std::string("abcdefghijklmno\x82\xA0pq"));
    const std::vector<std::string> lines = feed.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "    0.000000  TX  61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 82  abcdefghijklmnoあ");
    EXPECT_EQ(lines[1], "    0.014992      A0 70 71                                         pq");
}

TEST(LogGroups, ThePauseFollowsTheRateAndFormatAndKeepsCharactersWhole)
{
    Feed slow;
    const std::uint32_t rate = 300;
    slow.record(RecordKind::Rate, 0, 1, &rate, sizeof rate);
    // 9 bits at 300 bit/s is 30 ms a character: 100 ms is not a pause there.
    slow.bytes(RecordKind::Sent, 10, 100000, "ab");
    EXPECT_EQ(slow.lines().size(), 2u);  // the rate, one group

    // At 9600 bit/s a pause is 20 ms, however short four characters are.
    Feed idle;
    idle.bytes(RecordKind::Sent, 0, k9600, "ab");
    idle.format.idle(15000, idle.out);
    EXPECT_EQ(idle.out, "");
    idle.format.idle(25000, idle.out);
    EXPECT_NE(idle.out.find("61 62"), std::string::npos);  // shown once it has paused long enough

    // A pause between the two bytes of a character: shown whole on the first
    // row, and the row waits longer for its second byte.
    Feed split;
    split.bytes(RecordKind::Sent, 0, k9600, "x\x82");
    split.format.idle(25000, split.out);
    EXPECT_EQ(split.out, "");
    split.bytes(RecordKind::Sent, 50000, k9600, "\xA0y");
    EXPECT_EQ(split.lines(), (std::vector<std::string>{
                                 "    0.000000  TX  78 82                                            xあ",
                                 "    0.050000  TX  A0 79                                            y",
                             }));
}

TEST(LogFrames, SecretsMaskedWhateverTheFraming)
{
    // CHAP Response id 1 with a 4-byte value and the name "me", protocol and address fields compressed.
    std::vector<std::uint8_t> chap = {0xC2, 0x23, 0x02, 0x01, 0x00, 0x0B, 0x04, 0xDE, 0xAD, 0xBE, 0xEF, 'm', 'e'};
    maskSecrets(chap.data(), chap.size());
    EXPECT_EQ(std::string(chap.begin() + 7, chap.end()), "****me");
    // A PAP request whose length field is too short still loses its password.
    std::vector<std::uint8_t> pap = {0xC0, 0x23, 0x01, 0x01, 0x00, 0x04, 0x01, 'u', 0x02, 'p', 'w'};
    maskSecrets(pap.data(), pap.size());
    EXPECT_EQ(std::string(pap.begin() + 9, pap.end()), "**");

    const std::vector<std::uint8_t> unknown = {0xFF, 0x03, 0x12, 0x34};
    EXPECT_EQ(describeFrame(unknown.data(), unknown.size()), "protocol 0x1234");
}
