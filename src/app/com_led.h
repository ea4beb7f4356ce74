// A lamp that shows one line signal of a serial port, lit or dark. It never polls: its own
// listener is attached to the port, which tells it of every change.
#pragma once

#include "com_port.h"
#include "led_images.h"

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace veldar {

enum class TComLedSignal { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };
enum class TLedState { lsOff, lsOn };

class TComLed : public QWidget {
    Q_OBJECT

public:
    explicit TComLed(QWidget* parent = nullptr);
    ~TComLed() override;
    TComLed(const TComLed&) = delete;
    TComLed& operator=(const TComLed&) = delete;

    // The port followed, or null. Binding an open port shows its line at once (read from the
    // device, which may throw; the listener is attached by then). A destroyed port unbinds
    // itself and leaves the LED dark.
    TCustomComPort* ComPort() const { return ComPort_; }
    void SetComPort(TCustomComPort* port);

    // Changing the signal keeps the state until the port reports the new signal.
    TComLedSignal LedSignal() const { return LedSignal_; }
    void SetLedSignal(TComLedSignal signal);

    TLedKind Kind() const { return Kind_; }
    void SetKind(TLedKind kind);

    // The lit and dark pictures; assignable only to a custom LED (ignored otherwise).
    const QImage& GlyphOn() const { return ImageOn_; }
    void SetGlyphOn(const QImage& image);
    const QImage& GlyphOff() const { return ImageOff_; }
    void SetGlyphOff(const QImage& image);

    // Settable only while no port is bound (EComPort CError_LedStateFailed otherwise).
    TLedState State() const { return State_; }
    void SetState(TLedState state);

    // How long a ring keeps the LED lit, in milliseconds.
    int RingDuration() const { return RingTimer_.interval(); }
    void SetRingDuration(int ms) { RingTimer_.setInterval(ms); }

    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }

    // While the window is built from its description: binding a port stores no state and
    // OnChange is not called.
    void BeginLoading() { Loading_ = true; }
    void EndLoading() { Loading_ = false; }
    bool Loading() const { return Loading_; }

    // Called after every stored state, the same state again included.
    std::function<void(TComLed* sender, TLedState state)> OnChange;

    // For tests: the listener attached to the port, the ring timer, and how many repaints
    // were asked for.
    const TComLink& Link() const { return Link_; }
    const QTimer& RingTimer() const { return RingTimer_; }
    int RepaintRequests() const { return RepaintRequests_; }

    QSize sizeHint() const override { return {25, 25}; }

Q_SIGNALS:
    void DoubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void StoreState(TLedState state);
    TLedState ReadLine() const;
    void SignalChanged(bool onOff);
    void RingPulse();
    void RingEnded();
    void ListenTo(TComLedSignal signal);
    void LoadKindImages();
    void Repaint();

    TComLink Link_;
    QTimer RingTimer_;
    TCustomComPort* ComPort_ = nullptr;
    int DestroyObserver_ = 0;
    TComLedSignal LedSignal_ = TComLedSignal::lsConn;
    TLedKind Kind_ = TLedKind::lkRedLight;
    TLedState State_ = TLedState::lsOff;
    QImage ImageOn_;
    QImage ImageOff_;
    bool Loading_ = false;
    int RepaintRequests_ = 0;
};

} // namespace veldar
