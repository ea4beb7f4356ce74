// VELDAR: receives the measuring device's dumps on a serial port and saves them.
#include "application.h"
#include "main_window.h"

#include <QDir>

int main(int argc, char** argv) {
    veldar::TApplication::ChoosePlatform();
    veldar::TApplication app(argc, argv);

    veldar::TfrmMain::Environment environment;
    environment.ExecutableFolder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    veldar::TfrmMain frmMain(std::move(environment));
    app.ShowException = [&frmMain](const QString& text) { frmMain.ShowError(text); };
    frmMain.OnQuit = [] { QCoreApplication::quit(); };

    try {
        frmMain.FormCreate();
        frmMain.ConnectPort(1);
    } catch (const std::exception& e) {
        frmMain.ShowError(QString::fromLocal8Bit(e.what()));
    }
    frmMain.show();
    int status = app.exec();
    frmMain.ComPort1.SetConnected(false);
    return status;
}
