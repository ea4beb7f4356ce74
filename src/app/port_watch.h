// Watches for a port that went away (or was missing at start) to come back, and says when
// it may be worth a try to open it: never more than once a second, and nothing at all while
// nothing is waited for. Where folders are given (Linux: the COMn link's, its target's,
// /dev, /dev/serial/by-id) a change in one of them is the sign; where there are none, or
// they cannot be watched, a look every second. On Windows the look every second is the
// mechanism; the arrival of a serial device only brings the next look forward (Wine tells
// of none).
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

class QFileSystemWatcher;
class QTimer;

namespace veldar {

class PortWatch : public QObject {
    Q_OBJECT
public:
    explicit PortWatch(QObject* parent = nullptr);
    ~PortWatch() override;
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    // With lookFirst, one look a second after the start: a port back before the watches
    // were set makes no change in them.
    void Start(const QStringList& folders, bool lookFirst);
    void Stop();
    // The port is there but refused (its group not yet set, a modem manager probing it):
    // nothing in the folders will change, so one more look in a second.
    void LookAgainSoon();

    // A change that may bring the port back: a look now, unless one was made less than a
    // second ago (the next one then comes at the second).
    void Changed();

signals:
    void MayBeBack();

private:
    void Watch();
    void WatchDeviceArrivals();
    void StopWatchingDeviceArrivals();

    QStringList folders_;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* everySecond_;
    QTimer* settle_;
    QElapsedTimer lastLook_;
    bool active_ = false;
    // Windows: the message-only window that hears of arriving devices, and its registration.
    void* arrivalWindow_ = nullptr;
    void* arrivalNotification_ = nullptr;
};

} // namespace veldar
