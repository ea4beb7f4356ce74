// One VELDAR per folder: two programs beside the same settings file would each show a tray
// icon, fight for the port and overwrite each other's settings at quit. The first takes a
// lock file beside the settings file and watches the folder; a later start finds the lock,
// leaves a request file beside it for the first to show its window, and ends.
#pragma once

#include "instance_lock.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <filesystem>
#include <memory>

namespace veldar {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // folder: where the settings file lives, as the platform names it.
    explicit SingleInstance(const std::filesystem::path& folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the folder's lock; a lock no running program holds is taken over. Taken: the
    // folder is watched for requests from now on. NotTakable: the program runs without a
    // lock, after telling the user which file is in the way (LockFile). Unwritable (a
    // read-only folder): it runs without a lock, said on standard error only.
    InstanceLock::State Acquire();

    // Asks the VELDAR that holds the lock to show its window; false when it has not taken the
    // request within a few seconds.
    bool AskFirstToShow();

    // The lock file, as the user reads it.
    QString LockFile() const;

    static constexpr const char* LockFileName = "VELDAR.lock";
    static constexpr const char* ShowRequestFileName = "VELDAR.show";

signals:
    // A later start asked this program to show its window.
    void ShowRequested();

private:
    void Watch();
    void TakeShowRequest();

    std::filesystem::path folder_;
    std::filesystem::path showRequest_;
    InstanceLock lock_;
    // The system's change notifications: nothing wakes the program while no file changes.
    std::unique_ptr<QFileSystemWatcher> watcher_;
};

} // namespace veldar
