// The speed search and wake-up against the scripted device.
#include "dump_fixture.h"

namespace veldar::test {
namespace {

TEST_F(DumpTest, ADeviceAt38400IsFoundSecondAndWokenThere) {
    auto config = Payloads({});
    config.baud = 38400;
    Device(config);
    engine.WakeDevice();
    const auto& stats = driver->Model().Stats();
    ASSERT_EQ(stats.probes.size(), 2u);
    EXPECT_EQ(stats.probes[0].baud, 9600u);
    EXPECT_FALSE(stats.probes[0].echoed);
    EXPECT_EQ(stats.probes[1].baud, 38400u);
    EXPECT_TRUE(stats.probes[1].echoed);
    EXPECT_FALSE(stats.probes[1].rts) << "probes go with RTS off";
    ASSERT_EQ(stats.wakeUpBytes.size(), 3u);
    const char expected[] = {0x07, 0x36, 0x51};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(stats.wakeUpBytes[i].byte, expected[i]);
        EXPECT_EQ(stats.wakeUpBytes[i].baud, 38400u);
        EXPECT_FALSE(stats.wakeUpBytes[i].rts);
        EXPECT_TRUE(stats.wakeUpBytes[i].understood);
    }
    EXPECT_TRUE(driver->Model().Awake());
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsEnable);
    EXPECT_TRUE(line->Rts(VirtualLine::A));
    EXPECT_EQ(line->LastState(VirtualLine::A).BaudRate, 115200u);
}

TEST_F(DumpTest, ADeviceAlreadyAt115200IsFoundThirdAndStillWoken) {
    Device(Payloads({}));
    engine.WakeDevice();
    const auto& stats = driver->Model().Stats();
    ASSERT_EQ(stats.probes.size(), 3u);
    EXPECT_EQ(stats.probes[2].baud, 115200u);
    EXPECT_EQ(stats.wakeUpBytes.size(), 3u);
    EXPECT_EQ(stats.wakeUpBytes[0].baud, 115200u);
}

TEST_F(DumpTest, WithNoDeviceFiveProbesGoOutAndNoWakeUpByte) {
    line->ClearCalls();
    engine.WakeDevice();
    EXPECT_EQ(line->TakeInput(VirtualLine::B), ByteString(5, '\x0F'));
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsEnable);
    EXPECT_TRUE(line->Rts(VirtualLine::A));
    // Each probe pulses RTS: off to send, on again after the read.
    auto history = line->RtsHistory(VirtualLine::A);
    EXPECT_EQ(std::count(history.begin(), history.end(), true), 5);
    EXPECT_EQ(host.SleptMs, 500);
}

TEST_F(DumpTest, AnEchoLaterThanTheSingleReadCountsAsNoAnswer) {
    auto config = Payloads({});
    config.probeEchoDelayMs = 150;
    Device(config);
    EXPECT_FALSE(engine.ProbeBaudRate(br115200));
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsEnable) << "RTS back on whatever the result";
}

TEST_F(DumpTest, NoiseWithoutTheProbeByteIsNoAnswer) {
    auto config = Payloads({});
    config.baud = 19200;
    config.wrongSpeedNoise = "\xFF\xFE";
    Device(config);
    engine.WakeDevice();
    const auto& stats = driver->Model().Stats();
    ASSERT_EQ(stats.probes.size(), 5u);
    EXPECT_TRUE(stats.probes[4].echoed);
    EXPECT_EQ(stats.wakeUpBytes.size(), 3u);
}

} // namespace
} // namespace veldar::test
