// The Qt application of the program: its event loop runs the serial hand-overs, and an
// exception that escapes an event handler is shown in the general error box instead of
// crossing Qt's event loop.
#pragma once

#include <QApplication>
#include <functional>

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

} // namespace veldar
