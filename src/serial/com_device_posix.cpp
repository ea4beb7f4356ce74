// The serial device on POSIX systems (termios and ioctl), giving the port object the
// behaviour it has on Windows: exclusive open, settings applied at once without flushing,
// reads that return at once with what has arrived, writes that block until the bytes are
// sent or the write time-out expires, and line events reported as the Windows mask bits.
//
// Like a Windows driver, the device keeps its own input queue: whoever looks at the line
// (a read, an input count, the event wait) first moves what the kernel holds into it. So
// the event wait sees each byte arrive exactly once: bytes left unread raise nothing more,
// a new byte does, and the event character and the 80 % mark are checked on new bytes.
#include "com_device.h"
#include "custom_baud.h"
#include "low_latency.h"
#include "port_errors.h"
#include "port_names.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace veldar {

namespace {

using Clock = std::chrono::steady_clock;

// A device without modem lines (a pseudo-terminal) answers these; that is not an error.
bool NoModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

// Modem lines and line errors have no wake-up of their own that a stop request can
// interrupt, so the wait looks at them this often, on drivers that have them.
constexpr int LineLookMs = 50;

// The queue holds the port's input size, as a Windows driver's does: beyond it the bytes
// that come in are lost and reported as an overrun, so a flood of noise is drained in a few
// reads and a fresh answer gets through. Bounded on both sides whatever size is asked for.
constexpr std::size_t MinQueued = 16;
constexpr std::size_t MaxQueued = 1 << 20;

// How long a write that waits for the output queue to empty sleeps between two looks.
constexpr int DrainLookMs = 2;

speed_t StandardSpeed(std::uint32_t rate) {
    switch (rate) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
#ifdef B230400
    case 230400:
        return B230400;
#endif
    default:
        return B0;
    }
}

// Raw termios from the line-settings record; the speed is left to the caller.
void FillTermios(termios& tio, const Dcb& dcb) {
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
    if (dcb.Has(Dcb::fParity)) tio.c_iflag |= INPCK;
    if (dcb.Has(Dcb::fOutX)) tio.c_iflag |= IXON;
    if (dcb.Has(Dcb::fInX)) tio.c_iflag |= IXOFF;
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | HUPCL | CRTSCTS);
#ifdef CMSPAR
    tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    tio.c_cflag |= CLOCAL | CREAD;
    switch (dcb.ByteSize) {
    case 5:
        tio.c_cflag |= CS5;
        break;
    case 6:
        tio.c_cflag |= CS6;
        break;
    case 7:
        tio.c_cflag |= CS7;
        break;
    default:
        tio.c_cflag |= CS8;
        break;
    }
    switch (dcb.Parity) {
    case 1:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        tio.c_cflag |= PARENB;
        break;
#ifdef CMSPAR
    case 3:
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 4:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
#endif
    default:
        break;
    }
    if (dcb.StopBits != 0) tio.c_cflag |= CSTOPB;
    if (dcb.Has(Dcb::fOutxCtsFlow) || dcb.RtsControl() == 2) tio.c_cflag |= CRTSCTS;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
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

// Interrupt and error counters of the driver, where it keeps them.
struct LineCounts {
    int cts = 0, dsr = 0, rng = 0, dcd = 0;
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};

class PosixComDevice : public ComDevice {
public:
    PosixComDevice(std::string linkFolder, const SerialFlagsCalls& flags)
        : linkFolder_(std::move(linkFolder)), lowLatency_(flags) {
        OpenPipe(wakePipe_);
        OpenPipe(inputPipe_);
    }

    ~PosixComDevice() override {
        Release();
        for (int fd : {wakePipe_[0], wakePipe_[1], inputPipe_[0], inputPipe_[1]})
            if (fd >= 0) close(fd);
    }

