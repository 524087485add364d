// The monitor around a line, as the device opens it through the catalog: what
// reaches the log, that the line works the same with or without it, and what
// happens when the log cannot be written or the writer falls behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/monitor/MonitorLine.h"
#include "platform/monitor/MonitorMessages.h"
#include "platform/modem/Modem.h"
#include "platform/monitor/MonitoredCatalog.h"
#include "tests/monitor/MonitorRig.h"
#include "tests/network/FakeNetwork.h"
#include "tests/support/FakeLine.h"

namespace {
class FixedSettings final : public MonitorSettingsSource {
public:
    MonitorSettings read() override { return settings; }
    MonitorSettings settings;
};

// A catalog of one line with events, for the tests of those events.
class EventfulLines final : public LineCatalog {
public:
    std::unique_ptr<Line> open(const char*) override
    {
        auto line = std::make_unique<EventfulLine>();
        last = line.get();
        return line;
    }
    bool reachesOutside(const char*) override { return false; }
    EventfulLine* last = nullptr;
};

class Monitor : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings.settings.logPath = folder.path("line.log");
        settings.settings.capturePath = folder.path("line.pcapng");
    }
    MonitoredCatalog catalogOver(LineCatalog& lines)
    {
        return MonitoredCatalog(lines, settings, MonitorServices{&platform, &clock, &alert, "RS-232C Test"});
    }
    std::vector<std::string> log() { return untimed(logLines(settings.settings.logPath)); }

    ScratchFolder folder;
    TurnedClock clock;
    SteppedPlatform platform;
    RecordingAlert alert;
    FixedSettings settings;
    FakeLines lines;
};
}  // namespace

// Every method of Line is the monitor's own, so none falls through to a
// default body that would leave the wrapped line uncalled. Two lines compared
// slot by slot in their tables of virtual functions (the Itanium C++ ABI of
// the native build): one that overrides only what it must, and the monitor.
// A slot the monitor does not override holds the same function in both.
namespace {
class Bare : public Line {
public:
    std::uint32_t features() const override { return 0; }
    LineState state() override { return LineState::Open; }
    void prepare() override {}
    bool setFormat(const LineFormat&) override { return false; }
    bool setRate(std::uint32_t) override { return false; }
    bool readFormat(LineFormat&) override { return false; }
    bool setControl(Control, bool) override { return false; }
    bool readInputs(ModemInputs&) override { return false; }
    bool pollErrors(std::uint8_t&, std::uint32_t&) override { return false; }
    bool readByte(std::uint8_t&) override { return false; }
    bool writeByte(std::uint8_t) override { return false; }
    void discard() override {}
};

// One slot past Line's own: the index of its first slot is the count of Line's.
struct Probe : Bare {
    virtual void probe() {}
};
}  // namespace

TEST_F(Monitor, EveryLineMethodIsForwarded)
{
    void (Probe::*probe)() = &Probe::probe;
    std::uintptr_t encoded;
    std::memcpy(&encoded, &probe, sizeof encoded);
    const std::size_t slots = (encoded - 1) / sizeof(void*);  // a virtual member pointer holds 1 + its slot's offset
    ASSERT_GE(slots, 13u);

    Bare bare;
    auto catalog = catalogOver(lines);
    std::unique_ptr<Line> monitored = catalog.open("COM1");
    ASSERT_NE(dynamic_cast<MonitorLine*>(monitored.get()), nullptr);
    void* const* bareSlots = *reinterpret_cast<void* const* const*>(&bare);
    void* const* monitorSlots = *reinterpret_cast<void* const* const*>(monitored.get());
    for (std::size_t slot = 0; slot < slots; ++slot)
        EXPECT_NE(bareSlots[slot], monitorSlots[slot]) << "Line's virtual function in slot " << slot
                                                       << " is not forwarded by MonitorLine";
}

