// The catalog of line kinds: which kind a name belongs to, whether it reaches
// outside, and the kinds the plug-in ships, composed as the plug-in composes them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/com/ComPortLine.h"
#include "platform/lines/LineKindCatalog.h"
#include "platform/modem/ModemLineKind.h"
#include "platform/network/NetworkLineKind.h"
#include "tests/com/FakeCommApi.h"
#include "tests/network/FakeNetwork.h"

namespace {
// A kind that claims the names with its prefix and opens nothing.
class PrefixKind final : public LineKind {
public:
    PrefixKind(const char* prefix, bool outside) : prefix_(prefix), outside_(outside) {}
    bool claims(const char* name) const override { return std::strncmp(name, prefix_, std::strlen(prefix_)) == 0; }
    bool reachesOutside(const char*) const override { return outside_; }
    std::unique_ptr<Line> open(const char* name) override
    {
        opened.push_back(name);
        return nullptr;
    }
    std::vector<std::string> opened;

private:
    const char* prefix_;
    bool outside_;
};
}  // namespace

TEST(LineKindCatalog, NameBelongsToTheFirstKindThatClaimsItElseToTheLast)
{
    PrefixKind modem("modem", true), pipe("pipe:", false), ports("", false);
    LineKindCatalog catalog({&modem, &pipe}, ports);
    const struct {
        const char* name;
        PrefixKind* kind;
    } cases[] = {{"modem", &modem}, {"modem:5000", &modem}, {"pipe:x", &pipe}, {"COM1", &ports}, {"", &ports},
                 {"pipe", &ports}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (PrefixKind* kind : {&modem, &pipe, &ports}) kind->opened.clear();
        EXPECT_EQ(catalog.open(c.name), nullptr);
        for (PrefixKind* kind : {&modem, &pipe, &ports})
            EXPECT_EQ(kind->opened, kind == c.kind ? std::vector<std::string>{c.name} : std::vector<std::string>{});
        EXPECT_EQ(catalog.reachesOutside(c.name), c.kind == &modem);
    }
}

TEST(LineKindCatalog, ThePlugInsKindsEachTakeTheirNames)
{
    FakeCommApi comm;
    FakeNetwork network;
    FakeClock clock;
    ComPortKind comPorts(comm);
    NetworkLineKind networkLines(network, clock);
    struct NoPhonebook final : Phonebook {
        std::optional<std::string> lookup(const std::string&) override { return std::nullopt; }
    } phonebook;
    Switchboard switchboard(network, phonebook);
    ModemLineKind modems(switchboard, network, clock, "modem");
    LineKindCatalog catalog({&networkLines, &modems}, comPorts);
    const std::uint32_t all = kLineHasFormat | kLineHasControls | kLineHasBreak;
    const int none = -1;  // no line opens
    const struct {
        const char* name;
        int features;        // of the line opened
        const char* comPath;  // what the comm API was asked to open, if anything
        const char* request;  // what the network was asked, if anything
        bool outside;
    } cases[] = {
        {"COM1", all, "//./COM1", nullptr, false},
        {"\\\\.\\COM12", all, "//./COM12", nullptr, false},
        {"TCP:host:23", 0, nullptr, "connect host 23", true},  // raw: no format, no controls
        {"telnet:host:2217", all, nullptr, "connect host 2217", true},
        {"TELNET:[::1]:2217", all, nullptr, "connect ::1 2217", true},
        {"listen:5000", 0, nullptr, "listen 127.0.0.1 5000", true},
        {"listen:0.0.0.0:5000", 0, nullptr, "listen 0.0.0.0 5000", true},
        {"tcp:host:", none, nullptr, nullptr, true},  // malformed: opens nothing, not a COM port either
        {"listen:99999", none, nullptr, nullptr, true},
        {"tcpip:host:23", all, "//./tcpip:host:23", nullptr, false},
        {"modem", kLineHasFormat | kLineHasControls, nullptr, nullptr, true},  // dials only when told to
        {"Modem:2323", kLineHasFormat | kLineHasControls, nullptr, "listen 127.0.0.1 2323", true},
        {"modem:[::]:23", kLineHasFormat | kLineHasControls, nullptr, "listen :: 23", true},
        {"modem:", none, nullptr, nullptr, true},
        {"modem:host:", none, nullptr, nullptr, true},
        {"modems", all, "//./modems", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        comm.clearCalls();
        network.requests.clear();
        const std::unique_ptr<Line> line = catalog.open(c.name);
        EXPECT_EQ(line ? static_cast<int>(line->features()) : none, c.features);
        const std::vector<CommCall> opens = comm.callsOf(CommOp::Open);
        EXPECT_EQ(opens.empty() ? "" : opens[0].path, c.comPath ? c.comPath : "");
        EXPECT_EQ(network.requests, c.request ? std::vector<std::string>{c.request} : std::vector<std::string>{});
        EXPECT_EQ(catalog.reachesOutside(c.name), c.outside);

        if (c.request) {
            network.refuseAll = true;  // the network cannot even start: no line
            EXPECT_EQ(catalog.open(c.name), nullptr);
            network.refuseAll = false;
        }
    }
}
