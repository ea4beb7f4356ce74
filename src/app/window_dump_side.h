// The main window as the dump engine sees it: what a dump shows, and the event loop and
// clock it runs in. Neither reads a widget for the engine.
#pragma once

#include "dump_pump.h"
#include "dump_view.h"

#include <functional>

namespace veldar {

class TfrmMain;

class WindowDumpView final : public DumpView {
public:
    explicit WindowDumpView(TfrmMain& window) : window_(window) {}

    void SetStatus(const ByteString& caption) override;
    void AddLogLine(const ByteString& line) override;
    void AddPathLogLine(const ByteString& before, const std::filesystem::path& path,
                        const ByteString& after) override;
    void ClearLog() override;
    void SetProgressPosition(int position) override;
    void SetProgressMax(int maximum) override;
    void ShowFromTray() override;
    void HideToTray() override;
    void FocusMainWindow() override;
    void Beep() override;
    void ShowMessage(const ByteString& text) override;
    void ShowNamePanel() override;
    void HideNamePanel() override;
    void TakeTrayMenu() override;
    void GiveTrayMenu() override;
    void DestinationSettled(const std::filesystem::path& folder) override;
    void OpenInAssociatedProgram(const std::filesystem::path& file) override;

private:
    TfrmMain& window_;
};

class WindowPump final : public DumpPump {
public:
    WindowPump(const TfrmMain& window, std::function<void(int)> sleepFor,
               std::function<LocalTime()> clock)
        : window_(window), sleepFor_(std::move(sleepFor)), clock_(std::move(clock)) {}

    void Sleep(int milliseconds) override;
    void WaitForLineEnd(TCustomComPort& port, int milliseconds) override;
    void ProcessMessages() override;
    void WaitForEvent() override;
    LocalTime Now() override;
    bool StopRequested() const override;

private:
    const TfrmMain& window_;
    std::function<void(int)> sleepFor_; // a real sleep when empty
    std::function<LocalTime()> clock_;  // the local clock when empty
};

} // namespace veldar
