// The event thread against the virtual line: batches, merging, order of delivery, failures
// and closing from every place. The test plays the user-interface thread: it runs the
// hand-over queue itself, and knows the thread is idle when it waits on a quiet line.
#include "com_thread.h"
#include "port_fixture.h"
#include "pump.h"
#include "sync_queue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace veldar::test {
namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

class EventThread : public PortOnLine {
protected:
    // Closed here, while the members that handlers record into still exist.
    ~EventThread() override {
        line->ClearFailures();
        line->SetUnplugged(VirtualLine::A, false);
        port.SetConnected(false);
    }

    // Runs the hand-overs until the thread waits on the line with nothing left to report.
    bool PumpUntilIdle() {
        auto& queue = SyncQueue::Application();
        return PumpUntil(
            [&] { return line->WaitIdle(VirtualLine::A, 1ms) && !queue.HasPending(); });
    }

    // Waits, without running anything, until the thread has queued a hand-over.
    bool WaitForQueuedHandOver() {
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!SyncQueue::Application().HasPending()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    void Open() {
        port.SetConnected(true);
        ASSERT_TRUE(PumpUntilIdle());
    }

    void SetFarRts(bool on) {
        Dcb dcb;
        dcb.Flags = (on ? 1u : 0u) << Dcb::RtsControlShift;
        ASSERT_EQ(far->SetState(dcb), 0);
    }

    // Handlers capture only members: the port closes, and calls them, after the test body.
    std::vector<int> counts;
    std::vector<std::size_t> waitingAtDelivery;
    std::vector<bool> levels;
};

TEST_F(EventThread, MaskCoversTheTenKinds) {
    EXPECT_EQ(EventMaskOf(AllComEvents), 1535u);
    EXPECT_EQ(EventsOfMask(0x05FF), AllComEvents);
    EXPECT_EQ(EventsOfMask(0x0200), TComEvents{}) << "unnamed bits are ignored";
    EXPECT_EQ(EventMaskOf(TComEvents{evCTS, evRxChar}), win::EV_CTS | win::EV_RXCHAR);
}

TEST_F(EventThread, ABurstGivesFewerCallsEachCountingEveryByteWaiting) {
    port.OnRxChar = [&](TCustomComPort*, int count) {
        counts.push_back(count);
        waitingAtDelivery.push_back(line->InputCount(VirtualLine::A));
    };
    Open();
    for (int i = 0; i < 20; ++i)
        line->Deliver(VirtualLine::A, "x");
    ASSERT_TRUE(PumpUntilIdle());
    ASSERT_FALSE(counts.empty());
    EXPECT_LT(counts.size(), 20u);
    EXPECT_EQ(counts.front(), 20) << "the batch is delivered with every byte waiting then";
    for (std::size_t i = 0; i < counts.size(); ++i)
        EXPECT_EQ(static_cast<std::size_t>(counts[i]), waitingAtDelivery[i]);
}

TEST_F(EventThread, BytesArrivingDuringAHandlerGiveAtMostOneMoreCall) {
    port.OnRxChar = [&](TCustomComPort*, int count) {
        counts.push_back(count);
        if (counts.size() == 1) line->Deliver(VirtualLine::A, "late");
    };
    Open();
    line->Deliver(VirtualLine::A, "abc");
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(counts, (std::vector<int>{3, 7}));

    // Unread bytes alone raise nothing more; a new byte does.
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(counts.size(), 2u);
    line->Deliver(VirtualLine::A, "n");
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(counts, (std::vector<int>{3, 7, 8}));
}

TEST_F(EventThread, AHandlerThatReadsEverythingGetsNoFurtherCall) {
    port.OnRxChar = [&](TCustomComPort* p, int count) {
        counts.push_back(count);
        line->Deliver(VirtualLine::A, "during");
        ByteString text;
        p->ReceiveText(text, 250);
    };
    Open();
    line->Deliver(VirtualLine::A, "abc");
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(counts, std::vector<int>{3});
}

TEST_F(EventThread, ACtsRiseWithBytesComesAfterTheRxHandlerReturned) {
    OpenFarEnd(false, false);
    port.OnRxChar = [&](TCustomComPort*, int count) {
        journal.push_back("RxChar " + std::to_string(count) + " begins");
        journal.push_back("RxChar ends");
    };
    port.OnCTSChange = [&](TCustomComPort*, bool on) {
        journal.push_back(on ? "CTS on" : "CTS off");
    };
    Open();
    journal.clear();
    line->SetEventsHeld(VirtualLine::A, true);
    SetFarRts(true);
    line->Deliver(VirtualLine::A, "data");
    line->SetEventsHeld(VirtualLine::A, false);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(journal, (Texts{"RxChar 4 begins", "RxChar ends", "CTS on"}));
}

TEST_F(EventThread, TheCtsLevelIsTheOneAtDelivery) {
    OpenFarEnd(false, false);
    port.OnCTSChange = [&](TCustomComPort*, bool on) { levels.push_back(on); };
    Open();
    levels.clear();
    // A pulse over before delivery.
    line->SetEventsHeld(VirtualLine::A, true);
    SetFarRts(true);
    SetFarRts(false);
    line->SetEventsHeld(VirtualLine::A, false);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(levels, std::vector<bool>{false});
}

TEST_F(EventThread, DeliveryFollowsTheFixedOrderOfKinds) {
    OpenFarEnd(false, false);
    StartJournal();
    port.OnRxChar = [&](TCustomComPort*, int) { journal.push_back("RxChar"); };
    port.OnError = [&](TCustomComPort*, TComErrors) { journal.push_back("Error"); };
    port.OnTxEmpty = [&](TCustomComPort*) { journal.push_back("TxEmpty"); };
    port.OnRing = [&](TCustomComPort*) { journal.push_back("Ring"); };
    port.OnBreak = [&](TCustomComPort*) { journal.push_back("Break"); };
    Open();
    journal.clear();
    line->SetEventsHeld(VirtualLine::A, true);
    line->SetRlsd(VirtualLine::A, true);
    line->SetRing(VirtualLine::A, true);
    SetFarRts(true);
    port.SendText("x"); // transmit empty
    line->InjectErrors(VirtualLine::A, win::CE_FRAME | win::CE_BREAK);
    line->Deliver(VirtualLine::A, "y");
    journal.clear();
    line->SetEventsHeld(VirtualLine::A, false);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(journal,
              (Texts{"Error", "link Rx on", "RxChar", "link Tx off", "TxEmpty", "Break", "Ring",
                     "link CTS on", "CTSChange on", "link RLSD on", "RLSDChange on"}));
}

TEST_F(EventThread, RxCharCanRunInsideTheAfterOpenStepThroughAListener) {
    StartJournal();
    port.OnRxChar = [&](TCustomComPort*, int) { journal.push_back("RxChar"); };
    link.OnConnSignal = [&](TCustomComPort*, bool on) {
        journal.push_back(on ? "link Conn on" : "link Conn off");
        if (!on) return;
        // A listener that processes messages, as the LEDs do.
        line->Deliver(VirtualLine::A, "early");
        PumpUntil(
            [&] { return std::find(journal.begin(), journal.end(), "RxChar") != journal.end(); });
    };
    port.SetConnected(true);
    auto at = [&](const char* text) {
        return std::find(journal.begin(), journal.end(), text) - journal.begin();
    };
    EXPECT_LT(at("RxChar"), at("AfterOpen"));
    EXPECT_LT(at("link Conn on"), at("RxChar"));
}

TEST_F(EventThread, CloseRunsAQueuedHandOverThenDiscardsUnreadBytes) {
    bool openDuringHandler = false;
    port.OnRxChar = [&](TCustomComPort* p, int count) {
        counts.push_back(count);
        openDuringHandler = p->Connected() && line->IsAcquired(VirtualLine::A);
    };
    Open();
    line->Deliver(VirtualLine::A, "unread");
    ASSERT_TRUE(WaitForQueuedHandOver());
    port.SetConnected(false);
    EXPECT_EQ(counts, std::vector<int>{6});
    EXPECT_TRUE(openDuringHandler);
    EXPECT_EQ(line->InputCount(VirtualLine::A), 0u);
    EXPECT_FALSE(SyncQueue::Application().HasPending());
}

TEST_F(EventThread, AnEmptyEventSetHasNoThreadAndNoEvents) {
    port.SetEvents(TComEvents{});
    port.OnRxChar = [&](TCustomComPort*, int count) { counts.push_back(count); };
    port.SetConnected(true);
    EXPECT_EQ(port.EventThread(), nullptr);
    line->Deliver(VirtualLine::A, "x");
    SyncQueue::Application().RunPending();
    EXPECT_TRUE(counts.empty());
    EXPECT_EQ(line->CallCount(VirtualLine::A, DeviceCall::SetEventMask), 0);
}

TEST_F(EventThread, AThrowingHandlerEndsDeliveryUntilTheNextOpening) {
    port.OnRxChar = [&](TCustomComPort*, int count) {
        counts.push_back(count);
        if (counts.size() == 1) throw EComPort(CError_WriteFailed, 1167);
    };
    Open();
    line->Deliver(VirtualLine::A, "a");
    ASSERT_TRUE(PumpUntil([&] { return port.EventThread()->Ended(); }));
    line->Deliver(VirtualLine::A, "b");
    SyncQueue::Application().RunPending();
    EXPECT_EQ(counts.size(), 1u);
    EXPECT_TRUE(port.Connected());
    // Ended silently: the mask stays and nothing was discarded.
    EXPECT_EQ(line->EventMask(VirtualLine::A), 1535u);
    EXPECT_EQ(line->InputCount(VirtualLine::A), 2u);

    port.SetConnected(false);
    Open();
    line->Deliver(VirtualLine::A, "c");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
}

TEST_F(EventThread, ClosingInsideItsOwnHandOverReturnsClosed) {
    port.OnRxChar = [&](TCustomComPort* p, int count) {
        counts.push_back(count);
        if (counts.size() == 1) p->SetConnected(false);
    };
    Open();
    line->Deliver(VirtualLine::A, "a");
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(line->IsAcquired(VirtualLine::A));
    EXPECT_EQ(port.EventThread(), nullptr);

    // The abandoned thread is gone without touching the device; a new opening works.
    Open();
    line->Deliver(VirtualLine::A, "b");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
}

TEST_F(EventThread, APortChangeInsideAHandOverReopensWithAFreshThread) {
    port.OnRxChar = [&](TCustomComPort* p, int count) {
        counts.push_back(count);
        if (counts.size() == 1) p->SetPort("COM2");
    };
    Open();
    line->Deliver(VirtualLine::A, "a");
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(line->AcquiredName(VirtualLine::A), "COM2");
    ASSERT_TRUE(PumpUntilIdle());
    line->Deliver(VirtualLine::A, "b");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts.back(), 1) << "the reopening kept nothing of the old line";
}

