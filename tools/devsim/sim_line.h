// The simulator's end of the line to the program: a pseudo-terminal it creates (the program
// opens the terminal side, through a COMn link when one is asked for) or a serial device it
// opens raw.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace veldar::devsim {

class SimLine {
public:
    // Creates a pseudo-terminal; with a link path, points a link there at its terminal side
    // (replacing an earlier link, never another kind of file). Its terminal side is never
    // named notPath. Throws std::runtime_error.
    static std::unique_ptr<SimLine> CreatePty(const std::string& linkPath,
                                              const std::string& notPath = {});
    // Opens a serial device raw at the device's speed. Throws std::runtime_error.
    static std::unique_ptr<SimLine> OpenDevice(const std::string& path, std::uint32_t baud);

    // Closes the line and removes the link.
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Where the device reads and writes; non-blocking. -1 once hung up.
    int Fd() const { return fd_; }
    // The terminal side's path, or the device's.
    const std::string& Path() const { return path_; }
    bool IsPty() const { return slave_ >= 0; }

    // Readable when someone closed the terminal side of the pseudo-terminal; -1 when not
    // watched. OnClosed then does what the last close of a terminal would, had we not held
    // it: unread input is dropped and the program may open it again.
    int CloseWatchFd() const { return watch_; }
    void OnClosed();

    // The speed the bytes just read were sent at, as far as this line can tell. On a
    // pseudo-terminal: the speed the program has set on its side now. On a real device: our
    // own port's speed (bytes sent at another speed arrive garbled, as at the device).
    std::uint32_t ProgramSpeed() const;
    // The device changed speed (wake-up): a real device's port follows.
    void FollowDeviceSpeed(std::uint32_t baud);

    // The device hangs up: on a pseudo-terminal, the program reads errors from now on.
    void HangUp();

private:
    SimLine() = default;
    void Close();

    int fd_ = -1;
    // Held open for the whole run: when the last holder of the terminal side closes it, the
    // line hangs up, and a program that closes and reopens its port would find it dead.
    int slave_ = -1;
    int watch_ = -1;
    std::string path_;
    std::string link_;
    std::uint32_t deviceSpeed_ = 0;
};

} // namespace veldar::devsim
