// The signal LEDs: what they store and when, how they follow a port on a virtual line, and
// what they paint.
#include "com_led.h"
#include "led_images.h"
#include "pump.h"
#include "virtual_line.h"

#include <QApplication>
#include <QColor>
#include <QMouseEvent>
#include <QPointingDevice>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace veldar::test {
namespace {

using namespace std::chrono_literals;

constexpr QRgb Key = 0xFFFF00FF;
constexpr QRgb Background = 0xFF20A040;

// Runs window events until cond holds; false when 5 s passed first.
bool ProcessEventsUntil(const std::function<bool()>& cond) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// The LED painted alone over a filled picture, nothing of its own background included.
QImage PaintedOver(TComLed& led, QRgb background) {
    QImage target(led.size(), QImage::Format_ARGB32);
    target.fill(background);
    led.render(&target, QPoint(), QRegion(), QWidget::DrawChildren);
    return target;
}

// The colour at the centre of a 25×25 LED, where the centre of its 15×15 picture lands.
QRgb Centre(const QImage& painted) {
    return painted.pixel(12, 12);
}

QRgb ImageCentre(TLedKind kind, bool lit) {
    return LedImage(kind, lit).pixel(7, 7);
}

// Every state an LED stores, in order.
struct Recorder {
    std::vector<TLedState> states;
    void Follow(TComLed& led) {
        led.OnChange = [this](TComLed*, TLedState s) { states.push_back(s); };
    }
};

class LedOnPort : public ::testing::Test {
protected:
    LedOnPort()
        : line(VirtualLine::Create()), far(line->Device(VirtualLine::B)),
          port(std::make_unique<TComPort>(line->Device(VirtualLine::A))) {}

    // The far end opened with its RTS high: the port sees CTS.
    void OpenFarEndWithRts() {
        ASSERT_EQ(far->Acquire("x"), 0);
        SetFarLines(/*rts=*/true, /*dtr=*/false);
    }

    void SetFarLines(bool rts, bool dtr) {
        Dcb dcb;
        dcb.Flags = (rts ? 1u : 0u) << Dcb::RtsControlShift | (dtr ? 1u : 0u)
                                                                  << Dcb::DtrControlShift;
        ASSERT_EQ(far->SetState(dcb), 0);
    }

