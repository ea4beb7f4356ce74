// veldar-devsim: the field device in real time on the far end of a serial line. The device
// itself is the model of device_model.h; this program feeds it what the program sends, with
// the speed the program sent it at, and puts its answers on the line when they are due.
// See --help (devsim_options.cpp) for the options.
#include "devsim_options.h"
#include "sim_line.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

using namespace veldar::devsim;
using veldar::ByteString;

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

constexpr char KickByte = '?';
// A kick waits for this much quiet on the line, so that it does not land in the program's
// probing or wake-up, or in the middle of a dump.
constexpr std::int64_t KickQuietUs = 300000;
// Paced bytes go out in slices this long, so the wait does not wake for every byte.
constexpr std::int64_t PacingSliceUs = 1000;

std::string Escaped(const ByteString& bytes) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string text;
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\\')
            text += "\\\\";
        else if (b >= 0x20 && b < 0x7F)
            text += c;
        else
            text += {'\\', 'x', Hex[b >> 4], Hex[b & 15]};
    }
    return text;
}

// The device's output on its way to the line: by default at the device's speed, about 10
// bits a byte (start, 8 data, stop), as its serial port would send it. Unpaced, it is also
// what the adapter released and the line has not taken yet.
class Pacer {
public:
    explicit Pacer(bool paced) : paced_(paced) {}

    void Add(const ByteString& bytes) { pending_ += bytes; }
    bool Empty() const { return pending_.empty(); }
    // The line took nothing at the last try: wait until it is writable.
    bool Blocked() const { return blocked_; }
    // When the next bytes are due (when not empty nor blocked).
    std::int64_t NextUs() const { return paced_ ? freeAtUs_ - PacingSliceUs : 0; }

    // Writes what is due at nowUs through sink (write's contract); returns the number of
    // bytes written, or -1 (errno set).
    template <typename Sink> ssize_t Write(Sink&& sink, std::int64_t nowUs, std::uint32_t baud) {
        if (pending_.empty()) return 0;
        std::size_t count = pending_.size();
        std::int64_t byteUs = 0;
        if (paced_) {
            byteUs = std::max<std::int64_t>(1, 10000000 / std::max<std::uint32_t>(baud, 1));
            freeAtUs_ = std::max(freeAtUs_, nowUs);
            std::int64_t ahead = nowUs + PacingSliceUs - freeAtUs_;
            if (ahead < 0) return 0;
            count = std::min(count, static_cast<std::size_t>(ahead / byteUs + 1));
        }
        ssize_t n = sink(pending_.data(), count);
        if (n < 0) {
            blocked_ = errno == EAGAIN;
            return errno == EAGAIN || errno == EINTR ? 0 : -1;
        }
        blocked_ = false;
        pending_.erase(0, static_cast<std::size_t>(n));
        freeAtUs_ += n * byteUs;
        return n;
    }

private:
    bool paced_;
    ByteString pending_;
    std::int64_t freeAtUs_ = 0;
    bool blocked_ = false;
};

enum class End { DumpsDone, TimedOut, HungUp, Interrupted, LineError };

// A pseudo-terminal (linked as COMn when asked) or the serial device. Throws
// std::runtime_error. A pseudo-terminal is never named notPath.
std::unique_ptr<SimLine> OpenLine(const DevsimOptions& o, const std::string& notPath = {}) {
    if (!o.devicePath.empty()) return SimLine::OpenDevice(o.devicePath, o.device.baud);
    return SimLine::CreatePty(
        o.linkDir.empty() ? std::string() : o.linkDir + "/COM" + std::to_string(o.com), notPath);
}

// With a return and N = 0, the simulator itself unplugs at once: the device is not to
// hang up on a request.
DeviceConfig ModelConfig(const DevsimOptions& o) {
    DeviceConfig config = o.device;
    if (o.backAfterMs && config.hangUpAfterRecords == 0) config.hangUpAfterRecords.reset();
    return config;
}

class Simulator {
public:
    Simulator(const DevsimOptions& options, std::unique_ptr<SimLine> line)
        : o_(options), line_(std::move(line)), model_(ModelConfig(options)), pacer_(options.pacing),
          start_(std::chrono::steady_clock::now()) {
        if (o_.kick) kickAtUs_ = o_.kickDelayMs * 1000;
        if (o_.adapter) adapter_.emplace(*o_.adapter);
        unplugNow_ = o_.backAfterMs && o_.device.hangUpAfterRecords == 0;
    }

