// Writes the monitor's log and capture of a made-up dial-up exchange, for a
// reader other than our own (tshark) to decode: an LCP and an IPCP
// Configure-Request, a PAP request whose password must come out masked, and
// a TCP SYN, each reported by a line with events as the dial-up server will.
//
//     monitor_capture_sample LOG CAPTURE
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/monitor/MonitoredCatalog.h"
#include "tests/monitor/MonitorRig.h"

namespace {
class SteadyClock final : public Clock {
public:
    std::uint64_t nowMicroseconds() override
    {
        using namespace std::chrono;
        return static_cast<std::uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
    }
};

class Settings final : public MonitorSettingsSource {
public:
    MonitorSettings read() override { return settings; }
    MonitorSettings settings;
};

class OneLine final : public LineCatalog {
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

const std::vector<std::uint8_t> kFrames[] = {
    // LCP Configure-Request id 1: MRU 1500, magic number.
    {0xFF, 0x03, 0xC0, 0x21, 0x01, 0x01, 0x00, 0x0E, 0x01, 0x04, 0x05, 0xDC, 0x05, 0x06, 0x12, 0x34, 0x56, 0x78},
    // IPCP Configure-Request id 2: IP address 10.0.0.1.
    {0xFF, 0x03, 0x80, 0x21, 0x01, 0x02, 0x00, 0x0A, 0x03, 0x06, 0x0A, 0x00, 0x00, 0x01},
    // PAP Authenticate-Request id 3: peer "guest", password "passwrd".
    {0xFF, 0x03, 0xC0, 0x23, 0x01, 0x03, 0x00, 0x12, 0x05, 'g', 'u', 'e', 's', 't', 0x07, 'p', 'a', 's', 's', 'w', 'r',
     'd'},
    // IPv4 10.0.0.2 > 93.184.216.34, TCP 1025 > 80 SYN.
    {0xFF, 0x03, 0x00, 0x21, 0x45, 0x00, 0x00, 0x28, 0x00, 0x01, 0x00, 0x00, 0x40, 0x06, 0x00, 0x00, 0x0A, 0x00, 0x00,
     0x02, 0x5D, 0xB8, 0xD8, 0x22, 0x04, 0x01, 0x00, 0x50, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0x02,
     0x20, 0x00, 0x00, 0x00, 0x00, 0x00},
};
const LineDirection kDirections[] = {LineDirection::FromGuest, LineDirection::ToGuest, LineDirection::FromGuest,
                                     LineDirection::FromGuest};
}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: monitor_capture_sample LOG CAPTURE\n");
        return 2;
    }
    NativeMonitorPlatform platform;
    SteadyClock clock;
    RecordingAlert alert;
    Settings settings;
    settings.settings.logPath = argv[1];
    settings.settings.capturePath = argv[2];
    OneLine lines;
    MonitoredCatalog catalog(lines, settings, MonitorServices{&platform, &clock, &alert, "RS-232C capture sample"});
    std::unique_ptr<Line> line = catalog.open("modem");
    lines.last->events->rawBytes(RawBytes::AsFrames);
    for (std::size_t i = 0; i < std::size(kFrames); ++i)
        lines.last->events->pppFrame(kDirections[i], kFrames[i].data(), kFrames[i].size());
    line.reset();
    for (const std::string& text : alert.shown) std::fprintf(stderr, "alert: %s\n", text.c_str());
    return alert.shown.empty() ? 0 : 1;
}
