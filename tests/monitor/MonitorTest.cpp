// The monitor around a line, as the device opens it through the catalog: what
// reaches the log and the capture (read by tshark), that the line works the
// same with or without it, how the writer ends each session on its own and
// in turn, what happens when a file cannot be written or the writer falls
// behind, and the files' size limit with one rotation.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/monitor/MonitorLine.h"
#include "platform/monitor/MonitorMessages.h"
#include "platform/monitor/MonitoredCatalog.h"
#include "platform/native/NativeMonitorPlatform.h"
#include "tests/network/FakeNetwork.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FakeLine.h"

namespace {
// Files as the native platform has them, whose writes fail after `failAfter`
// more bytes as on a full disk; the writers' passes run when the test calls
// pass(), detached tasks at once.
class SteppedPlatform final : public MonitorPlatform {
public:
    std::unique_ptr<MonitorFile> openForAppend(const std::string& path, std::uint64_t& size) override
    {
        struct Failing final : MonitorFile {
            Failing(std::unique_ptr<MonitorFile> kept, long long& left) : file(std::move(kept)), budget(left) {}
            bool write(const char* data, std::size_t length) override
            {
                if (budget >= 0 && static_cast<long long>(length) > budget) return false;
                if (budget >= 0) budget -= static_cast<long long>(length);
                return file->write(data, length);
            }
            std::unique_ptr<MonitorFile> file;
            long long& budget;
        };
        std::unique_ptr<MonitorFile> file = files.openForAppend(path, size);
        return file ? std::make_unique<Failing>(std::move(file), failAfter) : nullptr;
    }
    bool replace(const std::string& from, const std::string& to) override { return files.replace(from, to); }
    bool startWriter(std::function<bool()> pass, unsigned) override
    {
        writers.push_back(std::move(pass));
        return true;
    }
    void runDetached(std::function<void()> task) override { task(); }

    // A pass of each writer; those that end are gone.
    void pass()
    {
        for (auto writer = writers.begin(); writer != writers.end();) writer = (*writer)() ? writer + 1 : writers.erase(writer);
    }

    NativeMonitorPlatform files;
    std::vector<std::function<bool()>> writers;
    long long failAfter = -1;  // -1: never fails
};

// A line that overrides only what it must (and takes every byte).
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
    bool writeByte(std::uint8_t) override { return true; }
    void discard() override {}
};

// Lines with events of their own, like a modem's, kept for the test to report.
class EventfulLines final : public LineCatalog {
public:
    struct Eventful final : Bare, ReportsLineEvents {
        void reportEventsTo(LineEvents* to) override { events = to; }
        LineEvents* events = nullptr;
    };
    std::unique_ptr<Line> open(const char*) override
    {
        auto line = std::make_unique<Eventful>();
        last = line.get();
        return line;
    }
    bool reachesOutside(const char*) override { return false; }
    Eventful* last = nullptr;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Monitor : public ::testing::Test, public MonitorSettingsSource {
protected:
    Monitor()
    {
        char pattern[] = "/tmp/rs232c-monitor-XXXXXX";
        folder = mkdtemp(pattern);
        settings.logPath = path("line.log");
        settings.capturePath = path("line.pcapng");
    }
    ~Monitor() override { std::filesystem::remove_all(folder); }

    std::string path(const std::string& name) const { return folder + "/" + name; }
    MonitoredCatalog catalogOver(LineCatalog& over)
    {
        return MonitoredCatalog(over, *this, MonitorServices{&platform, &clock, &alert, "RS-232C Test"});
    }
    MonitorSettings read() override { return settings; }
    // The log's lines without the header's, and without the time column unless `timed`.
    std::vector<std::string> log(bool timed = false)
    {
        std::vector<std::string> kept;
        std::istringstream in(readFile(settings.logPath));
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
            if (!line.empty() && line[0] != '#') kept.push_back(timed || line.size() <= 14 ? line : line.substr(14));
        }
        return kept;
    }

