// The COM-PORT option's client: what it sends the server and when, and what
// it takes from the server's reports.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/network/TelnetStreams.h"

using namespace telnet;
using namespace rfc2217;

namespace {
// A Telnet client with the COM-PORT option; what it sent is in `sent`.
struct Client {
    Client()
    {
        session.addOption(comPort);
        session.start(TelnetSession::Start::Offering, sent);
    }
    // The server agrees to binary both ways and to the option.
    void agree()
    {
        const Received r = feed(session, {kIac, kDo, kOptionBinary, kIac, kWill, kOptionBinary, kIac, kDo, kOptionComPort});
        sent.insert(sent.end(), r.answer.begin(), r.answer.end());
    }
    std::vector<Bytes> commands(const Bytes& out) const { return subnegotiationsOf(kOptionComPort, out); }

    Rfc2217Client comPort;
    TelnetSession session;
    Bytes sent;
};
}  // namespace

TEST(Rfc2217Client, SettingsWaitForTheServersAgreementThenGoAllAtOnce)
{
    Client client;
    EXPECT_EQ(client.sent, (Bytes{kIac, kWill, kOptionBinary, kIac, kDo, kOptionBinary, kIac, kWill, kOptionComPort}));
    Bytes out;
    client.comPort.setBaudRate(38400, out);
    client.comPort.setFormat(7, kParityEven, kStopTwo, out);
    client.comPort.setDtr(true, out);
    client.comPort.setRts(true, out);
    client.comPort.purge(kPurgeBoth, out);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(client.comPort.active());

    client.sent.clear();
    client.agree();
    EXPECT_TRUE(client.comPort.active());
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
    EXPECT_EQ(client.commands(client.sent), expected);
}

TEST(Rfc2217Client, EachChangeGoesOnceAndIacInAValueIsDoubled)
{
    Client client;
    client.agree();
    Bytes out;
    client.comPort.setBaudRate(115200, out);
    client.comPort.setBaudRate(115200, out);
    client.comPort.setFormat(8, kParityOdd, kStopOne, out);  // only the parity differs
    client.comPort.setDtr(false, out);                       // already off
    client.comPort.setRts(true, out);
    client.comPort.setBreak(true, out);
    client.comPort.setBreak(false, out);
    client.comPort.purge(kPurgeReceive, out);
    client.comPort.setBaudRate(0x0001FFFF, out);
    const std::vector<Bytes> expected = {
        {kSetBaudRate, 0x00, 0x01, 0xC2, 0x00},
        {kSetParity, kParityOdd},
        {kSetControl, kControlRtsOn},
        {kSetControl, kControlBreakOn},
        {kSetControl, kControlBreakOff},
        {kPurgeData, kPurgeReceive},
        {kSetBaudRate, 0x00, 0x01, 0xFF, 0xFF},
    };
    EXPECT_EQ(client.commands(out), expected);
    const Bytes lastRate = {kIac, kSb, kOptionComPort, kSetBaudRate, 0x00, 0x01, kIac, kIac, kIac, kIac, kIac, kSe};
    EXPECT_TRUE(std::search(out.begin(), out.end(), lastRate.begin(), lastRate.end()) != out.end());

    // The server withdrawing its agreement stops the commands; settings are still remembered.
    feed(client.session, {kIac, kDont, kOptionComPort});
    EXPECT_FALSE(client.comPort.active());
    out.clear();
    client.comPort.setBaudRate(9600, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(client.comPort.settings().baudRate, 9600u);
}

TEST(Rfc2217Client, ModemStateAndLineErrorsComeFromTheServerWhereverTheStreamSplits)
{
    for (bool oneByteAtATime : {false, true}) {
        SCOPED_TRACE(oneByteAtATime ? "one byte at a time" : "whole");
        Client client;
        // Reports before the agreement are not taken.
        feed(client.session, serverSays(kNotifyModemState, 0x10));
        EXPECT_FALSE(client.comPort.modemLinesKnown());
        client.agree();
        Bytes stream = {'a'};
        const auto add = [&](const Bytes& bytes) { stream.insert(stream.end(), bytes.begin(), bytes.end()); };
        add(serverSays(kNotifyModemState, 0xB1));  // CD DSR CTS, and a delta bit
        stream.push_back('b');
        add(serverSays(kNotifyLineState, 0x04 | 0x01 | 0x60));  // parity; data ready and shift bits are no errors
        add(serverSays(kNotifyLineState, 0x08));
        add(serverSays(kSetBaudRate, 0));  // a short acknowledgement
        stream.push_back('c');
        const Received r = oneByteAtATime ? feedByteByByte(client.session, stream) : feed(client.session, stream);
        EXPECT_EQ(r.data, (Bytes{'a', 'b', 'c'}));
        EXPECT_TRUE(r.answer.empty());
        EXPECT_TRUE(client.comPort.modemLinesKnown());
        EXPECT_EQ(client.comPort.modemLines(), 0xB0);
        EXPECT_EQ(client.comPort.takeLineErrors(), kLineStateParity | kLineStateFraming);
        EXPECT_EQ(client.comPort.takeLineErrors(), 0);
    }
}
