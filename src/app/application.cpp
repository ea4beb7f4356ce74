#include "application.h"

#include "program_texts.h"
#include "qt_text.h"
#include "sync_queue.h"

#include <QDir>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

namespace veldar {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(FromCp1252(texts::ProgramName));
    // No display name: Qt would append it to every window title (" \u2014 VELDAR") on some
    // desktops, and the titles must read exactly as the program sets them.
    setApplicationDisplayName(QString());
    InstallQtFrench(*this, applicationDirPath());
    // The program lives in the tray: closing its window does not end it.
    setQuitOnLastWindowClosed(false);
    // The port's event thread wakes the event loop, which then runs the queued hand-overs.
    SyncQueue::Application().SetWakeHook([this] {
        QMetaObject::invokeMethod(
            this, [] { SyncQueue::Application().RunPending(); }, Qt::QueuedConnection);
    });
    ShowException = [](const QString& text) {
        QMessageBox box(QMessageBox::Critical, FromCp1252(texts::ProgramName), text,
                        QMessageBox::Ok);
        box.exec();
    };
}

TApplication::~TApplication() {
    SyncQueue::Application().SetWakeHook(nullptr);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        if (ShowException) ShowException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        if (ShowException) ShowException(FromCp1252(texts::UnknownError));
    }
    return false;
}

void TApplication::ChoosePlatform() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qgetenv("XDG_SESSION_TYPE") == "wayland")
        // A list: the first plugin that loads wins, so Wayland remains when X11 is missing.
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");
}

QTranslator* InstallQtFrench(QCoreApplication& app, const QString& executableFolder) {
    const QString beside = QDir(executableFolder).filePath(QStringLiteral("translations"));
    const QString qts = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // windeployqt ships Qt's texts merged as qt_fr.qm.
    const std::pair<QString, QString> copies[] = {{QStringLiteral("qtbase_fr"), beside},
                                                  {QStringLiteral("qt_fr"), beside},
                                                  {QStringLiteral("qtbase_fr"), qts}};
    for (const auto& [name, folder] : copies) {
        auto* translator = new QTranslator(&app);
        if (translator->load(name, folder) && app.installTranslator(translator)) return translator;
        delete translator;
    }
    return nullptr;
}

} // namespace veldar
