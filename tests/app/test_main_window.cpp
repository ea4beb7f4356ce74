// The main window: placement, port commands, the name panel's key filter, the tray, and a
// whole dump through the window.
#include "window_fixture.h"

#include <QAction>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QTextDocument>
#include <cerrno>
#include <fstream>
#ifndef _WIN32
#include "small_disk.h"
#endif

namespace veldar::test {
namespace {

const QString NotConnected = QString::fromUtf8("Non-conneté au port COM.");
const QString PutInDump = QString::fromUtf8("Mettre l'appareil en dévidage.");

TEST_F(WindowTest, PlacedBottomRightAtOuterHeight106) {
    EXPECT_EQ(window->windowTitle(), "VELDAR");
    EXPECT_EQ(window->lblMsg->text(), "Mettre l'appareil en vidage.");
    window->FormCreate();
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window->OuterHeight(), 106);
    EXPECT_EQ(window->frameGeometry().top(), work.height() - 106);
    EXPECT_EQ(window->frameGeometry().left(), work.width() - window->frameGeometry().width());
    EXPECT_EQ(window->width(), 360);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(window->txtNomFic->text(), "Recup");
    EXPECT_EQ(window->txtNomFic->maxLength(), 15);
    EXPECT_TRUE(window->PnlNomFic->isHidden());
}

TEST_F(WindowTest, TheLogoSwitchesBetweenTheTwoHeights) {
    window->FormCreate();
    window->ImgLogoDblClick();
    EXPECT_EQ(window->OuterHeight(), 450);
    EXPECT_EQ(window->mmoMain->geometry().bottom(), window->height() - 3);
    window->ImgLogoDblClick();
    EXPECT_EQ(window->OuterHeight(), 106);
    EXPECT_EQ(window->mmoMain->height(), 0) << "no strip of the log under the controls";
    window->SetOuterHeight(300);
    window->ImgLogoDblClick();
    EXPECT_EQ(window->OuterHeight(), 106);
}

TEST_F(WindowTest, TheMenuHasItsNineItemsAndThePortList) {
    QStringList captions;
    for (QAction* a : window->pmMain->actions())
        captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(captions, (QStringList{"COM1, changer", QString::fromUtf8("Ports présents"), "-",
                                     "Nom du fichier auto", "Ecraser le fichier", "Voir le fichier",
                                     "Enregistrer sous...", "-", "Montrer", "Quitter"}));
}

#ifndef _WIN32
// The list of present ports, as the submenu shows it when it opens.
class PortMenu : public WindowTest {
protected:
    PortMenu() {
        PortInfo builtIn;
        builtIn.name = "/dev/ttyS0";
        builtIn.comName = "COM1";
        PortInfo adapter;
        adapter.name = "/dev/ttyUSB0";
        adapter.description = "FTDI FT232R USB UART";
        adapter.serialNumber = "A50285BI";
        ports = {builtIn, adapter};
        ListPorts = [this] { return ports; };
    }

    QStringList Shown() {
        emit window->mnuPorts->aboutToShow();
        QStringList lines;
        for (QAction* a : window->mnuPorts->actions())
            lines << (a->isChecked() ? "* " : "  ") + a->text() + (a->isEnabled() ? "" : " -");
        return lines;
    }