    // Before the port and the LEDs of a test: an LED stores its last state when it goes.
    Recorder changes;
    std::shared_ptr<VirtualLine> line;
    std::unique_ptr<ComDevice> far;
    std::unique_ptr<TComPort> port;
};

// --- pictures ---

TEST(LedImages, EveryKindHasTwoPicturesWithTheKeyColourOnlyAroundTheLamp) {
    for (TLedKind kind : {TLedKind::lkRedLight, TLedKind::lkGreenLight, TLedKind::lkBlueLight,
                          TLedKind::lkYellowLight, TLedKind::lkPurpleLight, TLedKind::lkBulb}) {
        for (bool lit : {true, false}) {
            QImage image = LedImage(kind, lit);
            ASSERT_EQ(image.size(), QSize(15, 15));
            EXPECT_EQ(image.pixel(0, 14), Key);
            for (int y = 4; y <= 10; ++y)
                for (int x = 4; x <= 10; ++x)
                    EXPECT_NE(image.pixel(x, y), Key) << x << "," << y;
        }
        EXPECT_NE(ImageCentre(kind, true), ImageCentre(kind, false));
    }
    EXPECT_NE(ImageCentre(TLedKind::lkRedLight, true), ImageCentre(TLedKind::lkGreenLight, true));
}

// For a screen of pixel ratio 2: the same lamp on twice the pixels, its key colour kept
// pixel for pixel (no smoothing into it), the base's threads as whole blocks.
TEST(LedImages, AtRatioTwoTheSameLampOnTwiceThePixels) {
    for (TLedKind kind : {TLedKind::lkGreenLight, TLedKind::lkBulb}) {
        QImage one = LedImage(kind, true), two = LedImage(kind, true, 2);
        ASSERT_EQ(two.size(), QSize(30, 30));
        EXPECT_EQ(two.devicePixelRatio(), 2.0);
        EXPECT_EQ(two.pixel(0, 29), Key);
        EXPECT_EQ(two.pixel(14, 14), one.pixel(7, 7));
        if (kind == TLedKind::lkBulb) {
            EXPECT_EQ(two.pixel(11, 25), one.pixel(5, 12));
        }
    }
}

TEST(LedImages, CustomKindHasNoPicture) {
    EXPECT_TRUE(LedImage(TLedKind::lkCustom, true).isNull());
    EXPECT_TRUE(LedImage(TLedKind::lkCustom, false).isNull());
}

TEST(LedImages, BottomLeftColourBecomesTransparent) {
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(qRgb(1, 2, 3));
    image.setPixel(1, 1, qRgb(200, 100, 50));
    QImage result = WithBottomLeftTransparent(image);
    EXPECT_EQ(qAlpha(result.pixel(0, 2)), 0);
    EXPECT_EQ(qAlpha(result.pixel(3, 0)), 0);
    EXPECT_EQ(result.pixel(1, 1), qRgb(200, 100, 50));
    EXPECT_TRUE(WithBottomLeftTransparent(QImage()).isNull());
}

// --- the control ---

TEST(ComLed, StartsAsASmallUnfocusableRedConnectionLed) {
    TComLed led;
    EXPECT_EQ(led.size(), QSize(25, 25));
    EXPECT_EQ(led.focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(led.Kind(), TLedKind::lkRedLight);
    EXPECT_EQ(led.LedSignal(), TComLedSignal::lsConn);
    EXPECT_EQ(led.State(), TLedState::lsOff);
    EXPECT_EQ(led.RingDuration(), 1000);
    EXPECT_EQ(led.ComPort(), nullptr);
    EXPECT_TRUE(led.Link().OnConnSignal);
    EXPECT_FALSE(led.Link().OnCTSSignal);
    EXPECT_FALSE(led.Link().OnRingPulse);
    // The pictures wait for the first paint.
    EXPECT_TRUE(led.GlyphOn().isNull());
    led.SetHint(QStringLiteral("Connexion"));
    EXPECT_EQ(led.toolTip(), QStringLiteral("Connexion"));
}

TEST(ComLed, EachSignalListensOnItsOwnSlotOnly) {
    TComLed led;
    auto slotsSet = [&] {
        const TComLink& l = led.Link();
        return std::vector<bool>{bool(l.OnConnSignal), bool(l.OnCTSSignal), bool(l.OnDSRSignal),
                                 bool(l.OnRLSDSignal), bool(l.OnRingPulse), bool(l.OnRxSignal),
                                 bool(l.OnTxSignal)};
    };
    const TComLedSignal order[] = {
        TComLedSignal::lsConn, TComLedSignal::lsCTS, TComLedSignal::lsDSR, TComLedSignal::lsRLSD,
        TComLedSignal::lsRing, TComLedSignal::lsRx,  TComLedSignal::lsTx};
    for (int i = 6; i >= 0; --i) {
        led.SetLedSignal(order[i]);
        std::vector<bool> expected(7, false);
        expected[static_cast<std::size_t>(i)] = true;
        EXPECT_EQ(slotsSet(), expected) << i;
    }
}

TEST_F(LedOnPort, TheSameNotificationTwiceIsStoredTwice) {
    TComLed led;
    changes.Follow(led);
    led.SetLedSignal(TComLedSignal::lsCTS);
    led.SetComPort(port.get());
    int repaints = led.RepaintRequests();
    led.Link().OnCTSSignal(port.get(), true);
    led.Link().OnCTSSignal(port.get(), true);
    EXPECT_EQ(changes.states, (std::vector<TLedState>{TLedState::lsOn, TLedState::lsOn}));
    EXPECT_EQ(led.RepaintRequests(), repaints + 2);
}

TEST_F(LedOnPort, ALevelNotificationRunsPendingWindowEventsButARingDoesNot) {
    TComLed level, ring;
    ring.SetLedSignal(TComLedSignal::lsRing);
    level.SetComPort(port.get());
    ring.SetComPort(port.get());
    QObject target;
    bool ran = false;
    QMetaObject::invokeMethod(
        &target, [&] { ran = true; }, Qt::QueuedConnection);
    ring.Link().OnRingPulse(port.get());
    EXPECT_FALSE(ran);
    level.Link().OnConnSignal(port.get(), true);
    EXPECT_TRUE(ran);
}

TEST_F(LedOnPort, ASecondRingWhileLitDoesNotLengthenTheLitTime) {
    TComLed led;
    changes.Follow(led);
    led.SetLedSignal(TComLedSignal::lsRing);
    led.SetRingDuration(10000);
    led.SetComPort(port.get());
    led.Link().OnRingPulse(port.get());
    ASSERT_TRUE(led.RingTimer().isActive());
    int firstLeft = led.RingTimer().remainingTime();
    std::this_thread::sleep_for(200ms);
    led.Link().OnRingPulse(port.get());
    EXPECT_TRUE(led.RingTimer().isActive());
    // Restarted, the timer would have the whole duration left again.
    EXPECT_LT(led.RingTimer().remainingTime(), firstLeft - 100);
    EXPECT_EQ(changes.states, (std::vector<TLedState>{TLedState::lsOn, TLedState::lsOn}));
}

TEST_F(LedOnPort, ARingFromTheLineLightsTheLedForTheRingDuration) {
    TComLed led;
    changes.Follow(led);
    led.SetLedSignal(TComLedSignal::lsRing);
    led.SetRingDuration(30);
    port->SetConnected(true);
    led.SetComPort(port.get());
    ASSERT_EQ(led.State(), TLedState::lsOff);
    line->SetRing(VirtualLine::A, true);
    ASSERT_TRUE(PumpUntil([&] { return led.State() == TLedState::lsOn; }));
    EXPECT_TRUE(ProcessEventsUntil([&] { return led.State() == TLedState::lsOff; }));
    EXPECT_FALSE(led.RingTimer().isActive());
    EXPECT_EQ(changes.states,
              (std::vector<TLedState>{TLedState::lsOff, TLedState::lsOn, TLedState::lsOff}));
}

TEST_F(LedOnPort, ChangingTheSignalKeepsTheStateUntilTheNewSignalReports) {
    OpenFarEndWithRts();
    port->SetConnected(true);
    TComLed led;
    led.SetLedSignal(TComLedSignal::lsCTS);
    led.SetComPort(port.get());
    ASSERT_EQ(led.State(), TLedState::lsOn);
    changes.Follow(led);
    led.SetLedSignal(TComLedSignal::lsDSR);
    EXPECT_EQ(led.State(), TLedState::lsOn);
    EXPECT_TRUE(changes.states.empty());

    // CTS drops and DSR rises: only the DSR report reaches the LED.
    bool ctsOff = false, dsrOn = false;
    port->OnCTSChange = [&](TCustomComPort*, bool on) { ctsOff = ctsOff || !on; };
    port->OnDSRChange = [&](TCustomComPort*, bool on) { dsrOn = dsrOn || on; };
    SetFarLines(/*rts=*/false, /*dtr=*/true);
    ASSERT_TRUE(PumpUntil([&] { return ctsOff && dsrOn; }));
    EXPECT_EQ(changes.states, (std::vector<TLedState>{TLedState::lsOn}));

    SetFarLines(false, false);
    ASSERT_TRUE(PumpUntil([&] { return led.State() == TLedState::lsOff; }));
    EXPECT_EQ(changes.states, (std::vector<TLedState>{TLedState::lsOn, TLedState::lsOff}));
}

TEST(ComLed, ADisabledLedPaintsItsDarkPictureAndKeepsItsState) {
    TComLed led;
    led.SetState(TLedState::lsOn);
    EXPECT_EQ(Centre(led.grab().toImage()), ImageCentre(TLedKind::lkRedLight, true));
    int repaints = led.RepaintRequests();
    led.setEnabled(false);
    EXPECT_EQ(led.State(), TLedState::lsOn);
    EXPECT_GT(led.RepaintRequests(), repaints);
    EXPECT_EQ(Centre(led.grab().toImage()), ImageCentre(TLedKind::lkRedLight, false));
    led.setEnabled(true);
    EXPECT_EQ(Centre(led.grab().toImage()), ImageCentre(TLedKind::lkRedLight, true));
}

TEST(ComLed, TheKeyColourShowsWhatIsUnderTheLed) {
    TComLed led;
    led.SetKind(TLedKind::lkBlueLight);
    QImage painted = PaintedOver(led, Background);
    // The picture's bottom-left pixel lands at (5, 19).
    EXPECT_EQ(painted.pixel(5, 19), Background);
    EXPECT_EQ(painted.pixel(0, 0), Background);
    EXPECT_EQ(Centre(painted), ImageCentre(TLedKind::lkBlueLight, false));
}

TEST(ComLed, APictureLargerThanTheLedStartsAtItsTopLeft) {
    TComLed led;
    led.SetKind(TLedKind::lkCustom);
    QImage big(40, 30, QImage::Format_RGB32);
    big.fill(qRgb(10, 20, 30));
    big.setPixel(0, 0, qRgb(250, 250, 250));
    big.setPixel(0, 29, Key);
    led.SetGlyphOff(big);
    QImage painted = PaintedOver(led, Background);
    EXPECT_EQ(painted.pixel(0, 0), qRgb(250, 250, 250));
    EXPECT_EQ(painted.pixel(24, 24), qRgb(10, 20, 30));
}

TEST(ComLed, AnOddMarginIsRoundedDown) {
    TComLed led;
    led.resize(26, 26);
    led.SetKind(TLedKind::lkCustom);
    QImage glyph(15, 15, QImage::Format_RGB32);
    glyph.fill(qRgb(10, 20, 30));
    glyph.setPixel(0, 0, qRgb(250, 250, 250));
    glyph.setPixel(0, 14, Key);
    led.SetGlyphOff(glyph);
    QImage painted = PaintedOver(led, Background);
    // (26 - 15) / 2 = 5.
    EXPECT_EQ(painted.pixel(5, 5), qRgb(250, 250, 250));
    EXPECT_EQ(painted.pixel(4, 5), Background);
}

TEST(ComLed, AKindChangeLoadsItsPicturesAndRepaints) {
    TComLed led;
    int repaints = led.RepaintRequests();
    led.SetKind(TLedKind::lkBulb);
    EXPECT_EQ(led.GlyphOn(), LedImage(TLedKind::lkBulb, true));
    EXPECT_EQ(led.GlyphOff(), LedImage(TLedKind::lkBulb, false));
    EXPECT_EQ(led.RepaintRequests(), repaints + 1);
    led.SetKind(TLedKind::lkBulb);
    EXPECT_EQ(led.RepaintRequests(), repaints + 1);
}

TEST(ComLed, ACustomLedKeepsThePreviousPicturesUntilGlyphsAreGiven) {
    TComLed led;
    QImage glyph(15, 15, QImage::Format_RGB32);
    glyph.fill(qRgb(10, 20, 30));
    glyph.setPixel(0, 14, Key);

    led.SetKind(TLedKind::lkGreenLight);
    led.SetGlyphOn(glyph);
    EXPECT_EQ(led.GlyphOn(), LedImage(TLedKind::lkGreenLight, true));

    led.SetKind(TLedKind::lkCustom);
    led.SetState(TLedState::lsOn);
    EXPECT_EQ(Centre(PaintedOver(led, Background)), ImageCentre(TLedKind::lkGreenLight, true));

    led.SetGlyphOn(glyph);
    EXPECT_EQ(led.GlyphOn(), glyph);
    EXPECT_EQ(led.GlyphOff(), LedImage(TLedKind::lkGreenLight, false));
    EXPECT_EQ(Centre(PaintedOver(led, Background)), qRgb(10, 20, 30));
    EXPECT_EQ(PaintedOver(led, Background).pixel(5, 19), Background);
}

TEST(ComLed, ACustomLedWithoutAPictureForItsStateDrawsNothing) {
    TComLed led;
    led.SetKind(TLedKind::lkCustom);
    QImage glyph(15, 15, QImage::Format_RGB32);
    glyph.fill(qRgb(10, 20, 30));
    led.SetGlyphOn(glyph);
    QImage painted = PaintedOver(led, Background);
    EXPECT_EQ(Centre(painted), Background);
    // Painting did not fetch the pictures of a kind.
    EXPECT_TRUE(led.GlyphOff().isNull());
}

TEST_F(LedOnPort, SettingTheStateOfABoundLedFailsAndChangesNothing) {
    TComLed led;
    led.SetComPort(port.get());
    changes.Follow(led);
    try {
        led.SetState(TLedState::lsOn);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), CError_LedStateFailed);
    }
    EXPECT_EQ(led.State(), TLedState::lsOff);
    EXPECT_TRUE(changes.states.empty());
}