TEST_F(Monitor, TheLogHoldsWhatTheDeviceDidAndTheLineAnswered)
{
    auto catalog = catalogOver(lines);
    lines.fail(LineOp::SetControl);  // a port that refuses the controls
    std::unique_ptr<Line> line = catalog.open("COM1");
    clock.advance(10);
    ASSERT_TRUE(line->setFormat(LineFormat{2400, 7, Parity::Even, StopBits::One, true}));
    lines.setFormat(LineFormat{2400, 8, Parity::None, StopBits::One, false});  // not what was asked
    LineFormat inForce;
    EXPECT_TRUE(line->readFormat(inForce));
    EXPECT_TRUE(line->readFormat(inForce));  // the same again: not news
    EXPECT_FALSE(line->setControl(Control::Dtr, true));
    EXPECT_FALSE(line->setControl(Control::Dtr, true));
    lines.setInputs(ModemInputs{true, true, false, false});
    ModemInputs inputs;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(line->readInputs(inputs));
    EXPECT_TRUE(line->writeByte('A'));
    clock.advance(4167);
    EXPECT_TRUE(line->writeByte('T'));
    lines.receive("OK");
    lines.addErrors(kLineErrorFraming);
    std::uint8_t errors;
    std::uint32_t waiting;
    EXPECT_TRUE(line->pollErrors(errors, waiting));
    EXPECT_EQ(errors, kLineErrorFraming);
    std::uint8_t byte;
    for (char expected : {'O', 'K'}) {
        clock.advance(4167);
        EXPECT_TRUE(line->readByte(byte));
        EXPECT_EQ(byte, expected);
    }
    lines.setInputs(ModemInputs{false, true, false, false});
    EXPECT_TRUE(line->readInputs(inputs));
    EXPECT_TRUE(line->setRate(9600));
    line.reset();

    EXPECT_EQ(lines.written(), "AT");
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "--  open COM1",
                         "--  format 2400 bit/s 7E1",
                         "--  the line runs at 2400 bit/s 8N1",
                         "--  DTR on refused by the line",
                         "--  CTS on  DSR on  CD off  RI off",
                         "TX  41 54                                            AT",
                         "--  receive error: framing",
                         "RX  4F 4B                                            OK",
                         "--  CTS off",
                         "--  rate 9600 bit/s",
                         "--  close COM1: 2 bytes sent, 2 received",
                     }));
    const std::vector<std::string> timed = logLines(settings.settings.logPath);
    EXPECT_EQ(timed.front().substr(0, 12), "    0.000000");
    EXPECT_EQ(timed[5].substr(0, 12), "    0.000010");  // TX at the time of its first byte
    EXPECT_EQ(timed[7].substr(0, 12), "    0.008344");
    EXPECT_TRUE(alert.shown.empty());
    EXPECT_EQ(readFile(settings.settings.logPath).rfind("\xEF\xBB\xBF# RS-232C Test line monitor, ", 0), 0u);
}

TEST_F(Monitor, OffUnlessTheSettingsNameALogAndAFailedOpenIsLogged)
{
    auto catalog = catalogOver(lines);
    lines.refuseOpenOf("COM9");
    EXPECT_EQ(catalog.open("COM9"), nullptr);
    EXPECT_EQ(log(), (std::vector<std::string>{"--  open COM9 failed: the line could not be opened"}));

    settings.settings.logPath.clear();
    std::unique_ptr<Line> plain = catalog.open("COM1");
    EXPECT_EQ(dynamic_cast<MonitorLine*>(plain.get()), nullptr);
}

TEST_F(Monitor, AFileThatCannotBeWrittenIsToldOnceAndTheLineCarriesOn)
{
    const std::string missing = folder.path("no such folder/line.log");
    settings.settings.logPath = missing;
    auto catalog = catalogOver(lines);
    std::unique_ptr<Line> line = catalog.open("COM1");
    EXPECT_TRUE(line->writeByte('A'));
    platform.pass();
    EXPECT_TRUE(line->writeByte('B'));  // the monitor has stopped, the line has not
    line.reset();
    EXPECT_EQ(lines.written(), "AB");
    ASSERT_EQ(alert.shown.size(), 1u);
    EXPECT_EQ(alert.shown[0], std::string(kMonitorWriteFailedPrefix) + missing);

    // Off for that path from then on, without another message; on again for another.
    line = catalog.open("COM1");
    EXPECT_EQ(dynamic_cast<MonitorLine*>(line.get()), nullptr);
    line.reset();
    settings.settings.logPath = folder.path("other.log");
    line = catalog.open("COM1");
    EXPECT_NE(dynamic_cast<MonitorLine*>(line.get()), nullptr);
    line.reset();
    EXPECT_EQ(alert.shown.size(), 1u);

    // A disk that fills up while the line runs.
    settings.settings.logPath = folder.path("full.log");
    platform.failAfter = 600;
    line = catalog.open("COM1");
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(line->writeByte('x'));
        clock.advance(1000000);
        platform.pass();
    }
    ASSERT_EQ(alert.shown.size(), 2u);
    EXPECT_EQ(alert.shown[1], std::string(kMonitorWriteFailedPrefix) + folder.path("full.log"));
    const std::string stoppedAt = readFile(folder.path("full.log"));
    platform.failAfter = -1;  // room again: the monitor stays stopped all the same
    EXPECT_TRUE(line->writeByte('y'));
    platform.pass();
    line.reset();
    EXPECT_EQ(readFile(folder.path("full.log")), stoppedAt);
    EXPECT_EQ(alert.shown.size(), 2u);
}