    int Acquire(const std::string& portName) override {
        std::lock_guard lock(mutex_);
        if (fd_ >= 0) return EBUSY;
        std::string folder = linkFolder_.empty() ? ExecutableFolder() : linkFolder_;
        std::string path = ResolvePortPath(portName, folder);
        int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return errno;
        int error = 0;
        if (!isatty(fd)) error = ENOTTY;
        // One program at a time, as on Windows: the lock stops everyone, TIOCEXCL all but
        // root.
        else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
            error = (errno == EWOULDBLOCK) ? EBUSY : errno;
        if (error) {
            close(fd);
            return error;
        }
        ioctl(fd, TIOCEXCL);
        lowLatency_.Set(fd);
        fd_ = fd;
        queue_.clear();
        hungUp_ = 0;
        lineErrors_ = pending_ = 0;
        int bits = 0;
        modemLevels_ = ioctl(fd_, TIOCMGET, &bits) == 0;
        modemBits_ = bits;
#ifdef TIOCGICOUNT
        serial_icounter_struct ic{};
        counters_ = ioctl(fd_, TIOCGICOUNT, &ic) == 0;
#endif
        counts_ = ReadCounts();
        return 0;
    }

    void Release() override {
        std::lock_guard lock(mutex_);
        if (fd_ < 0) return;
        // The exclusive mark outlives this descriptor while anyone else holds the terminal.
        ioctl(fd_, TIOCNXCL);
        lowLatency_.Restore(fd_);
        close(fd_);
        fd_ = -1;
        queue_.clear();
    }

    bool IsAcquired() const override {
        std::lock_guard lock(mutex_);
        return fd_ >= 0;
    }

    int SetupBuffers(std::uint32_t inputSize, std::uint32_t) override {
        std::lock_guard lock(mutex_);
        if (fd_ < 0) return EBADF;
        // The kernel's buffers have a fixed size; the input size sets the 80 % mark.
        inputSize_ = inputSize;
        return 0;
    }

