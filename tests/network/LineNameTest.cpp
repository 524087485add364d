// Which port names are network lines, and what they name.
#include <gtest/gtest.h>

#include "platform/network/LineName.h"

namespace {
struct Case {
    const char* name;
    NetworkLineName::Kind kind;
    const char* host;
    std::uint16_t port;
};
}  // namespace

TEST(NetworkLineName, SplitsEachKindOfName)
{
    using Kind = NetworkLineName::Kind;
    const Case cases[] = {
        {"tcp:bbs.example.org:23", Kind::Tcp, "bbs.example.org", 23},
        {"TCP:127.0.0.1:65535", Kind::Tcp, "127.0.0.1", 65535},
        {"telnet:[::1]:2217", Kind::Telnet, "::1", 2217},
        {"Telnet:serial-server:7000", Kind::Telnet, "serial-server", 7000},
        {"listen:5000", Kind::Listen, "127.0.0.1", 5000},
        {"listen:0.0.0.0:5000", Kind::Listen, "0.0.0.0", 5000},
        {"LISTEN:[::]:1", Kind::Listen, "::", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(isNetworkLineName(c.name));
        NetworkLineName parsed;
        ASSERT_TRUE(parseNetworkLineName(c.name, parsed));
        EXPECT_EQ(parsed.kind, c.kind);
        EXPECT_EQ(parsed.host, c.host);
        EXPECT_EQ(parsed.port, c.port);
    }
}

TEST(NetworkLineName, MalformedNetworkNamesAreRefusedButStayNetworkNames)
{
    // Each of these must open nothing: not a COM port by that name either.
    for (const char* name : {"tcp:", "tcp:host", "tcp::23", "tcp:host:", "tcp:host:0", "tcp:host:65536",
                             "tcp:host:23x", "tcp:host:+23", "tcp:host:000023", "tcp:a:b:23", "tcp:[::1:23",
                             "tcp:[]:23", "tcp:[::1]23", "telnet:my host:23", "listen:", "listen:host:",
                             "listen:99999", "tcp:host:-1"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(isNetworkLineName(name));
        NetworkLineName parsed;
        parsed.port = 7;
        EXPECT_FALSE(parseNetworkLineName(name, parsed));
        EXPECT_EQ(parsed.port, 7);  // left as it was
    }
}

TEST(NetworkLineName, EverythingElseIsAComPort)
{
    for (const char* name : {"COM1", "COM10", "", "tcp", "tc:host:23", "udp:host:23", "\\\\.\\COM3", "telnet",
                             " tcp:host:23", "listener:23"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(isNetworkLineName(name));
        NetworkLineName parsed;
        EXPECT_FALSE(parseNetworkLineName(name, parsed));
    }
    EXPECT_FALSE(isNetworkLineName(nullptr));
}
