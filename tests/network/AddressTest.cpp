// The one address grammar: what PORT names, dial strings and phonebook values
// name, in one table.
#include <gtest/gtest.h>

#include <string>

#include "platform/network/Address.h"

namespace {
struct Case {
    const char* text;
    Protocol protocol;
    const char* host;
    std::uint16_t port;
};
}  // namespace

TEST(Address, PlacesToCall)
{
    const Case cases[] = {
        {"bbs.example.org", Protocol::Detect, "bbs.example.org", 23},
        {"bbs.example.org:2323", Protocol::Detect, "bbs.example.org", 2323},
        {"127.0.0.1:65535", Protocol::Detect, "127.0.0.1", 65535},
        {"[::1]:6400", Protocol::Detect, "::1", 6400},
        {"[fe80::1%eth0]", Protocol::Detect, "fe80::1%eth0", 23},
        {"[::ffff:10.0.0.1]:23", Protocol::Detect, "::ffff:10.0.0.1", 23},
        {"2001:db8::7", Protocol::Detect, "2001:db8::7", 23},  // bare, so without a port
        {"1:2:3:4:5:6:7:8", Protocol::Detect, "1:2:3:4:5:6:7:8", 23},
        {"telnet:bbs:23", Protocol::Telnet, "bbs", 23},
        {"TELNET:[::1]:2323", Protocol::Telnet, "::1", 2323},
        {"Telnet:serial-server:7000", Protocol::Telnet, "serial-server", 7000},
        {"tcp:localhost:5000", Protocol::Raw, "localhost", 5000},
        {"Tcp:host_1", Protocol::Raw, "host_1", 23},
        {"tcp:2001:db8::7", Protocol::Raw, "2001:db8::7", 23},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Address address;
        ASSERT_TRUE(parseCallAddress(c.text, address));
        EXPECT_EQ(address.protocol, c.protocol);
        EXPECT_EQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
    }

    const std::string longName(254, 'a');
    for (const char* text : {"", ":23", "host:", "host:0", "host:65536", "host:23x", "host:123456", "host:000023",
                             "host:+23", "host:-1", "[::1", "[]:23", "[::1]23", "[::1]:", "[host]:23", "[::1%]",
                             "ho st", "my host:23", "host;rm", "telnet:", "tcp::23", "tcp:[::1:23", "g:h:i", "a:b:23",
                             "1::2::3", "1:2:3:4:5:6:7:8:9",
                             "5551234",  // a telephone number, not a host
                             longName.c_str()}) {
        SCOPED_TRACE(text);
        Address address;
        address.host = "kept";
        EXPECT_FALSE(parseCallAddress(text, address));
        EXPECT_EQ(address.host, "kept");
    }
}

TEST(Address, PlacesToListen)
{
    const Case cases[] = {
        {"5000", Protocol::Detect, "127.0.0.1", 5000},
        {"0.0.0.0:5000", Protocol::Detect, "0.0.0.0", 5000},
        {"[::]:1", Protocol::Detect, "::", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Address address;
        ASSERT_TRUE(parseListenAddress(c.text, address));
        EXPECT_EQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
    }
    for (const char* text : {"", "99999", "0.0.0.0:", "localhost:5000", "[::1]", "::1:5000", "host:"}) {
        SCOPED_TRACE(text);
        Address address;
        address.port = 7;
        EXPECT_FALSE(parseListenAddress(text, address));
        EXPECT_EQ(address.port, 7);
    }
}

TEST(Address, TelephoneNumbersAndPhonebookKeys)
{
    EXPECT_EQ(phonebookKey("(03) 555-12.34"), "035551234");
    EXPECT_EQ(phonebookKey("+1 555 0100"), "+15550100");
    for (const char* number : {"5551234", "555-1234", "(03)5551234", "+1 555 0100", "555.1234"})
        EXPECT_TRUE(isTelephoneNumber(number)) << number;
    for (const char* other : {"192.168.1.10", "10.0.0.1", "bbs.example.org", "localhost", "", "---"})
        EXPECT_FALSE(isTelephoneNumber(other)) << other;
}
