#include "port_watch.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QTimer>

namespace veldar {

namespace {
constexpr int LookIntervalMs = 1000;
} // namespace

PortWatch::PortWatch(QObject* parent)
    : QObject(parent), everySecond_(new QTimer(this)), settle_(new QTimer(this)) {
    everySecond_->setInterval(LookIntervalMs);
    connect(everySecond_, &QTimer::timeout, this, [this] {
        lastLook_.restart();
        emit MayBeBack();
    });
    settle_->setSingleShot(true);
    connect(settle_, &QTimer::timeout, this, [this] {
        if (!active_) return;
        lastLook_.restart();
        Watch();
        emit MayBeBack();
    });
}

void PortWatch::Start(const QStringList& folders) {
    Stop();
    active_ = true;
    folders_ = folders;
    lastLook_.start();
    if (!folders_.isEmpty()) {
        watcher_ = new QFileSystemWatcher(this);
        connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { Changed(); });
        Watch();
    }
    // No folder could be watched (no inotify, its watches used up): a look every second.
    if (!watcher_ || watcher_->directories().isEmpty()) everySecond_->start();
}

void PortWatch::Stop() {
    active_ = false;
    everySecond_->stop();
    settle_->stop();
    delete watcher_;
    watcher_ = nullptr;
}

void PortWatch::LookAgainSoon() {
    if (active_ && !everySecond_->isActive() && !settle_->isActive())
        settle_->start(LookIntervalMs);
}

// Changes come in bursts (a link removed and made again, udev's links): one look for all of
// them, a second after the last look at most.
void PortWatch::Changed() {
    if (!active_ || settle_->isActive()) return;
    settle_->start(static_cast<int>(std::max<qint64>(0, LookIntervalMs - lastLook_.elapsed())));
}

// Folders that appeared since (/dev/serial/by-id comes back with the first adapter) are
// watched from now on.
void PortWatch::Watch() {
    if (!watcher_) return;
    const QStringList watched = watcher_->directories();
    for (const QString& folder : folders_)
        if (!watched.contains(folder) && QDir(folder).exists()) watcher_->addPath(folder);
}

} // namespace veldar
