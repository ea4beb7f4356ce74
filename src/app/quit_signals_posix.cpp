#include "quit_signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veldar {

namespace {

int signalSockets[2] = {-1, -1};

// Never blocks: with the socket full a quit is pending already, and one byte is enough.
extern "C" void OnQuitSignal(int) {
    const int saved = errno;
    char byte = 1;
    [[maybe_unused]] auto written = ::write(signalSockets[0], &byte, 1);
    errno = saved;
}

void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace

void QuitSignals::Install() {
    if (signalSockets[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0) return;
    SetNonBlocking(signalSockets[0]);
    SetNonBlocking(signalSockets[1]);
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT})
        sigaction(sig, &action, nullptr);
}

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
    Install();
    if (signalSockets[1] < 0) return;
    notifier_ = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        // Every byte a storm of signals left means the same quit.
        char bytes[256];
        while (::read(signalSockets[1], bytes, sizeof bytes) > 0) {
        }
        emit QuitRequested();
    });
}

QuitSignals::~QuitSignals() {
    // The quit has been carried out by now: a late signal of a storm must not turn the clean
    // end into a kill.
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    for (int sig : {SIGTERM, SIGHUP, SIGINT})
        sigaction(sig, &action, nullptr);
}

} // namespace veldar
