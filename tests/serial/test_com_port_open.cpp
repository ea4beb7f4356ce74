// Opening and closing: steps, events and listener calls in their order, and what each
// failure leaves behind.
#include "port_fixture.h"
#include "pump.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace veldar::test {
namespace {

using OpenClose = PortOnLine;
using Texts = std::vector<std::string>;

TEST_F(OpenClose, OpenReportsConnectionThenEachSignalReadAnew) {
    OpenFarEnd(/*rts=*/true, /*dtr=*/false);
    line->SetRlsd(VirtualLine::A, true);
    StartJournal();
    port.SetConnected(true);
    EXPECT_EQ(journal,
              (Texts{"BeforeOpen", "link Conn on", "AfterOpen", "link CTS on", "CTSChange on",
                     "link DSR off", "DSRChange off", "link RLSD on", "RLSDChange on"}));
    EXPECT_EQ(line->CallCount(VirtualLine::A, DeviceCall::GetModemStatus), 3);
    // Opening discards nothing.
    EXPECT_EQ(line->CallCount(VirtualLine::A, DeviceCall::Purge), 0);
    EXPECT_EQ(line->AcquiredName(VirtualLine::A), "COM1");
}

TEST_F(OpenClose, OpenAppliesBuffersThenLineThenTimeouts) {
    port.SetConnected(true);
    EXPECT_EQ(CallsWithoutWaits(*line, VirtualLine::A),
              (std::vector<DeviceCall>{DeviceCall::Acquire, DeviceCall::SetupBuffers,
                                       DeviceCall::SetState, DeviceCall::SetTimeouts,
                                       DeviceCall::SetEventMask, DeviceCall::GetModemStatus,
                                       DeviceCall::GetModemStatus, DeviceCall::GetModemStatus}));
    EXPECT_EQ(line->EventMask(VirtualLine::A), 1535u);
    EXPECT_TRUE(line->Dtr(VirtualLine::A));
    EXPECT_FALSE(line->Rts(VirtualLine::A));
}

TEST_F(OpenClose, EachSignalIsQueriedAfterThePreviousHandlerRan) {
    OpenFarEnd(true, false);
    StartJournal();
    // A CTS handler that changes the line: the DSR report must see the new level.
    port.OnCTSChange = [this](TCustomComPort*, bool) {
        Dcb dcb;
        dcb.Flags = 1u << Dcb::DtrControlShift;
        far->SetState(dcb);
    };
    port.SetConnected(true);
    EXPECT_NE(std::find(journal.begin(), journal.end(), "DSRChange on"), journal.end());
}

TEST_F(OpenClose, CloseReportsSignalsOffWithoutReadingThenReleasesBeforeConnOff) {
    OpenFarEnd(true, true);
    port.SetConnected(true);
    StartJournal();
    line->ClearCalls();
    bool acquiredAtConnOff = true;
    link.OnConnSignal = [&](TCustomComPort* p, bool on) {
        journal.push_back(on ? "link Conn on" : "link Conn off");
        acquiredAtConnOff = line->IsAcquired(VirtualLine::A);
        EXPECT_FALSE(p->Connected());
    };
    port.OnBeforeClose = [this](TCustomComPort* p) {
        journal.push_back("BeforeClose");
        EXPECT_TRUE(p->Connected());
    };
    port.SetConnected(false);
    EXPECT_EQ(journal, (Texts{"link CTS off", "link DSR off", "link RLSD off", "CTSChange off",
                              "DSRChange off", "RLSDChange off", "BeforeClose", "link Conn off",
                              "AfterClose"}));
    EXPECT_FALSE(acquiredAtConnOff);
    // Abort, then the event thread's end (mask cleared, buffers discarded), then release.
    EXPECT_EQ(CallsWithoutWaits(*line, VirtualLine::A),
              (std::vector<DeviceCall>{DeviceCall::Purge, DeviceCall::SetEventMask,
                                       DeviceCall::Purge, DeviceCall::Release}));
    EXPECT_EQ(line->EventMask(VirtualLine::A), 0u);
    EXPECT_FALSE(port.Connected());
}

TEST_F(OpenClose, ConnectedToItsCurrentValueDoesNothing) {
    StartJournal();
    port.SetConnected(false);
    EXPECT_TRUE(journal.empty());
    port.SetConnected(true);
    journal.clear();
    line->ClearCalls();
    port.SetConnected(true);
    EXPECT_TRUE(journal.empty());
    EXPECT_TRUE(CallsWithoutWaits(*line, VirtualLine::A).empty());
}

TEST_F(OpenClose, RefusedOpenRaisesCodeOneAndLeavesThePortClosed) {
    StartJournal();
    line->FailCall(VirtualLine::A, DeviceCall::Acquire, 2);
    try {
        port.SetConnected(true);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_EQ(e.OsError(), 2);
        EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(journal, Texts{"BeforeOpen"});
}

TEST_F(OpenClose, ASecondOpenerOfTheSameEndIsRefused) {
    port.SetConnected(true);
    TComPort second(line->Device(VirtualLine::A));
    try {
        second.SetConnected(true);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_EQ(e.OsError(), vline::ErrAccessDenied);
    }
}

struct SettingsFailure {
    DeviceCall call;
    int code;
};

class OpenSettingsFailure : public PortOnLine,
                            public ::testing::WithParamInterface<SettingsFailure> {};

TEST_P(OpenSettingsFailure, ReleasesTheDeviceAndRaisesTheSettingsCode) {
    StartJournal();
    line->FailCall(VirtualLine::A, GetParam().call, 31, 1);
    try {
        port.SetConnected(true);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), GetParam().code);
        EXPECT_EQ(e.OsError(), 31);
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(line->IsAcquired(VirtualLine::A));
    EXPECT_EQ(journal, Texts{"BeforeOpen"});
    // The next attempt starts afresh.
    port.SetConnected(true);
    EXPECT_TRUE(port.Connected());
}

INSTANTIATE_TEST_SUITE_P(Codes, OpenSettingsFailure,
                         ::testing::Values(SettingsFailure{DeviceCall::SetupBuffers, 9},
                                           SettingsFailure{DeviceCall::SetState, 7},
                                           SettingsFailure{DeviceCall::SetTimeouts, 8}));

// The device failed after it was acquired: nothing may be left behind when the failure
// reaches the caller.
void ExpectFullyClosed(TComPort& p, VirtualLine& line) {
    EXPECT_FALSE(p.Connected());
    EXPECT_EQ(p.EventThread(), nullptr);
    EXPECT_FALSE(line.IsAcquired(VirtualLine::A));
    EXPECT_EQ(line.EventMask(VirtualLine::A), 0u) << "a thread was left over the released device";
}

// The thread runs, then its start fails (as when resuming it is refused).
class PortWhoseThreadStartFails : public TComPort {
public:
    using TComPort::TComPort;

protected:
    void CreateEventThread() override {
        TComPort::CreateEventThread();
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
};

TEST_F(OpenClose, AFailureAfterTheDeviceWasAcquiredClosesItAllBeforeItIsRaised) {
    StartJournal();
    const std::pair<DeviceCall, int> failures[] = {{DeviceCall::SetEventMask, 21},
                                                   {DeviceCall::GetModemStatus, 11}};
    for (auto [call, code] : failures) {
        line->FailCall(VirtualLine::A, call, 31, 1);
        try {
            port.SetConnected(true);
            ADD_FAILURE() << DeviceCallName(call) << ": no exception";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.ErrorCode(), code);
            EXPECT_EQ(e.OsError(), 31);
        }
        ExpectFullyClosed(port, *line);
    }
    // The listeners that heard of the opening hear of its end.
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "link Conn on"), 1);
    EXPECT_EQ(journal.back(), "AfterClose");

    PortWhoseThreadStartFails failing(line->Device(VirtualLine::A));
    EXPECT_THROW(failing.SetConnected(true), std::system_error);
    ExpectFullyClosed(failing, *line);
}

