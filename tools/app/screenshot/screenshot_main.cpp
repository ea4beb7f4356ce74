// veldar-screenshot: runs one dump through the real main window against the scripted device
// on an in-memory line, expands the window and saves a picture of it, and one of the tray
// menu when a second file is named. For looking at the window without a device
// (tools/screenshot.sh runs it under Xvfb).
#include "application.h"
#include "main_window.h"
#include "sync_queue.h"
#include "virtual_driver.h"

#include <QDir>
#include <QMenu>
#include <QTemporaryDir>
#include <chrono>
#include <iostream>

using namespace veldar;

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::cerr << "usage: veldar-screenshot WINDOW.png [TRAY-MENU.png]\n";
        return 2;
    }
    TApplication app(argc, argv);
    QTemporaryDir folder;
    auto line = VirtualLine::Create();

    devsim::DeviceConfig config;
    config.sendHeader = true;
    config.headerName = "Releve";
    for (int i = 1; i <= 25; ++i)
        config.payloads.push_back("MESURE " + std::to_string(i) + ";" + std::to_string(20 + i % 7) +
                                  ",5;OK");
    devsim::VirtualDeviceDriver device(line, config);
    std::int64_t nowMs = 0;

    TfrmMain::Environment environment;
    environment.ExecutableFolder = QDir::toNativeSeparators(folder.path());
    environment.Device = line->Device(VirtualLine::A);
    // Virtual time: the device answers as fast as the window asks.
    environment.SleepFor = [&](int ms) {
        nowMs += ms;
        device.Step(nowMs);
    };
    TfrmMain frmMain(std::move(environment));
    frmMain.FormCreate();
    frmMain.show();
    frmMain.ConnectPort(1);

    device.Model().RaiseCts(true);
    device.Step(nowMs);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (device.Model().Stats().dumpsCompleted == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents();
        SyncQueue::Application().RunPending();
    }
    frmMain.mnuMonterClick();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    frmMain.ImgLogoDblClick();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();

    bool saved = frmMain.grab().save(QString::fromLocal8Bit(argv[1]));
    std::cout << (saved ? "saved " : "could not save ") << argv[1] << std::endl;
    if (argc == 3) {
        // The menu as a right-click on the icon opens it.
        frmMain.pmMain->popup(QPoint(40, 40));
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        const bool menuSaved = frmMain.pmMain->grab().save(QString::fromLocal8Bit(argv[2]));
        frmMain.pmMain->hide();
        std::cout << (menuSaved ? "saved " : "could not save ") << argv[2] << std::endl;
        saved = saved && menuSaved;
    }
    frmMain.ComPort1.SetConnected(false);
    return saved && device.Model().Stats().dumpsCompleted == 1 ? 0 : 1;
}
