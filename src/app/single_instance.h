// One VELDAR per folder: two programs beside the same settings file would each show a tray
// icon, fight for the port and overwrite each other's settings at quit. The first takes a
// lock file beside the settings file and watches the folder; a later start finds the lock,
// leaves a request file beside it for the first to show its window, and ends.
#pragma once

#include <QFileSystemWatcher>
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

    // Asks the VELDAR that holds the lock to show its window; false when it has not taken the
    // request within a few seconds.
    bool AskFirstToShow();

    static constexpr const char* LockFileName = "VELDAR.lock";
    static constexpr const char* ShowRequestFileName = "VELDAR.show";

signals:
    // A later start asked this program to show its window.
    void ShowRequested();

private:
    void Watch();
    void TakeShowRequest();

    QString folder_;
    QString showRequest_;
    QLockFile lock_;
    // The system's change notifications: nothing wakes the program while no file changes.
    std::unique_ptr<QFileSystemWatcher> watcher_;
};

} // namespace veldar