    std::string folder;
    FakeClock clock;
    SteppedPlatform platform;
    FakeAlert alert;
    MonitorSettings settings;
    FakeLines lines;
};

// One slot past Line's own: the index of its first slot is the count of Line's.
struct Probe : Bare {
    virtual void probe() {}
};
}  // namespace

// Every method of Line is the monitor's own, so none falls through to a
// default body that would leave the wrapped line uncalled. Two lines compared
// slot by slot in their tables of virtual functions (the Itanium C++ ABI of
// the native build): one that overrides only what it must, and the monitor.
// A slot the monitor does not override holds the same function in both.
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

// Only changes are news for what the device reads again and again; closing
// the line leaves the writing to the writer, which then ends.
TEST_F(Monitor, TheLogHoldsWhatTheDeviceDidAndTheLineAnswered)
{
    auto catalog = catalogOver(lines);
    lines.fail(LineOp::SetControl);  // a port that refuses the controls
    std::unique_ptr<Line> line = catalog.open("COM1");
    clock.now += 10;
    ASSERT_TRUE(line->setFormat(LineFormat{2400, 7, Parity::Even, StopBits::One, true}));
    lines.setFormat(LineFormat{2400, 8, Parity::None, StopBits::One, false});  // not what was asked
    LineFormat inForce;
    ModemInputs inputs;
    std::uint8_t byte, errors;
    std::uint32_t waiting;
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(line->readFormat(inForce));
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(line->setControl(Control::Dtr, true));
    lines.setInputs(ModemInputs{true, true, false, false});
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(line->readInputs(inputs));
    EXPECT_TRUE(line->writeByte('A'));
    clock.now += 4167;
    EXPECT_TRUE(line->writeByte('T'));
    lines.receive("OK");
    lines.addErrors(kLineErrorFraming);
    EXPECT_TRUE(line->pollErrors(errors, waiting));
    EXPECT_EQ(errors, kLineErrorFraming);
    for (char expected : {'O', 'K'}) {
        clock.now += 4167;
        EXPECT_TRUE(line->readByte(byte));
        EXPECT_EQ(byte, expected);
    }
    lines.setInputs(ModemInputs{false, true, false, false});
    EXPECT_TRUE(line->readInputs(inputs));
    lines.fail(LineOp::ReadInputs);
    EXPECT_FALSE(line->readInputs(inputs));
    lines.fail(LineOp::WriteByte);
    EXPECT_FALSE(line->writeByte('!'));
    lines.fail(LineOp::SetControl, false);
    EXPECT_TRUE(line->setControl(Control::Break, true));
    EXPECT_TRUE(line->setRate(9600));
    lines.setState(LineState::Gone);
    EXPECT_EQ(line->state(), LineState::Gone);
    line.reset();
    EXPECT_EQ(readFile(settings.logPath), "");
    platform.pass();
    EXPECT_TRUE(platform.writers.empty());

    EXPECT_EQ(lines.written(), "AT!");
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
                         "--  the line's modem inputs cannot be read",
                         "TX  21                                               !",
                         "--  the line did not take the last byte sent: lost",
                         "--  break on",
                         "--  rate 9600 bit/s",
                         "--  gone: the line was lost",
                         "--  close COM1: 2 bytes sent, 2 received",
                     }));
    const std::vector<std::string> timed = log(true);
    EXPECT_EQ(timed.front().substr(0, 12), "    0.000000");
    EXPECT_EQ(timed[5].substr(0, 12), "    0.000010");  // TX at the time of its first byte
    EXPECT_EQ(timed[7].substr(0, 12), "    0.008344");
    EXPECT_TRUE(alert.shown().empty());
    EXPECT_EQ(readFile(settings.logPath).rfind("\xEF\xBB\xBF# RS-232C Test line monitor, ", 0), 0u);
}

