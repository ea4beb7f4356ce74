// Watches for a port that went away (or was missing at start) to come back, and says when
// it may be worth a try to open it: never more than once a second, and nothing at all while
// nothing is waited for. Where folders are given (Linux: the COMn link's, its target's,
// /dev, /dev/serial/by-id) a change in one of them is the sign; where there are none, or
// they cannot be watched, a look every second.
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

    void Start(const QStringList& folders);
    void Stop();
    bool Active() const { return active_; }
    // The port is there but refused (its group not yet set, a modem manager probing it):
    // nothing in the folders will change, so one more look in a second.
    void LookAgainSoon();

signals:
    void MayBeBack();

private:
    void Changed();
    void Watch();

    QStringList folders_;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* everySecond_;
    QTimer* settle_;
    QElapsedTimer lastLook_;
    bool active_ = false;
};

} // namespace veldar
