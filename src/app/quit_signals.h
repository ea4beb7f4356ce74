// SIGTERM, SIGHUP and SIGINT end the program as "Quitter" does. The handler only writes a
// byte to a socket; the event loop hears it through a notifier and quits there.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace veldar {

class QuitSignals : public QObject {
    Q_OBJECT
public:
    // First thing in main, before the application exists: from then on a quit signal waits in
    // the socket until the event loop hears it, however early it comes.
    static void Install();

    // Hears the signals (installing the handler when Install has not).
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

signals:
    void QuitRequested();

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace veldar
