// VELDAR: receives the measuring device's dumps on a serial port and saves them.
#include "application.h"
#include "main_window.h"

#include <QDir>
#include <QSessionManager>
#include <QTimer>
#ifndef _WIN32
#include "quit_signals.h"
#endif

int main(int argc, char** argv) {
    veldar::TApplication::ChoosePlatform();
    veldar::TApplication app(argc, argv);

    veldar::TfrmMain::Environment environment;
    environment.ExecutableFolder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    veldar::TfrmMain frmMain(std::move(environment));
    app.ShowException = [&frmMain](const QString& text) { frmMain.ShowError(text); };
    // The end-of-session query reaches Qt through a native window.
    frmMain.winId();
    QObject::connect(
        &app, &QGuiApplication::commitDataRequest, &frmMain,
        [&frmMain](QSessionManager&) { frmMain.WMQueryEndSession(); }, Qt::DirectConnection);
#ifndef _WIN32
    veldar::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &veldar::QuitSignals::QuitRequested, &frmMain,
                     [&frmMain] { frmMain.RequestQuit(veldar::TfrmMain::QuitFrom::Signal); });
#endif

    try {
        frmMain.FormCreate();
    } catch (const std::exception& e) {
        // Start-up goes on with the window as built: port closed, Busy still true.
        frmMain.ShowError(QString::fromLocal8Bit(e.what()));
    }
    // The loop shows the window once; its first activation sends it to the tray.
    QTimer::singleShot(0, &frmMain, [&frmMain] { frmMain.FirstShow(); });
    return app.exec();
}
