// The network line's byte stream: raw passthrough, Telnet framing and option
// answers, and the remote serial port's commands and reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/network/TelnetCodec.h"

using namespace telnet;
using Bytes = std::vector<std::uint8_t>;

namespace {
struct Received {
    Bytes data;
    Bytes answer;
};

Received feed(TelnetCodec& codec, const Bytes& in)
{
    Received result;
    result.data.resize(in.size());
    result.data.resize(codec.receive(in.data(), in.size(), result.data.data(), result.answer));
    return result;
}

// The same bytes one at a time: whatever is split where gives the same result.
Received feedByteByByte(TelnetCodec& codec, const Bytes& in)
{
    Received result;
    for (std::uint8_t byte : in) {
        std::uint8_t data = 0;
        if (codec.receive(&byte, 1, &data, result.answer) == 1) result.data.push_back(data);
    }
    return result;
}

// The COM-PORT subnegotiations in what a client sent, IAC undoubled, each
// as its command byte followed by its value.
std::vector<Bytes> comPortCommands(const Bytes& out)
{
    std::vector<Bytes> commands;
    for (std::size_t i = 0; i + 2 < out.size(); ++i) {
        if (out[i] != kIac || out[i + 1] != kSb || out[i + 2] != kOptionComPort) continue;
        Bytes command;
        std::size_t j = i + 3;
        for (; j + 1 < out.size(); ++j) {
            if (out[j] == kIac && out[j + 1] == kSe) break;
            if (out[j] == kIac && out[j + 1] == kIac) ++j;
            command.push_back(out[j]);
        }
        commands.push_back(command);
        i = j;
    }
    return commands;
}

Bytes serverSays(std::uint8_t command, std::uint8_t value)
{
    return {kIac, kSb, kOptionComPort, static_cast<std::uint8_t>(kServerReply + command), value, kIac, kSe};
}

// A Telnet client whose server has agreed to binary both ways and to the
// COM-PORT option; what it sent is in `sent`.
struct AgreedSession {
    TelnetCodec codec{TelnetCodec::Protocol::Telnet};
    Bytes sent;
    AgreedSession()
    {
        codec.start(sent);
        Received r = feed(codec, {kIac, kDo, kOptionBinary, kIac, kWill, kOptionBinary, kIac, kDo, kOptionComPort});
        sent.insert(sent.end(), r.answer.begin(), r.answer.end());
    }
};
}  // namespace

TEST(RawLine, PassesEveryByteBothWaysUnchanged)
{
    TelnetCodec codec(TelnetCodec::Protocol::Raw);
    Bytes start;
    codec.start(start);
    EXPECT_TRUE(start.empty());

    Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
    all.push_back(kIac);
    all.push_back(kSb);
    Received r = feed(codec, all);
    EXPECT_EQ(r.data, all);
    EXPECT_TRUE(r.answer.empty());

    Bytes out;
    for (std::uint8_t byte : all) codec.sendData(byte, out);
    EXPECT_EQ(out, all);

    // Port commands have nowhere to go on a raw line.
    codec.setBaudRate(19200, out);
    codec.setDtr(true, out);
    codec.purge(kPurgeBoth, out);
    EXPECT_EQ(out, all);
}

TEST(TelnetFraming, OffersBinaryAndComPortThenDoublesIacBothWays)
{
    TelnetCodec codec(TelnetCodec::Protocol::Telnet);
    Bytes out;
    codec.start(out);
    EXPECT_EQ(out, (Bytes{kIac, kWill, kOptionBinary, kIac, kDo, kOptionBinary, kIac, kWill, kOptionComPort}));

    out.clear();
    codec.sendData('A', out);
    codec.sendData(kIac, out);
    codec.sendData(kSe, out);
    EXPECT_EQ(out, (Bytes{'A', kIac, kIac, kSe}));

    Received r = feed(codec, {'x', kIac, kIac, 'y', kIac, 241 /* NOP */, 'z'});
    EXPECT_EQ(r.data, (Bytes{'x', kIac, 'y', 'z'}));
}