    std::vector<PortInfo> ports;
};

TEST_F(PortMenu, ShowsThePortsPresentAndChoosingOneConnectsToIt) {
    window->ConnectPort(1);
    EXPECT_EQ(Shown(),
              (QStringList{QString::fromUtf8("* COM1 — /dev/ttyS0"),
                           QString::fromUtf8("  /dev/ttyUSB0 — FTDI FT232R USB UART (A50285BI)")}));
    // The adapter has no COM name yet: it gets the lowest one free, as a link beside the
    // program, and the port opens under it.
    window->mnuPorts->actions()[1]->trigger();
    EXPECT_EQ(window->ComPort1.Port(), "COM2");
    EXPECT_TRUE(window->ComPort1.Connected());
    EXPECT_EQ(std::filesystem::read_symlink(folder / "COM2"), "/dev/ttyUSB0");
    ports = {};
    EXPECT_EQ(Shown(), QStringList{QString::fromUtf8("  (aucun port série trouvé) -")});
}
#endif

TEST_F(WindowTest, ConnectPortNamesOpensAndWakes) {
    window->ConnectPort(3);
    EXPECT_TRUE(window->ComPort1.Connected());
    EXPECT_EQ(window->ComPort1.Port(), "COM3");
    EXPECT_EQ(window->windowTitle(), "VELDAR - Version 1.02 - Lecture sur le port COM3");
    EXPECT_EQ(window->mnuCom->text(), "COM3, changer");
    EXPECT_EQ(Status(), PutInDump);
    EXPECT_FALSE(window->State.Busy);
    // Woken: five probes with no device, then 115200 bit/s with RTS on.
    EXPECT_EQ(line->TakeInput(VirtualLine::B), std::string(5, '\x0F'));
    EXPECT_TRUE(line->Rts(VirtualLine::A));
}

TEST_F(WindowTest, NumbersOutsideTheRangeChangeNothing) {
    window->ConnectPort(2);
    window->lblMsg->setText("unchanged");
    line->ClearCalls();
    window->ConnectPort(256);
    window->ConnectPort(-1);
    EXPECT_EQ(Status(), "unchanged");
    EXPECT_TRUE(window->ComPort1.Connected());
    EXPECT_TRUE(line->Calls(VirtualLine::A).empty() ||
                std::all_of(line->Calls(VirtualLine::A).begin(), line->Calls(VirtualLine::A).end(),
                            [](DeviceCall c) { return c == DeviceCall::WaitEvent; }));

    window->ConnectPort(0);
    EXPECT_EQ(window->ComPort1.Port(), "COM2");
    EXPECT_TRUE(window->ComPort1.Connected());
    window->ConnectPort(255);
    EXPECT_EQ(window->ComPort1.Port(), "COM255");
}

TEST_F(WindowTest, AFailedOpenTellsAndKeepsTheNewName) {
    line->FailCall(VirtualLine::A, DeviceCall::Acquire, 2);
    QString statusAtMessage;
    boxes->OnMessage = [&] { statusAtMessage = Status(); };
    window->ConnectPort(7);
    ASSERT_EQ(boxes->Messages.size(), 1);
    EXPECT_EQ(boxes->Messages[0].section('\n', 0, 0), "Impossible d'ouvrir ce port");
    EXPECT_EQ(statusAtMessage, NotConnected) << "the box comes before the two-line status";
    EXPECT_EQ(Status(), NotConnected + "\n(Double cliquer sur la LED de connexion pour retenter)");
    EXPECT_EQ(window->windowTitle(), "VELDAR - Version 1.02 - Lecture sur le port COM7");
    EXPECT_FALSE(window->ComPort1.Connected());
    EXPECT_TRUE(window->State.Busy) << "still true from the start";
}

// The port appears while the open failure's box is on screen (nobody there to answer it):
// the box goes, and the port opens once the command has returned.
TEST_F(WindowTest, APortAppearingUnderTheOpenFailureBoxOpensAfterIt) {
    line->SetUnplugged(VirtualLine::A, true);
    bool cancelledInBox = false;
    boxes->OnMessage = [&] {
        line->SetUnplugged(VirtualLine::A, false);
        std::ofstream(folder / "COM1.new").put('x');
        cancelledInBox = PumpUntil([&] { return boxes->Cancellations > 0; });
        EXPECT_FALSE(window->ComPort1.Connected()) << "never opened inside the box";
    };
    window->ConnectPort(1);
    EXPECT_TRUE(cancelledInBox);
    EXPECT_TRUE(window->WaitingForPort());
    ASSERT_TRUE(PumpUntil([&] { return window->ComPort1.Connected(); }));
    EXPECT_FALSE(window->State.Busy);
}

#ifndef _WIN32
// What the technician reads when the port does not open: in French, what is wrong, in the
// box and in the log, naming the port there.
TEST_F(WindowTest, AFailedOpenSaysWhyInFrench) {
    const std::pair<int, const char*> cases[] = {
        {ENOENT, "Ce port n'existe pas sur cet ordinateur."},
        {EBUSY, "Ce port est déjà utilisé par un autre programme."},
        {EIO, "Le périphérique de ce port ne répond pas (adaptateur débranché ?)."},
    };
    for (const auto& [error, reason] : cases) {
        boxes->Messages.clear();
        line->FailCall(VirtualLine::A, DeviceCall::Acquire, error, 1);
        window->ConnectPort(7);
        ASSERT_EQ(boxes->Messages.size(), 1);
        EXPECT_EQ(boxes->Messages[0], "Impossible d'ouvrir ce port\n" + QString::fromUtf8(reason));
        EXPECT_TRUE(window->mmoMain->toPlainText().endsWith("Impossible d'ouvrir ce port COM7: " +
                                                            QString::fromUtf8(reason)));
    }
    // Not permitted: which group to join when the device's group may use it.
    boxes->Messages.clear();
    line->FailCall(VirtualLine::A, DeviceCall::Acquire, EACCES, 1);
    window->ConnectPort(7);
    ASSERT_EQ(boxes->Messages.size(), 1);
    EXPECT_TRUE(boxes->Messages[0].startsWith(
        QString::fromUtf8("Impossible d'ouvrir ce port\nAccès refusé: ")))
        << boxes->Messages[0].toStdString();
}
#endif

TEST_F(WindowTest, TheConnectionLedClosesAndReopens) {
    window->ConnectPort(1);
    std::vector<std::string> order;
    window->clCts->OnChange = [&](TComLed*, TLedState s) {
        order.push_back(s == TLedState::lsOn ? "cts on" : "cts off");
    };
    window->clCon->OnChange = [&](TComLed*, TLedState s) {
        order.push_back(s == TLedState::lsOn ? "con on" : "con off");
    };
    window->clConDblClick();
    EXPECT_FALSE(window->ComPort1.Connected());
    EXPECT_EQ(Status(), NotConnected);
    EXPECT_EQ(order, (std::vector<std::string>{"cts off", "con off"}));
    window->clConDblClick();
    EXPECT_TRUE(window->ComPort1.Connected());
    EXPECT_EQ(window->clCon->State(), TLedState::lsOn);
    window->clCts->OnChange = nullptr;
    window->clCon->OnChange = nullptr;
}

TEST_F(WindowTest, TheInputBoxTakesNumbersAndRefusesTheRest) {
    window->ConnectPort(1);
    boxes->Inputs = {"abc", "", "$1F"};
    window->mnuComClick();
    window->mnuComClick();
    EXPECT_EQ(boxes->Messages, (QStringList{"La saisie est invalide", "La saisie est invalide"}));
    EXPECT_EQ(window->ComPort1.Port(), "COM1");
    window->mnuComClick();
    EXPECT_EQ(window->ComPort1.Port(), "COM31");
    EXPECT_EQ(boxes->InputTitles.back(), "Changement de port (COM1)");
    boxes->Inputs = {"0x1F"};
    window->mnuComClick();
    EXPECT_EQ(window->ComPort1.Port(), "COM31");
    // Cancelled: "0", the current port closes and opens again.
    line->ClearCalls();
    window->mnuComClick();
    EXPECT_TRUE(window->ComPort1.Connected());
    EXPECT_EQ(line->CallCount(VirtualLine::A, DeviceCall::Acquire), 1);
}

TEST_F(WindowTest, TheNameBoxLetsThroughOnlyItsCharacters) {
    auto type = [&](const QString& text, int key = 0) {
        QKeyEvent press(QEvent::KeyPress, key ? key : text.at(0).unicode(), Qt::NoModifier, text);
        QCoreApplication::sendEvent(window->txtNomFic, &press);
    };
    window->txtNomFic->clear();
    type(QString::fromUtf8("é"));
    type(" ", Qt::Key_Space);
    type("-", Qt::Key_Minus);
    type("_", Qt::Key_Underscore);
    EXPECT_EQ(window->txtNomFic->text(), "");
    type("a", Qt::Key_A);
    type("Z", Qt::Key_Z);
    type("7", Qt::Key_7);
    type(".", Qt::Key_Period);
    const QString separator = QLocale().decimalPoint();
    type(separator, Qt::Key_Comma);
    EXPECT_EQ(window->txtNomFic->text(),
              "aZ7." + (separator == "." || separator == "," ? separator : QString()));
    type("\b", Qt::Key_Backspace);
    EXPECT_EQ(window->txtNomFic->text().size(), 4);
    window->txtNomFic->setText("abcdefghijklmno");
    type("p", Qt::Key_P);
    EXPECT_EQ(window->txtNomFic->text(), "abcdefghijklmno");

    window->txtNomFic->setText("Recup");
    type("\r", Qt::Key_Return);
    EXPECT_EQ(window->Engine().Run().FileName, "Recup");
    EXPECT_EQ(window->txtNomFic->text(), "Recup");
}

TEST_F(WindowTest, TheTrayShowsTheWindowAndTheOptionsToggle) {
    window->FormCreate();
    window->show();
    window->HideToTray();
    EXPECT_TRUE(window->State.InTray);
    EXPECT_FALSE(window->isVisible());
    window->State.Choices.DestPath = std::filesystem::path(u8"C:\\Relevés");
    tray->Fire(TrayBackend::Activation::DoubleClick);
    EXPECT_FALSE(window->State.InTray);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->pnlImg->toolTip(), QString::fromUtf8("C:\\Relevés"));
    // Already shown: the hint is not refreshed.
    window->State.Choices.DestPath = "other";
    window->ShowFromTray();
    EXPECT_EQ(window->pnlImg->toolTip(), QString::fromUtf8("C:\\Relevés"));

