// The window as a user meets it on a desktop: the name panel takes the keyboard, the status
// keeps to its label, a port that will not open says why, one VELDAR per folder, and
// "Voir le fichier" without a program to show the file.
#include "cp1252.h"
#include "port_failure.h"
#include "program_texts.h"
#include "single_instance.h"
#include "window_fixture.h"

#include <QAction>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>

namespace veldar::test {
namespace {

namespace fs = std::filesystem;

QString Shown(const ByteString& bytes) {
    return QString::fromStdString(Cp1252ToUtf8(bytes));
}

void Type(QWidget* to, const QString& text, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(to, &press);
}

class DesktopDump : public WindowTest {
protected:
    DesktopDump() {
        fs::create_directories(folder / "dest");
        window->State.Choices.DestPath = (folder / "dest").string();
        window->FormCreate();
        window->show();
        window->ConnectPort(1);
        window->HideToTray();
    }
};

TEST_F(DesktopDump, Item4_TheNamePanelTakesTheKeyboardAndTheLogTakesNoKeys) {
    devsim::DeviceConfig config;
    config.payloads = {"un"};
    auto& device = Device(config);
    // The user was reading the log when the dump came: the focus is there.
    OnTime = [&](std::int64_t now) {
        device.Step(now);
        if (window->isVisible() && window->PnlNomFic->isHidden()) window->mmoMain->setFocus();
    };
    QWidget* focusAtPanel = nullptr;
    QString selectedAtPanel;
    QString logAfterTyping, logBeforeTyping;
    int step = 0;
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, [&] {
        if (window->PnlNomFic->isHidden()) return;
        if (step == 0) {
            focusAtPanel = window->focusWidget();
            selectedAtPanel = window->txtNomFic->selectedText();
            logBeforeTyping = window->mmoMain->toPlainText();
            Type(window->mmoMain, "Y", Qt::Key_Y);
            logAfterTyping = window->mmoMain->toPlainText();
            if (QWidget* focus = window->focusWidget()) Type(focus, "Z", Qt::Key_Z);
            step = 1;
        } else if (step == 1) {
            // The wait has shown the panel again meanwhile: the typing goes on after Z.
            if (QWidget* focus = window->focusWidget()) {
                Type(focus, "9", Qt::Key_9);
                Type(focus, "\r", Qt::Key_Return);
            }
            step = 2;
        } else if (++step > 500 && !window->State.Quitting) {
            // The name never arrived: end the wait rather than the test run.
            window->RequestQuit(TfrmMain::QuitFrom::Signal);
        }
    });
    typist.start(10);
    device.Model().RaiseCts(true);
    device.Step(nowMs);
    ASSERT_TRUE(PumpUntil([&] { return step >= 2 && !window->DumpRunning(); }));
    EXPECT_EQ(focusAtPanel, window->txtNomFic);
    EXPECT_EQ(selectedAtPanel, "Recup") << "a typed name replaces the proposed one";
    EXPECT_EQ(logAfterTyping, logBeforeTyping) << "the log takes no typed keys";
    EXPECT_TRUE(fs::exists(folder / "dest" / "Z9.txt"));
}

TEST_F(WindowTest, Item5_TheStatusTextsKeepToTheLabel) {
    const QSize label(177, 41);
    EXPECT_EQ(window->lblMsg->size(), label);
    if (QFontInfo(QFont(QStringLiteral("Tahoma"))).exactMatch()) {
        EXPECT_EQ(window->lblMsg->font().family(), "Tahoma");
    }
    auto fits = [&] {
        const QFontMetrics metrics(window->lblMsg->font());
        const QRect needed = metrics.boundingRect(
            window->lblMsg->contentsRect(), int(window->lblMsg->alignment()) | Qt::TextWordWrap,
            window->lblMsg->text());
        return needed.width() <= label.width() && needed.height() <= label.height();
    };
    window->SetStatus(ByteString("99999") + texts::StatusRecordsSuffix + "23:59:59" +
                      texts::StatusFinishedAt + "23:59:59");
    EXPECT_TRUE(fits()) << window->lblMsg->font().toString().toStdString();
    // The failed open's status and its retry hint.
    line->FailCall(VirtualLine::A, DeviceCall::Acquire, ENOENT, 1);
    window->ConnectPort(1);
    EXPECT_TRUE(fits()) << window->lblMsg->text().toStdString();
}

TEST_F(WindowTest, Item12_AFailedOpenSaysWhyInTheBoxAndTheLog) {
    const QString first = "Impossible d'ouvrir ce port";
    const QString status = Shown(texts::StatusNotConnected) +
                           "\n(Double cliquer sur la LED de connexion pour retenter)";

    line->FailCall(VirtualLine::A, DeviceCall::Acquire, ENOENT, 1);
    window->ConnectPort(7);
    ASSERT_EQ(boxes->Messages.size(), 1);
    EXPECT_EQ(boxes->Messages[0], first + "\nCe port n'existe pas sur cet ordinateur.");
    EXPECT_EQ(Status(), status);
    EXPECT_EQ(window->mmoMain->toPlainText(),
              first + " COM7: Ce port n'existe pas sur cet ordinateur.");

    line->FailCall(VirtualLine::A, DeviceCall::Acquire, EBUSY, 1);
    window->ConnectPort(0);
    EXPECT_EQ(boxes->Messages.back(),
              first + QString::fromUtf8("\nCe port est déjà utilisé par un autre programme."));
    EXPECT_EQ(Status(), status);

    // Access refused: the group that owns the device is the one to join.
    const group* owner = getgrnam("dialout");
    const gid_t gid = owner ? owner->gr_gid : getegid();
    const group* named = getgrgid(gid);
    ASSERT_NE(named, nullptr);
    const std::string groupName = named->gr_name;
    const fs::path device = folder / "ttyUSB0";
    std::ofstream(device).put('\0');
    ASSERT_EQ(chown(device.c_str(), static_cast<uid_t>(-1), gid), 0);
    ASSERT_EQ(chmod(device.c_str(), 0660), 0);
    fs::create_symlink(device, folder / "COM3");
    line->FailCall(VirtualLine::A, DeviceCall::Acquire, EACCES, 1);
    window->mmoMain->clear();
    window->ConnectPort(3);
    const QStringList lines = boxes->Messages.back().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], first);
    EXPECT_TRUE(lines[1].contains(QString::fromStdString(" groupe " + groupName + ",")))
        << lines[1].toStdString();
    EXPECT_EQ(window->mmoMain->toPlainText(), first + " COM3: " + lines[1]);
    EXPECT_EQ(Status(), status);

    // On Windows a port another program holds answers "access denied".
    EXPECT_EQ(WindowsOpenFailureReason(5), PosixOpenFailureReason(EBUSY, ""));
    EXPECT_EQ(WindowsOpenFailureReason(2), PosixOpenFailureReason(ENOENT, ""));
}