TEST_F(Monitor, OffUnlessTheSettingsNameALogAndAFailedOpenIsLogged)
{
    auto catalog = catalogOver(lines);
    lines.refuseOpenOf("COM9");
    EXPECT_EQ(catalog.open("COM9"), nullptr);
    platform.pass();
    EXPECT_EQ(log(), (std::vector<std::string>{"--  open COM9 failed: the line could not be opened"}));

    settings.logPath.clear();
    EXPECT_EQ(dynamic_cast<MonitorLine*>(catalog.open("COM1").get()), nullptr);
}

// The device's next line may open before the writer has ended the last one's
// session: the writer ends that first. At the module's unload the line is
// left open, and what it queued is written all the same.
TEST_F(Monitor, AClosedLinesEndComesBeforeTheNextLineAndTheUnloadWritesWhatIsLeft)
{
    std::unique_ptr<Line> line;  // outlives the catalog, as in the plug-in
    {
        auto catalog = catalogOver(lines);
        line = catalog.open("COM1");
        line->writeByte('1');
        line.reset();
        line = catalog.open("COM2");
        line->writeByte('2');
        platform.pass();
        line->writeByte('3');
    }
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "--  open COM1",
                         "TX  31                                               1",
                         "--  close COM1: 1 bytes sent, 0 received",
                         "--  open COM2",
                         "TX  32 33                                            23",
                     }));
}

TEST_F(Monitor, AFileThatCannotBeWrittenIsToldOnceAndTheLineCarriesOn)
{
    const std::string missing = path("no such folder/line.log");
    settings.logPath = missing;
    auto catalog = catalogOver(lines);
    std::unique_ptr<Line> line = catalog.open("COM1");
    EXPECT_TRUE(line->writeByte('A'));
    platform.pass();
    EXPECT_TRUE(line->writeByte('B'));  // the monitor has stopped, the line has not
    line.reset();
    EXPECT_EQ(lines.written(), "AB");
    EXPECT_EQ(alert.shown(), (std::vector<std::string>{kMonitorWriteFailedPrefix + missing}));

    // Off for that path from then on, without another message; on again for another.
    EXPECT_EQ(dynamic_cast<MonitorLine*>(catalog.open("COM1").get()), nullptr);
    settings.logPath = path("other.log");
    EXPECT_NE(dynamic_cast<MonitorLine*>(catalog.open("COM1").get()), nullptr);
    platform.pass();
    EXPECT_EQ(alert.shown().size(), 1u);

    // A disk that fills up while the line runs; the monitor stays stopped when there is room again.
    settings.logPath = path("full.log");
    platform.failAfter = 600;
    line = catalog.open("COM1");
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(line->writeByte('x'));
        clock.now += 1000000;
        platform.pass();
    }
    ASSERT_EQ(alert.shown().size(), 2u);
    EXPECT_EQ(alert.shown()[1], kMonitorWriteFailedPrefix + path("full.log"));
    const std::string stoppedAt = readFile(path("full.log"));
    platform.failAfter = -1;
    EXPECT_TRUE(line->writeByte('y'));
    line.reset();
    platform.pass();
    EXPECT_EQ(readFile(path("full.log")), stoppedAt);
    EXPECT_EQ(alert.shown().size(), 2u);
}

