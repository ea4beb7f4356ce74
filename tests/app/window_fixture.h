// The main window on the offscreen platform with the virtual line behind ComPort1, answered
// boxes, a fake tray and a virtual clock.
#pragma once

#include "com_led.h"
#include "fake_tray_backend.h"
#include "main_window.h"
#include "settings_file.h"
#include "sync_queue.h"
#include "tray_icon.h"
#include "virtual_driver.h"
#include "virtual_line.h"

#include <QCoreApplication>
#include <QLabel>
#include <QStringList>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

// Readable texts in the tests' failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace veldar::test {

class AnsweredDialogs : public Dialogs {
public:
    QStringList Messages;
    std::vector<QMessageBox::Icon> Icons;
    QStringList InputTitles;
    std::deque<QString> Inputs; // typed texts; none left: the user cancels
    std::function<void()> OnMessage;

    void Message(const QString& text, QMessageBox::Icon icon) override {
        Messages.push_back(text);
        Icons.push_back(icon);
        if (OnMessage) OnMessage();
    }
    QString Input(const QString& title, const QString&, const QString& defaultText) override {
        InputTitles.push_back(title);
        if (Inputs.empty()) return defaultText;
        QString typed = Inputs.front();
        Inputs.pop_front();
        return typed;
    }
    bool Ask(const QString&, const QString&) override { return true; }
    int Cancellations = 0;
    void CancelAll() override { ++Cancellations; }
    std::optional<QString> ChosenFolder; // none: the user cancels
    std::function<void()> OnSelectDirectory;
    bool SelectDirectory(QString& directory) override {
        if (OnSelectDirectory) OnSelectDirectory();
        if (!ChosenFolder) return false;
        directory = *ChosenFolder;
        return true;
    }
};

class WindowTest : public ::testing::Test {
protected:
    WindowTest() : line(VirtualLine::Create()) {
        folder = std::filesystem::temp_directory_path() /
                 ("veldar-window-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(folder);
        TfrmMain::Environment environment;
        environment.ExecutableFolder = QString::fromStdString(folder.string());
        environment.Device = line->Device(VirtualLine::A);
        auto boxesOwned = std::make_unique<AnsweredDialogs>();
        boxes = boxesOwned.get();
        environment.Boxes = std::move(boxesOwned);
        auto trayOwned = std::make_unique<FakeTrayBackend>();
        tray = trayOwned.get();
        environment.Tray = std::move(trayOwned);
        environment.SleepFor = [this](int ms) {
            nowMs += ms;
            if (OnTime) OnTime(nowMs);
        };
        environment.Clock = [this] { return LocalTime::FromMillisecondsSinceEpoch(nowMs); };
        environment.ReadSettings =
            [this](const std::filesystem::path& path) -> std::optional<ByteString> {
            if (SettingsUnreadable)
                throw std::runtime_error("Impossible de lire le fichier de param\xE8tres");
            return ReadSettingsFile(path);
        };
        environment.ListPorts = [this] {
            return ListPorts ? ListPorts() : std::vector<PortInfo>{};
        };
        window = std::make_unique<TfrmMain>(std::move(environment));
        window->OnTerminate = [this] { ++Terminations; };
    }

    ~WindowTest() override {
        window.reset();
        std::filesystem::remove_all(folder);
    }

    // Runs the event loop and the port's hand-overs, as the application does, until cond
    // holds (10 s at most).
    bool PumpUntil(const std::function<bool()>& cond) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (true) {
            QCoreApplication::processEvents();
            SyncQueue::Application().RunPending();
            if (cond()) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            SyncQueue::Application().WaitForWork(std::chrono::milliseconds(5),
                                                 [] { return false; });
        }
    }

    void PumpFor(int ms) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        PumpUntil([&] { return std::chrono::steady_clock::now() >= end; });
    }

    devsim::VirtualDeviceDriver& Device(devsim::DeviceConfig config) {
        driver = std::make_unique<devsim::VirtualDeviceDriver>(line, std::move(config));
        OnTime = [this](std::int64_t now) { driver->Step(now); };
        return *driver;
    }

    QString Status() const { return window->lblMsg->text(); }

    static inline int counter = 0;
    std::shared_ptr<VirtualLine> line;
    std::filesystem::path folder;
    AnsweredDialogs* boxes = nullptr;
    FakeTrayBackend* tray = nullptr;
    std::int64_t nowMs = LocalTime{2026, 12, 7, 10, 0, 0, 0}.MillisecondsSinceEpoch();
    std::function<void(std::int64_t)> OnTime;
    std::unique_ptr<devsim::VirtualDeviceDriver> driver;
    bool SettingsUnreadable = false;
    // The ports the window finds present.
    std::function<std::vector<PortInfo>()> ListPorts;
    int Terminations = 0;
    std::unique_ptr<TfrmMain> window;
};

} // namespace veldar::test
