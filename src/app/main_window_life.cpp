// Start-up and quitting of the main window: the settings file, the first activation, the
// close button, "Quitter", the end of the session and the quit signals.
#include "main_window.h"

#include "cp1252.h"
#include "program_texts.h"
#include "qt_text.h"
#include "settings_file.h"
#include "tray_icon.h"
#include "window_layout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <iostream>

namespace veldar {

void TfrmMain::FormCreate() {
    SetOuterHeight(layout::CollapsedHeight);
    PlaceBottomRight();
    const int port = LoadSettings();
    // Once the lock is held and the destination known: what a dead run left becomes a capture.
    const ByteString recovered = engine_.RecoverJournals();
    // Said after ConnectPort's own status, however the connection ends.
    struct TellRecovered {
        TfrmMain& window;
        const ByteString& status;
        ~TellRecovered() {
            if (!status.empty()) window.SetStatus(status);
        }
    } tell{*this, recovered};
    ConnectPort(port);
}

int TfrmMain::LoadSettings() {
    const auto path = InFolder(exeFolder_, State.IniName);
    std::optional<ByteString> bytes = readSettings_ ? readSettings_(path) : ReadSettingsFile(path);
    if (!bytes) return 1;
    const Settings read = ParseSettings(*bytes, {.Choices = State.Choices});
    State.Choices = read.Choices;
    ShowChoices();
    return read.Port;
}

void TfrmMain::SaveSettings() {
    const ByteString content = FormatSettings(ComPort1.Port(), State.Choices);
    if (WriteSettingsFile(InFolder(exeFolder_, State.IniName), content) == SettingsWrite::Written) {
        settingsSaved_ = true;
        return;
    }
    TellAtQuit(texts::SettingsNotWritten);
}

void TfrmMain::FirstShow() {
    if (State.Quitting) return;
    if (tiMain->Available()) {
        show();
        return;
    }
    std::cerr << "VELDAR: " << Cp1252ToUtf8(texts::NoNotificationArea) << std::endl;
    // Nowhere to hide to and maybe no taskbar either: the window stays on screen as an
    // ordinary one (closing it minimises it), and says why once, under the port's text.
    setWindowFlag(Qt::Tool, false);
    minimisedInsteadOfTray_ = true;
    activatedOnce_ = true;
    State.InTray = false;
    SetStatus(ToCp1252(lblMsg->text()) + "\r\n" + texts::StatusNoNotificationArea);
    show();
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    WatchFrame();
    // Some desktops never activate a window shown at log-on: the first showing hides it too.
    if (!activatedOnce_) QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TfrmMain::FormActivate() {
    if (activatedOnce_) return;
    activatedOnce_ = true;
    HideToTray();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    TCloseAction action = caHide;
    FormClose(action);
    if (action == caNone)
        event->ignore();
    else
        event->accept();
}

void TfrmMain::FormClose(TCloseAction& Action) {
    if (!State.Quitting) {
        // The close button only hides the window.
        Action = caNone;
        HideToTray();
        return;
    }
    QCoreApplication::processEvents();
    try {
        DisconnectPort();
    } catch (const std::exception& e) {
        // A port that refuses to close is released with the window; the quit goes on.
        std::cerr << "VELDAR: " << e.what() << std::endl;
    }
    SaveUnsavedAtQuit();
    if (!settingsSaved_) SaveSettings();
}

void TfrmMain::SaveUnsavedAtQuit() {
    // Once: the end of the session tries before it answers, the close would try again.
    if (std::exchange(unsavedTriedAtQuit_, true) || engine_.UnsavedRecords() == 0) return;
    engine_.SaveUnsaved();
    // What a journal holds comes back at the next start.
    if (const int lost = engine_.UnsavedRecords(false); lost > 0)
        TellAtQuit(std::to_string(lost) + texts::MessageUnsavedLost);
}

void TfrmMain::TellAtQuit(const ByteString& text) {
    // Nobody can answer a box when the session ends or a signal stops the program.
    if (quitFrom_ == QuitFrom::Menu)
        boxes_->Message(FromCp1252(text));
    else
        std::cerr << "VELDAR: " << Cp1252ToUtf8(text) << std::endl;
}

void TfrmMain::mnuQuitterClick() {
    RequestQuit(QuitFrom::Menu);
}

void TfrmMain::WMQueryEndSession() {
    // The session may end as soon as this returns: save what must not be lost now.
    quitFrom_ = QuitFrom::Session;
    State.Quitting = true;
    engine_.SaveNow();
    SaveUnsavedAtQuit();
    SaveSettings();
    RequestQuit(QuitFrom::Session);
}

void TfrmMain::RequestQuit(QuitFrom from) {
    if (!State.Quitting || !terminated_) quitFrom_ = from;
    // From now on no dump starts, and a running one stops at its next poll and saves.
    State.Quitting = true;
    State.Busy = true;
    boxes_->CancelAll();
    FinishQuitLater();
}

void TfrmMain::FinishQuitLater() {
    QMetaObject::invokeMethod(
        this, [this] { FinishQuit(); }, Qt::QueuedConnection);
}

void TfrmMain::FinishQuit() {
    // A dump or a connection up the stack holds the port; their end comes back here.
    if (terminated_ || engine_.Running() || connecting_ > 0) return;
    terminated_ = true;
    close();
    if (OnTerminate)
        OnTerminate();
    else
        QCoreApplication::exit(0);
}

} // namespace veldar
