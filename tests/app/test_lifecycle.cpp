// Start-up and quitting: the settings file, the first showing, the close button, "Quitter",
// the end of the session, and quits in the middle of things.
#include "window_fixture.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>
#include <fstream>

namespace veldar::test {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(WindowTest, AFirstStartOpensCom1AndEndsInTheTray) {
    window->FormCreate();
    EXPECT_TRUE(window->ComPort1.Connected());
    EXPECT_EQ(window->windowTitle(), "VELDAR - Version 1.02 - Lecture sur le port COM1");
    EXPECT_EQ(window->mnuCom->text(), "COM1, changer");
    EXPECT_FALSE(window->TickOf(&SaveChoices::ViewFile)->isChecked() ||
                 window->TickOf(&SaveChoices::AutoFileName)->isChecked() ||
                 window->TickOf(&SaveChoices::OverwriteFile)->isChecked());
    window->show();
    ASSERT_TRUE(PumpUntil([&] { return window->State.InTray; }));
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(tray->visible);
}

TEST_F(WindowTest, TheSettingsFileGivesPortFolderAndOptions) {
    std::ofstream(folder / "VELDAR.ini", std::ios::binary)
        << "[PORT_COMM]\r\nCOM5\r\n[CHEMIN_DESTINATION]\r\nC:\\Relev\xE9s\r\n[VOIR_DONNEES]\r\n-"
           "1\r\n"
           "[NOM_FIC_AUTO]\r\n0\r\n[ECRASER_FICHIER]\r\nTrue\r\n";
    window->FormCreate();
    EXPECT_EQ(window->ComPort1.Port(), "COM5");
    EXPECT_EQ(window->State.Choices.DestPath, "C:\\Relev\xE9s");
    EXPECT_TRUE(window->TickOf(&SaveChoices::ViewFile)->isChecked());
    EXPECT_FALSE(window->TickOf(&SaveChoices::AutoFileName)->isChecked());
    EXPECT_TRUE(window->TickOf(&SaveChoices::OverwriteFile)->isChecked());
}

TEST_F(WindowTest, AStartSavesTheJournalOfADeadRunAndSaysSoAfterThePortsStatus) {
    const fs::path dest = folder / "dest";
    fs::create_directories(dest);
    std::ofstream(folder / "VELDAR.ini", std::ios::binary)
        << "[PORT_COMM]\r\nCOM1\r\n[CHEMIN_DESTINATION]\r\n"
        << dest.string()
        << "\r\n[VOIR_DONNEES]\r\n0\r\n[NOM_FIC_AUTO]\r\n0\r\n[ECRASER_FICHIER]\r\n0\r\n";
    const fs::path journal = folder / "VELDAR_20261206170500.journal";
    std::ofstream(journal, std::ios::binary) << "VELDAR - d\xE9vidage commenc\xE9 le 06/12/2026 "
                                                "17:05:00 sur COM1\r\n#;X;2\r\none\r\ntwo\r\n";
    window->FormCreate();
    EXPECT_TRUE(window->ComPort1.Connected());
    EXPECT_EQ(ReadAll(dest / "20261206170500_partiel.txt"), "one\r\ntwo\r\n");
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_EQ(Status(),
              QString::fromUtf8("2 enregistrements récupérés:\n20261206170500_partiel.txt"));
    EXPECT_TRUE(window->mmoMain->toPlainText().contains(
        QString::fromUtf8("2 enregistrements récupérés dans ") +
        QString::fromStdString((dest / "20261206170500_partiel.txt").string())))
        << window->mmoMain->toPlainText().toStdString();
}

TEST_F(WindowTest, APortThatCannotOpenAtStartLeavesEveryTriggerOff) {
    line->FailCall(VirtualLine::A, DeviceCall::Acquire, 2);
    window->FormCreate();
    ASSERT_EQ(boxes->Messages.size(), 1);
    EXPECT_EQ(boxes->Messages[0].section('\n', 0, 0), "Impossible d'ouvrir ce port");
    EXPECT_FALSE(window->isVisible()) << "told before the window is ever shown";
    EXPECT_TRUE(window->State.Busy);
    window->clCtsDblClick();
    window->ComPort1CTSChange(&window->ComPort1, true);
    window->ComPort1RxChar(&window->ComPort1, 1);
    EXPECT_FALSE(window->DumpRunning());
    EXPECT_TRUE(line->TakeInput(VirtualLine::B).empty());
}

TEST_F(WindowTest, AnUnreadableSettingsFileStopsTheStartUpBeforeThePort) {
    std::ofstream(folder / "VELDAR.ini") << "x";
    SettingsUnreadable = true;
    EXPECT_THROW(window->FormCreate(), std::runtime_error);
    EXPECT_FALSE(window->ComPort1.Connected());
    EXPECT_TRUE(window->State.Busy);
}

TEST_F(WindowTest, TheCloseButtonOnlyHides) {
    window->FormCreate();
    window->show();
    PumpUntil([&] { return window->State.InTray; });
    window->ShowFromTray();
    window->close();
    EXPECT_TRUE(window->State.InTray);
    EXPECT_TRUE(window->ComPort1.Connected());
    EXPECT_TRUE(tray->visible);
    EXPECT_EQ(Terminations, 0);
}

TEST_F(WindowTest, QuitterClosesThePortWritesTheSettingsAndEnds) {
    window->FormCreate();
    window->ConnectPort(12);
    window->mnuQuitter->trigger();
    ASSERT_TRUE(PumpUntil([&] { return Terminations == 1; }));
    EXPECT_FALSE(window->ComPort1.Connected());
    // The file's bytes themselves are the settings file's tests'.
    EXPECT_EQ(ReadAll(folder / "VELDAR.ini"), FormatSettings("COM12", {}));
    EXPECT_TRUE(boxes->Messages.isEmpty());
}

TEST_F(WindowTest, TheEndOfTheSessionSavesBeforeAnswering) {
    window->FormCreate();
    window->WMQueryEndSession();
    EXPECT_TRUE(fs::exists(folder / "VELDAR.ini")) << "written before the answer";
    ASSERT_TRUE(PumpUntil([&] { return Terminations == 1; }));
    EXPECT_FALSE(window->ComPort1.Connected());
}

TEST_F(WindowTest, ASettingsFileThatCannotBeWrittenIsToldOnceAndTheQuitGoesOn) {
    // A folder where the file must go fails for root too.
    fs::create_directory(folder / "VELDAR.ini");
    window->State.Busy = false;
    window->mnuQuitter->trigger();
    ASSERT_TRUE(PumpUntil([&] { return Terminations == 1; }));
    EXPECT_EQ(boxes->Messages,
              QStringList{QString::fromUtf8("Impossible d'écrire dans le fichier de paramètres")});
}

TEST_F(WindowTest, AQuitOpenBoxesAreClosedAndNoDumpStartsAfterTheRequest) {
    window->FormCreate();
    window->RequestQuit(TfrmMain::QuitFrom::Signal);
    window->ComPort1CTSChange(&window->ComPort1, true);
    window->clCtsDblClick();
    EXPECT_FALSE(window->DumpRunning());
    ASSERT_TRUE(PumpUntil([&] { return Terminations == 1; }));
}

class QuitDuringDump : public WindowTest {
protected:
    QuitDuringDump() {
        fs::create_directories(folder / "dest");
        window->State.Choices.DestPath = (folder / "dest").string();
        window->FormCreate();
    }
    std::vector<fs::path> Captures() const {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(folder / "dest"))
            files.push_back(e.path());
        return files;
    }
};

