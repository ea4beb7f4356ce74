#include "sim_line.h"

#include "line_speed.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace veldar::devsim {

namespace {

[[noreturn]] void Fail(const std::string& what, int error = errno) {
    throw std::runtime_error(what + ": " + std::strerror(error));
}

void MakeRaw(int fd, const std::string& what) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) Fail(what);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) Fail(what);
}

void SetFlags(int fd, int statusFlags) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | statusFlags);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// Points link at target, replacing a link already there (never any other kind of file).
void PlaceLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) Fail(link, EEXIST);
    std::string temporary = link + ".devsim" + std::to_string(getpid());
    if (symlink(target.c_str(), temporary.c_str()) != 0) Fail(temporary);
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        int error = errno;
        unlink(temporary.c_str());
        Fail(link, error);
    }
}

// Removes the link unless something else has replaced it meanwhile.
void RemoveLink(const std::string& link, const std::string& target) {
    char buffer[4096];
    ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
    if (n >= 0 && std::string(buffer, static_cast<std::size_t>(n)) == target) unlink(link.c_str());
}

} // namespace

std::unique_ptr<SimLine> SimLine::CreatePty(const std::string& linkPath,
                                            const std::string& notPath) {
    std::unique_ptr<SimLine> line(new SimLine);
    if (openpty(&line->fd_, &line->slave_, nullptr, nullptr, nullptr) != 0) Fail("openpty");
    const char* first = ptsname(line->fd_);
    if (first && first == notPath) {
        // The kernel hands out the lowest free number: a second one, taken while the first
        // is held, is named otherwise.
        int master = -1, terminal = -1;
        if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) Fail("openpty");
        close(line->fd_);
        close(line->slave_);
        line->fd_ = master;
        line->slave_ = terminal;
    }
    SetFlags(line->fd_, O_NONBLOCK);
    SetFlags(line->slave_, 0);
    // Until the program sets its own, no echo or line editing on the terminal side.
    MakeRaw(line->slave_, "terminal side");
    const char* name = ptsname(line->fd_);
    if (!name) Fail("ptsname");
    line->path_ = name;
    // The program opens its port exclusively. That mark stays on the terminal while anyone
    // holds it (we do), so the program could not open it again (unless root), and what it
    // left unread would greet its next opening: both are undone whenever someone closes the
    // terminal side.
    line->watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (line->watch_ >= 0 && inotify_add_watch(line->watch_, line->path_.c_str(),
                                               IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        // Not fatal: without it only a reopening by the program (not as root) fails.
        close(line->watch_);
        line->watch_ = -1;
    }
    if (!linkPath.empty()) {
        PlaceLink(linkPath, line->path_);
        line->link_ = linkPath;
    }
    return line;
}

std::unique_ptr<SimLine> SimLine::OpenDevice(const std::string& path, std::uint32_t baud) {
    std::unique_ptr<SimLine> line(new SimLine);
    line->path_ = path;
    line->fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line->fd_ < 0) Fail(path);
    if (!isatty(line->fd_)) Fail(path, ENOTTY);
    MakeRaw(line->fd_, path);
    line->FollowDeviceSpeed(baud);
    return line;
}

SimLine::~SimLine() {
    Close();
}

void SimLine::Close() {
    if (!link_.empty()) RemoveLink(link_, path_);
    link_.clear();
    for (int* fd : {&watch_, &slave_, &fd_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

void SimLine::OnClosed() {
    char events[4096];
    while (read(watch_, events, sizeof events) > 0) {
    }
    tcflush(slave_, TCIFLUSH);
    ioctl(slave_, TIOCNXCL);
}

std::uint32_t SimLine::ProgramSpeed() const {
    return IsPty() ? ReadLineSpeed(fd_) : deviceSpeed_;
}

void SimLine::FollowDeviceSpeed(std::uint32_t baud) {
    if (IsPty() || baud == deviceSpeed_) return;
    if (int e = SetLineSpeed(fd_, baud)) Fail(path_ + ": speed " + std::to_string(baud), e);
    deviceSpeed_ = baud;
}

void SimLine::HangUp() {
    // Closing the master hangs the terminal side up even while we still hold it.
    Close();
}

} // namespace veldar::devsim