// --- one VELDAR per folder ---

class Item13_OneVeldarPerFolder : public ::testing::Test {
protected:
    Item13_OneVeldarPerFolder() {
        root = fs::temp_directory_path() / ("veldar-instance-" + std::to_string(getpid()));
        fs::create_directories(root / "a");
        fs::create_directories(root / "b");
    }
    ~Item13_OneVeldarPerFolder() override { fs::remove_all(root); }
    fs::path root;
};

TEST_F(Item13_OneVeldarPerFolder, ALaterStartFindsTheFirstAndAsksItToShowItsWindow) {
    auto first = std::make_unique<SingleInstance>(root / "a");
    ASSERT_EQ(first->Acquire(), InstanceLock::State::Taken);
    int shows = 0;
    QObject::connect(first.get(), &SingleInstance::ShowRequested, [&] { ++shows; });

    SingleInstance later(root / "a");
    EXPECT_EQ(later.Acquire(), InstanceLock::State::HeldByLive);
    EXPECT_TRUE(later.AskFirstToShow());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (shows == 0 && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(shows, 1);

    SingleInstance elsewhere(root / "b");
    EXPECT_EQ(elsewhere.Acquire(), InstanceLock::State::Taken) << "another folder, another VELDAR";

    first.reset();
    EXPECT_EQ(later.Acquire(), InstanceLock::State::Taken) << "the first has ended";
}

TEST_F(Item13_OneVeldarPerFolder, AFolderWhereNoLockCanBeWrittenDoesNotStopTheProgram) {
    std::ofstream(root / "file") << "x";
    SingleInstance instance(root / "file");
    // The program starts all the same.
    EXPECT_EQ(instance.Acquire(), InstanceLock::State::Unwritable);
}

// --- "Voir le fichier" ---

// The programs found on the PATH for the test's length.
class ScopedPath {
public:
    explicit ScopedPath(const fs::path& folder) : old_(std::getenv("PATH")) {
        setenv("PATH", folder.c_str(), 1);
    }
    ~ScopedPath() { setenv("PATH", old_.c_str(), 1); }

private:
    std::string old_;
};

void WriteOpener(const fs::path& folder, const std::string& body) {
    fs::create_directories(folder);
    std::ofstream(folder / "xdg-open") << "#!/bin/sh\n" << body << "\n";
    fs::permissions(folder / "xdg-open", fs::perms::owner_all);
}

TEST_F(DesktopDump, Item14_VoirLeFichierWithoutAProgramToShowItSaysSoAndTheSaveStands) {
    const QString notViewed = Shown(texts::FileNotViewed);
    auto logLines = [&] { return window->mmoMain->toPlainText().split('\n'); };
    fs::create_directories(folder / "bin");
    ScopedPath path(folder / "bin");

    // No opener at all, at the end of a dump.
    window->TickOf(&SaveChoices::ViewFile)->trigger();
    devsim::DeviceConfig config;
    config.payloads = {"un"};
    config.sendHeader = true;
    config.headerName = "VU";
    auto& device = Device(config);
    device.Model().RaiseCts(true);
    device.Step(nowMs);
    ASSERT_TRUE(PumpUntil(
        [&] { return device.Model().Stats().dumpsCompleted == 1 && !window->DumpRunning(); }));
    EXPECT_TRUE(fs::exists(folder / "dest" / "VU.txt"));
    EXPECT_TRUE(Status().startsWith("1 enregistrements\n")) << "the save is a success";
    EXPECT_EQ(logLines().count(notViewed), 1);

    // An opener that finds no program for the file.
    WriteOpener(folder / "bin", "exit 3");
    window->mmoMain->clear();
    window->OpenInAssociatedProgram(folder / "dest" / "VU.txt");
    EXPECT_TRUE(PumpUntil([&] { return logLines().contains(notViewed); }));

    // One that shows it: nothing in the log.
    WriteOpener(folder / "bin", "echo \"$1\" > \"" + (folder / "opened").string() + "\"");
    window->mmoMain->clear();
    window->OpenInAssociatedProgram(folder / "dest" / "VU.txt");
    EXPECT_TRUE(PumpUntil([&] {
        const auto openers = window->findChildren<QProcess*>();
        return fs::exists(folder / "opened") &&
               std::all_of(openers.begin(), openers.end(),
                           [](QProcess* p) { return p->state() == QProcess::NotRunning; });
    }));
    EXPECT_EQ(window->mmoMain->toPlainText(), "");
}

} // namespace
} // namespace veldar::test
