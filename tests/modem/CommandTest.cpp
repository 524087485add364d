// The command interpreter as the guest meets it: lines typed at the line's
// pace, results read back. Each case starts from a fresh modem with echo off.
#include <gtest/gtest.h>

#include "platform/modem/EscapeGuard.h"
#include "tests/modem/ModemRig.h"

namespace {
const std::string OK = "\r\nOK\r\n";
const std::string ERROR = "\r\nERROR\r\n";
const std::string NO_CARRIER = "\r\nNO CARRIER\r\n";

std::string info(const std::string& text) { return "\r\n" + text + "\r\n"; }

struct Exchange {
    const char* typed;  // sent as it is: lines end in "\r" where they should
    std::string heard;
};

void expectExchanges(std::initializer_list<Exchange> exchanges)
{
    for (const Exchange& e : exchanges) {
        SCOPED_TRACE(e.typed);
        ModemRig rig;
        rig.command("ATE0");
        EXPECT_EQ(rig.type(e.typed), e.heard);
    }
}
}  // namespace

TEST(ModemCommands, SyntaxAndResults)
{
    expectExchanges({
        {"AT\r", OK},
        {"at\r", OK},
        {"aT\r", OK},
        {"noise\x1b+++AT\r", OK},  // what comes before AT is skipped
        {"AT  E0  V1 \r", OK},
        {"ATV0\r", "0\r"},
        {"ATV0X7\r", "4\r"},       // the error stops the line; V0 already counts
        {"ATQ1\r", ""},
        {"ATQ1Q0\r", OK},
        {"ATS7=45S7?\r", info("045") + OK},
        {"ATS7?\r", info("050") + OK},
        {"ATS2?S3?S4?S5?S12?S25?\r", info("043") + info("013") + info("010") + info("008") + info("050") +
                                         info("005") + OK},
        {"ATS7=\rATS7?\r", OK + info("000") + OK},
        {"ATS256=1\r", ERROR},
        {"ATS1=256\r", ERROR},
        {"ATS7\r", ERROR},
        {"ATS7=999999999999\r", ERROR},
        {"ATE2\r", ERROR},
        {"ATX5\r", ERROR},
        {"ATI\r", info("RS232C modem 1.0") + OK},
        {"ATI3\r", info("RS232C modem 1.0") + OK},
        {"ATI10\r", ERROR},
        {"AT&V\r", info("E0 Q0 V1 X4 &C1 &D2 &K3 S00:000 S01:000 S02:043 S03:013 S04:010 S05:008 S07:050 "
                        "S10:014 S12:050 S25:005") + OK},
        {"ATH\r", OK},
        {"ATH0H1\r", OK},
        {"ATH2\r", ERROR},
        {"ATO\r", NO_CARRIER},     // no call to return to
        {"ATA\r", NO_CARRIER},     // no call coming in
        {"ATQ\x08\r", OK},         // backspace took the Q back
        {"ATS3=64\rAT@", "@\nOK@\n@\nOK@\n"},  // S3 ends lines and results
    });
}

TEST(ModemCommands, InertAndUnknownCommands)
{
    expectExchanges({
        // A telephone modem's speaker, modulation, error correction and
        // compression: nothing to do, so OK.
        {"ATL2M1B0N1W2Y0C1F1PT\r", OK},
        {"AT\\N3%C1&K3&S0&W&Y0&Q5&B1&R1\\Q3\\V1%E2\r", OK},
        {"AT+FCLASS=0;+MS=V34\r", OK},
        {"AT+FCLASS?\r", info("0") + OK},
        // Commands no such modem has, and values out of range.
        {"AT%V\r", ERROR},  // the Windows 98 dialer's probe must fail
        {"AT+FCLASS=1\r", ERROR},
        {"AT+CGMI\r", ERROR},
        {"AT*\r", ERROR},
        {"AT#CID=1\r", ERROR},
        {"AT&\r", ERROR},
        {"AT&Z\r", ERROR},
        {"ATL4\r", ERROR},
        {"AT\\N8\r", ERROR},
        {"AT&K7\r", ERROR},
        {"AT&D4\r", ERROR},
    });
}

