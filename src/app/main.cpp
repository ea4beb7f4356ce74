// VELDAR: receives the measuring device's dumps on a serial port and saves them.
#include "application.h"
#include "config_location.h"
#include "main_window.h"

#include <QDir>
#include <QLibraryInfo>
#include <QSessionManager>
#include <QTimer>
#include <QTranslator>
#ifndef _WIN32
#include "quit_signals.h"
#endif

int main(int argc, char** argv) {
    veldar::TApplication::ChoosePlatform();
    veldar::TApplication app(argc, argv);
    // Qt's own texts (edit boxes' context menus...) in French like the rest of the program.
    QTranslator qtFrench;
    if (qtFrench.load(QStringLiteral("qtbase_fr"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtFrench);

    veldar::TfrmMain::Environment environment;
    const std::filesystem::path folder = veldar::ProgramFolder(
        veldar::BuiltLayout(), QCoreApplication::applicationDirPath().toStdU16String());
    environment.ExecutableFolder =
        QDir::toNativeSeparators(QString::fromStdU16String(folder.u16string()));
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
    QTimer::singleShot(0, &frmMain, [&frmMain] {
        if (!frmMain.State.Quitting) frmMain.show();
    });
    return app.exec();
}
