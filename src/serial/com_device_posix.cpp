// The serial device on POSIX systems (termios and ioctl), giving the port object the
// behaviour it has on Windows: exclusive open, settings applied at once without flushing,
// reads that return at once with what has arrived, writes that block until the bytes are
// sent or the write time-out expires, and line events reported as the Windows mask bits.
#include "com_device.h"
#include "custom_baud.h"
#include "port_names.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace veldar {

namespace {

using Clock = std::chrono::steady_clock;

// A device without modem lines (a pseudo-terminal) answers these; that is not an error.
bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

speed_t StandardSpeed(std::uint32_t rate) {
    switch (rate) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
#ifdef B230400
    case 230400: return B230400;
#endif
    default: return B0;
    }
}

struct PosixIo : DeviceIo {
    enum Kind { None, Read, Write };
    Kind kind = None;
    const std::uint8_t* data = nullptr;
    std::uint32_t count = 0;
    std::uint32_t done = 0;
    Clock::time_point deadline;
    bool hasDeadline = false;
};

struct LineCounts {
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};

class PosixComDevice : public ComDevice {
public:
    explicit PosixComDevice(std::string linkFolder) : linkFolder_(std::move(linkFolder)) {
        if (pipe(wakePipe_) == 0) {
            for (int fd : wakePipe_) {
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
                fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
        }
    }

    ~PosixComDevice() override {
        Release();
        for (int fd : wakePipe_)
            if (fd >= 0)
                close(fd);
    }

    int Acquire(const std::string& portName) override {
        if (fd_ >= 0)
            return EBUSY;
        std::string folder = linkFolder_.empty() ? ExecutableFolder() : linkFolder_;
        std::string path = ResolvePortPath(portName, folder);
        int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno;
        int error = 0;
        if (!isatty(fd))
            error = ENOTTY;
        // One program at a time, as on Windows: the lock stops everyone, TIOCEXCL all but
        // root.
        else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
            error = (errno == EWOULDBLOCK) ? EBUSY : errno;
        if (error) {
            close(fd);
            return error;
        }
        ioctl(fd, TIOCEXCL);
        fd_ = fd;
        readTotal_ = 0;
        int bits = 0;
        modemLinesPresent_ = ioctl(fd_, TIOCMGET, &bits) == 0;
        modemAtWait_ = bits;
#ifdef TIOCGICOUNT
        serial_icounter_struct ic{};
        countsPresent_ = ioctl(fd_, TIOCGICOUNT, &ic) == 0;
#endif
        countsAtClear_ = countsAtWait_ = ReadCounts();
        return 0;
    }

    void Release() override {
        if (fd_ < 0)
            return;
        close(fd_);
        fd_ = -1;
    }

    bool IsAcquired() const override { return fd_ >= 0; }

    int SetupBuffers(std::uint32_t, std::uint32_t) override {
        // The kernel's buffers have a fixed size.
        return fd_ < 0 ? EBADF : 0;
    }

    int SetState(const Dcb& dcb) override {
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0)
            return errno;
        tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
        if (dcb.Has(Dcb::fParity))
            tio.c_iflag |= INPCK;
        if (dcb.Has(Dcb::fOutX))
            tio.c_iflag |= IXON;
        if (dcb.Has(Dcb::fInX))
            tio.c_iflag |= IXOFF;
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | HUPCL | CRTSCTS);
#ifdef CMSPAR
        tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
        tio.c_cflag |= CLOCAL | CREAD;
        switch (dcb.ByteSize) {
        case 5: tio.c_cflag |= CS5; break;
        case 6: tio.c_cflag |= CS6; break;
        case 7: tio.c_cflag |= CS7; break;
        default: tio.c_cflag |= CS8; break;
        }
        switch (dcb.Parity) {
        case 1: tio.c_cflag |= PARENB | PARODD; break;
        case 2: tio.c_cflag |= PARENB; break;
#ifdef CMSPAR
        case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case 4: tio.c_cflag |= PARENB | CMSPAR; break;
#endif
        default: break;
        }
        if (dcb.StopBits != 0)
            tio.c_cflag |= CSTOPB;
        if (dcb.Has(Dcb::fOutxCtsFlow) || dcb.RtsControl() == 2)
            tio.c_cflag |= CRTSCTS;
        tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
        tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        speed_t speed = StandardSpeed(dcb.BaudRate);
        bool custom = speed == B0;
        if (!custom) {
            cfsetispeed(&tio, speed);
            cfsetospeed(&tio, speed);
        }
        // At once and without flushing: a change in the middle of a probe must not discard the
        // device's answer.
        if (tcsetattr(fd_, TCSANOW, &tio) != 0)
            return errno;
        if (custom) {
#ifdef __linux__
            if (int e = SetCustomBaudRate(fd_, dcb.BaudRate))
                return e;
#else
            return EINVAL;
#endif
        }
        unsigned dtr = dcb.DtrControl(), rts = dcb.RtsControl();
        if (int e = SetModemLine(TIOCM_DTR, dtr == 1 || dtr == 2))
            return e;
        return SetModemLine(TIOCM_RTS, rts == 1 || rts == 2);
    }

    int SetTimeouts(const CommTimeouts& timeouts) override {
        if (fd_ < 0)
            return EBADF;
        // Reads always return at once with what has arrived; only the write limits matter.
        timeouts_ = timeouts;
        return 0;
    }

    int Purge(std::uint32_t flags) override {
        if (fd_ < 0)
            return EBADF;
        // Reads and writes are never left in flight between calls, so there is nothing to
        // abort; clearing empties the kernel's queues.
        if (flags & win::PURGE_RXCLEAR) {
            int waiting = 0;
            ioctl(fd_, FIONREAD, &waiting);
            if (tcflush(fd_, TCIFLUSH) != 0)
                return errno;
            readTotal_ += static_cast<std::uint64_t>(waiting);
        }
        if ((flags & win::PURGE_TXCLEAR) && tcflush(fd_, TCOFLUSH) != 0)
            return errno;
        return 0;
    }

    int ClearError(std::uint32_t& errors, std::uint32_t& inputCount) override {
        int waiting = 0;
        if (ioctl(fd_, FIONREAD, &waiting) != 0)
            return errno;
        inputCount = static_cast<std::uint32_t>(waiting);
        LineCounts now = ReadCounts();
        errors = ErrorFlags(countsAtClear_, now);
        countsAtClear_ = now;
        return 0;
    }

    int GetModemStatus(std::uint32_t& status) override {
        int bits = 0;
        if (ioctl(fd_, TIOCMGET, &bits) != 0) {
            if (fd_ >= 0 && NoModemLines(errno)) {
                status = 0;
                return 0;
            }
            return errno;
        }
        status = ModemFlags(bits);
        return 0;
    }

    std::unique_ptr<DeviceIo> NewIo() override { return std::make_unique<PosixIo>(); }

    int StartWrite(DeviceIo& io, const std::uint8_t* data, std::uint32_t count) override {
        if (fd_ < 0)
            return EBADF;
        auto& pio = static_cast<PosixIo&>(io);
        pio.kind = PosixIo::Write;
        pio.data = data;
        pio.count = count;
        pio.done = 0;
        std::uint64_t limit = std::uint64_t{timeouts_.WriteTotalTimeoutMultiplier} * count +
                              timeouts_.WriteTotalTimeoutConstant;
        pio.hasDeadline = limit != 0;
        pio.deadline = Clock::now() + std::chrono::milliseconds(limit);
        return WriteSome(pio);
    }

    int StartRead(DeviceIo& io, std::uint8_t* buffer, std::uint32_t count) override {
        if (fd_ < 0)
            return EBADF;
        auto& pio = static_cast<PosixIo&>(io);
        pio.kind = PosixIo::Read;
        ssize_t n = read(fd_, buffer, count);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return errno;
            n = 0;
        }
        pio.done = static_cast<std::uint32_t>(n);
        readTotal_ += static_cast<std::uint64_t>(n);
        return 0;
    }

    int WaitIo(DeviceIo& io, std::uint32_t& done) override {
        auto& pio = static_cast<PosixIo&>(io);
        if (pio.kind == PosixIo::Write)
            if (int e = FinishWrite(pio))
                return e;
        done = pio.done;
        return 0;
    }

    int SetEventMask(std::uint32_t mask) override {
        if (fd_ < 0)
            return EBADF;
        // As on Windows, a new mask forgets what happened before: only later arrivals count.
        int waiting = 0;
        ioctl(fd_, FIONREAD, &waiting);
        arrivedAtWait_ = readTotal_ + static_cast<std::uint64_t>(waiting);
        eventMask_ = mask;
        return 0;
    }

    int WaitEvent(std::uint32_t& events) override {
        events = 0;
        while (true) {
            if (fd_ < 0)
                return EBADF;
            std::uint32_t mask = eventMask_;
            int waiting = 0;
            ioctl(fd_, FIONREAD, &waiting);
            std::uint64_t arrived = readTotal_ + static_cast<std::uint64_t>(waiting);
            if (arrived > arrivedAtWait_) {
                arrivedAtWait_ = arrived;
                events |= win::EV_RXCHAR;
            } else if (arrived < arrivedAtWait_) {
                arrivedAtWait_ = arrived; // bytes discarded by a purge
            }
            events |= LineEvents();
            events &= mask;
            if (events)
                return 0;

            // Bytes still unread keep the descriptor readable; then only new bytes count,
            // which the short slices below notice.
            pollfd fds[2] = {{wakePipe_[0], POLLIN, 0},
                             {fd_, static_cast<short>(waiting == 0 ? POLLIN : 0), 0}};
            bool watchLines = modemLinesPresent_ || countsPresent_ || waiting > 0;
            int r = poll(fds, 2, watchLines ? SliceMs : -1);
            if (r < 0 && errno != EINTR)
                return errno;
            if (fds[0].revents & POLLIN) {
                char drain[64];
                while (read(wakePipe_[0], drain, sizeof drain) > 0) {
                }
            }
            if (cancel_.exchange(false))
                return WaitCancelled;
            if (txEmpty_.exchange(false))
                events |= win::EV_TXEMPTY & mask;
            if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
                return EIO;
        }
    }

    void CancelWait() override {
        cancel_ = true;
        Wake();
    }