TEST_F(QuitDuringDump, TheRecordsOfTheRunAreSavedThenTheProgramEnds) {
    devsim::DeviceConfig config;
    config.payloads = {"un", "deux", "trois", "quatre"};
    config.sendHeader = true;
    auto& device = Device(config);
    OnTime = [&](std::int64_t now) {
        device.Step(now);
        if (window->Engine().Run().CaptureText == "un\r\ndeux\r\n" && !window->State.Quitting)
            window->RequestQuit(TfrmMain::QuitFrom::Signal);
    };
    device.Model().RaiseCts(true);
    device.Step(nowMs);
    ASSERT_TRUE(PumpUntil([&] { return Terminations == 1; }));
    auto files = Captures();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].filename().string().find("_partiel"), std::string::npos);
    EXPECT_EQ(ReadAll(files[0]), "un\r\ndeux\r\n");
    EXPECT_FALSE(window->ComPort1.Connected());
    EXPECT_TRUE(fs::exists(folder / "VELDAR.ini"));
}

TEST_F(QuitDuringDump, AQuitDuringTheNameWaitEndsTheWait) {
    devsim::DeviceConfig config;
    config.payloads = {"un"};
    auto& device = Device(config);
    // The wait sleeps until an event comes: a timer brings the quit once the panel is up.
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!window->PnlNomFic->isHidden() && !window->State.Quitting)
            window->RequestQuit(TfrmMain::QuitFrom::Signal);
    });
    watcher.start(10);
    device.Model().RaiseCts(true);
    device.Step(nowMs);
    ASSERT_TRUE(PumpUntil([&] { return Terminations == 1; }));
    auto files = Captures();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadAll(files[0]), "un\r\n");
    EXPECT_TRUE(window->PnlNomFic->isHidden());
}

} // namespace
} // namespace veldar::test

namespace veldar::test {
namespace {

TEST_F(WindowTest, AQuitDuringTheStartUpWakeUpIsCarriedOutOnceTheLoopRuns) {
    OnTime = [&](std::int64_t) {
        if (!window->State.Quitting) window->RequestQuit(TfrmMain::QuitFrom::Signal);
    };
    window->FormCreate();
    EXPECT_TRUE(window->State.Quitting);
    EXPECT_LE(line->TakeInput(VirtualLine::B).size(), 1u) << "the wake-up stops at once";
    ASSERT_TRUE(PumpUntil([&] { return Terminations == 1; }));
    EXPECT_TRUE(std::filesystem::exists(folder / "VELDAR.ini"));
}

} // namespace
} // namespace veldar::test
