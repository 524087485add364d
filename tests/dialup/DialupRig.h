// What the dial-up tests share: lwIP's one clock, the check that a call left
// nothing in lwIP, and PPP frames as a guest puts them on the line.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/dialup/LwipStack.h"
#include "tests/network/FakeNetwork.h"

// lwIP's clock never goes back, in a process that runs many sessions one
// after the other: every test keeps its time on this one.
inline FakeClock& sharedClock()
{
    static FakeClock clock;
    return clock;
}

// Nothing of a session is left in lwIP once lwIP's own timers that it
// started have run out (TCP's stops when it finds no connection).
inline void expectCleanStack(FakeClock& clock)
{
    ASSERT_TRUE(dialup::LwipStack::acquire(clock));
    for (int i = 0; i < 10; ++i) {
        clock.now += 500000;
        dialup::LwipStack::service();
    }
    EXPECT_EQ(dialup::LwipStack::poolsInUse(), 0u);
    EXPECT_EQ(dialup::LwipStack::heapInUse(), 0u);
    dialup::LwipStack::release();
}

// PPP's frame check sequence (RFC 1662).
inline std::uint16_t fcs16(const std::vector<std::uint8_t>& data)
{
    std::uint16_t fcs = 0xffff;
    for (std::uint8_t byte : data) {
        fcs ^= byte;
        for (int bit = 0; bit < 8; ++bit) fcs = (fcs & 1) ? static_cast<std::uint16_t>((fcs >> 1) ^ 0x8408) : fcs >> 1;
    }
    return static_cast<std::uint16_t>(~fcs);
}

// A frame as a peer sends it before LCP has agreed a character map: every
// control character escaped.
inline std::vector<std::uint8_t> pppFrame(std::vector<std::uint8_t> body)
{
    const std::uint16_t fcs = fcs16(body);
    body.push_back(static_cast<std::uint8_t>(fcs));
    body.push_back(static_cast<std::uint8_t>(fcs >> 8));
    std::vector<std::uint8_t> out = {0x7e};
    for (std::uint8_t byte : body) {
        if (byte < 0x20 || byte == 0x7e || byte == 0x7d) {
            out.push_back(0x7d);
            out.push_back(byte ^ 0x20);
        } else {
            out.push_back(byte);
        }
    }
    out.push_back(0x7e);
    return out;
}
