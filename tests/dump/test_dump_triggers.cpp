// The dump triggers driven by the port's event thread, as in the program: a rising CTS
// starts a dump inside the hand-over, and a level still high when the merged events come
// starts the next one at once.
#include "dump_fixture.h"
#include "pump.h"

namespace veldar::test {
namespace {

class TriggerTest : public DumpTest {
protected:
    TriggerTest() {
        port.SetConnected(false);
        port.SetEvents(AllComEvents);
        port.OnCTSChange = [this](TCustomComPort* sender, bool on) {
            engine.ComPort1CTSChange(sender, on);
        };
        port.OnRxChar = [this](TCustomComPort* sender, int count) {
            engine.ComPort1RxChar(sender, count);
        };
        port.SetConnected(true);
    }
    ~TriggerTest() override { port.SetConnected(false); }
};

TEST_F(TriggerTest, ACtsStillHighAfterADumpStartsTheNextAtOnce) {
    auto config = Payloads({"abc"}, true);
    config.lowerCtsAfterDump = false;
    auto& device = Device(config);
    // During the first dump the device drops and raises its line again.
    bool toggled = false;
    host.OnTime = [&](std::int64_t now) {
        device.Step(now);
        if (!toggled && state.CaptureText == "abc\r\n") {
            toggled = true;
            device.Model().RaiseCts(false);
            device.Step(now);
            device.Model().RaiseCts(true);
            device.Step(now);
        }
    };
    device.Model().RaiseCts(true);
    device.Step(host.NowMs);
    ASSERT_TRUE(PumpUntil([&] { return device.Model().Stats().dumpsCompleted == 2; }));
    EXPECT_TRUE(device.Model().Stats().probes.empty()) << "CTS dumps do not probe";
    EXPECT_EQ(ReadFile(root / "dest" / "ABC.txt"), "abc\r\nabc\r\n");
    EXPECT_FALSE(busy);
}

TEST_F(TriggerTest, AFallingCtsStartsNothing) {
    auto& device = Device(Payloads({"abc"}, true));
    device.Model().RaiseCts(true);
    device.Step(host.NowMs);
    ASSERT_TRUE(PumpUntil([&] { return device.Model().Stats().dumpsCompleted == 1; }));
    // The device lowers its line after the dump: delivered, but no dump follows.
    PumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(device.Model().Stats().requestsReceived, 1);
}

TEST_F(TriggerTest, BytesFromTheDeviceStartADumpWithAProbe) {
    auto& device = Device(Payloads({"abc"}, true));
    line->Deliver(VirtualLine::A, "?");
    ASSERT_TRUE(PumpUntil([&] { return device.Model().Stats().dumpsCompleted == 1; }));
    EXPECT_EQ(device.Model().Stats().probes.size(), 3u);
}

} // namespace
} // namespace veldar::test