    window->TickOf(&SaveChoices::AutoFileName)->trigger();
    EXPECT_TRUE(window->Options().AutoFileName);
    window->TickOf(&SaveChoices::AutoFileName)->trigger();
    EXPECT_FALSE(window->Options().AutoFileName);
    window->TickOf(&SaveChoices::OverwriteFile)->trigger();
    window->TickOf(&SaveChoices::ViewFile)->trigger();
    EXPECT_TRUE(window->Options().OverwriteFile);
    EXPECT_TRUE(window->Options().ViewFile);
}

TEST_F(WindowTest, WithoutATrayTheWindowStaysReachable) {
    tray->available = false;
    window->FormCreate();
    window->FirstShow();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized()) << "shown, not minimised, at start";
    EXPECT_FALSE(window->State.InTray);
    EXPECT_TRUE(Status().endsWith("\n(Pas de zone de notification.)")) << Status().toStdString();
    window->HideToTray();
    EXPECT_TRUE(window->State.InTray);
    EXPECT_TRUE(window->isMinimized());
    EXPECT_EQ(window->windowType(), Qt::Window) << "an ordinary window with a taskbar entry";
    // The user restores it from the taskbar.
    window->showNormal();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->State.InTray);
}

TEST_F(WindowTest, TheLogKeepsItsLastLinesUnderANoticeAndStaysAtTheBottom) {
    window->FormCreate();
    window->show();
    window->ImgLogoDblClick(); // the log in view
    const QString notice = QString::fromUtf8("(Lignes plus anciennes retirées du journal)");
    constexpr int added = 12000;
    for (int i = 1; i <= added; ++i)
        window->AddLogLine("ligne " + std::to_string(i));
    const QStringList lines = window->mmoMain->toPlainText().split('\n');
    EXPECT_LE(lines.size(), 5001);
    ASSERT_GE(lines.size(), 2000);
    EXPECT_EQ(lines.front(), notice);
    EXPECT_EQ(lines.count(notice), 1);
    // The newest lines, none missing after the notice.
    const int firstShown = added - static_cast<int>(lines.size()) + 2;
    for (int i = 1; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], "ligne " + QString::number(firstShown + i - 1)) << i;
    // Dropped lines leave no undo history behind them.
    EXPECT_FALSE(window->mmoMain->document()->isUndoAvailable());
    const QScrollBar& scroll = *window->mmoMain->verticalScrollBar();
    EXPECT_EQ(scroll.value(), scroll.maximum());

    // The next dump's log starts clean.
    WindowDumpView(*window).ClearLog();
    window->AddLogLine("suivant");
    EXPECT_EQ(window->mmoMain->toPlainText(), "suivant");
}