TEST(ComLed, AnUnboundLedStoresTheStateItIsGiven) {
    Recorder changes;
    TComLed led;
    changes.Follow(led);
    led.SetState(TLedState::lsOn);
    led.SetState(TLedState::lsOn);
    EXPECT_EQ(led.State(), TLedState::lsOn);
    EXPECT_EQ(changes.states, (std::vector<TLedState>{TLedState::lsOn, TLedState::lsOn}));
}

TEST(ComLed, AStateStoredWhileLoadingIsNotReported) {
    Recorder changes;
    TComLed led;
    changes.Follow(led);
    int repaints = led.RepaintRequests();
    led.BeginLoading();
    led.SetState(TLedState::lsOn);
    EXPECT_EQ(led.State(), TLedState::lsOn);
    EXPECT_EQ(led.RepaintRequests(), repaints + 1);
    EXPECT_TRUE(changes.states.empty());
    led.EndLoading();
    led.SetState(TLedState::lsOff);
    EXPECT_EQ(changes.states, (std::vector<TLedState>{TLedState::lsOff}));
}

TEST_F(LedOnPort, BindingAnOpenPortReadsItsLine) {
    OpenFarEndWithRts();
    port->SetConnected(true);
    TComLed cts, dsr, conn, ring;
    cts.SetLedSignal(TComLedSignal::lsCTS);
    dsr.SetLedSignal(TComLedSignal::lsDSR);
    ring.SetLedSignal(TComLedSignal::lsRing);
    ring.SetState(TLedState::lsOn);
    changes.Follow(cts);
    for (TComLed* led : {&cts, &dsr, &conn, &ring})
        led->SetComPort(port.get());
    EXPECT_EQ(cts.State(), TLedState::lsOn);
    EXPECT_EQ(dsr.State(), TLedState::lsOff);
    EXPECT_EQ(conn.State(), TLedState::lsOn);
    EXPECT_EQ(ring.State(), TLedState::lsOff);
    EXPECT_EQ(changes.states, (std::vector<TLedState>{TLedState::lsOn}));
}