TEST(TelnetFraming, CarriageReturnTravelsAsCrNulUntilBinaryIsAgreed)
{
    TelnetCodec codec(TelnetCodec::Protocol::Telnet);
    Bytes out;
    codec.start(out);
    out.clear();
    codec.sendData('\r', out);
    EXPECT_EQ(out, (Bytes{'\r', 0}));
    EXPECT_EQ(feed(codec, {'\r', 0, '\r', '\n', 0}).data, (Bytes{'\r', '\r', '\n', 0}));

    feed(codec, {kIac, kDo, kOptionBinary, kIac, kWill, kOptionBinary});
    out.clear();
    codec.sendData('\r', out);
    EXPECT_EQ(out, (Bytes{'\r'}));
    EXPECT_EQ(feed(codec, {'\r', 0}).data, (Bytes{'\r', 0}));
}

TEST(TelnetOptions, AnswersOnlyWhatChangesSoNegotiationNeverLoops)
{
    TelnetCodec codec(TelnetCodec::Protocol::Telnet);
    Bytes out;
    codec.start(out);

    // Agreement to what we offered needs no answer, nor does its repetition.
    EXPECT_TRUE(feed(codec, {kIac, kDo, kOptionBinary, kIac, kWill, kOptionBinary}).answer.empty());
    EXPECT_TRUE(feed(codec, {kIac, kDo, kOptionBinary, kIac, kWill, kOptionBinary}).answer.empty());

    // A BBS's echo and go-ahead suppression are accepted; terminal type and
    // window size are declined, once per request.
    EXPECT_EQ(feed(codec, {kIac, kWill, kOptionEcho, kIac, kWill, kOptionSuppressGoAhead}).answer,
              (Bytes{kIac, kDo, kOptionEcho, kIac, kDo, kOptionSuppressGoAhead}));
    EXPECT_EQ(feed(codec, {kIac, kDo, 24, kIac, kDo, 31, kIac, kWill, 5}).answer,
              (Bytes{kIac, kWont, 24, kIac, kWont, 31, kIac, kDont, 5}));

    // Switching an enabled option off is acknowledged once; one already off is not.
    EXPECT_EQ(feed(codec, {kIac, kWont, kOptionEcho}).answer, (Bytes{kIac, kDont, kOptionEcho}));
    EXPECT_TRUE(feed(codec, {kIac, kWont, kOptionEcho, kIac, kDont, 24}).answer.empty());
    EXPECT_EQ(feed(codec, {kIac, kDont, kOptionBinary}).answer, (Bytes{kIac, kWont, kOptionBinary}));
}

TEST(ComPortOption, SettingsWaitForTheServersAgreementThenGoAllAtOnce)
{
    TelnetCodec codec(TelnetCodec::Protocol::Telnet);
    Bytes out;
    codec.start(out);
    out.clear();
    codec.setBaudRate(38400, out);
    codec.setFormat(7, kParityEven, kStopTwo, out);
    codec.setDtr(true, out);
    codec.setRts(true, out);
    codec.purge(kPurgeBoth, out);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(codec.comPortActive());

    Received r = feed(codec, {kIac, kDo, kOptionComPort});
    EXPECT_TRUE(codec.comPortActive());
    const std::vector<Bytes> expected = {
        {kSetControl, kControlNoFlowControl},
        {kSetLineStateMask, kLineStateErrors},
        {kSetModemStateMask, 0xFF},
        {kSetBaudRate, 0, 0, 0x96, 0x00},
        {kSetDataSize, 7},
        {kSetParity, kParityEven},
        {kSetStopSize, kStopTwo},
        {kSetControl, kControlDtrOn},
        {kSetControl, kControlRtsOn},
        {kSetControl, kControlBreakOff},
    };
    EXPECT_EQ(comPortCommands(r.answer), expected);
}

TEST(ComPortOption, EachChangeGoesOnceAndIacInAValueIsDoubled)
{
    AgreedSession s;
    Bytes out;
    s.codec.setBaudRate(115200, out);
    s.codec.setBaudRate(115200, out);
    s.codec.setFormat(8, kParityOdd, kStopOne, out);  // only the parity differs
    s.codec.setDtr(false, out);                        // already off
    s.codec.setRts(true, out);
    s.codec.setBreak(true, out);
    s.codec.setBreak(false, out);
    s.codec.purge(kPurgeReceive, out);
    s.codec.setBaudRate(0x0001FFFF, out);
    const std::vector<Bytes> expected = {
        {kSetBaudRate, 0x00, 0x01, 0xC2, 0x00},
        {kSetParity, kParityOdd},
        {kSetControl, kControlRtsOn},
        {kSetControl, kControlBreakOn},
        {kSetControl, kControlBreakOff},
        {kPurgeData, kPurgeReceive},
        {kSetBaudRate, 0x00, 0x01, 0xFF, 0xFF},
    };
    EXPECT_EQ(comPortCommands(out), expected);
    const Bytes lastRate = {kIac, kSb, kOptionComPort, kSetBaudRate, 0x00, 0x01, kIac, kIac, kIac, kIac, kIac, kSe};
    EXPECT_TRUE(std::search(out.begin(), out.end(), lastRate.begin(), lastRate.end()) != out.end());

    // The server withdrawing its agreement stops the commands.
    feed(s.codec, {kIac, kDont, kOptionComPort});
    EXPECT_FALSE(s.codec.comPortActive());
    out.clear();
    s.codec.setBaudRate(9600, out);
    EXPECT_TRUE(out.empty());
}