// The queue between the line and the writer holds 16 bytes a record: what it
// cannot hold is lost and counted in the place it went missing, and at the end.
TEST_F(Monitor, AWriterThatFallsBehindLosesRecordsAndSaysHowManyWhere)
{
    auto catalog = catalogOver(lines);
    std::unique_ptr<Line> line = catalog.open("COM1");
    const int bytes = static_cast<int>(MonitorSession::kQueueBytes / 16) + 500;
    const int kept = static_cast<int>((MonitorSession::kQueueBytes - 20) / 16);  // after the open record's 20 bytes
    for (int i = 0; i < bytes; ++i) EXPECT_TRUE(line->writeByte('z'));
    platform.pass();
    line->writeByte('y');
    for (int i = 0; i < bytes; ++i) line->writeByte('z');  // the count and 'y' take 36 bytes: one record fewer kept
    line.reset();
    platform.pass();
    EXPECT_EQ(lines.written().size(), 2u * bytes + 1);

    const auto lost = [](int count) { return "--  lost " + std::to_string(count) + " records here: the monitor fell behind"; };
    const std::vector<std::string> logged = log();
    std::vector<std::string> events;
    std::copy_if(logged.begin(), logged.end(), std::back_inserter(events),
                 [](const std::string& line) { return line.rfind("--", 0) == 0; });
    EXPECT_EQ(events, (std::vector<std::string>{"--  open COM1", lost(bytes - kept), lost(bytes - kept + 1),
                                                "--  close COM1: " + std::to_string(2 * bytes + 1) +
                                                    " bytes sent, 0 received"}));
    const auto first = std::find(logged.begin(), logged.end(), lost(bytes - kept));
    EXPECT_EQ(first - logged.begin(), 1 + (kept + 15) / 16);
    ASSERT_NE(first, logged.end());
    EXPECT_EQ(first[1].substr(0, 9), "TX  79 7A");
}

namespace {
const std::pair<LineDirection, std::vector<std::uint8_t>> kFrames[] = {
    // LCP Configure-Request id 1: MRU 1500, magic number.
    {LineDirection::FromGuest,
     {0xFF, 0x03, 0xC0, 0x21, 0x01, 0x01, 0x00, 0x0E, 0x01, 0x04, 0x05, 0xDC, 0x05, 0x06, 0x12, 0x34, 0x56, 0x78}},
    // IPCP Configure-Request id 2: IP address 10.0.0.1.
    {LineDirection::ToGuest, {0xFF, 0x03, 0x80, 0x21, 0x01, 0x02, 0x00, 0x0A, 0x03, 0x06, 0x0A, 0x00, 0x00, 0x01}},
    // PAP Authenticate-Request id 3: peer "guest", password "passwrd".
    {LineDirection::FromGuest, {0xFF, 0x03, 0xC0, 0x23, 0x01, 0x03, 0x00, 0x12, 0x05, 'g', 'u', 'e', 's', 't', 0x07,
                                'p', 'a', 's', 's', 'w', 'r', 'd'}},
    // IPv4 10.0.0.2 > 93.184.216.34, TCP 1025 > 80 SYN.
    {LineDirection::FromGuest,
     {0xFF, 0x03, 0x00, 0x21, 0x45, 0x00, 0x00, 0x28, 0x00, 0x01, 0x00, 0x00, 0x40, 0x06, 0x00, 0x00, 0x0A,
      0x00, 0x00, 0x02, 0x5D, 0xB8, 0xD8, 0x22, 0x04, 0x01, 0x00, 0x50, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x50, 0x02, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00}},
};

std::string output(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
        pclose(pipe);
    }
    return out;
}
}  // namespace