    // Runs until the dumps are done or something else ends the run; signals stay blocked
    // except while waiting (waitMask).
    End Run(const sigset_t& waitMask) {
        while (true) {
            std::int64_t now = NowUs();
            if (stopRequested) return End::Interrupted;
            if (o_.timeoutMs > 0 && now >= o_.timeoutMs * 1000) return End::TimedOut;
            if (!line_) {
                if (now < backAtUs_) {
                    if (!Wait(WakeUpUs(), waitMask)) return End::LineError;
                    continue;
                }
                ComeBack(now);
            }
            if (!unplugNow_) Send(now);
            if ((unplugNow_ || model_.HungUp()) && OutputEmpty()) {
                if (!o_.backAfterMs) {
                    line_->HangUp();
                    return End::HungUp;
                }
                Unplug(now);
                continue;
            }
            if (model_.Stats().dumpsCompleted >= o_.dumps && OutputEmpty()) return End::DumpsDone;
            if (!Wait(WakeUpUs(), waitMask)) return End::LineError;
        }
    }

    // Closes the line and removes its link.
    void CloseLine() { line_.reset(); }

    const DeviceModel& Model() const { return model_; }
    const std::string& Failure() const { return failure_; }

private:
    std::int64_t NowUs() const {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

    void Log(std::int64_t nowUs, const std::string& what, const ByteString& bytes,
             bool evenQuiet = false) {
        if (o_.quiet && !evenQuiet) return;
        std::printf("[%9.3f] %s: %s\n", static_cast<double>(nowUs) / 1e6, what.c_str(),
                    Escaped(bytes).c_str());
        std::fflush(stdout);
    }

    // Takes what the device has due, adds a kick when one is due, and writes what the pace
    // allows.
    void Send(std::int64_t now) {
        ByteString due = model_.TakeDue(now / 1000);
        if (!due.empty()) {
            Log(now, "tx", due);
            pacer_.Add(due);
        }
        if (kickAtUs_ && now >= *kickAtUs_) {
            if (OutputEmpty() && now - lastTrafficUs_ >= KickQuietUs) {
                Log(now, "tx (kick)", ByteString(1, KickByte));
                pacer_.Add(ByteString(1, KickByte));
                kickAtUs_.reset();
                if (o_.kickEveryMs) kickAtUs_ = now + *o_.kickEveryMs * 1000;
            } else {
                kickAtUs_ = (OutputEmpty() ? lastTrafficUs_ : now) + KickQuietUs;
            }
        }
        const int fd = line_->Fd();
        auto toLine = [fd](const char* bytes, std::size_t count) {
            return write(fd, bytes, count);
        };
        ssize_t n = 0;
        if (adapter_) {
            // Paced into the adapter, which holds them; what it lets go goes to the line.
            pacer_.Write(
                [&](const char* bytes, std::size_t count) {
                    adapter_->Add(ByteString(bytes, count), now);
                    return static_cast<ssize_t>(count);
                },
                now, model_.CurrentBaud());
            released_.Add(adapter_->Take(now));
            n = released_.Write(toLine, now, 0);
        } else {
            n = pacer_.Write(toLine, now, model_.CurrentBaud());
        }
        if (n < 0) throw std::runtime_error(std::string("write: ") + std::strerror(errno));
        if (n > 0) lastTrafficUs_ = now;
    }

    bool OutputEmpty() const {
        return pacer_.Empty() && (!adapter_ || (adapter_->Empty() && released_.Empty()));
    }

    // The line is only blocked where it is written to.
    bool LineBlocked() const { return adapter_ ? released_.Blocked() : pacer_.Blocked(); }

    std::int64_t WakeUpUs() const {
        std::int64_t at = std::numeric_limits<std::int64_t>::max();
        if (o_.timeoutMs > 0) at = std::min(at, o_.timeoutMs * 1000);
        if (!line_) return std::min(at, backAtUs_);
        if (auto next = model_.NextDue()) at = std::min(at, *next * 1000);
        if (!pacer_.Empty() && !pacer_.Blocked()) at = std::min(at, pacer_.NextUs());
        if (adapter_) {
            if (auto deadline = adapter_->DeadlineUs()) at = std::min(at, *deadline);
            if (!released_.Empty() && !released_.Blocked()) at = std::min(at, released_.NextUs());
        }
        if (kickAtUs_) at = std::min(at, *kickAtUs_);
        return at;
    }

    // The hang-up with a return: the link goes, the pseudo-terminal closes, and the line
    // comes back later.
    void Unplug(std::int64_t now) {
        lastPath_ = line_->Path();
        line_.reset();
        unplugNow_ = false;
        backAtUs_ = now + *o_.backAfterMs * 1000;
        Log(now, "unplugged", "link removed, back in " + std::to_string(*o_.backAfterMs) + " ms",
            true);
    }

    // A new line behind the same link; the device serves as it did at the start. Like a
    // replugged adapter that comes back as another ttyUSBn, the pseudo-terminal gets another
    // name: a program holding on to the old path finds nothing there.
    void ComeBack(std::int64_t now) {
        line_ = OpenLine(o_, lastPath_);
        model_.Reconnect(now / 1000);
        if (o_.kick) kickAtUs_ = now + o_.kickDelayMs * 1000;
        Log(now, "back", line_->Path(), true);
    }

    // Waits until wakeUpUs, a signal, or bytes from the program, which go to the model at
    // the speed the program has set at this moment. False when the line failed.
    bool Wait(std::int64_t wakeUpUs, const sigset_t& waitMask) {
        // Away (unplugged), only the time and the signals can wake us.
        pollfd fds[2] = {{line_ ? line_->Fd() : -1,
                          static_cast<short>(POLLIN | (LineBlocked() ? POLLOUT : 0)), 0},
                         {line_ ? line_->CloseWatchFd() : -1, POLLIN, 0}};
        nfds_t count = !line_ ? 0 : line_->CloseWatchFd() >= 0 ? 2 : 1;
        timespec timeout{};
        timespec* limit = nullptr;
        if (wakeUpUs != std::numeric_limits<std::int64_t>::max()) {
            std::int64_t us = std::max<std::int64_t>(0, wakeUpUs - NowUs());
            timeout.tv_sec = static_cast<time_t>(us / 1000000);
            timeout.tv_nsec = static_cast<long>(us % 1000000 * 1000);
            limit = &timeout;
        }
        if (ppoll(fds, count, limit, &waitMask) < 0) {
            if (errno == EINTR) return true;
            return Failed("poll");
        }
        if (count == 2 && (fds[1].revents & POLLIN)) {
            line_->OnClosed();
            Log(NowUs(), "closed", "the terminal side, unread input dropped");
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) return true;

        ByteString received;
        char buffer[4096];
        while (true) {
            ssize_t n = read(line_->Fd(), buffer, sizeof buffer);
            if (n > 0) {
                received.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) return Failed("read");
            break;
        }
        if (received.empty()) {
            // Readable, yet nothing came: the line is gone.
            if (fds[0].revents & (POLLHUP | POLLERR)) return Failed("line closed", 0);
            return true;
        }
        std::int64_t now = NowUs();
        std::uint32_t speed = line_->ProgramSpeed();
        Log(now, "rx @" + std::to_string(speed), received);
        // The program's RTS cannot be seen from here (on a pseudo-terminal not at all): taken
        // as low.
        model_.Receive(received, speed, false, now / 1000);
        lastTrafficUs_ = now;
        line_->FollowDeviceSpeed(model_.CurrentBaud());
        return true;
    }

    bool Failed(const std::string& what, int error = errno) {
        failure_ = error ? what + ": " + std::strerror(error) : what;
        return false;
    }

    const DevsimOptions& o_;
    // None while unplugged.
    std::unique_ptr<SimLine> line_;
    DeviceModel model_;
    Pacer pacer_;
    std::optional<UsbAdapter> adapter_;
    Pacer released_{false};
    bool unplugNow_ = false;
    std::int64_t backAtUs_ = 0;
    std::string lastPath_;
    const std::chrono::steady_clock::time_point start_;
    std::optional<std::int64_t> kickAtUs_;
    // Nothing yet: a kick may go at once.
    std::int64_t lastTrafficUs_ = -KickQuietUs;
    std::string failure_;
};

std::string FormatSeconds(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms) / 1000);
    return text;
}