TEST(ComPortOption, ModemStateAndLineErrorsComeFromTheServerWhereverTheStreamSplits)
{
    for (bool oneByteAtATime : {false, true}) {
        AgreedSession s;
        EXPECT_FALSE(s.codec.modemLinesKnown());
        Bytes stream = {'a'};
        for (std::uint8_t byte : serverSays(kNotifyModemState, 0xB1)) stream.push_back(byte);  // CD DSR CTS, delta CTS
        stream.push_back('b');
        for (std::uint8_t byte : serverSays(kNotifyLineState, 0x04 | 0x01 | 0x60)) stream.push_back(byte);
        for (std::uint8_t byte : serverSays(kNotifyLineState, 0x08)) stream.push_back(byte);
        for (std::uint8_t byte : serverSays(kSetBaudRate, 0)) stream.push_back(byte);  // a short acknowledgement
        stream.push_back('c');
        Received r = oneByteAtATime ? feedByteByByte(s.codec, stream) : feed(s.codec, stream);
        EXPECT_EQ(r.data, (Bytes{'a', 'b', 'c'}));
        EXPECT_TRUE(r.answer.empty());
        EXPECT_TRUE(s.codec.modemLinesKnown());
        EXPECT_EQ(s.codec.modemLines(), 0xB0);
        EXPECT_EQ(s.codec.takeLineErrors(), 0x0C);  // parity and framing; data-ready and shift bits are no errors
        EXPECT_EQ(s.codec.takeLineErrors(), 0);
    }
}

TEST(ComPortOption, ReportsAreIgnoredUntilTheOptionIsAgreed)
{
    TelnetCodec codec(TelnetCodec::Protocol::Telnet);
    Bytes out;
    codec.start(out);
    feed(codec, serverSays(kNotifyModemState, 0x10));
    feed(codec, serverSays(kNotifyLineState, 0x02));
    EXPECT_FALSE(codec.modemLinesKnown());
    EXPECT_EQ(codec.takeLineErrors(), 0);
}

TEST(MalformedTelnet, DamagedSubnegotiationsAreDroppedAndTheDataAroundThemSurvives)
{
    AgreedSession s;
    // Longer than any report: read to its end, dropped.
    Bytes overlong = {'1', kIac, kSb, kOptionComPort, kServerReply + kNotifyModemState};
    for (int i = 0; i < 300; ++i) overlong.push_back(0x10);
    for (std::uint8_t byte : {kIac, kSe, std::uint8_t{'2'}}) overlong.push_back(byte);
    Received r = feed(s.codec, overlong);
    EXPECT_EQ(r.data, (Bytes{'1', '2'}));
    EXPECT_FALSE(s.codec.modemLinesKnown());

    // A command inside a subnegotiation ends it; the command still counts.
    r = feed(s.codec, {kIac, kSb, kOptionComPort, kServerReply + kNotifyModemState, 0x30, kIac, kWill, 24, '3'});
    EXPECT_EQ(r.data, (Bytes{'3'}));
    EXPECT_EQ(r.answer, (Bytes{kIac, kDont, 24}));
    EXPECT_FALSE(s.codec.modemLinesKnown());

    // An empty subnegotiation, one for another option, a stray SE.
    r = feed(s.codec, {kIac, kSb, kIac, kSe, kIac, kSb, 24, 0, 'x', kIac, kSe, kIac, kSe, '4'});
    EXPECT_EQ(r.data, (Bytes{'4'}));
    EXPECT_FALSE(s.codec.modemLinesKnown());

    // The subnegotiation that follows is read as usual.
    feed(s.codec, serverSays(kNotifyModemState, 0x20));
    EXPECT_EQ(s.codec.modemLines(), 0x20);
}