TEST_F(WindowTest, AnExceptionFromAHandlerGoesToTheErrorBox) {
    // The wake-up's first write fails: the port's error escapes the menu command.
    line->FailCall(VirtualLine::A, DeviceCall::StartWrite, 1167, 1);
    boxes->Inputs = {"4"};
    window->mnuCom->trigger();
    ASSERT_EQ(boxes->Messages.size(), 1);
    EXPECT_TRUE(boxes->Messages[0].startsWith(QString::fromUtf8("L'appareil du port COM4 est "
                                                                "déconnecté.\n")))
        << boxes->Messages[0].toStdString();
    EXPECT_TRUE(window->mmoMain->toPlainText().contains(
        "WriteFile function failed (win error code: 1167)"));
    EXPECT_EQ(boxes->Icons.back(), QMessageBox::Critical);
    EXPECT_TRUE(window->State.Busy) << "no dump after a failed wake-up";
}

// --- a whole dump through the window ---

class WindowDump : public WindowTest {
protected:
    WindowDump() {
        std::filesystem::create_directories(folder / "dest");
        window->State.Choices.DestPath = (folder / "dest").string();
        window->FormCreate();
        window->show();
        window->ConnectPort(1);
        window->HideToTray();
    }
};

TEST_F(WindowDump, ACtsRiseRunsADumpThatTheWindowShowsAndSaves) {
    auto config = devsim::DeviceConfig{};
    config.payloads = {"un", "deux", "trois"};
    config.sendHeader = true;
    config.headerName = "WIN";
    auto& device = Device(config);
    bool shownDuringDump = false;
    OnTime = [&](std::int64_t now) {
        device.Step(now);
        shownDuringDump = shownDuringDump || !window->State.InTray;
    };
    device.Model().RaiseCts(true);
    device.Step(nowMs);
    ASSERT_TRUE(PumpUntil(
        [&] { return device.Model().Stats().dumpsCompleted == 1 && !window->DumpRunning(); }));
    EXPECT_TRUE(shownDuringDump);
    EXPECT_TRUE(window->State.InTray) << "back in the tray after the dump";
    std::ifstream file(folder / "dest" / "WIN.txt", std::ios::binary);
    std::string saved((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(saved, "un\r\ndeux\r\ntrois\r\n");
    EXPECT_TRUE(Status().startsWith("3 enregistrements\n"));
    EXPECT_TRUE(
        window->mmoMain->toPlainText().contains(QString::fromUtf8("Entête trouvé: WIN - 3")));
    EXPECT_EQ(window->pbMain->value(), 3);
}

TEST_F(WindowDump, APortCommandDuringTheDumpRunsAfterIt) {
    auto config = devsim::DeviceConfig{};
    config.payloads = {"un", "deux"};
    config.sendHeader = true;
    auto& device = Device(config);
    bool asked = false;
    bool openWhenAsked = false;
    OnTime = [&](std::int64_t now) {
        device.Step(now);
        if (!asked && window->Engine().Run().CaptureText == "un\r\n") {
            asked = true;
            window->clConDblClick();
            openWhenAsked = window->ComPort1.Connected();
        }
    };
    device.Model().RaiseCts(true);
    device.Step(nowMs);
    ASSERT_TRUE(PumpUntil([&] { return asked && !window->ComPort1.Connected(); }));
    EXPECT_TRUE(openWhenAsked) << "not carried out inside the dump";
    EXPECT_EQ(device.Model().Stats().dumpsCompleted, 1);
}

// The adapter is pulled during a dump: once the dump has ended the port is closed, the
// status and the tray say so without a box, and the port opens again by itself when the
// link comes back; the next dump needs no click.
TEST_F(WindowDump, APortLostInADumpIsClosedThenReopenedWhenItComesBack) {
    auto config = devsim::DeviceConfig{};
    config.payloads = {"un", "deux", "trois"};
    config.hangUpAfterRecords = 1;
    auto& device = Device(config);
    window->TickOf(&SaveChoices::AutoFileName)->trigger();
    device.Model().RaiseCts(true);
    device.Step(nowMs);
    ASSERT_TRUE(PumpUntil([&] { return device.Model().HungUp() && !window->DumpRunning(); }));
    ASSERT_TRUE(PumpUntil([&] { return !window->ComPort1.Connected(); }));
    EXPECT_FALSE(line->IsAcquired(VirtualLine::A)) << "the handle goes at once";
    EXPECT_TRUE(window->WaitingForPort());
    EXPECT_TRUE(window->State.Busy) << "no dump on the closed port";
    EXPECT_TRUE(Status().startsWith(QString::fromUtf8("Appareil déconnecté")));
    EXPECT_TRUE(tray->toolTip.contains("COM1"));
    EXPECT_TRUE(boxes->Messages.isEmpty());

    line->SetUnplugged(VirtualLine::A, false);
    // The COMn link made again in the program's folder.
    std::ofstream(folder / "COM1.new").put('x');
    ASSERT_TRUE(PumpUntil([&] { return window->ComPort1.Connected(); }));
    EXPECT_FALSE(window->WaitingForPort());
    EXPECT_FALSE(window->State.Busy);
    EXPECT_EQ(tray->toolTip, "VELDAR");
    EXPECT_TRUE(window->mmoMain->toPlainText().contains("Port rouvert: COM1"));
}

// Back before its watch began (here: never gone from the line), so no change in a watched
// folder will ever tell of it: the first look finds it.
TEST_F(WindowDump, APortBackBeforeItsWatchSawAChangeIsStillReopened) {
    window->PortLost();
    ASSERT_TRUE(PumpUntil([&] { return window->WaitingForPort(); }));
    EXPECT_TRUE(PumpUntil([&] { return window->ComPort1.Connected(); }));
    EXPECT_FALSE(window->WaitingForPort());
}

TEST_F(WindowDump, APortClosedOnPurposeIsNeverReopenedByItself) {
    window->clConDblClick();
    ASSERT_FALSE(window->ComPort1.Connected());
    line->SetUnplugged(VirtualLine::A, true);
    line->SetUnplugged(VirtualLine::A, false);
    std::ofstream(folder / "COM1.new").put('x');
    PumpFor(2500);
    EXPECT_FALSE(window->ComPort1.Connected());
    EXPECT_FALSE(window->WaitingForPort());
}

// After a sleep: one look at the line finds the adapter gone.
TEST_F(WindowDump, AResumeThatFindsTheLineDeadLosesThePort) {
    window->CheckPortAfterResume();
    PumpFor(100);
    EXPECT_TRUE(window->ComPort1.Connected()) << "a live line stays open";
    line->FailCall(VirtualLine::A, DeviceCall::ClearError, 21);
    window->CheckPortAfterResume();
    ASSERT_TRUE(PumpUntil([&] { return !window->ComPort1.Connected(); }));
    EXPECT_TRUE(window->WaitingForPort());
}

} // namespace
} // namespace veldar::test