// A line with events (a modem, a dial-up server) has them logged in their
// places; a typed password and a PPP session's secrets reach neither file;
// and tshark (Debian's, which scripts/setup.sh installs), not our own parser,
// reads the capture: each frame's direction, time and protocol.
TEST_F(Monitor, ALinesEventsAndFramesWithTheirSecretsMaskedAndTsharkReadsTheCapture)
{
    EventfulLines eventful;
    auto catalog = catalogOver(eventful);
    std::unique_ptr<Line> line = catalog.open("modem");
    LineEvents* events = eventful.last->events;
    ASSERT_NE(events, nullptr);
    events->modemCommand("ATDT5551234");
    events->callEvent("dialling 5551234");
    events->modemResult("CONNECT 115200");
    events->rawBytes(RawBytes::Secret);  // a text login's password
    for (char c : std::string("hunter2")) line->writeByte(static_cast<std::uint8_t>(c));
    events->rawBytes(RawBytes::AsFrames);
    line->writeByte(0x7E);  // the frames' own bytes are not shown
    for (const auto& [direction, frame] : kFrames) events->pppFrame(direction, frame.data(), frame.size());
    line.reset();
    platform.pass();

    std::vector<std::string> logged = log();
    logged.erase(std::remove_if(logged.begin(), logged.end(), [](const std::string& row) { return row[0] == ' '; }),
                 logged.end());  // the frames' hex rows
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "--  open modem",
                          "--  modem command: ATDT5551234",
                          "--  call: dialling 5551234",
                          "--  modem result: CONNECT 115200",
                          "--  the guest types a secret: its bytes masked",
                          "TX  ** ** ** ** ** ** **                             *******",
                          "--  PPP: the bytes shown as frames",
                          "TX  PPP LCP Configure-Request id 1 (18 bytes)",
                          "RX  PPP IPCP Configure-Request id 2 (14 bytes)",
                          "TX  PPP PAP Authenticate-Request id 3 (22 bytes)",
                          "TX  PPP IP 10.0.0.2 > 93.184.216.34 TCP 1025 > 80 SYN (44 bytes)",
                          "--  close modem: 8 bytes sent, 0 received",
                      }));
    for (const std::string& file : {readFile(path("line.log")), readFile(path("line.pcapng"))}) {
        EXPECT_EQ(file.find("hunter2"), std::string::npos);
        EXPECT_EQ(file.find("passwrd"), std::string::npos);
    }

    std::istringstream read(output("tshark -r '" + path("line.pcapng") +
                                   "' -T fields -E separator='|' -e frame.p2p_dir -e _ws.col.Protocol -e _ws.col.Info"
                                   " -e frame.interface_name -e frame.time_epoch 2>/dev/null"));
    std::vector<std::string> decoded;
    for (std::string row; std::getline(read, row);) {
        const std::size_t time = row.rfind('|');
        EXPECT_NEAR(std::atof(row.c_str() + time + 1), static_cast<double>(std::time(nullptr)), 60) << row;
        decoded.push_back(row.substr(0, time));
    }
    EXPECT_EQ(decoded, (std::vector<std::string>{
                           "0|PPP LCP|Configuration Request|modem",  // 0: sent by the emulated PC
                           "1|PPP IPCP|Configuration Request|modem",
                           "0|PPP PAP|Authenticate-Request (Peer-ID='guest', Password='*******')|modem",
                           "0|TCP|1025 \xE2\x86\x92 80 [SYN] Seq=0 Win=8192 Len=0|modem",
                       }));
}

// A write that would pass the limit first renames the file to NAME.1.
TEST_F(Monitor, FilesRotateToNameDotOneAtTheirLimit)
{
    const std::string file = path("line.log");
    const auto prologue = [](bool empty, bool rotated) {
        return std::string(empty ? "[new]" : "[again]") + (rotated ? "[rotated]" : "");
    };
    {
        RotatingFile log(platform.files, file, 30, prologue);
        EXPECT_TRUE(log.write("0123456789"));  // 5 + 10
        EXPECT_TRUE(log.write("abcdefghij"));  // 25
        EXPECT_TRUE(log.write("ABCDEFGHIJ"));  // would be 35: rotated first
        EXPECT_EQ(readFile(file + ".1"), "[new]0123456789abcdefghij");
        EXPECT_EQ(readFile(file), "[new][rotated]ABCDEFGHIJ");
        EXPECT_TRUE(log.write("klmnopqrst"));  // 34: the second rotation replaces the first's file
        EXPECT_EQ(readFile(file + ".1"), "[new][rotated]ABCDEFGHIJ");
        EXPECT_EQ(readFile(file), "[new][rotated]klmnopqrst");
    }
    // A later session appends, after rotating a file that is already full.
    RotatingFile again(platform.files, file, 40, prologue);
    EXPECT_TRUE(again.write("x"));
    EXPECT_EQ(readFile(file), "[new][rotated]klmnopqrst[again]x");
    RotatingFile full(platform.files, file, 20, prologue);
    EXPECT_TRUE(full.write("y"));
    EXPECT_EQ(readFile(file + ".1"), "[new][rotated]klmnopqrst[again]x");
    EXPECT_EQ(readFile(file), "[new]y");
}
