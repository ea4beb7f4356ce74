// Reads and writes: byte strings, listener calls and failures.
#include "port_fixture.h"

namespace veldar::test {
namespace {

using Io = PortOnLine;
using Texts = std::vector<std::string>;

TEST_F(Io, EmptyTextAndZeroCountMakeNoPlatformAndNoListenerCall) {
    port.SetConnected(true);
    StartJournal();
    line->ClearCalls();
    EXPECT_EQ(port.SendText(""), 0);
    ByteString text = "old";
    EXPECT_EQ(port.ReceiveText(text, 0), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(port.ReceiveText(text, -5), 0);
    EXPECT_TRUE(CallsWithoutWaits(*line, VirtualLine::A).empty());
    EXPECT_TRUE(journal.empty());
}

TEST_F(Io, SendTextWritesTheBytesAndSwitchesTxOn) {
    port.SetConnected(true);
    StartJournal();
    EXPECT_EQ(port.SendText("ACK\r"), 4);
    EXPECT_EQ(line->TakeInput(VirtualLine::B), (ByteString{65, 67, 75, 13}));
    EXPECT_EQ(journal, (Texts{"link Tx on", "link TxBytes ACK\r"}));
}

TEST_F(Io, ReceiveTextTakesAtMostCountAndLeavesTheRest) {
    port.SetConnected(true);
    ByteString sent;
    for (int i = 0; i < 300; ++i)
        sent.push_back(static_cast<char>(i % 256));
    line->Deliver(VirtualLine::A, sent);
    StartJournal();
    ByteString text;
    EXPECT_EQ(port.ReceiveText(text, 250), 250);
    EXPECT_EQ(text, sent.substr(0, 250));
    EXPECT_EQ(line->InputCount(VirtualLine::A), 50u);
    EXPECT_TRUE(journal.empty()) << "Rx must stay as it was while bytes wait";

    EXPECT_EQ(port.ReceiveText(text, 250), 50);
    EXPECT_EQ(text, sent.substr(250));
    EXPECT_EQ(journal, Texts{"link Rx off"});
}

TEST_F(Io, NothingWaitingReturnsZeroAndSwitchesRxOff) {
    port.SetConnected(true);
    StartJournal();
    ByteString text = "stale";
    EXPECT_EQ(port.ReceiveText(text, 250), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(journal, Texts{"link Rx off"});
}

TEST_F(Io, ZeroBytesAreData) {
    port.SetConnected(true);
    ByteString withZeros("A\0B\0", 4);
    EXPECT_EQ(port.SendText(withZeros), 4);
    EXPECT_EQ(line->TakeInput(VirtualLine::B), withZeros);
    line->Deliver(VirtualLine::A, ByteString("\0\0x", 3));
    ByteString text;
    EXPECT_EQ(port.ReceiveText(text, 250), 3);
    EXPECT_EQ(text, ByteString("\0\0x", 3));
}

TEST_F(Io, OnAClosedPortWritesAndReadsFail) {
    ByteString text;
    try {
        port.SendText("LOAD\r");
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_EQ(e.OsError(), vline::ErrInvalidHandle);
    }
    try {
        port.ReceiveText(text, 250);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 3);
    }
    // Also after a close.
    port.SetConnected(true);
    port.SetConnected(false);
    EXPECT_THROW(port.SendText("x"), EComPort);
}

TEST_F(Io, RefusedWriteRaisesBeforeAnyListenerCall) {
    port.SetConnected(true);
    StartJournal();
    line->FailCall(VirtualLine::A, DeviceCall::StartWrite, 1167, 1);
    try {
        port.SendText("READ\r");
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_EQ(e.OsError(), 1167);
    }
    EXPECT_TRUE(journal.empty());
}

TEST_F(Io, AFailedInputCountAfterAReadRaisesCodeTen) {
    port.SetConnected(true);
    line->Deliver(VirtualLine::A, "x");
    line->FailCall(VirtualLine::A, DeviceCall::ClearError, 22, 1);
    ByteString text;
    try {
        port.ReceiveText(text, 250);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 10);
    }
}

TEST_F(Io, AnUnpluggedAdapterFailsWritesAndReadsButKeepsThePortOpen) {
    port.SetConnected(true);
    line->SetUnplugged(VirtualLine::A, true);
    EXPECT_THROW(port.SendText("x"), EComPort);
    ByteString text;
    EXPECT_THROW(port.ReceiveText(text, 250), EComPort);
    EXPECT_TRUE(port.Connected());
}

TEST_F(Io, AStalledWriteReturnsTheSmallerCount) {
    port.SetConnected(true);
    line->SetWriteStalled(VirtualLine::A, true);
    EXPECT_EQ(port.SendText("LOAD\r"), 0);
}

TEST_F(Io, ACallNestedInAListenerDoesNotDisturbTheOuterOne) {
    port.SetConnected(true);
    line->Deliver(VirtualLine::A, "echo");
    TComLink nesting;
    bool nested = false;
    ByteString inner;
    nesting.OnTxSignal = [&](TCustomComPort* p, bool on) {
        if (on && !nested) {
            nested = true;
            p->ReceiveText(inner, 250);
            p->SendText("inner");
        }
    };
    port.AttachLink(&nesting);
    EXPECT_EQ(port.SendText("outer"), 5);
    EXPECT_EQ(inner, "echo");
    EXPECT_EQ(line->TakeInput(VirtualLine::B), "outerinner");
    port.DetachLink(&nesting);
}

TEST_F(Io, LineQueriesMapThePlatformFlags) {
    port.SetConnected(true);
    line->InjectErrors(VirtualLine::A,
                       win::CE_FRAME | win::CE_RXPARITY | win::CE_OVERRUN | win::CE_BREAK);
    TComErrors errors = port.QueryLineErrors();
    EXPECT_TRUE(errors.Contains(ceFrame));
    EXPECT_FALSE(errors.Contains(ceRxParity)) << "parity errors count only when checked";
    EXPECT_TRUE(errors.Contains(ceOverrun));
    EXPECT_TRUE(errors.Contains(ceBreak));
    EXPECT_TRUE(port.QueryLineErrors().Empty()) << "the query clears the error state";

    port.Parity().SetCheck(true);
    line->InjectErrors(VirtualLine::A, win::CE_RXPARITY | win::CE_IOE | win::CE_MODE |
                                           win::CE_RXOVER | win::CE_TXFULL);
    EXPECT_EQ(port.QueryLineErrors(), (TComErrors{ceRxParity, ceIO, ceMode, ceRxOver, ceTxFull}));

    OpenFarEnd(true, true);
    line->SetRing(VirtualLine::A, true);
    EXPECT_EQ(port.QueryModemSignals(), (TLineSignals{lsCTS, lsDSR, lsRing}));
    // Any failure but a driver's "not supported" (which reads as lines off).
    line->FailCall(VirtualLine::A, DeviceCall::GetModemStatus, 31, 1);
    try {
        port.QueryModemSignals();
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 11);
        EXPECT_EQ(e.OsError(), 31);
    }
}

} // namespace
} // namespace veldar::test