// The close waits for the thread and runs the hand-over it had queued; that handler closes
// the port, or changes its name, itself.
TEST_F(EventThread, ACloseRunFromAHandOverDuringACloseIsTheOnlyClose) {
    StartJournal();
    port.OnRxChar = [&](TCustomComPort* p, int count) {
        counts.push_back(count);
        p->SetConnected(false);
    };
    Open();
    line->Deliver(VirtualLine::A, "a");
    ASSERT_TRUE(WaitForQueuedHandOver());
    port.SetConnected(false);
    EXPECT_EQ(counts, std::vector<int>{1});
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "AfterClose"), 1);
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(line->IsAcquired(VirtualLine::A));
}

TEST_F(EventThread, APortChangeRunFromAHandOverDuringACloseKeepsItsFreshThread) {
    port.OnRxChar = [&](TCustomComPort* p, int count) {
        counts.push_back(count);
        if (counts.size() == 1) p->SetPort("COM2");
    };
    Open();
    line->Deliver(VirtualLine::A, "a");
    ASSERT_TRUE(WaitForQueuedHandOver());
    port.SetConnected(false);
    // The latest command wins: the port is open on the new name, and nothing of the old
    // opening touched it afterwards.
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(line->IsAcquired(VirtualLine::A));
    EXPECT_EQ(line->AcquiredName(VirtualLine::A), "COM2");
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(line->EventMask(VirtualLine::A), 1535u);
    line->Deliver(VirtualLine::A, "b");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
}

