// What a dial string or a phonebook entry names.
#include <gtest/gtest.h>

#include "platform/modem/CallAddress.h"

TEST(CallAddress, ReadsEveryForm)
{
    struct Case {
        const char* text;
        CallProtocol protocol;
        const char* host;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"bbs.example.org", CallProtocol::Detect, "bbs.example.org", 23},
        {"bbs.example.org:2323", CallProtocol::Detect, "bbs.example.org", 2323},
        {"127.0.0.1:65535", CallProtocol::Detect, "127.0.0.1", 65535},
        {"[::1]:6400", CallProtocol::Detect, "::1", 6400},
        {"[fe80::1%eth0]", CallProtocol::Detect, "fe80::1%eth0", 23},
        {"2001:db8::7", CallProtocol::Detect, "2001:db8::7", 23},
        {"telnet:bbs:23", CallProtocol::Telnet, "bbs", 23},
        {"TELNET:[::1]:2323", CallProtocol::Telnet, "::1", 2323},
        {"tcp:localhost:5000", CallProtocol::Raw, "localhost", 5000},
        {"Tcp:host_1", CallProtocol::Raw, "host_1", 23},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CallAddress address;
        ASSERT_TRUE(parseCallAddress(c.text, address));
        EXPECT_EQ(address.protocol, c.protocol);
        EXPECT_EQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
    }
}

TEST(CallAddress, RefusesMalformedAddressesAndLeavesTheOldOne)
{
    const std::string longName(254, 'a');
    for (const char* text : {"", ":23", "host:", "host:0", "host:65536", "host:23x", "host:123456", "[::1", "[]:23",
                             "[::1]23", "[::1]:", "[host]:23", "ho st", "host;rm", "telnet:", "tcp::23", "g:h:i",
                             "[::1%]", longName.c_str()}) {
        SCOPED_TRACE(text);
        CallAddress address;
        address.host = "kept";
        EXPECT_FALSE(parseCallAddress(text, address));
        EXPECT_EQ(address.host, "kept");
    }
}

TEST(CallAddress, TelephoneNumbersAndPhonebookKeys)
{
    EXPECT_EQ(phonebookKey("(03) 555-12.34"), "035551234");
    EXPECT_EQ(phonebookKey("+1 555 0100"), "+15550100");
    for (const char* number : {"5551234", "555-1234", "(03)5551234", "+1 555 0100", "555.1234"})
        EXPECT_TRUE(isTelephoneNumber(number)) << number;
    for (const char* other : {"192.168.1.10", "10.0.0.1", "bbs.example.org", "localhost", "", "---"})
        EXPECT_FALSE(isTelephoneNumber(other)) << other;
}