TEST_F(Monitor, AWriterThatFallsBehindLosesRecordsAndSaysHowMany)
{
    auto catalog = catalogOver(lines);
    std::unique_ptr<Line> line = catalog.open("COM1");
    // The writer does not run until the line closes: the queue holds 16 bytes a record.
    const int bytes = static_cast<int>(MonitorSession::kQueueBytes / 16) + 500;
    for (int i = 0; i < bytes; ++i) EXPECT_TRUE(line->writeByte('z'));
    line.reset();
    EXPECT_EQ(lines.written().size(), static_cast<std::size_t>(bytes));
    // The open record takes 20 bytes of the queue, every byte's record 16.
    const int kept = static_cast<int>((MonitorSession::kQueueBytes - 20) / 16);
    const std::vector<std::string> logged = log();
    ASSERT_EQ(logged.size(), 1 + (kept + 15) / 16 + 2u);
    EXPECT_EQ(logged[logged.size() - 2], "--  lost " + std::to_string(bytes - kept) + " records here: the monitor fell behind");
    EXPECT_EQ(logged.back(), "--  close COM1: " + std::to_string(bytes) + " bytes sent, 0 received");
}

TEST_F(Monitor, ALineWithEventsReportsThemAndItsSecretsStayOutOfTheFiles)
{
    EventfulLines eventful;
    auto catalog = catalogOver(eventful);
    std::unique_ptr<Line> line = catalog.open("modem");
    LineEvents* events = eventful.last->events;
    ASSERT_NE(events, nullptr);

    events->modemCommand("ATDT5551234");
    events->callEvent("dialling isp.example:23");
    events->modemResult("CONNECT 115200");
    events->rawBytes(RawBytes::Secret);  // a text login's password
    for (char c : std::string("hunter2")) line->writeByte(static_cast<std::uint8_t>(c));
    events->rawBytes(RawBytes::AsFrames);
    line->writeByte(0x7E);  // the frames' own bytes are not shown
    const std::uint8_t pap[] = {0xFF, 0x03, 0xC0, 0x23, 0x01, 0x01, 0x00, 0x0F, 0x02, 'm', 'e', 0x05, 'x', 'y', 'z', 'z', 'y', '!'};
    events->pppFrame(LineDirection::FromGuest, pap, sizeof pap);
    line.reset();

    EXPECT_EQ(log(), (std::vector<std::string>{
                         "--  open modem",
                         "--  modem command: ATDT5551234",
                         "--  call: dialling isp.example:23",
                         "--  modem result: CONNECT 115200",
                         "--  the guest types a secret: its bytes masked",
                         "TX  ** ** ** ** ** ** **                             *******",
                         "--  PPP: the bytes shown as frames",
                         "TX  PPP PAP Authenticate-Request id 1 (18 bytes)",
                         "    FF 03 C0 23 01 01 00 0F 02 6D 65 05 2A 2A 2A 2A  .<ETX>ﾀ#<SOH><SOH><NUL><SI><STX>me<ENQ>****",
                         "    2A 2A                                            **",
                         "--  close modem: 8 bytes sent, 0 received",
                     }));
    const std::string capture = readFile(settings.settings.capturePath);
    EXPECT_EQ(capture.substr(0, 4), "\x0A\x0D\x0D\x0A");
    EXPECT_NE(capture.find("me\x05*****"), std::string::npos);
    for (const std::string& file : {readFile(settings.settings.logPath), capture}) {
        EXPECT_EQ(file.find("xyzzy"), std::string::npos);
        EXPECT_EQ(file.find("hunter2"), std::string::npos);
    }
}

TEST_F(Monitor, AModemsCommandLinesAndResultCodesAreLoggedInTheirPlaces)
{
    FakeNetwork network;
    FakeClock modemClock;
    class NoNumbers final : public Phonebook {
        std::optional<std::string> lookup(const std::string&) override { return std::nullopt; }
    } phonebook;
    Switchboard switchboard(network, phonebook);
    class Modems final : public LineCatalog {
    public:
        explicit Modems(Modem::Services services) : services_(services) {}
        std::unique_ptr<Line> open(const char*) override { return std::make_unique<Modem>(services_, nullptr, "test"); }
        bool reachesOutside(const char*) override { return true; }

    private:
        Modem::Services services_;
    } modems(Modem::Services{switchboard, modemClock});
    auto catalog = catalogOver(modems);
    std::unique_ptr<Line> line = catalog.open("modem");
    ASSERT_TRUE(line->setFormat(LineFormat{9600, 8, Parity::None, StopBits::One, false}));
    for (char c : std::string("ATE0\r")) line->writeByte(static_cast<std::uint8_t>(c));
    std::uint8_t byte;
    for (int tick = 0; tick < 20; ++tick) {
        modemClock.now += 1000;
        line->service();
        line->readByte(byte);
    }
    line.reset();
    const std::vector<std::string> logged = log();
    const auto at = [&](const std::string& text) { return std::find(logged.begin(), logged.end(), text) - logged.begin(); };
    const auto typed = std::find_if(logged.begin(), logged.end(), [](const std::string& line) {
                           return line.rfind("TX  41 54 45 30 0D ", 0) == 0;
                       }) - logged.begin();
    EXPECT_LT(typed, at("--  modem command: ATE0"));  // the bytes that made the command, first
    EXPECT_LT(at("--  modem command: ATE0"), at("--  modem result: OK"));
    EXPECT_LT(at("--  modem result: OK"), static_cast<long>(logged.size()));
}