namespace veldar::test {
namespace {

// The folder dialog asked for in the middle of a dump opens once the dump has returned: the
// device is answered meanwhile, and the folder chosen is the next dump's.
TEST_F(WindowDump, EnregistrerSousDuringADumpOpensAfterIt) {
    std::filesystem::create_directories(folder / "later");
    boxes->ChosenFolder = QString::fromStdString((folder / "later").string());
    bool dumpRunningAtDialog = true;
    int dialogs = 0;
    boxes->OnSelectDirectory = [&] {
        ++dialogs;
        dumpRunningAtDialog = window->DumpRunning();
    };
    auto config = devsim::DeviceConfig{};
    config.payloads = {"un", "deux", "trois"};
    config.sendHeader = true;
    config.headerName = "ICI";
    auto& device = Device(config);
    bool asked = false;
    OnTime = [&](std::int64_t now) {
        device.Step(now);
        if (!asked && window->Engine().Run().CaptureText == "un\r\n") {
            asked = true;
            window->mnuEnregistrer->trigger();
        }
    };
    device.Model().RaiseCts(true);
    device.Step(nowMs);
    ASSERT_TRUE(PumpUntil([&] { return dialogs == 1; }));
    EXPECT_FALSE(dumpRunningAtDialog);
    EXPECT_EQ(device.Model().Stats().dumpsCompleted, 1);
    EXPECT_TRUE(std::filesystem::exists(folder / "dest" / "ICI.txt")) << "this dump's folder";
    EXPECT_EQ(window->State.Choices.DestPath, folder / "later");
}

// A port chosen from the list during a dump: the list is the one shown last (no look at the
// system inside the record loop), and the port changes once the dump has returned.
TEST_F(WindowDump, APortChosenFromTheListDuringADumpIsTakenAfterIt) {
    PortInfo other;
    other.name = "/dev/ttyS1";
    other.comName = "COM2";
    int listings = 0;
    ListPorts = [&] {
        ++listings;
        return std::vector<PortInfo>{other};
    };
    emit window->mnuPorts->aboutToShow();
    auto config = devsim::DeviceConfig{};
    config.payloads = {"un", "deux"};
    config.sendHeader = true;
    auto& device = Device(config);
    bool asked = false;
    std::string portWhenAsked;
    OnTime = [&](std::int64_t now) {
        device.Step(now);
        if (!asked && window->Engine().Run().CaptureText == "un\r\n") {
            asked = true;
            emit window->mnuPorts->aboutToShow();
            window->mnuPorts->actions()[0]->trigger();
            portWhenAsked = window->ComPort1.Port();
        }
    };
    device.Model().RaiseCts(true);
    device.Step(nowMs);
    ASSERT_TRUE(PumpUntil([&] { return asked && window->ComPort1.Port() == "COM2"; }));
    EXPECT_EQ(portWhenAsked, "COM1") << "not carried out inside the dump";
    EXPECT_EQ(listings, 1);
    EXPECT_EQ(device.Model().Stats().dumpsCompleted, 1);
}

TEST_F(WindowDump, ADumpAskedForOnAClosedPortIsToldInFrench) {
    window->clConDblClick();
    line->ClearCalls();
    window->clCtsDblClick();
    EXPECT_EQ(line->CallCount(VirtualLine::A, DeviceCall::StartWrite), 0);
    ASSERT_EQ(boxes->Messages.size(), 1);
    EXPECT_EQ(boxes->Messages[0],
              QString::fromUtf8("Le port COM1 n'est pas ouvert.\nDouble cliquer "
                                "sur la LED de connexion pour l'ouvrir."));
    EXPECT_EQ(Status(), boxes->Messages[0]);
}

TEST_F(WindowDump, EnregistrerSousChangesWhereTheNextCaptureGoes) {
    std::filesystem::create_directories(folder / "chosen");
    boxes->ChosenFolder = QString::fromStdString((folder / "chosen").string());
    window->mnuEnregistrer->trigger();
    EXPECT_EQ(window->State.Choices.DestPath, (folder / "chosen").string());
    // Cancelled: unchanged.
    boxes->ChosenFolder.reset();
    window->mnuEnregistrer->trigger();
    EXPECT_EQ(window->State.Choices.DestPath, (folder / "chosen").string());

    devsim::DeviceConfig config;
    config.payloads = {"ici"};
    config.sendHeader = true;
    config.headerName = "LA";
    auto& device = Device(config);
    device.Model().RaiseCts(true);
    device.Step(nowMs);
    ASSERT_TRUE(PumpUntil(
        [&] { return device.Model().Stats().dumpsCompleted == 1 && !window->DumpRunning(); }));
    EXPECT_TRUE(std::filesystem::exists(folder / "chosen" / "LA.txt"));
}

#ifndef _WIN32
// Destination, program folder and home all full: the records are said to be unsaved, and
// "Enregistrer sous..." to a folder with room writes them; a quit with every place still full
// ends, after a last box.
TEST_F(WindowDump, RecordsNoFolderTookGoWhereTheUserPointsOrAreToldLostAtQuit) {
    namespace fs = std::filesystem;
    SmallDisk disk(folder);
    if (!disk.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    fs::create_directory(folder / "dest");
    fs::create_directory(folder / "home");
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/root";
    ::setenv("HOME", (folder / "home").c_str(), 1);
    struct HomeBack {
        const std::string& home;
        ~HomeBack() { ::setenv("HOME", home.c_str(), 1); }
    } homeBack{home};
    disk.Fill();
    auto dumpUnsaved = [&] {
        devsim::DeviceConfig config;
        config.payloads = {"un", "deux", "trois"};
        config.sendHeader = true;
        config.headerName = "PLEIN";
        driver.reset();
        auto& device = Device(config);
        device.Model().RaiseCts(true);
        device.Step(nowMs);
        return PumpUntil(
            [&] { return device.Model().Stats().dumpsCompleted == 1 && !window->DumpRunning(); });
    };
    ASSERT_TRUE(dumpUnsaved());
    EXPECT_TRUE(Status().startsWith(QString::fromUtf8("3 enregistrements NON sauvegardés")))
        << Status().toStdString();
    ASSERT_EQ(boxes->Messages.size(), 1);
    EXPECT_TRUE(boxes->Messages[0].contains("Enregistrer sous..."));

    const fs::path room = fs::temp_directory_path() / ("veldar-room-" + std::to_string(getpid()));
    fs::create_directories(room);
    boxes->ChosenFolder = QString::fromStdString(room.string());
    window->mnuEnregistrer->trigger();
    std::vector<fs::path> written(fs::directory_iterator(room), {});
    ASSERT_EQ(written.size(), 1u);
    std::ifstream file(written[0], std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "un\r\ndeux\r\ntrois\r\n");
    fs::remove_all(room);
    EXPECT_TRUE(Status().startsWith(QString::fromUtf8("3 enregistrements sauvegardés")));

    window->State.Choices.DestPath = folder / "dest";
    ASSERT_TRUE(dumpUnsaved());
    window->mnuQuitter->trigger();
    ASSERT_TRUE(PumpUntil([&] { return Terminations == 1; }));
    EXPECT_TRUE(boxes->Messages.filter("sont perdus").size() == 1)
        << boxes->Messages.join("|").toStdString();
}
#endif

} // namespace
} // namespace veldar::test