    int SetState(const Dcb& dcb) override {
        std::lock_guard lock(mutex_);
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0) return errno;
        FillTermios(tio, dcb);
        speed_t speed = StandardSpeed(dcb.BaudRate);
        if (speed != B0) {
#ifdef CIBAUD
            // A custom speed set the input speed apart; cleared, it follows the output speed
            // again (glibc's cfsetispeed leaves it).
            tio.c_cflag &= ~static_cast<tcflag_t>(CIBAUD);
#endif
            cfsetispeed(&tio, speed);
            cfsetospeed(&tio, speed);
        }
        // At once and without flushing: a change in the middle of a probe must not discard
        // the device's answer.
        if (tcsetattr(fd_, TCSANOW, &tio) != 0) return errno;
        if (speed == B0) {
#ifdef __linux__
            if (int e = SetCustomBaudRate(fd_, dcb.BaudRate)) return e;
#else
            return EINVAL;
#endif
        }
        eventChar_ = static_cast<char>(dcb.EvtChar);
        unsigned dtr = dcb.DtrControl(), rts = dcb.RtsControl();
        if (int e = SetModemLine(TIOCM_DTR, dtr == 1 || dtr == 2)) return e;
        return SetModemLine(TIOCM_RTS, rts == 1 || rts == 2);
    }

    int SetTimeouts(const CommTimeouts& timeouts) override {
        std::lock_guard lock(mutex_);
        if (fd_ < 0) return EBADF;
        // Reads always return at once with what has arrived; only the write limits matter.
        timeouts_ = timeouts;
        return 0;
    }

    int Purge(std::uint32_t flags) override {
        std::lock_guard lock(mutex_);
        if (fd_ < 0) return EBADF;
        // Reads and writes are never left in flight between calls, so there is nothing to
        // abort; clearing empties the kernel's queues and ours.
        if (flags & win::PURGE_RXCLEAR) {
            if (tcflush(fd_, TCIFLUSH) != 0) return errno;
            queue_.clear();
        }
        if ((flags & win::PURGE_TXCLEAR) && tcflush(fd_, TCOFLUSH) != 0) return errno;
        return 0;
    }

    int ClearError(std::uint32_t& errors, std::uint32_t& inputCount) override {
        std::lock_guard lock(mutex_);
        if (fd_ < 0) return EBADF;
        if (Pull(true) && queue_.empty()) return hungUp_;
        LookAtLines();
        errors = std::exchange(lineErrors_, 0u);
        inputCount = static_cast<std::uint32_t>(queue_.size());
        return 0;
    }

    int GetModemStatus(std::uint32_t& status) override {
        std::lock_guard lock(mutex_);
        int bits = 0;
        if (ioctl(fd_, TIOCMGET, &bits) != 0) {
            if (fd_ >= 0 && NoModemLines(errno)) {
                status = 0;
                return 0;
            }
            return errno;
        }
        status =
            ((bits & TIOCM_CTS) ? win::MS_CTS_ON : 0) | ((bits & TIOCM_DSR) ? win::MS_DSR_ON : 0) |
            ((bits & TIOCM_RNG) ? win::MS_RING_ON : 0) | ((bits & TIOCM_CAR) ? win::MS_RLSD_ON : 0);
        return 0;
    }

    std::unique_ptr<DeviceIo> NewIo() override {
        return std::make_unique<PosixIo>();
    }

    int StartWrite(DeviceIo& io, const std::uint8_t* data, std::uint32_t count) override {
        std::lock_guard lock(mutex_);
        if (fd_ < 0) return EBADF;
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
        std::lock_guard lock(mutex_);
        if (fd_ < 0) return EBADF;
        if (Pull(true) && queue_.empty()) return hungUp_;
        auto& pio = static_cast<PosixIo&>(io);
        pio.kind = PosixIo::Read;
        auto n = std::min<std::size_t>(count, queue_.size());
        std::memcpy(buffer, queue_.data(), n);
        queue_.erase(0, n);
        pio.done = static_cast<std::uint32_t>(n);
        return 0;
    }

    int WaitIo(DeviceIo& io, std::uint32_t& done) override {
        auto& pio = static_cast<PosixIo&>(io);
        if (pio.kind == PosixIo::Write)
            if (int e = FinishWrite(pio)) return e;
        done = pio.done;
        return 0;
    }

    int WaitForInput(std::uint8_t byte, int milliseconds, const StopEvent* stop,
                     bool& found) override {
        found = false;
        int result = WaitForInputUntil(byte, Clock::now() + std::chrono::milliseconds(milliseconds),
                                       stop, found);
        std::lock_guard lock(mutex_);
        inputAwaited_ = -1;
        return result;
    }

    int SetEventMask(std::uint32_t mask) override {
        std::lock_guard lock(mutex_);
        if (fd_ < 0) return EBADF;
        mask_ = mask;
        pending_ = 0;
        return 0;
    }

    int WaitEvent(std::uint32_t& events, const StopEvent& stop) override {
        while (true) {
            int fd;
            bool lookAtLines;
            {
                std::lock_guard lock(mutex_);
                if (stop.IsSet()) return WaitStopped;
                if (fd_ < 0) return EBADF;
                int hangUp = Pull(false);
                LookAtLines();
                if (pending_ & mask_) {
                    events = std::exchange(pending_, 0u) & mask_;
                    return 0;
                }
                if (hangUp) return hangUp;
                fd = fd_;
                lookAtLines = (counters_ || modemLevels_) &&
                              (mask_ & (win::EV_CTS | win::EV_DSR | win::EV_RLSD | win::EV_RING |
                                        win::EV_ERR | win::EV_BREAK));
            }
            pollfd fds[3] = {
                {stop.NativeDescriptor(), POLLIN, 0}, {wakePipe_[0], POLLIN, 0}, {fd, POLLIN, 0}};
            int r = poll(fds, 3, lookAtLines ? LineLookMs : -1);
            ++wakeUps_;
            if (r < 0 && errno != EINTR) return errno;
            if (fds[1].revents & POLLIN) DrainPipe(wakePipe_[0]);
        }
    }

    bool IsLost(int error) const override {
        return IsLostPosixError(error);
    }

    std::uint64_t WaitWakeUps() const override {
        return wakeUps_;
    }