private:
    static constexpr int SliceMs = 10;

    void Wake() {
        char one = 1;
        [[maybe_unused]] auto r = write(wakePipe_[1], &one, 1);
    }

    int SetModemLine(int line, bool on) {
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) != 0 && !NoModemLines(errno))
            return errno;
        return 0;
    }

    int WriteSome(PosixIo& pio) {
        while (pio.done < pio.count) {
            ssize_t n = write(fd_, pio.data + pio.done, pio.count - pio.done);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    return 0;
                if (errno == EINTR)
                    continue;
                return errno;
            }
            pio.done += static_cast<std::uint32_t>(n);
        }
        return 0;
    }

    int RemainingMs(const PosixIo& pio) const {
        if (!pio.hasDeadline)
            return -1;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(pio.deadline - Clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }

    // Blocks until every byte has left the line or the deadline has passed; then done is the
    // number of bytes that went out and the rest is dropped, as a timed-out write on Windows.
    int FinishWrite(PosixIo& pio) {
        while (pio.done < pio.count) {
            int left = RemainingMs(pio);
            if (left == 0)
                break;
            pollfd fds{fd_, POLLOUT, 0};
            int r = poll(&fds, 1, left);
            if (r < 0 && errno != EINTR)
                return errno;
            if (fds.revents & (POLLERR | POLLHUP | POLLNVAL))
                return EIO;
            if (int e = WriteSome(pio))
                return e;
        }
        int queued = 0;
        while (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) {
            int left = RemainingMs(pio);
            if (left == 0)
                break;
            // tcdrain has no time limit, so the queue is watched instead.
            usleep(static_cast<useconds_t>(std::min(left, 2) * 1000));
        }
        if (queued > 0) {
            tcflush(fd_, TCOFLUSH);
            pio.done -= std::min(pio.done, static_cast<std::uint32_t>(queued));
        }
        if (pio.count > 0) {
            txEmpty_ = true;
            Wake();
        }
        return 0;
    }

    static std::uint32_t ModemFlags(int bits) {
        return ((bits & TIOCM_CTS) ? win::MS_CTS_ON : 0) | ((bits & TIOCM_DSR) ? win::MS_DSR_ON : 0) |
               ((bits & TIOCM_RNG) ? win::MS_RING_ON : 0) | ((bits & TIOCM_CAR) ? win::MS_RLSD_ON : 0);
    }

    LineCounts ReadCounts() {
#ifdef TIOCGICOUNT
        serial_icounter_struct ic{};
        if (countsPresent_ && ioctl(fd_, TIOCGICOUNT, &ic) == 0)
            return {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
#endif
        return {};
    }

    static std::uint32_t ErrorFlags(const LineCounts& before, const LineCounts& now) {
        return (now.frame != before.frame ? win::CE_FRAME : 0) |
               (now.overrun != before.overrun ? win::CE_OVERRUN : 0) |
               (now.parity != before.parity ? win::CE_RXPARITY : 0) |
               (now.brk != before.brk ? win::CE_BREAK : 0) |
               (now.bufOverrun != before.bufOverrun ? win::CE_RXOVER : 0);
    }

    // Modem-line changes, breaks and line errors since the last wait's look.
    std::uint32_t LineEvents() {
        std::uint32_t events = 0;
        if (modemLinesPresent_) {
            int now = 0;
            ioctl(fd_, TIOCMGET, &now);
            int changed = modemAtWait_ ^ now;
            if (changed & TIOCM_CTS)
                events |= win::EV_CTS;
            if (changed & TIOCM_DSR)
                events |= win::EV_DSR;
            if (changed & TIOCM_CAR)
                events |= win::EV_RLSD;
            if ((changed & TIOCM_RNG) && (now & TIOCM_RNG))
                events |= win::EV_RING;
            modemAtWait_ = now;
        }
        if (countsPresent_) {
            LineCounts now = ReadCounts();
            std::uint32_t errors = ErrorFlags(countsAtWait_, now);
            if (errors & win::CE_BREAK)
                events |= win::EV_BREAK;
            if (errors & ~win::CE_BREAK)
                events |= win::EV_ERR;
            countsAtWait_ = now;
        }
        return events;
    }

    std::string linkFolder_;
    int fd_ = -1;
    int wakePipe_[2] = {-1, -1};
    CommTimeouts timeouts_;
    std::atomic<std::uint32_t> eventMask_{0};
    std::atomic<bool> cancel_{false};
    std::atomic<bool> txEmpty_{false};
    // Bytes read or discarded since acquire, so the waiting thread can tell new arrivals
    // from bytes that simply have not been read yet.
    std::atomic<std::uint64_t> readTotal_{0};
    std::atomic<std::uint64_t> arrivedAtWait_{0};
    LineCounts countsAtClear_, countsAtWait_;
    int modemAtWait_ = 0;
    bool modemLinesPresent_ = false;
    bool countsPresent_ = false;
};

} // namespace

std::unique_ptr<ComDevice> CreatePlatformDevice() { return CreatePlatformDevice(std::string()); }

std::unique_ptr<ComDevice> CreatePlatformDevice(const std::string& linkFolder) {
    return std::make_unique<PosixComDevice>(linkFolder);
}

} // namespace veldar
