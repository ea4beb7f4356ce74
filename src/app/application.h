// The Qt application of the program: its event loop runs the serial hand-overs, and an
// exception that escapes an event handler is shown in the general error box instead of
// crossing Qt's event loop.
#pragma once

#include <QApplication>
#include <functional>

class QTranslator;

namespace veldar {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows an escaped exception's text; by default a stop box titled "VELDAR".
    std::function<void(const QString&)> ShowException;

    // Before the application exists: prefers X11 on a Wayland session, where a program
    // cannot place its own window.
    static void ChoosePlatform();
};

// Qt's own texts (the edit boxes' and scroll bars' menus, the standard buttons) in French
// whatever the system's language, since the program speaks only French. The copy shipped in
// a "translations" folder beside the program comes first, then Qt's own. Returns the
// installed translator (owned by the application), or none when no copy was found.
QTranslator* InstallQtFrench(QCoreApplication& app, const QString& executableFolder);

} // namespace veldar
