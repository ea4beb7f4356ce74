#include "com_led.h"

#include <cmath>

#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace veldar {

TComLed::TComLed(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    resize(25, 25);
    // Precise, so that the lit time of a ring is the duration asked for.
    RingTimer_.setTimerType(Qt::PreciseTimer);
    RingTimer_.setInterval(1000);
    connect(&RingTimer_, &QTimer::timeout, this, &TComLed::RingEnded);
    ListenTo(LedSignal_);
}

TComLed::~TComLed() {
    RingTimer_.stop();
    try {
        SetComPort(nullptr);
    } catch (...) {
        // A destructor cannot report; the link goes with the LED all the same.
    }
}

void TComLed::SetComPort(TCustomComPort* port) {
    if (port == ComPort_) return;
    if (ComPort_) {
        ComPort_->DetachLink(&Link_);
        ComPort_->RemoveDestroyObserver(DestroyObserver_);
    }
    ComPort_ = port;
    if (!port) {
        StoreState(TLedState::lsOff);
        return;
    }
    // The port calls this from its destructor, where its listener list still exists.
    DestroyObserver_ = port->AddDestroyObserver([this] { SetComPort(nullptr); });
    port->AttachLink(&Link_);
    if (port->Connected() && !Loading_) StoreState(ReadLine());
}

TLedState TComLed::ReadLine() const {
    auto lineHas = [this](TLineSignal line) {
        return ComPort_->QueryModemSignals().Contains(line) ? TLedState::lsOn : TLedState::lsOff;
    };
    switch (LedSignal_) {
    case TComLedSignal::lsConn:
        return TLedState::lsOn;
    case TComLedSignal::lsCTS:
        return lineHas(TLineSignal::lsCTS);
    case TComLedSignal::lsDSR:
        return lineHas(TLineSignal::lsDSR);
    case TComLedSignal::lsRLSD:
        return lineHas(TLineSignal::lsRLSD);
    case TComLedSignal::lsRing:
    case TComLedSignal::lsRx:
    case TComLedSignal::lsTx:
        break;
    }
    // Pulses and traffic have no lasting level to read.
    return TLedState::lsOff;
}

void TComLed::SetLedSignal(TComLedSignal signal) {
    if (signal == LedSignal_) return;
    LedSignal_ = signal;
    ListenTo(signal);
}

void TComLed::ListenTo(TComLedSignal signal) {
    Link_.OnConnSignal = nullptr;
    Link_.OnCTSSignal = nullptr;
    Link_.OnDSRSignal = nullptr;
    Link_.OnRLSDSignal = nullptr;
    Link_.OnRingPulse = nullptr;
    Link_.OnRxSignal = nullptr;
    Link_.OnTxSignal = nullptr;
    auto level = [this](TCustomComPort*, bool onOff) { SignalChanged(onOff); };
    switch (signal) {
    case TComLedSignal::lsConn:
        Link_.OnConnSignal = level;
        break;
    case TComLedSignal::lsCTS:
        Link_.OnCTSSignal = level;
        break;
    case TComLedSignal::lsDSR:
        Link_.OnDSRSignal = level;
        break;
    case TComLedSignal::lsRLSD:
        Link_.OnRLSDSignal = level;
        break;
    case TComLedSignal::lsRing:
        Link_.OnRingPulse = [this](TCustomComPort*) { RingPulse(); };
        break;
    case TComLedSignal::lsRx:
        Link_.OnRxSignal = level;
        break;
    case TComLedSignal::lsTx:
        Link_.OnTxSignal = level;
        break;
    }
}

void TComLed::SetKind(TLedKind kind) {
    if (kind == Kind_) return;
    Kind_ = kind;
    LoadKindImages();
    Repaint();
}

void TComLed::SetGlyphOn(const QImage& image) {
    if (Kind_ != TLedKind::lkCustom) return;
    ImageOn_ = image;
    Repaint();
}

void TComLed::SetGlyphOff(const QImage& image) {
    if (Kind_ != TLedKind::lkCustom) return;
    ImageOff_ = image;
    Repaint();
}

void TComLed::SetState(TLedState state) {
    // A bound LED shows the port's line, not a chosen state.
    if (ComPort_) throw EComPort(CError_LedStateFailed);
    StoreState(state);
}

void TComLed::StoreState(TLedState state) {
    State_ = state;
    if (!Loading_ && OnChange) OnChange(this, state);
    Repaint();
}

// The port waits for this handler: pending window events run here so the window stays
// responsive during long writes, reads, opens and closes.
void TComLed::SignalChanged(bool onOff) {
    StoreState(onOff ? TLedState::lsOn : TLedState::lsOff);
    QCoreApplication::processEvents();
}

// A ring while lit does not lengthen the lit time.
void TComLed::RingPulse() {
    if (!RingTimer_.isActive()) RingTimer_.start();
    StoreState(TLedState::lsOn);
}

void TComLed::RingEnded() {
    RingTimer_.stop();
    StoreState(TLedState::lsOff);
}

// A custom LED keeps whatever pictures it has.
void TComLed::LoadKindImages() {
    if (Kind_ == TLedKind::lkCustom) return;
    ImageOn_ = LedImage(Kind_, true);
    ImageOff_ = LedImage(Kind_, false);
}

void TComLed::Repaint() {
    ++RepaintRequests_;
    update();
}

void TComLed::paintEvent(QPaintEvent*) {
    if (ImageOn_.isNull() || ImageOff_.isNull()) LoadKindImages();
    const bool lit = State_ == TLedState::lsOn && isEnabled();
    QImage image = lit ? ImageOn_ : ImageOff_;
    if (image.isNull()) return;
    // A lamp of its own kind is drawn anew for a screen with more pixels than points.
    const int ratio = static_cast<int>(std::ceil(devicePixelRatioF()));
    if (ratio > 1 && Kind_ != TLedKind::lkCustom) image = LedImage(Kind_, lit, ratio);
    QPainter painter(this);
    const QSize size = image.deviceIndependentSize().toSize();
    int left = std::max(0, (width() - size.width()) / 2);
    int top = std::max(0, (height() - size.height()) / 2);
    painter.drawImage(left, top, WithBottomLeftTransparent(image));
}

void TComLed::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) Repaint();
    QWidget::changeEvent(event);
}

void TComLed::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    Q_EMIT DoubleClicked();
}

} // namespace veldar