TEST_F(LedOnPort, BindingAClosedPortKeepsTheState) {
    TComLed led;
    led.SetState(TLedState::lsOn);
    changes.Follow(led);
    led.SetComPort(port.get());
    EXPECT_EQ(led.ComPort(), port.get());
    EXPECT_EQ(led.State(), TLedState::lsOn);
    EXPECT_TRUE(changes.states.empty());
    // Binding the same port again does nothing.
    led.SetComPort(port.get());
    EXPECT_TRUE(changes.states.empty());
}

TEST_F(LedOnPort, WhileLoadingBindingAnOpenPortStoresNothing) {
    port->SetConnected(true);
    TComLed led;
    changes.Follow(led);
    led.BeginLoading();
    led.SetComPort(port.get());
    EXPECT_EQ(led.State(), TLedState::lsOff);
    EXPECT_TRUE(changes.states.empty());
    led.EndLoading();
    port->SetConnected(false);
    EXPECT_EQ(changes.states, (std::vector<TLedState>{TLedState::lsOff}));
}

TEST_F(LedOnPort, AFailedLineReadLeavesTheLedBoundAndListening) {
    OpenFarEndWithRts();
    port->SetConnected(true);
    TComLed led;
    led.SetLedSignal(TComLedSignal::lsCTS);
    line->FailCall(VirtualLine::A, DeviceCall::GetModemStatus, vline::ErrBadCommand, 1);
    try {
        led.SetComPort(port.get());
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), CError_ModemStatFailed);
    }
    EXPECT_EQ(led.ComPort(), port.get());
    EXPECT_EQ(led.State(), TLedState::lsOff);
    // The port's next report reaches the LED.
    changes.Follow(led);
    port->SetConnected(false);
    EXPECT_EQ(changes.states, (std::vector<TLedState>{TLedState::lsOff}));
}