TEST_F(EventThread, ABrokenWaitEndsTheThreadAsAStopDoes) {
    line->FailCall(VirtualLine::A, DeviceCall::WaitEvent, ComDevice::WaitBroken, 1);
    port.SetConnected(true);
    ASSERT_TRUE(PumpUntil([&] { return port.EventThread()->Ended(); }));
    EXPECT_EQ(line->EventMask(VirtualLine::A), 0u);
    EXPECT_TRUE(port.Connected());
}

// A gone device is told once and the thread ends: no retry loop over a dead line.
TEST_F(EventThread, AnUnpluggedAdapterIsReportedOnceAndTheThreadEnds) {
    std::vector<int> lost;
    port.OnLost = [&](TCustomComPort*, int error) { lost.push_back(error); };
    Open();
    line->SetUnplugged(VirtualLine::A, true);
    ASSERT_TRUE(PumpUntil([&] { return port.EventThread()->Ended(); }));
    auto loops = port.EventThread()->Loops();
    std::this_thread::sleep_for(500ms);
    SyncQueue::Application().RunPending();
    EXPECT_EQ(lost, std::vector<int>{vline::ErrBadCommand});
    EXPECT_EQ(port.EventThread()->Loops(), loops);
    EXPECT_TRUE(port.Connected());
    port.SetConnected(false);
    EXPECT_FALSE(line->IsAcquired(VirtualLine::A));
}

