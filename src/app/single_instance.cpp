#include "single_instance.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <iostream>

namespace veldar {

namespace {

constexpr int ReachFirstMs = 3000;

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), folder_(QDir(folder).absolutePath()),
      showRequest_(QDir(folder_).absoluteFilePath(QString::fromLatin1(ShowRequestFileName))),
      lock_(QDir(folder_).absoluteFilePath(QString::fromLatin1(LockFileName))) {
    // Held for the whole run: the lock is stale only when its program has ended.
    lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Acquire() {
    if (!lock_.tryLock(0)) {
        if (lock_.error() == QLockFile::LockFailedError) return false;
        std::cerr << "VELDAR: " << QDir::toNativeSeparators(lock_.fileName()).toStdString()
                  << " cannot be written; a second VELDAR in this folder is not detected"
                  << std::endl;
        return true;
    }
    Watch();
    return true;
}

void SingleInstance::Watch() {
    watcher_ = std::make_unique<QFileSystemWatcher>();
    if (!watcher_->addPath(folder_)) {
        std::cerr << "VELDAR: " << QDir::toNativeSeparators(folder_).toStdString()
                  << " cannot be watched; a second VELDAR cannot show this one's window"
                  << std::endl;
        return;
    }
    // The folder changes whenever a file in it comes or goes, the request among them.
    connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, this,
            &SingleInstance::TakeShowRequest);
    // A request left before the watch began, by a later start that came in between; taken
    // once the caller has had the chance to connect to ShowRequested.
    QTimer::singleShot(0, this, &SingleInstance::TakeShowRequest);
}

void SingleInstance::TakeShowRequest() {
    // Removing the request is the answer the later start waits for.
    if (QFileInfo::exists(showRequest_) && QFile::remove(showRequest_)) emit ShowRequested();
}

bool SingleInstance::AskFirstToShow() {
    QFileSystemWatcher watcher;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, [&] {
        if (!QFileInfo::exists(showRequest_)) loop.quit();
    });
    watcher.addPath(folder_);

    // Written under another name and renamed: the first never sees half a request.
    QSaveFile request(showRequest_);
    if (!request.open(QIODevice::WriteOnly) || !request.commit()) return false;
    deadline.start(ReachFirstMs);
    if (QFileInfo::exists(showRequest_)) loop.exec();
    if (!QFileInfo::exists(showRequest_)) return true;
    // Nobody took it: a program that starts here later must not show its window for it.
    QFile::remove(showRequest_);
    return false;
}

} // namespace veldar
