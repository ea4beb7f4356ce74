// One VELDAR per folder: two programs beside the same settings file would each show a tray
// icon, fight for the port and overwrite each other's settings at quit. The first takes a
// lock file beside the settings file and listens; a later start finds the lock, asks the
// first to show its window and ends.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

namespace veldar {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // folder: where the settings file lives.
    explicit SingleInstance(const QString& folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the folder's lock; a lock left by a program that has ended without removing it is
    // taken over. False when another running VELDAR holds it. A folder where no lock file can
    // be written (a read-only one) does not stop the program: true then.
    bool Acquire();

    // Asks the VELDAR that holds the lock to show its window; false when it cannot be
    // reached within a few seconds.
    bool AskFirstToShow();

    static constexpr const char* LockFileName = "VELDAR.lock";

signals:
    // A later start asked this program to show its window.
    void ShowRequested();

private:
    void Listen();

    QLockFile lock_;
    QString serverName_;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace veldar
