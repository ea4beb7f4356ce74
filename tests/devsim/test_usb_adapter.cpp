// The adapter's buffering in virtual time (microseconds).
#include "usb_adapter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace veldar::devsim {
namespace {

AdapterConfig Config(std::size_t packet, bool eventChar) {
    AdapterConfig c;
    c.latencyUs = 16000;
    c.packetSize = packet;
    c.eventChar = eventChar;
    return c;
}

TEST(UsbAdapter, HoldsUntilTheLatencyCountedFromTheFirstByteHeld) {
    UsbAdapter adapter(Config(62, false));
    adapter.Add("0abc", 1000);
    adapter.Add("\x56\x01\r", 5000);
    // The CR does not count without the event character; later bytes do not restart the timer.
    EXPECT_EQ(adapter.Take(5000), "");
    EXPECT_EQ(adapter.DeadlineUs(), 17000);
    EXPECT_EQ(adapter.Take(16999), "");
    EXPECT_EQ(adapter.Take(17000), "0abc\x56\x01\r");
    EXPECT_TRUE(adapter.Empty());
    EXPECT_EQ(adapter.DeadlineUs(), std::nullopt);

    // Held bytes whose time ran out before the next ones came go without them.
    adapter.Add("A", 20000);
    adapter.Add("B", 40000);
    EXPECT_EQ(adapter.Take(40000), "A");
    EXPECT_EQ(adapter.DeadlineUs(), 56000);
    EXPECT_EQ(adapter.Take(55999), "");
    EXPECT_EQ(adapter.Take(56000), "B");
}

TEST(UsbAdapter, AFullPacketGoesAtOnceAndTheRestWaits) {
    UsbAdapter adapter(Config(4, false));
    adapter.Add("abc", 0);
    EXPECT_EQ(adapter.Take(100), "");
    adapter.Add("defghij", 200);
    EXPECT_EQ(adapter.Take(200), "abcdefgh");
    // The rest is timed from its own first byte.
    EXPECT_EQ(adapter.DeadlineUs(), 16200);
    EXPECT_EQ(adapter.Take(16199), "");
    EXPECT_EQ(adapter.Take(16200), "ij");
}

TEST(UsbAdapter, TheEventCharacterReleasesUpToItself) {
    UsbAdapter adapter(Config(62, true));
    adapter.Add("ACK\rOV", 0);
    EXPECT_EQ(adapter.Take(0), "ACK\r");
    EXPECT_EQ(adapter.DeadlineUs(), 16000);
    adapter.Add("ER\r", 1000);
    EXPECT_EQ(adapter.Take(1000), "OVER\r");
    EXPECT_TRUE(adapter.Empty());

    // Off, the same bytes wait for the latency.
    UsbAdapter plain(Config(62, false));
    plain.Add("ACK\rOV", 0);
    EXPECT_EQ(plain.Take(15999), "");
    EXPECT_EQ(plain.Take(16000), "ACK\rOV");
}

} // namespace
} // namespace veldar::devsim
