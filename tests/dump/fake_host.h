// The window and platform as the dump engine sees them, in virtual time: sleeping moves a
// clock and lets the scripted device act; everything shown is recorded.
#pragma once

#include "capture_files.h"
#include "dump_options.h"
#include "dump_pump.h"
#include "dump_view.h"

#include <functional>
#include <string>
#include <vector>

namespace veldar::test {

class FakeHost : public DumpView, public DumpPump {
public:
    // Called with the clock each time time passes or messages are processed.
    std::function<void(std::int64_t nowMs)> OnTime;
    // Called when the engine waits for an event (the name panel is up).
    std::function<void()> OnWaitForEvent;
    // Called after each ProcessMessages (nested events, quit requests...).
    std::function<void()> OnProcessMessages;

    std::int64_t NowMs = LocalTime{2026, 12, 7, 9, 30, 0, 0}.MillisecondsSinceEpoch();
    std::int64_t SleptMs = 0;
    ByteString Status;
    std::vector<ByteString> Log;
    std::vector<std::string> Journal; // window effects in order
    std::vector<ByteString> Messages;
    std::vector<std::filesystem::path> Opened;
    int Position = 0, Maximum = 100;
    bool Stop = false;
    std::filesystem::path ExeFolder = "/exe/", Home = "/home/user/";
    // The user's choices, handed down with the options; the settled destination comes back.
    SaveChoices Choices;
    int WaitsForEvent = 0;

    void SetStatus(const ByteString& caption) override {
        Status = caption;
        Journal.push_back("status " + caption);
    }
    void AddLogLine(const ByteString& line) override { Log.push_back(line); }
    void ClearLog() override {
        Log.clear();
        Journal.push_back("clear log");
    }
    void SetProgressPosition(int position) override { Position = position; }
    void SetProgressMax(int maximum) override { Maximum = maximum; }
    void ShowFromTray() override { Journal.push_back("show"); }
    void HideToTray() override { Journal.push_back("hide"); }
    void FocusMainWindow() override { Journal.push_back("focus"); }
    void ProcessMessages() override {
        Tick();
        if (OnProcessMessages) OnProcessMessages();
    }
    void WaitForEvent() override {
        ++WaitsForEvent;
        if (OnWaitForEvent) OnWaitForEvent();
        Tick();
    }
    void Sleep(int milliseconds) override {
        // The device hears what was just sent before the time passes.
        Tick();
        NowMs += milliseconds;
        SleptMs += milliseconds;
        Tick();
    }
    void WaitForLineEnd(TCustomComPort& port, int milliseconds) override {
        WaitForLineEndInSteps(port, milliseconds, [this](int step) {
            NowMs += step;
            SleptMs += step;
            Tick();
        });
    }
    LocalTime Now() override { return LocalTime::FromMillisecondsSinceEpoch(NowMs); }
    void Beep() override { Journal.push_back("beep"); }
    void ShowMessage(const ByteString& text) override {
        Messages.push_back(text);
        Journal.push_back("message " + text);
    }
    void ShowNamePanel() override { Journal.push_back("panel shown"); }
    void HideNamePanel() override { Journal.push_back("panel hidden"); }
    void TakeTrayMenu() override { Journal.push_back("menu taken"); }
    void GiveTrayMenu() override { Journal.push_back("menu given"); }
    void DestinationSettled(const std::filesystem::path& folder) override {
        Choices.DestPath = folder;
    }
    DumpOptions Options() const { return {Choices, ExeFolder, Home}; }
    void OpenInAssociatedProgram(const std::filesystem::path& file) override {
        Opened.push_back(file);
        Journal.push_back("open viewer");
    }
    bool StopRequested() const override { return Stop; }

    bool Saw(const std::string& entry) const {
        for (const auto& e : Journal)
            if (e == entry) return true;
        return false;
    }

private:
    void Tick() {
        if (OnTime) OnTime(NowMs);
    }
};

// Real files, with failures on demand.
class FaultyFiles : public CaptureFiles {
public:
    bool FailWrites = false;
    // Writes into this folder fail.
    std::filesystem::path FailWritesIn;
    std::vector<std::filesystem::path> Written;

    bool Write(const std::filesystem::path& file, BytePieces bytes, WriteMode mode) override {
        if (FailWrites || (!FailWritesIn.empty() && file.parent_path() == FailWritesIn))
            return false;
        bool ok = CaptureFiles::Write(file, bytes, mode);
        if (ok) Written.push_back(file);
        return ok;
    }
};

} // namespace veldar::test