TEST_F(OpenClose, ADriverWithoutModemLinesOpensWithItsLinesOffAndStillReceives) {
    OpenFarEnd(/*rts=*/true, /*dtr=*/true);
    line->SetNoModemLines(VirtualLine::A, true);
    StartJournal();
    int received = 0;
    port.OnRxChar = [&](TCustomComPort*, int count) { received += count; };
    port.SetConnected(true);
    EXPECT_EQ(journal,
              (Texts{"BeforeOpen", "link Conn on", "AfterOpen", "link CTS off", "CTSChange off",
                     "link DSR off", "DSRChange off", "link RLSD off", "RLSDChange off"}));
    EXPECT_TRUE(port.QueryModemSignals().Empty());
    EXPECT_EQ(line->EventMask(VirtualLine::A),
              1535u & ~(win::EV_CTS | win::EV_DSR | win::EV_RLSD | win::EV_RING));
    line->Deliver(VirtualLine::A, "abc");
    EXPECT_TRUE(PumpUntil([&] { return received == 3; }));
}

TEST_F(OpenClose, AnUnpluggedAdapterClosesThoughItRefusesThePurgeAndReopensOncePluggedBack) {
    port.SetConnected(true);
    StartJournal();
    line->SetUnplugged(VirtualLine::A, true);
    port.SetConnected(false);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.EventThread(), nullptr);
    EXPECT_FALSE(line->IsAcquired(VirtualLine::A));
    EXPECT_EQ(journal.back(), "AfterClose");
    try {
        port.SetConnected(true);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
    }
    line->SetUnplugged(VirtualLine::A, false);
    port.SetConnected(true);
    EXPECT_TRUE(port.Connected());
}

