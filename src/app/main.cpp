// VELDAR: receives the measuring device's dumps on a serial port and saves them.
#include "application.h"
#include "config_location.h"
#include "cp1252.h"
#include "dialogs.h"
#include "main_window.h"
#include "native_path.h"
#include "program_texts.h"
#include "qt_text.h"
#include "single_instance.h"

#include <QDir>
#include <QSessionManager>
#include <QTimer>
#include <iostream>
#ifndef _WIN32
#include "quit_signals.h"
#endif

int main(int argc, char** argv) {
#ifndef _WIN32
    // Before the lock is taken: a quit signal at any moment of the start-up ends the program
    // as "Quitter" does, the lock removed, instead of killing it.
    veldar::QuitSignals::Install();
#endif
    veldar::TApplication::ChoosePlatform();
    veldar::TApplication app(argc, argv);
#ifndef _WIN32
    veldar::QuitSignals quitSignals;
#endif
    const std::filesystem::path folder = veldar::ProgramFolder(
        veldar::BuiltLayout(),
        veldar::ExecutableFolderOf(QCoreApplication::applicationDirPath().toStdU16String()));
    // Through FromPath, whose text ToPath turns back into the folder's own bytes.
    const QString programFolder = veldar::FromPath(folder);

    // One VELDAR per folder; a later start shows the first one's window and leaves the port
    // and the settings file alone.
    veldar::SingleInstance instance(folder);
    const veldar::InstanceLock::State lock = instance.Acquire();
    if (lock == veldar::InstanceLock::State::HeldByLive) {
        std::cerr << veldar::Cp1252ToUtf8(veldar::texts::AlreadyRunning) << std::endl;
        bool quit = false;
#ifndef _WIN32
        QObject::connect(&quitSignals, &veldar::QuitSignals::QuitRequested, &app, [&quit] {
            quit = true;
            QApplication::closeAllWindows();
        });
#endif
        // Only when the first cannot be reached: its window coming up is answer enough.
        if (!instance.AskFirstToShow() && !quit)
            veldar::QtDialogs(nullptr).Message(veldar::FromCp1252(veldar::texts::AlreadyRunning),
                                               QMessageBox::Information);
        return 0;
    }
    // One VELDAR per folder is a convenience: a lock that cannot be held never stops it.
    const QString lockNotTaken =
        lock == veldar::InstanceLock::State::NotTakable
            ? veldar::FromCp1252(veldar::texts::LockNotTaken).arg(instance.LockFile())
            : QString();
    if (!lockNotTaken.isEmpty()) std::cerr << "VELDAR: " << lockNotTaken.toStdString() << std::endl;
    // A folder nobody may write to (a read-only share) is no fault of the user's: no box.
    if (lock == veldar::InstanceLock::State::Unwritable)
        std::cerr << "VELDAR: " << instance.LockFile().toStdString()
                  << " cannot be written; a second VELDAR in this folder is not detected"
                  << std::endl;

    veldar::TfrmMain::Environment environment;
    environment.ExecutableFolder = QDir::toNativeSeparators(programFolder);
#ifndef _WIN32
    // The COMn links are looked up in the folder's bytes, not in its text.
    environment.Device = veldar::CreatePlatformDevice(folder.native());
#endif
    veldar::TfrmMain frmMain(std::move(environment));
    app.ShowException = [&frmMain](const QString& text) { frmMain.ShowError(text); };
    QObject::connect(&instance, &veldar::SingleInstance::ShowRequested, &frmMain, [&frmMain] {
        frmMain.ShowFromTray();
        frmMain.raise();
        frmMain.activateWindow();
    });
    // The end-of-session query reaches Qt through a native window.
    frmMain.winId();
    QObject::connect(
        &app, &QGuiApplication::commitDataRequest, &frmMain,
        [&frmMain](QSessionManager&) { frmMain.WMQueryEndSession(); }, Qt::DirectConnection);
#ifndef _WIN32
    QObject::connect(&quitSignals, &veldar::QuitSignals::QuitRequested, &frmMain,
                     [&frmMain] { frmMain.RequestQuit(veldar::TfrmMain::QuitFrom::Signal); });
#endif

    try {
        frmMain.FormCreate();
    } catch (const std::exception& e) {
        // Start-up goes on with the window as built: port closed, Busy still true.
        frmMain.ShowError(QString::fromLocal8Bit(e.what()));
    }
    // From the loop, so that a quit closes the box like any other.
    if (!lockNotTaken.isEmpty())
        QTimer::singleShot(0, &frmMain,
                           [&frmMain, lockNotTaken] { frmMain.ShowError(lockNotTaken); });
    // The loop shows the window once; its first activation sends it to the tray.
    QTimer::singleShot(0, &frmMain, [&frmMain] { frmMain.FirstShow(); });
    return app.exec();
}
