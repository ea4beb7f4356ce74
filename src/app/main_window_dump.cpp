// The main window as the dump's host, and the dump operations under the window's names.
#include "main_window.h"

#include "cp1252.h"
#include "file_viewer.h"
#include "native_path.h"
#include "tray_icon.h"
#include "window_texts.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <chrono>
#include <thread>

namespace veldar {

namespace {

// The program's texts end lines with CR LF; a reply keeps its lone CR, which the log shows
// as a line break when an error text follows it and as nothing at the end.
QString ToDisplay(const ByteString& text) {
    QString shown = QString::fromStdString(Cp1252ToUtf8(text));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (shown.endsWith(QChar('\r'))) shown.chop(1);
    shown.replace(QChar('\r'), QChar('\n'));
    return shown;
}

} // namespace

// --- the dump under the window's names ---

void TfrmMain::RunDump(bool probeFirst) {
    engine_.RunDump(probeFirst);
}
void TfrmMain::WakeDevice() {
    engine_.WakeDevice();
}
bool TfrmMain::ProbeBaudRate(TBaudRate baud) {
    return engine_.ProbeBaudRate(baud);
}
bool TfrmMain::SaveCapture() {
    return engine_.SaveCapture();
}
void TfrmMain::ComPort1RxChar(TCustomComPort* sender, int count) {
    engine_.ComPort1RxChar(sender, count);
}
void TfrmMain::ComPort1CTSChange(TCustomComPort* sender, bool onOff) {
    engine_.ComPort1CTSChange(sender, onOff);
}
void TfrmMain::clCtsDblClick() {
    engine_.clCtsDblClick();
}

void TfrmMain::DumpFinished() {
    if (State.Quitting) {
        // The quit waited for the dump; nothing else runs now.
        deferredCommand_ = nullptr;
        FinishQuitLater();
        return;
    }
    // A port command asked for during the dump runs once everything up the stack has
    // returned, the port's hand-over included.
    if (auto command = std::exchange(deferredCommand_, nullptr))
        QMetaObject::invokeMethod(
            this, [this, command] { Guarded(command); }, Qt::QueuedConnection);
}

// --- the host ---

void TfrmMain::SetStatus(const ByteString& caption) {
    lblMsg->setText(ToDisplay(caption));
}
void TfrmMain::AddLogLine(const ByteString& line) {
    mmoMain->appendPlainText(ToDisplay(line));
}
void TfrmMain::AddPathLogLine(const ByteString& before, const std::filesystem::path& path,
                              const ByteString& after) {
    mmoMain->appendPlainText(ToDisplay(before) + FromPath(path) + ToDisplay(after));
}
void TfrmMain::ClearLog() {
    mmoMain->clear();
}
int TfrmMain::ProgressPosition() const {
    return pbMain->value();
}
void TfrmMain::SetProgressPosition(int position) {
    pbMain->setValue(position);
}
int TfrmMain::ProgressMax() const {
    return pbMain->maximum();
}
void TfrmMain::SetProgressMax(int maximum) {
    pbMain->setMaximum(maximum);
}

void TfrmMain::FocusMainWindow() {
    activateWindow();
}

void TfrmMain::ProcessMessages() {
    QCoreApplication::processEvents();
}

void TfrmMain::WaitForEvent() {
    // Sleeps until something arrives: a key, a click, a port hand-over or a quit request.
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TfrmMain::Sleep(int milliseconds) {
    if (sleepFor_)
        sleepFor_(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

LocalTime TfrmMain::Now() {
    if (clock_) return clock_();
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return LocalTime{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()};
}

void TfrmMain::Beep() {
    QApplication::beep();
}

void TfrmMain::ShowMessage(const ByteString& text) {
    boxes_->Message(ToDisplay(text));
}

void TfrmMain::ShowNamePanel() {
    // The wait shows the panel again and again: only its first showing takes the keyboard,
    // so that a typed name replaces the proposed one and no key lands in the log.
    if (!PnlNomFic->isHidden()) return;
    PnlNomFic->show();
    txtNomFic->setFocus(Qt::OtherFocusReason);
    txtNomFic->selectAll();
}
void TfrmMain::HideNamePanel() {
    PnlNomFic->hide();
}
void TfrmMain::TakeTrayMenu() {
    tiMain->SetPopupMenu(nullptr);
}
void TfrmMain::GiveTrayMenu() {
    tiMain->SetPopupMenu(pmMain);
}

bool TfrmMain::AutoFileName() const {
    return mnuNomFicAuto->isChecked();
}
bool TfrmMain::OverwriteFile() const {
    return mnuEcraser->isChecked();
}
bool TfrmMain::ViewFile() const {
    return mnuFichier->isChecked();
}

std::filesystem::path TfrmMain::ExecutableFolder() const {
    return exeFolder_;
}

std::filesystem::path TfrmMain::HomeFolder() const {
    return WithDelimiter(ToPath(QDir::toNativeSeparators(QDir::homePath())));
}

void TfrmMain::OpenInAssociatedProgram(const std::filesystem::path& file) {
    // The file is saved whatever happens here; the log says when nothing could show it.
    OpenWithDesktop(FromPath(file), this,
                    [this] { AddLogLine(texts::FileNotViewed); });
}

bool TfrmMain::StopRequested() const {
    return State.Quitting;
}

} // namespace veldar