TEST_F(LedOnPort, ClosingThePortDarkensTheCtsLedBeforeTheConnectionLed) {
    OpenFarEndWithRts();
    port->SetConnected(true);
    std::vector<std::string> order;
    TComLed clCts, clCon;
    clCts.SetLedSignal(TComLedSignal::lsCTS);
    clCon.SetComPort(port.get());
    clCts.SetComPort(port.get());
    ASSERT_EQ(clCts.State(), TLedState::lsOn);
    ASSERT_EQ(clCon.State(), TLedState::lsOn);
    clCts.OnChange = [&](TComLed*, TLedState s) {
        order.push_back(s == TLedState::lsOn ? "cts on" : "cts off");
    };
    clCon.OnChange = [&](TComLed*, TLedState s) {
        order.push_back(s == TLedState::lsOn ? "con on" : "con off");
    };
    port->SetConnected(false);
    EXPECT_EQ(order, (std::vector<std::string>{"cts off", "con off"}));
}

TEST_F(LedOnPort, ADestroyedPortLeavesTheLedDarkAndUnbound) {
    port->SetConnected(true);
    auto led = std::make_unique<TComLed>();
    led->SetComPort(port.get());
    ASSERT_EQ(led->State(), TLedState::lsOn);
    changes.Follow(*led);
    port.reset();
    EXPECT_EQ(led->ComPort(), nullptr);
    EXPECT_EQ(led->State(), TLedState::lsOff);
    // Closed (connection off), then unbound.
    EXPECT_EQ(changes.states, (std::vector<TLedState>{TLedState::lsOff, TLedState::lsOff}));
    led.reset();
}