private:
    // The input wait's loop; inputAwaited_ may be left set, the caller clears it.
    int WaitForInputUntil(std::uint8_t byte, Clock::time_point deadline, const StopEvent* stop,
                          bool& found) {
        while (true) {
            int fd;
            {
                std::lock_guard lock(mutex_);
                if (fd_ < 0) return EBADF;
                DrainPipe(inputPipe_[0]);
                inputAwaited_ = -1;
                if (stop && stop->IsSet()) return WaitStopped;
                int hangUp = Pull(true);
                if (std::memchr(queue_.data(), byte, queue_.size())) {
                    found = true;
                    return 0;
                }
                if (hangUp) return hangUp;
                // From here the event thread's pulls tell this wait of the byte.
                inputAwaited_ = byte;
                fd = fd_;
            }
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return 0;
            pollfd fds[3] = {{inputPipe_[0], POLLIN, 0},
                             {fd, POLLIN, 0},
                             {stop ? stop->NativeDescriptor() : -1, POLLIN, 0}};
            int r = poll(fds, 3, static_cast<int>(left.count()));
            if (r < 0 && errno != EINTR) return errno;
            if (r != 0) ++wakeUps_;
        }
    }

    static void OpenPipe(int (&ends)[2]) {
        if (pipe(ends) != 0) return;
        for (int fd : ends) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }

    static void DrainPipe(int fd) {
        char drain[64];
        while (read(fd, drain, sizeof drain) > 0) {
        }
    }

    static void Poke(int fd) {
        char one = 1;
        [[maybe_unused]] auto r = write(fd, &one, 1);
    }

    void Wake() {
        Poke(wakePipe_[1]);
    }

    // Records events of the mask; the wait reports them once each. Lock held.
    void Occurred(std::uint32_t events) {
        pending_ |= events & mask_;
    }

    // Moves what the kernel has received into the queue and records the events of the new
    // bytes. Returns the error of a line that has hung up, else 0. Called by the user-
    // interface thread (wake: the waiting thread must look at the new bytes) or by the
    // waiting thread itself. Lock held.
    int Pull(bool wake) {
        if (hungUp_) return hungUp_;
        std::size_t before = queue_.size();
        bool lost = false;
        char buf[4096];
        while (true) {
            ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0) {
                const std::size_t limit = std::clamp<std::size_t>(inputSize_, MinQueued, MaxQueued);
                std::size_t room = limit - std::min(limit, queue_.size());
                std::size_t take = std::min(room, static_cast<std::size_t>(n));
                queue_.append(buf, take);
                lost = lost || take < static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                hungUp_ = errno;
            } else if (n == 0) {
                // A raw terminal answers 0 both when nothing waits and after a hang-up.
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR))) hungUp_ = EIO;
            }
            break;
        }
        if (lost) {
            lineErrors_ |= win::CE_RXOVER;
            Occurred(win::EV_ERR);
        }
        if (queue_.size() > before) {
            std::uint32_t events = win::EV_RXCHAR;
            if (std::memchr(queue_.data() + before, eventChar_, queue_.size() - before))
                events |= win::EV_RXFLAG;
            std::size_t mark = inputSize_ * 8 / 10;
            if (before < mark && queue_.size() >= mark) events |= win::EV_RX80FULL;
            Occurred(events);
            if (wake && (pending_ & mask_)) Wake();
            // Another thread's pull may bring the byte an input wait is waiting for.
            if (inputAwaited_ >= 0 &&
                std::memchr(queue_.data() + before, inputAwaited_, queue_.size() - before))
                Poke(inputPipe_[1]);
        }
        return hungUp_;
    }

    LineCounts ReadCounts() {
        LineCounts c;
#ifdef TIOCGICOUNT
        serial_icounter_struct ic{};
        if (counters_ && ioctl(fd_, TIOCGICOUNT, &ic) == 0)
            c = {ic.cts,     ic.dsr,    ic.rng, ic.dcd,        ic.frame,
                 ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
#endif
        return c;
    }

    // Modem-line changes, breaks and line errors since the last look. With the driver's
    // counters a pulse that is already over still counts; with levels alone it may not.
    // Lock held.
    void LookAtLines() {
        std::uint32_t events = 0;
        if (counters_) {
            LineCounts now = ReadCounts();
            if (now.cts != counts_.cts) events |= win::EV_CTS;
            if (now.dsr != counts_.dsr) events |= win::EV_DSR;
            if (now.dcd != counts_.dcd) events |= win::EV_RLSD;
            if (now.rng != counts_.rng) events |= win::EV_RING;
            std::uint32_t errors = (now.frame != counts_.frame ? win::CE_FRAME : 0) |
                                   (now.overrun != counts_.overrun ? win::CE_OVERRUN : 0) |
                                   (now.parity != counts_.parity ? win::CE_RXPARITY : 0) |
                                   (now.bufOverrun != counts_.bufOverrun ? win::CE_RXOVER : 0);
            if (now.brk != counts_.brk) {
                errors |= win::CE_BREAK;
                events |= win::EV_BREAK;
            }
            if (errors & ~win::CE_BREAK) events |= win::EV_ERR;
            lineErrors_ |= errors;
            counts_ = now;
        } else if (modemLevels_) {
            int now = 0;
            if (ioctl(fd_, TIOCMGET, &now) == 0) {
                int changed = modemBits_ ^ now;
                if (changed & TIOCM_CTS) events |= win::EV_CTS;
                if (changed & TIOCM_DSR) events |= win::EV_DSR;
                if (changed & TIOCM_CAR) events |= win::EV_RLSD;
                if ((changed & TIOCM_RNG) && (now & TIOCM_RNG)) events |= win::EV_RING;
                modemBits_ = now;
            }
        }
        Occurred(events);
    }

    int SetModemLine(int line, bool on) {
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) != 0 && !NoModemLines(errno)) return errno;
        return 0;
    }

    // Lock held.
    int WriteSome(PosixIo& pio) {
        while (pio.done < pio.count) {
            ssize_t n = write(fd_, pio.data + pio.done, pio.count - pio.done);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
                if (errno == EINTR) continue;
                return errno;
            }
            pio.done += static_cast<std::uint32_t>(n);
        }
        return 0;
    }

    static int RemainingMs(const PosixIo& pio) {
        if (!pio.hasDeadline) return -1;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(pio.deadline - Clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }

    // Blocks until every byte has left the line or the deadline has passed; then done is the
    // number of bytes that went out and the rest is dropped, as a timed-out write on Windows.
    int FinishWrite(PosixIo& pio) {
        std::unique_lock lock(mutex_);
        if (fd_ < 0) return EBADF;
        int fd = fd_;
        while (pio.done < pio.count) {
            int left = RemainingMs(pio);
            if (left == 0) break;
            lock.unlock();
            pollfd p{fd, POLLOUT, 0};
            int r = poll(&p, 1, left);
            lock.lock();
            if (r < 0 && errno != EINTR) return errno;
            if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return EIO;
            if (int e = WriteSome(pio)) return e;
        }
        int queued = 0;
        while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
            // Without a total time-out (both write values 0) the write lasts until the bytes
            // are sent, as on Windows.
            int left = RemainingMs(pio);
            if (left == 0) break;
            // tcdrain cannot be given a time limit, so the queue is watched instead.
            int pause = left < 0 ? DrainLookMs : std::min(left, DrainLookMs);
            lock.unlock();
            usleep(static_cast<useconds_t>(pause) * 1000);
            lock.lock();
        }
        if (queued > 0) {
            tcflush(fd, TCOFLUSH);
            pio.done -= std::min(pio.done, static_cast<std::uint32_t>(queued));
        }
        if (pio.count > 0) {
            Occurred(win::EV_TXEMPTY);
            Wake();
        }
        return 0;
    }

    std::string linkFolder_;
    mutable std::mutex mutex_;
    int fd_ = -1;
    LowLatency lowLatency_;
    int wakePipe_[2] = {-1, -1};
    // Tells an input wait that another thread queued the byte it waits for (-1: none).
    int inputPipe_[2] = {-1, -1};
    int inputAwaited_ = -1;
    CommTimeouts timeouts_;
    std::uint32_t inputSize_ = 4096;
    char eventChar_ = 0;
    ByteString queue_;
    int hungUp_ = 0;
    std::uint32_t lineErrors_ = 0;
    std::uint32_t mask_ = 0;
    std::uint32_t pending_ = 0;
    bool counters_ = false;
    bool modemLevels_ = false;
    int modemBits_ = 0;
    LineCounts counts_;
    std::atomic<std::uint64_t> wakeUps_{0};
};

} // namespace

std::unique_ptr<ComDevice> CreatePlatformDevice() {
    return CreatePlatformDevice(std::string());
}

std::unique_ptr<ComDevice> CreatePlatformDevice(const std::string& linkFolder) {
    return CreatePosixDevice(linkFolder, SystemSerialFlagsCalls());
}

std::unique_ptr<ComDevice> CreatePosixDevice(const std::string& linkFolder,
                                             const SerialFlagsCalls& calls) {
    return std::make_unique<PosixComDevice>(linkFolder, calls);
}

} // namespace veldar