// A listener that processes messages can run a second close (a second double-click on the
// connection LED) inside the first close, or inside the open's report of the lines.
TEST_F(OpenClose, ACloseNestedInAListenerLeavesNothingForTheOuterOneToFailOn) {
    StartJournal();
    bool nested = false;
    auto closeOnce = [&](TCustomComPort* p) {
        if (std::exchange(nested, true)) return;
        p->SetConnected(false);
    };
    link.OnCTSSignal = [&](TCustomComPort* p, bool on) {
        if (!on) closeOnce(p);
    };
    port.SetConnected(true);
    EXPECT_NO_THROW(port.SetConnected(false));
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "AfterClose"), 1);
    ExpectFullyClosed(port, *line);

    nested = false;
    link.OnCTSSignal = nullptr;
    link.OnConnSignal = [&](TCustomComPort* p, bool on) {
        if (on) closeOnce(p);
    };
    EXPECT_NO_THROW(port.SetConnected(true));
    ExpectFullyClosed(port, *line);
}

TEST_F(OpenClose, HandlerExceptionInTheAfterOpenStepLeavesThePortOpen) {
    port.OnAfterOpen = [](TCustomComPort*) { throw std::runtime_error("handler"); };
    EXPECT_THROW(port.SetConnected(true), std::runtime_error);
    EXPECT_TRUE(port.Connected());
}

TEST_F(OpenClose, PortComparisonIsExactAndAChangeReopensWithAllEvents) {
    port.SetConnected(true);
    StartJournal();
    port.SetPort("COM1");
    EXPECT_TRUE(journal.empty());
    port.SetPort("com1");
    EXPECT_EQ(port.Port(), "com1");
    EXPECT_EQ(journal.front(), "link CTS off");
    EXPECT_NE(std::find(journal.begin(), journal.end(), "AfterClose"), journal.end());
    EXPECT_EQ(journal[journal.size() - 7], "AfterOpen");
    EXPECT_EQ(line->AcquiredName(VirtualLine::A), "com1");
    EXPECT_TRUE(port.Connected());

    // Closed: only stored.
    port.SetConnected(false);
    journal.clear();
    port.SetPort("COM12");
    EXPECT_TRUE(journal.empty());
    port.SetConnected(true);
    EXPECT_EQ(line->AcquiredName(VirtualLine::A), "COM12");
}

TEST_F(OpenClose, ListenersAreCalledInAttachOrderAndRegistrationIsChecked) {
    std::vector<int> order;
    TComLink first, second;
    first.OnConnSignal = [&](TCustomComPort*, bool) { order.push_back(1); };
    second.OnConnSignal = [&](TCustomComPort*, bool) { order.push_back(2); };
    port.AttachLink(&first);
    port.AttachLink(&second);
    try {
        port.AttachLink(&first);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 18);
        EXPECT_EQ(e.OsError(), -1);
    }
    port.SetConnected(true);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    port.DetachLink(&first);
    EXPECT_THROW(port.DetachLink(&first), EComPort);
    port.SetConnected(false);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 2}));
    port.DetachLink(&second);
}

TEST_F(OpenClose, AListenerDetachedDuringACallIsNotCalledAgain) {
    TComLink first, second;
    int secondCalls = 0;
    first.OnConnSignal = [&](TCustomComPort* p, bool) { p->DetachLink(&second); };
    second.OnConnSignal = [&](TCustomComPort*, bool) { ++secondCalls; };
    port.AttachLink(&first);
    port.AttachLink(&second);
    port.SetConnected(true);
    EXPECT_EQ(secondCalls, 0);
    port.DetachLink(&first);
}

TEST_F(OpenClose, AnEmptyEventSetCreatesNoThread) {
    port.SetEvents(TComEvents{});
    port.SetConnected(true);
    EXPECT_FALSE(port.ThreadCreated());
}

TEST(ComPortLifetime, DestructionClosesThePortThenTellsObservers) {
    auto line = VirtualLine::Create();
    std::vector<std::string> seen;
    TComLink link;
    int removed = 0;
    {
        TComPort port(line->Device(VirtualLine::A));
        link.OnConnSignal = [&](TCustomComPort*, bool on) { seen.push_back(on ? "on" : "off"); };
        port.AttachLink(&link);
        port.AddDestroyObserver([&] { seen.push_back("destroyed"); });
        int id = port.AddDestroyObserver([&] { ++removed; });
        port.RemoveDestroyObserver(id);
        port.SetConnected(true);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"on", "off", "destroyed"}));
    EXPECT_EQ(removed, 0);
    EXPECT_FALSE(line->IsAcquired(VirtualLine::A));
}

} // namespace
} // namespace veldar::test
