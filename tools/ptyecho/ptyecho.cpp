// veldar-ptyecho LINK
//
// Opens a pseudo-terminal, makes LINK a symbolic link to its terminal side, prints that
// side's path, and echoes every byte written there back to it: a serial line with a loop
// plug, for testing the serial code without hardware (Wine maps COM1 to the link).
//
// Runs until SIGTERM or SIGINT, then removes the link. Signals rather than the end of
// standard input: a background job of a script gets /dev/null as input and would stop at
// once.
#include <pty.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

bool Fail(const char* what) {
    std::fprintf(stderr, "veldar-ptyecho: %s: %s\n", what, std::strerror(errno));
    return false;
}

// Points link at target, replacing a link already there (never any other kind of file).
bool PlaceLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        errno = EEXIST;
        return Fail(link.c_str());
    }
    std::string temporary = link + ".ptyecho" + std::to_string(getpid());
    if (symlink(target.c_str(), temporary.c_str()) != 0) return Fail(temporary.c_str());
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        unlink(temporary.c_str());
        return Fail(link.c_str());
    }
    return true;
}

// Removes the link unless something else has replaced it meanwhile.
void RemoveLink(const std::string& link, const std::string& target) {
    char buffer[4096];
    ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
    if (n >= 0 && std::string(buffer, static_cast<std::size_t>(n)) == target) unlink(link.c_str());
}

// Echoes until a stop is requested. The signals are blocked except while waiting in
// ppoll, so a stop that comes between two waits is not missed.
bool Echo(int master, const sigset_t& waitMask) {
    std::string pending;
    char buffer[4096];
    while (!stopRequested) {
        pollfd pfd{master, 0, 0};
        // Reading pauses while the terminal side is not taking the echo.
        if (pending.size() < 65536) pfd.events |= POLLIN;
        if (!pending.empty()) pfd.events |= POLLOUT;
        if (ppoll(&pfd, 1, nullptr, &waitMask) < 0) {
            if (errno == EINTR) continue;
            return Fail("poll");
        }
        if (pfd.revents & POLLIN) {
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n < 0 && errno != EAGAIN && errno != EINTR) return Fail("read");
            if (n > 0) pending.append(buffer, static_cast<std::size_t>(n));
        }
        if (!pending.empty()) {
            ssize_t n = write(master, pending.data(), pending.size());
            if (n < 0 && errno != EAGAIN && errno != EINTR) return Fail("write");
            if (n > 0) pending.erase(0, static_cast<std::size_t>(n));
        }
    }
    return true;
}

// Sets up the line and the link, echoes, and cleans up.
bool Run(const std::string& link) {
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return Fail("openpty");
    // The terminal side stays open here for the whole run: when its last holder closes it,
    // the line hangs up and the far end reads only errors.
    termios tio{};
    if (tcgetattr(slave, &tio) != 0) return Fail("tcgetattr");
    cfmakeraw(&tio);
    if (tcsetattr(slave, TCSANOW, &tio) != 0) return Fail("tcsetattr");
    if (fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) return Fail("fcntl");
    const char* name = ptsname(master);
    if (!name) return Fail("ptsname");
    const std::string target = name;

    if (!PlaceLink(link, target)) return false;
    std::printf("%s\n", target.c_str());
    std::fflush(stdout);

    bool ok = Echo(master, waitMask);
    RemoveLink(link, target);
    close(slave);
    close(master);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: veldar-ptyecho LINK\n");
        return 2;
    }
    return Run(argv[1]) ? 0 : 1;
}
