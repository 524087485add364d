// The COM port line's behaviour is the comm calls it makes: which, in what
// order, with what values. A port driver must see exactly these.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/ComPortLine.h"
#include "tests/com/FakeCommApi.h"

using Log = std::vector<std::string>;

namespace {
class ComPort : public ::testing::Test {
protected:
    void openCom1()
    {
        line = ComPortLine::open(comm, "COM1");
        ASSERT_NE(line, nullptr);
        comm.clearCalls();
    }

    FakeCommApi comm;
    std::unique_ptr<ComPortLine> line;
};

// A record with odd values everywhere a format must not touch: they have to
// come back unchanged.
CommState oddSettings()
{
    CommState state{};
    state.DCBlength = 12;
    state.BaudRate = 1200;
    state.flags = 0x9ABCD5FFu;
    state.XonLim = 1234;
    state.XoffLim = 321;
    state.ByteSize = 6;
    state.Parity = kDcbOddParity;
    state.StopBits = kDcbTwoStopBits;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    state.ErrorChar = '?';
    state.EofChar = 0x1A;
    state.EvtChar = 0x7E;
    return state;
}

bool sameRecord(const CommState& a, const CommState& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

TEST_F(ComPort, OpensByDevicePathAndPreparesWithTheSettingsItLastRead)
{
    comm.setReported(oddSettings());
    line = ComPortLine::open(comm, "COM1");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->features(), kLineHasFormat | kLineHasControls | kLineHasBreak);
    line->prepare();
    EXPECT_EQ(comm.log(), (Log{"Open //./COM1", "GetState", "SetState 1200 6 O 2 flags=0x55FF", "SetTimeouts",
                               "SetEventMask 0x1C0"}));
    EXPECT_TRUE(sameRecord(comm.callsOf(CommOp::SetState).at(0).state, oddSettings()));
    const PortHandle handle = comm.callsOf(CommOp::SetState).at(0).port;
    const CommTimeouts timeouts = comm.callsOf(CommOp::SetTimeouts).at(0).timeouts;
    const std::uint32_t fields[] = {timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                                    timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                                    timeouts.WriteTotalTimeoutConstant};
    EXPECT_EQ(std::vector<std::uint32_t>(std::begin(fields), std::end(fields)),
              (std::vector<std::uint32_t>{0xFFFFFFFFu, 0, 0, 0, 0}));

    // A port kept open is asked for its state, and prepared with what that read.
    CommState later = oddSettings();
    later.BaudRate = 4800;
    comm.setReported(later);
    comm.clearCalls();
    EXPECT_EQ(line->state(), LineState::Open);
    line->prepare();
    EXPECT_EQ(comm.log(), (Log{"GetState", "SetState 4800 6 O 2 flags=0x55FF", "SetTimeouts", "SetEventMask 0x1C0"}));

    // Failures of the set-up calls are the port's own business: nothing else is tried.
    for (CommOp op : {CommOp::SetState, CommOp::SetTimeouts, CommOp::SetEventMask}) comm.fail(op);
    comm.clearCalls();
    line->prepare();
    EXPECT_EQ(comm.log().size(), 3u);

    line.reset();
    EXPECT_EQ(comm.log().back(), "Close");
    EXPECT_FALSE(comm.isOpen(handle));
}

// A user who already wrote the device path means the same port as by its bare
// name; before, "\\.\COM12" became "//./\\.\COM12" and never opened.
TEST_F(ComPort, NamesBecomeOneDevicePath)
{
    const struct {
        const char* name;
        const char* path;
    } cases[] = {
        {"COM1", "//./COM1"},     {"COM12", "//./COM12"},     {"\\\\.\\COM12", "//./COM12"},
        {"//./COM3", "//./COM3"}, {"", "//./"},               {"\\\\.\\", "//./"},
        {"C:/notes.txt", "//./C:/notes.txt"},                 {"\\\\server\\COM1", "//./\\\\server\\COM1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        comm.clearCalls();
        ComPortLine::open(comm, c.name);
        EXPECT_EQ(comm.callsOf(CommOp::Open).at(0).path, c.path);
    }
}

TEST_F(ComPort, WhatDoesNotOpenAsAPortGivesNoLine)
{
    comm.fail(CommOp::Open);
    EXPECT_EQ(ComPortLine::open(comm, "COM1"), nullptr);
    EXPECT_EQ(comm.log(), (Log{"Open //./COM1"}));

    // A file, a pipe or another device opens but has no line settings: it is
    // closed before a byte could reach it.
    comm.fail(CommOp::Open, false);
    comm.fail(CommOp::GetState);
    comm.clearCalls();
    EXPECT_EQ(ComPortLine::open(comm, "C:/notes.txt"), nullptr);
    EXPECT_EQ(comm.log(), (Log{"Open //./C:/notes.txt", "GetState", "Close"}));
    EXPECT_FALSE(comm.isOpen(comm.callsOf(CommOp::Close).at(0).port));
}

// Each operation and its calls: as they succeed, and as each call fails.
TEST_F(ComPort, EachOperationMakesItsCalls)
{
    struct Failure {
        CommOp op;
        Log calls;
        bool result;
    };
    struct Case {
        const char* what;
        std::function<bool(Line&)> operation;
        Log calls;
        std::vector<Failure> failures;
    };
    std::uint8_t byte = 0;
    std::uint8_t errors = 0;
    std::uint32_t waiting = 0;
    ModemInputs inputs{};
    LineFormat format{};
    const auto control = [](Control which, bool on) { return [=](Line& l) { return l.setControl(which, on); }; };
    const Log setRate = {"GetState", "SetState 19200 8 N 1 flags=0x1"};  // the flag word stays as read
    const Log setFormat = {"GetState", "SetState 9600 8 N 1 flags=0x20A1"};
    const Case cases[] = {
        {"state", [](Line& l) { return l.state() == LineState::Open; }, {"GetState"},
         {{CommOp::GetState, {"GetState"}, false}}},
        {"DTR on", control(Control::Dtr, true), {"Escape SetDtr"}, {{CommOp::Escape, {"Escape SetDtr"}, false}}},
        {"DTR off", control(Control::Dtr, false), {"Escape ClrDtr"}, {{CommOp::Escape, {"Escape ClrDtr"}, false}}},
        {"RTS on", control(Control::Rts, true), {"Escape SetRts"}, {{CommOp::Escape, {"Escape SetRts"}, false}}},
        {"RTS off", control(Control::Rts, false), {"Escape ClrRts"}, {{CommOp::Escape, {"Escape ClrRts"}, false}}},
        {"break on", control(Control::Break, true), {"Escape SetBreak"},
         {{CommOp::Escape, {"Escape SetBreak"}, false}}},
        {"break off", control(Control::Break, false), {"Escape ClrBreak"},
         {{CommOp::Escape, {"Escape ClrBreak"}, false}}},
        {"inputs", [&](Line& l) { return l.readInputs(inputs); }, {"GetModemStatus"},
         {{CommOp::GetModemStatus, {"GetModemStatus"}, false}}},
        {"errors", [&](Line& l) { return l.pollErrors(errors, waiting); }, {"ClearErrors"},
         {{CommOp::ClearErrors, {"ClearErrors"}, false}}},
        {"read", [&](Line& l) { return l.readByte(byte); }, {"ReadByte"}, {{CommOp::ReadByte, {"ReadByte"}, false}}},
        {"write", [](Line& l) { return l.writeByte('A'); }, {"WriteByte 0x41"},
         {{CommOp::WriteByte, {"WriteByte 0x41"}, false}}},
        {"discard", [](Line& l) { l.discard(); return true; }, {"Purge 0xF"}, {{CommOp::Purge, {"Purge 0xF"}, true}}},
        {"format read", [&](Line& l) { return l.readFormat(format); }, {"GetState"},
         {{CommOp::GetState, {"GetState"}, false}}},
        {"rate", [](Line& l) { return l.setRate(19200); }, setRate,
         {{CommOp::GetState, {"GetState"}, false}, {CommOp::SetState, setRate, false}}},
        {"format", [](Line& l) { return l.setFormat({9600, 8, Parity::None, StopBits::One, false}); }, setFormat,
         {{CommOp::GetState, {"GetState"}, false}, {CommOp::SetState, setFormat, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        openCom1();
        comm.receive("Z");
        EXPECT_TRUE(c.operation(*line));
        EXPECT_EQ(comm.log(), c.calls);
        for (const Failure& failure : c.failures) {
            openCom1();
            comm.receive("Z");
            comm.fail(failure.op);
            EXPECT_EQ(c.operation(*line), failure.result);
            EXPECT_EQ(comm.log(), failure.calls);
            comm.fail(failure.op, false);
        }
    }
}

// The format goes into the record the port reported; everything it does not
// name stays, the top 17 bits of the flag word included.
TEST_F(ComPort, FormatIsWrittenIntoTheRecordAsRead)
{
    const struct {
        LineFormat format;
        std::uint8_t parity, stopBits;
        std::uint32_t lowFlags;
    } cases[] = {
        {{9600, 8, Parity::None, StopBits::One, false}, kDcbNoParity, kDcbOneStopBit, 0x20A1},
        {{115200, 7, Parity::Even, StopBits::Two, true}, kDcbEvenParity, kDcbTwoStopBits, 0x20A3},
        {{300, 5, Parity::Odd, StopBits::OneAndHalf, true}, kDcbOddParity, kDcbOne5StopBits, 0x20A3},
        {{38400, 8, Parity::Even, StopBits::One, false}, kDcbEvenParity, kDcbOneStopBit, 0x20A1},  // locked, parity unchecked
        {{1200, 6, Parity::Space, StopBits::One, false}, kDcbSpaceParity, kDcbOneStopBit, 0x20A1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format.rate);
        comm.setReported(oddSettings());
        openCom1();
        EXPECT_TRUE(line->setFormat(c.format));
        CommState expected = oddSettings();
        expected.DCBlength = 28;
        expected.BaudRate = c.format.rate;
        expected.ByteSize = c.format.dataBits;
        expected.Parity = c.parity;
        expected.StopBits = c.stopBits;
        expected.flags = (oddSettings().flags & 0xFFFF8000u) | c.lowFlags;
        const CommState written = comm.callsOf(CommOp::SetState).at(0).state;
        EXPECT_EQ(describeState(written), describeState(expected));
        EXPECT_EQ(written.flags, expected.flags);
        EXPECT_TRUE(sameRecord(written, expected));
    }
}

TEST_F(ComPort, ReportsWhatThePortReportsInLineTerms)
{
    openCom1();
    const struct {
        std::uint32_t lines;
        ModemInputs inputs;
    } lineCases[] = {
        {0x00, {false, false, false, false}}, {0x10, {true, false, false, false}}, {0x20, {false, true, false, false}},
        {0x40, {false, false, true, false}},  {0x80, {false, false, false, true}}, {0x0F, {false, false, false, false}},
        {0xF0, {true, true, true, true}},
    };
    for (const auto& c : lineCases) {
        SCOPED_TRACE(c.lines);
        comm.setModemLines(c.lines);
        ModemInputs inputs{};
        ASSERT_TRUE(line->readInputs(inputs));
        EXPECT_EQ((std::vector<bool>{inputs.cts, inputs.dsr, inputs.ring, inputs.dcd}),
                  (std::vector<bool>{c.inputs.cts, c.inputs.dsr, c.inputs.ring, c.inputs.dcd}));
    }

    const struct {
        std::uint32_t commErrors;
        std::uint8_t lineErrors;
    } errorCases[] = {
        {kCommErrorRxOver, kLineErrorOverrun}, {kCommErrorOverrun, kLineErrorOverrun},
        {kCommErrorParity, kLineErrorParity},  {kCommErrorFrame, kLineErrorFraming},
        {0x10 /* CE_BREAK */, 0},              {0x0F, kLineErrorOverrun | kLineErrorParity | kLineErrorFraming},
    };
    comm.receive("XYZ");
    for (const auto& c : errorCases) {
        SCOPED_TRACE(c.commErrors);
        comm.addErrors(c.commErrors);
        std::uint8_t errors = 0xFF;
        std::uint32_t waiting = 0;
        ASSERT_TRUE(line->pollErrors(errors, waiting));
        EXPECT_EQ(errors, c.lineErrors);
        EXPECT_EQ(waiting, 3u);
    }

    // One byte read is a byte; a read that returns none is no byte.
    std::uint8_t byte = 0;
    for (char expected : std::string("XYZ")) {
        ASSERT_TRUE(line->readByte(byte));
        EXPECT_EQ(byte, expected);
    }
    EXPECT_FALSE(line->readByte(byte));

    // The format as the port holds it, even values no format names: the
    // character time is counted from them as they are.
    CommState odd = oddSettings();
    odd.Parity = 7;
    comm.setReported(odd);
    LineFormat format{};
    ASSERT_TRUE(line->readFormat(format));
    EXPECT_EQ(format.rate, 1200u);
    EXPECT_EQ(format.dataBits, 6);
    EXPECT_EQ(static_cast<int>(format.parity), 7);
    EXPECT_EQ(format.stopBits, StopBits::Two);
    EXPECT_TRUE(format.checkParity);  // fParity is set in 0x...D5FF
    EXPECT_DOUBLE_EQ(bitsPerCharacter(format), 9.0);
}
