// Line settings: the records handed to the platform and when they are re-applied.
#include "port_fixture.h"

namespace veldar::test {
namespace {

using Settings = PortOnLine;

TEST_F(Settings, DcbOfTheProgramsPortFollowsRtsControl) {
    Dcb dcb = port.BuildDcb();
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.Flags, 0x0011u);
    EXPECT_EQ(dcb.XonLim, 256);
    EXPECT_EQ(dcb.XoffLim, 256);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);
    EXPECT_EQ(dcb.ErrorChar, 0);
    EXPECT_EQ(dcb.EofChar, 0);
    EXPECT_EQ(dcb.EvtChar, 0);

    port.FlowControl().SetControlRTS(rtsEnable);
    EXPECT_EQ(port.BuildDcb().Flags, 0x1011u);
}

TEST_F(Settings, DcbCarriesEveryFieldOfTheSettings) {
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.SetDataBits(dbSeven);
    port.SetStopBits(sbTwoStopBits);
    port.Parity().SetBits(prMark);
    port.Parity().SetCheck(true);
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar('?');
    port.SetDiscardNull(true);
    port.SetEventChar('\r');
    port.FlowControl().SetFlowControl(fcHardware);
    port.FlowControl().SetControlDTR(dtrHandshake);
    port.Buffer().SetInputSize(4096);
    Dcb dcb = port.BuildDcb();
    EXPECT_EQ(dcb.BaudRate, 250000u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, 2);
    EXPECT_EQ(dcb.Parity, 3);
    EXPECT_EQ(dcb.ErrorChar, '?');
    EXPECT_EQ(dcb.EvtChar, '\r');
    EXPECT_EQ(dcb.XonLim, 1024);
    EXPECT_EQ(dcb.Flags, Dcb::fBinary | Dcb::fParity | Dcb::fOutxCtsFlow | (2u << 4) |
                             Dcb::fErrorChar | Dcb::fNull | (2u << 12));

    // The replacement character goes out only with parity checking on.
    port.Parity().SetCheck(false);
    EXPECT_EQ(port.BuildDcb().ErrorChar, 0);
    EXPECT_FALSE(port.BuildDcb().Has(Dcb::fErrorChar));
}

TEST_F(Settings, EverySpeedOfTheEnumerationMapsToItsRate) {
    const std::pair<TBaudRate, std::uint32_t> rates[] = {
        {br110, 110},       {br300, 300},       {br600, 600},      {br1200, 1200},
        {br2400, 2400},     {br4800, 4800},     {br9600, 9600},    {br14400, 14400},
        {br19200, 19200},   {br38400, 38400},   {br56000, 56000},  {br57600, 57600},
        {br115200, 115200}, {br128000, 128000}, {br256000, 256000}};
    for (auto [rate, value] : rates) {
        port.SetBaudRate(rate);
        EXPECT_EQ(port.BuildDcb().BaudRate, value) << rate;
    }
}

TEST_F(Settings, TimeoutsPassMinusOneAsTheLargestValue) {
    CommTimeouts t = port.BuildTimeouts();
    EXPECT_EQ(t, (CommTimeouts{4294967295u, 0, 0, 100, 1000}));
}

