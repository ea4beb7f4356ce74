#include "single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <iostream>

namespace veldar {

namespace {

constexpr int ReachFirstMs = 3000;
const QByteArray ShowRequest = "show\n";

// One name per folder, short enough for any platform's socket or pipe names.
QString ServerName(const QString& lockPath) {
    const QByteArray hash =
        QCryptographicHash::hash(lockPath.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("VELDAR-") + QString::fromLatin1(hash.left(20));
}

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), lock_(QDir(folder).absoluteFilePath(QString::fromLatin1(LockFileName))),
      serverName_(ServerName(QFileInfo(lock_.fileName()).absoluteFilePath())) {
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
    Listen();
    return true;
}

void SingleInstance::Listen() {
    server_ = std::make_unique<QLocalServer>();
    // Whoever listened under this name before us has ended: we hold the lock.
    QLocalServer::removeServer(serverName_);
    if (!server_->listen(serverName_)) {
        std::cerr << "VELDAR: " << server_->errorString().toStdString() << std::endl;
        return;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) return;
                const bool show = socket->readLine() == ShowRequest;
                socket->disconnectFromServer();
                if (show) emit ShowRequested();
            });
        }
    });
}

bool SingleInstance::AskFirstToShow() {
    // The first program may have taken the lock a moment ago and not be listening yet.
    QDeadlineTimer deadline(ReachFirstMs);
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(serverName_);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            socket.write(ShowRequest);
            const bool sent =
                socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()));
            socket.disconnectFromServer();
            return sent;
        }
        if (deadline.hasExpired()) return false;
        QThread::msleep(50);
    }
}

} // namespace veldar