// A failing wait that does not mean a gone device (a time-out, a cancel) is retried after a
// pause, neither spinning nor ending the thread.
TEST_F(EventThread, AFailingWaitOfALiveDeviceIsRetriedCalmly) {
    constexpr int SemTimeout = 121, OperationAborted = 995;
    port.OnRxChar = [&](TCustomComPort*, int count) { counts.push_back(count); };
    bool lost = false;
    port.OnLost = [&](TCustomComPort*, int) { lost = true; };
    Open();
    for (int error : {SemTimeout, OperationAborted}) {
        counts.clear();
        line->FailCall(VirtualLine::A, DeviceCall::WaitEvent, error);
        auto before = port.EventThread()->Loops();
        std::this_thread::sleep_for(1s);
        EXPECT_LT(port.EventThread()->Loops() - before, 10u);
        line->ClearFailures();
        line->Deliver(VirtualLine::A, "back");
        ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
        line->TakeInput(VirtualLine::A);
    }
    EXPECT_FALSE(lost);
}

TEST_F(EventThread, WithoutHandOverEventsRunOnTheEventThread) {
    std::atomic<bool> onOtherThread{false}, seen{false};
    auto main = std::this_thread::get_id();
    port.SetSyncMethod(smNone);
    port.OnRxChar = [&](TCustomComPort*, int) {
        onOtherThread = std::this_thread::get_id() != main;
        seen = true;
    };
    port.SetConnected(true);
    line->Deliver(VirtualLine::A, "x");
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!seen && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(onOtherThread);
    EXPECT_FALSE(SyncQueue::Application().HasPending());
    port.SetConnected(false);
}

TEST_F(EventThread, TheWindowHandOverIsRefusedClearlyAtOpen) {
    port.SetSyncMethod(smWindowSync);
    EXPECT_THROW(port.SetConnected(true), std::logic_error);
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(line->IsAcquired(VirtualLine::A));
}

} // namespace
} // namespace veldar::test