TEST_F(Settings, DefaultsOfAFreshPort) {
    TComPort fresh(line->Device(VirtualLine::B));
    EXPECT_FALSE(fresh.Connected());
    EXPECT_EQ(fresh.BaudRate(), br9600);
    EXPECT_EQ(fresh.Port(), "COM1");
    EXPECT_EQ(fresh.CustomBaudRate(), 9600);
    EXPECT_EQ(fresh.Events(), AllComEvents);
    EXPECT_EQ(fresh.Events().Bits(), 1023u);
    EXPECT_EQ(fresh.SyncMethod(), smThreadSync);
    EXPECT_EQ(fresh.FlowControl().ControlDTR(), dtrDisable);
    EXPECT_EQ(fresh.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(fresh.Buffer().InputSize(), 1024);
    EXPECT_EQ(fresh.Buffer().OutputSize(), 1024);
    EXPECT_EQ(fresh.Timeouts().WriteTotalMultiplier(), 100);
}

TEST_F(Settings, OnAClosedPortAChangeIsOnlyStoredAndTheNextOpenAppliesIt) {
    port.SetBaudRate(br38400);
    port.FlowControl().SetControlRTS(rtsEnable);
    EXPECT_TRUE(CallsWithoutWaits(*line, VirtualLine::A).empty());
    port.SetConnected(true);
    EXPECT_EQ(line->LastState(VirtualLine::A).BaudRate, 38400u);
    EXPECT_TRUE(line->Rts(VirtualLine::A));
}

TEST_F(Settings, OnAnOpenPortEqualValuesCallNothingAndChangesApplyOnce) {
    port.SetConnected(true);
    line->ClearCalls();

    port.SetBaudRate(br115200);
    port.FlowControl().SetControlRTS(rtsDisable);
    port.Timeouts().SetWriteTotalConstant(1000);
    port.Buffer().SetInputSize(1024);
    port.Parity().SetBits(prNone);
    EXPECT_TRUE(CallsWithoutWaits(*line, VirtualLine::A).empty());

    port.SetBaudRate(br9600);
    EXPECT_EQ(CallsWithoutWaits(*line, VirtualLine::A),
              std::vector<DeviceCall>{DeviceCall::SetState});
    EXPECT_EQ(line->LastState(VirtualLine::A).BaudRate, 9600u);

    line->ClearCalls();
    port.Timeouts().SetWriteTotalConstant(500);
    EXPECT_EQ(CallsWithoutWaits(*line, VirtualLine::A),
              std::vector<DeviceCall>{DeviceCall::SetTimeouts});
    EXPECT_EQ(line->LastTimeouts(VirtualLine::A).WriteTotalTimeoutConstant, 500u);

    line->ClearCalls();
    port.Buffer().SetOutputSize(2048);
    EXPECT_EQ(CallsWithoutWaits(*line, VirtualLine::A),
              std::vector<DeviceCall>{DeviceCall::SetupBuffers});

    // Events take effect at the next open only.
    line->ClearCalls();
    port.SetEvents(TComEvents{evRxChar});
    EXPECT_TRUE(CallsWithoutWaits(*line, VirtualLine::A).empty());
}

TEST_F(Settings, RtsEnableThenDisablePulsesTheLineWithTwoStateCalls) {
    OpenFarEnd(false, false);
    port.SetConnected(true);
    line->ClearCalls();
    port.FlowControl().SetControlRTS(rtsEnable);
    EXPECT_TRUE(line->Rts(VirtualLine::A));
    port.FlowControl().SetControlRTS(rtsDisable);
    EXPECT_FALSE(line->Rts(VirtualLine::A));
    EXPECT_EQ(line->CallCount(VirtualLine::A, DeviceCall::SetState), 2);
    auto history = line->RtsHistory(VirtualLine::A);
    ASSERT_GE(history.size(), 2u);
    EXPECT_EQ((std::vector<bool>(history.end() - 2, history.end())),
              (std::vector<bool>{true, false}));
}

TEST_F(Settings, AnOddBufferSizeIsReducedByOne) {
    port.Buffer().SetInputSize(1025);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    port.Buffer().SetOutputSize(4001);
    EXPECT_EQ(port.Buffer().OutputSize(), 4000);
}

TEST_F(Settings, FlowControlKindSetsAndReadsItsFourFields) {
    auto& fc = port.FlowControl();
    fc.SetFlowControl(fcHardware);
    EXPECT_EQ(fc.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(fc.OutCTSFlow());
    EXPECT_EQ(fc.FlowControl(), fcHardware);
    fc.SetFlowControl(fcSoftware);
    EXPECT_TRUE(fc.XonXoffIn() && fc.XonXoffOut());
    EXPECT_EQ(fc.FlowControl(), fcSoftware);
    fc.SetXonXoffIn(false);
    EXPECT_EQ(fc.FlowControl(), fcCustom);
    fc.SetFlowControl(fcNone);
    EXPECT_EQ(fc.FlowControl(), fcNone);

    // The kind always re-applies, even fcCustom, which changes nothing.
    port.SetConnected(true);
    line->ClearCalls();
    fc.SetFlowControl(fcCustom);
    EXPECT_EQ(line->CallCount(VirtualLine::A, DeviceCall::SetState), 1);
}

TEST_F(Settings, AssigningAWholeSettingsObjectCopiesAndAppliesWithoutComparing) {
    port.SetConnected(true);
    line->ClearCalls();
    TComTimeouts same;
    port.SetTimeouts(same);
    EXPECT_EQ(line->CallCount(VirtualLine::A, DeviceCall::SetTimeouts), 1);

    TComParity parity;
    parity.SetBits(prEven);
    port.SetParity(parity);
    EXPECT_EQ(port.Parity().Bits(), prEven);
    EXPECT_EQ(line->LastState(VirtualLine::A).Parity, 2);
}

TEST_F(Settings, ARefusedSettingWhileOpenKeepsTheValueAndThePortOpen) {
    port.SetConnected(true);
    line->FailCall(VirtualLine::A, DeviceCall::SetState, 87, 1);
    try {
        port.SetBaudRate(br19200);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 7);
        EXPECT_EQ(e.OsError(), 87);
    }
    EXPECT_EQ(port.BaudRate(), br19200);
    EXPECT_TRUE(port.Connected());
}

TEST_F(Settings, SyncMethodCannotChangeWhileOpen) {
    port.SetSyncMethod(smNone);
    EXPECT_EQ(port.SyncMethod(), smNone);
    port.SetConnected(true);
    port.SetSyncMethod(smNone); // equal: nothing
    try {
        port.SetSyncMethod(smThreadSync);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 14);
        EXPECT_EQ(e.OsError(), -1);
    }
    EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST_F(Settings, WhileLoadingNothingIsAppliedAndTheStoredFlagOpensAtTheEnd) {
    port.BeginLoading();
    port.SetConnected(true);
    port.SetBaudRate(br57600);
    port.SetSyncMethod(smNone);
    EXPECT_TRUE(CallsWithoutWaits(*line, VirtualLine::A).empty());
    port.EndLoading();
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(line->LastState(VirtualLine::A).BaudRate, 57600u);
}

TEST_F(Settings, AFailedOpenAtTheEndOfLoadingGoesToTheReporter) {
    std::string reported;
    TCustomComPort::SetExceptionReporter([&](const std::exception& e) { reported = e.what(); });
    line->FailCall(VirtualLine::A, DeviceCall::Acquire, 2, 1);
    port.BeginLoading();
    port.SetConnected(true);
    EXPECT_NO_THROW(port.EndLoading());
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(reported, "Unable to open com port (win error code: 2)");
    TCustomComPort::SetExceptionReporter(nullptr);
}

} // namespace
} // namespace veldar::test