TEST(ModemCommands, RealInitStrings)
{
    for (const char* init : {
             "AT H0 Z S7=45 S0=0 Q0 V1 E0 &C0 X4",           // Device::Modem (Perl): commands after Z count
             "AT S7=45 S0=0 L1 V1 X4 &c1 E1 Q0",             // minicom's default
             "ATZ", "AT&F1", "AT&FE0V1&C1&D2S95=47S0=0",     // Windows modem drivers
             "ATQ0V1E1S0=0&C1&D2",                           // Kermit's Hayes dialer
             "AT S7=60 S11=55 V1 Q0 E1 X4 &C1 &D2",          // Telix, Procomm
             "ATS0=0V1Q0&D3&C1",                             // mgetty
         }) {
        SCOPED_TRACE(init);
        ModemRig rig;
        rig.command("ATE0");
        const std::string heard = rig.command(init);
        EXPECT_TRUE(heard.size() >= OK.size() && heard.compare(heard.size() - OK.size(), OK.size(), OK) == 0)
            << heard;
    }

    ModemRig rig;
    rig.command("AT H0 Z S7=45 S0=0 Q0 V1 E0 &C0 X4");
    EXPECT_EQ(rig.command("ATS7?"), info("045") + OK);  // E0 after Z holds: no echo
    EXPECT_TRUE(rig.inputs().dcd);                      // &C0: DCD always on
}

TEST(ModemCommands, EchoRepeatAndLineLength)
{
    ModemRig rig;
    EXPECT_EQ(rig.command("ATS0=3"), "ATS0=3\r" + OK);
    EXPECT_EQ(rig.type("A/"), "A/" + OK);
    EXPECT_EQ(rig.command("ATE0S0?"), "ATE0S0?\r" + info("003") + OK);
    EXPECT_EQ(rig.type("a/"), info("003") + OK);

    std::string longest;
    for (int i = 0; i < 150; ++i) longest += "E0";  // 300 characters after AT
    EXPECT_EQ(rig.command("AT" + longest), OK);
    EXPECT_EQ(rig.command("AT" + longest + "E"), ERROR);
    EXPECT_EQ(rig.command("AT" + longest + std::string(5000, 'X')), ERROR);
    EXPECT_EQ(rig.type("A/"), OK);  // the overlong line is not kept to repeat
    EXPECT_EQ(rig.command("AT"), OK);
}

TEST(EscapeGuard, NeedsSilenceBeforeAndAfter)
{
    struct Step {
        std::uint64_t gapMs;  // since the step before
        char byte;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::uint64_t waitMs;  // after the last byte
        bool escaped;
    };
    const std::uint64_t guard = 1000000;  // S12=50
    const Case cases[] = {
        {"+++ between silences", {{1000, '+'}, {100, '+'}, {100, '+'}}, 1000, true},
        {"too soon after the last", {{1000, '+'}, {100, '+'}, {100, '+'}}, 999, false},
        {"no silence before", {{999, '+'}, {100, '+'}, {100, '+'}}, 1000, false},
        {"a+++", {{2000, 'a'}, {1, '+'}, {1, '+'}, {1, '+'}}, 1000, false},
        {"+++a", {{1000, '+'}, {1, '+'}, {1, '+'}, {1, 'a'}}, 1000, false},
        {"++++", {{1000, '+'}, {1, '+'}, {1, '+'}, {1, '+'}}, 1000, false},
        {"pauses too long between", {{1000, '+'}, {1001, '+'}, {100, '+'}}, 1000, false},
        {"a fresh start after a lone +", {{1000, '+'}, {1500, '+'}, {1, '+'}, {1, '+'}}, 1000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EscapeGuard escape;
        std::uint64_t now = 0;
        escape.restart(now);
        for (const Step& step : c.steps) {
            now += step.gapMs * 1000;
            EXPECT_FALSE(escape.escaped(now, guard));
            escape.guestByte(static_cast<std::uint8_t>(step.byte), now, '+', guard);
        }
        EXPECT_EQ(escape.escaped(now + c.waitMs * 1000, guard), c.escaped);
        if (c.escaped) {
            EXPECT_FALSE(escape.escaped(now + c.waitMs * 1000 + 5000000, guard));  // once only
        }
    }
}