TEST_F(LedOnPort, RebindingForgetsThePreviousPort) {
    auto otherLine = VirtualLine::Create();
    auto other = std::make_unique<TComPort>(otherLine->Device(VirtualLine::A));
    TComLed led;
    led.SetComPort(other.get());
    led.SetComPort(port.get());
    other.reset();
    EXPECT_EQ(led.ComPort(), port.get());
    port->SetConnected(true);
    changes.Follow(led);
    port->SetConnected(false);
    EXPECT_EQ(changes.states, (std::vector<TLedState>{TLedState::lsOff}));
}

TEST_F(LedOnPort, ADestroyedLedUnbindsItselfAndGoesDark) {
    port->SetConnected(true);
    std::vector<TLedState> states;
    TCustomComPort* boundAtChange = port.get();
    {
        TComLed led;
        led.SetComPort(port.get());
        led.OnChange = [&](TComLed* sender, TLedState s) {
            boundAtChange = sender->ComPort();
            states.push_back(s);
        };
    }
    EXPECT_EQ(states, (std::vector<TLedState>{TLedState::lsOff}));
    EXPECT_EQ(boundAtChange, nullptr);
    // Neither the close nor the destruction of the port reaches the freed LED.
    port->SetConnected(false);
    port.reset();
}

TEST(ComLed, ADoubleClickIsReported) {
    TComLed led;
    int clicks = 0;
    QObject::connect(&led, &TComLed::DoubleClicked, [&] { ++clicks; });
    QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&led, &click);
    EXPECT_EQ(clicks, 1);
}

} // namespace
} // namespace veldar::test
