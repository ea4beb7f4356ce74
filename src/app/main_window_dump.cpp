// What the dump shows in the window, the loop and clock it runs in, the options the window
// gives it, and the dump operations under the window's names.
#include "main_window.h"

#include "port_failure.h"

#include "file_viewer.h"
#include "native_path.h"
#include "program_texts.h"
#include "qt_text.h"
#include "tray_icon.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <chrono>
#include <thread>

namespace veldar {

namespace {

// The log keeps the last lines only: a dump writes two lines a record, and a million records
// would hold over a gigabyte. 5000 lines are the last 2500 records, 10 s of a paced dump,
// enough to see where an error showed; the records themselves are in the file.
constexpr int LogLineLimit = 5000;
// Lines are dropped 500 at once, one edit for many appended lines.
constexpr int LogLinesKept = LogLineLimit - 500;

void AppendToLog(QPlainTextEdit& log, const QString& line) {
    QTextDocument& document = *log.document();
    // An undo history would keep every line ever dropped; nobody edits the log.
    if (document.isUndoRedoEnabled()) document.setUndoRedoEnabled(false);
    log.appendPlainText(line);
    if (document.blockCount() <= LogLineLimit) return;
    // Everything above the kept lines, the notice of an earlier drop included, becomes one
    // notice line: the first line says that older lines were dropped.
    QTextCursor cursor(&document);
    const int firstKept = document.blockCount() - LogLinesKept;
    cursor.setPosition(document.findBlockByNumber(firstKept).position() - 1,
                       QTextCursor::KeepAnchor);
    cursor.insertText(FromCp1252(texts::LogOlderLinesDropped));
}

} // namespace

// --- the dump under the window's names ---

void TfrmMain::WakeDevice() {
    engine_.WakeDevice();
}
void TfrmMain::ComPort1RxChar(TCustomComPort* sender, int count) {
    engine_.ComPort1RxChar(sender, count);
}
void TfrmMain::ComPort1CTSChange(TCustomComPort* sender, bool onOff) {
    engine_.ComPort1CTSChange(sender, onOff);
}
void TfrmMain::clCtsDblClick() {
    if (!ComPort1.Connected()) {
        // Nothing to dump from: said in French rather than by a write that fails.
        const ByteString text = PortClosedText(ComPort1.Port());
        SetStatus(text);
        boxes_->Message(ToDisplay(text));
        return;
    }
    try {
        engine_.clCtsDblClick();
    } catch (const EComPort& e) {
        // A gone device is told in the status and the tray, not in a box nobody may answer.
        if (!ComPort1.IsLostError(e.OsError())) throw;
    }
}

void TfrmMain::DumpFinished() {
    // The run's records are on the disk now, or kept apart as unsaved, or dropped on purpose
    // (a cancelled dump): a long dump's memory goes back for the weeks in the tray.
    engine_.Run().CaptureText.clear();
    if (State.Quitting) {
        // The quit waited for the dump; nothing else runs now.
        deferredCommand_ = nullptr;
        deferredDialog_ = nullptr;
        FinishQuitLater();
        return;
    }
    // A device that went away during the dump: the port closes once everything up the
    // stack has returned; a port command asked for meanwhile runs after that and wins.
    const DumpSummary& last = engine_.LastDump();
    if (std::exchange(lostLater_, false) ||
        (last.End == DumpEnd::PortFailed && ComPort1.IsLostError(last.PortError)))
        QMetaObject::invokeMethod(
            this, [this] { Guarded([this] { ClosePortAsLost(); }); }, Qt::QueuedConnection);
    // A port command asked for during the dump runs once everything up the stack has
    // returned, the port's hand-over included.
    if (auto dialog = std::exchange(deferredDialog_, nullptr))
        QMetaObject::invokeMethod(
            this, [this, dialog] { Guarded(dialog); }, Qt::QueuedConnection);
    if (auto command = std::exchange(deferredCommand_, nullptr))
        QMetaObject::invokeMethod(
            this, [this, command] { Guarded(command); }, Qt::QueuedConnection);
}

// --- what the window gives and shows ---

void TfrmMain::SetStatus(const ByteString& caption) {
    lblMsg->setText(ToDisplay(caption));
}
void TfrmMain::AddLogLine(const ByteString& line) {
    AppendToLog(*mmoMain, ToDisplay(line));
}
void TfrmMain::AddPathLogLine(const ByteString& before, const std::filesystem::path& path,
                              const ByteString& after) {
    AppendToLog(*mmoMain, ToDisplay(before) + FromPath(path) + ToDisplay(after));
}

DumpOptions TfrmMain::Options() const {
    return {State.Choices, exeFolder_,
            WithDelimiter(ToPath(QDir::toNativeSeparators(QDir::homePath())))};
}

void TfrmMain::OpenInAssociatedProgram(const std::filesystem::path& file) {
    // The file is saved whatever happens here; the log says when nothing could show it.
    OpenWithDesktop(FromPath(file), this, [this] { AddLogLine(texts::FileNotViewed); });
}

// --- the dump's view ---

void WindowDumpView::SetStatus(const ByteString& caption) {
    window_.SetStatus(caption);
}
void WindowDumpView::AddLogLine(const ByteString& line) {
    window_.AddLogLine(line);
}
void WindowDumpView::AddPathLogLine(const ByteString& before, const std::filesystem::path& path,
                                    const ByteString& after) {
    window_.AddPathLogLine(before, path, after);
}
void WindowDumpView::ClearLog() {
    window_.mmoMain->clear();
}
void WindowDumpView::SetProgressPosition(int position) {
    window_.pbMain->setValue(position);
}
void WindowDumpView::SetProgressMax(int maximum) {
    window_.pbMain->setMaximum(maximum);
}
void WindowDumpView::ShowFromTray() {
    window_.ShowFromTray();
}
void WindowDumpView::HideToTray() {
    window_.HideToTray();
}
void WindowDumpView::FocusMainWindow() {
    window_.activateWindow();
}
void WindowDumpView::Beep() {
    QApplication::beep();
}
void WindowDumpView::ShowMessage(const ByteString& text) {
    window_.Boxes().Message(ToDisplay(text));
}

void WindowDumpView::ShowNamePanel() {
    // The wait shows the panel again and again: only its first showing takes the keyboard,
    // so that a typed name replaces the proposed one and no key lands in the log.
    if (!window_.PnlNomFic->isHidden()) return;
    window_.PnlNomFic->show();
    window_.txtNomFic->setFocus(Qt::OtherFocusReason);
    window_.txtNomFic->selectAll();
}
void WindowDumpView::HideNamePanel() {
    window_.PnlNomFic->hide();
}
void WindowDumpView::TakeTrayMenu() {
    window_.tiMain->SetPopupMenu(nullptr);
}
void WindowDumpView::GiveTrayMenu() {
    window_.tiMain->SetPopupMenu(window_.pmMain);
}
void WindowDumpView::DestinationSettled(const std::filesystem::path& folder) {
    window_.State.Choices.DestPath = folder;
}
void WindowDumpView::OpenInAssociatedProgram(const std::filesystem::path& file) {
    window_.OpenInAssociatedProgram(file);
}

// --- the loop and clock of the dump ---

void WindowPump::ProcessMessages() {
    QCoreApplication::processEvents();
}

void WindowPump::WaitForEvent() {
    // Sleeps until something arrives: a key, a click, a port hand-over or a quit request.
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void WindowPump::Sleep(int milliseconds) {
    if (sleepFor_)
        sleepFor_(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void WindowPump::WaitForLineEnd(TCustomComPort& port, int milliseconds) {
    if (sleepFor_)
        WaitForLineEndInSteps(port, milliseconds, sleepFor_);
    else
        port.WaitForInput('\r', milliseconds);
}

LocalTime WindowPump::Now() {
    if (clock_) return clock_();
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return LocalTime{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()};
}

bool WindowPump::StopRequested() const {
    return window_.State.Quitting;
}

} // namespace veldar