std::string EndText(End end, const DevsimOptions& o, const std::string& failure) {
    switch (end) {
    case End::DumpsDone:
        return "dumps done";
    case End::TimedOut:
        return "timed out after " + FormatSeconds(o.timeoutMs);
    case End::HungUp:
        return "hung up (fault)";
    case End::Interrupted:
        return "interrupted";
    case End::LineError:
        return "line error: " + failure;
    }
    return {};
}

int Run(const DevsimOptions& o) {
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A reader of our output that went away must not end us before the link is removed.
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<SimLine> line;
    try {
        line = OpenLine(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "veldar-devsim: %s\n", e.what());
        return 1;
    }
    std::printf("%s: %s\n", line->IsPty() ? "slave" : "device", line->Path().c_str());
    std::fflush(stdout);

    Simulator simulator(o, std::move(line));
    End end;
    std::string failure;
    try {
        end = simulator.Run(waitMask);
        failure = simulator.Failure();
    } catch (const std::exception& e) {
        end = End::LineError;
        failure = e.what();
    }
    simulator.CloseLine();

    const auto& stats = simulator.Model().Stats();
    std::printf("--- summary\n%s", simulator.Model().Summary().c_str());
    std::printf("dumps wanted %d, completed %d: %s\n", o.dumps, stats.dumpsCompleted,
                EndText(end, o, failure).c_str());
    std::fflush(stdout);
    return end == End::DumpsDone ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    DevsimOptions options;
    std::string error;
    switch (ParseDevsimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    case ParseOutcome::Help:
        std::fputs(DevsimUsage, stdout);
        return 0;
    case ParseOutcome::BadUsage:
        std::fprintf(stderr, "veldar-devsim: %s (see --help)\n", error.c_str());
        return 2;
    case ParseOutcome::Run:
        break;
    }
    return Run(options);
}
