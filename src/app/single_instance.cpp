#include "single_instance.h"

#include "native_path.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <iostream>

namespace veldar {

namespace {

constexpr int ReachFirstMs = 3000;

} // namespace

SingleInstance::SingleInstance(const std::filesystem::path& folder, QObject* parent)
    : QObject(parent), folder_(std::filesystem::absolute(folder)),
      showRequest_(folder_ / ShowRequestFileName), lock_(folder_ / LockFileName) {}

SingleInstance::~SingleInstance() = default;

InstanceLock::State SingleInstance::Acquire() {
    const InstanceLock::State state = lock_.Take();
    if (state == InstanceLock::State::Taken) Watch();
    return state;
}

QString SingleInstance::LockFile() const {
    return QDir::toNativeSeparators(FromPath(lock_.File()));
}

void SingleInstance::Watch() {
    watcher_ = std::make_unique<QFileSystemWatcher>();
    if (!watcher_->addPath(FromPath(folder_))) {
        std::cerr << "VELDAR: " << QDir::toNativeSeparators(FromPath(folder_)).toStdString()
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
    if (TakeShowRequestFile(showRequest_)) emit ShowRequested();
}

bool SingleInstance::AskFirstToShow() {
    QFileSystemWatcher watcher;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, [&] {
        if (!ShowRequestWaiting(showRequest_)) loop.quit();
    });
    watcher.addPath(FromPath(folder_));

    // Empty: its coming is the whole request, so the first never sees half of one.
    if (!LeaveShowRequest(showRequest_)) return false;
    deadline.start(ReachFirstMs);
    if (ShowRequestWaiting(showRequest_)) loop.exec();
    if (!ShowRequestWaiting(showRequest_)) return true;
    // Nobody took it: a program that starts here later must not show its window for it.
    TakeShowRequestFile(showRequest_);
    return false;
}

} // namespace veldar
