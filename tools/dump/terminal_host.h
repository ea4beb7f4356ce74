// The dump engine's host on a terminal: status and log printed, progress shown on a
// terminal, real sleeps, a typed name asked on the terminal (or the clock's name when there
// is none), and port events run from the serial hand-over queue.
#pragma once

#include "dump_options.h"
#include "dump_pump.h"
#include "dump_view.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <vector>

namespace veldar {

struct TerminalOptions {
    SaveChoices Choices;
    bool Quiet = false;
};

class TerminalHost : public DumpView, public DumpPump {
public:
    TerminalHost(TerminalOptions options, const std::atomic<bool>& stop);

    // Where the typed name goes (the engine's NameConfirmed).
    std::function<void(const ByteString&)> OnName;
    // The options of every run: the command line's choices and the program's folders.
    DumpOptions Options() const;

    void SetStatus(const ByteString& caption) override;
    void AddLogLine(const ByteString& line) override;
    void AddPathLogLine(const ByteString& before, const std::filesystem::path& path,
                        const ByteString& after) override;
    void SetProgressPosition(int position) override;
    void SetProgressMax(int maximum) override;
    void ShowMessage(const ByteString& text) override;
    void OpenInAssociatedProgram(const std::filesystem::path& file) override;

    void ProcessMessages() override;
    void WaitForEvent() override;
    void Sleep(int milliseconds) override;
    void WaitForLineEnd(TCustomComPort& port, int milliseconds) override;
    LocalTime Now() override;
    bool StopRequested() const override { return stop_; }

    // Milliseconds spent in the protocol's own sleeps and poll steps since the last reset.
    std::int64_t SleptMs() const { return sleptUs_ / 1000; }
    void ResetSleptMs() { sleptUs_ = 0; }
    // When each progress step was reached (steady clock, ms), for the speed figures.
    const std::vector<std::int64_t>& StepTimes() const { return stepTimes_; }

private:
    // The text with the program's line ends made the terminal's, as UTF-8.
    static std::string Printable(const ByteString& text);
    void Print(const char* prefix, const std::string& printable);
    void ShowProgress();
    void Named(const ByteString& name);

    TerminalOptions options_;
    const std::atomic<bool>& stop_;
    bool terminal_;
    int position_ = 0;
    int maximum_ = 100;
    std::int64_t sleptUs_ = 0;
    std::vector<std::int64_t> stepTimes_;
};

} // namespace veldar
