// The main window: a small always-on-top tool window with the progress bar, the four signal
// LEDs, the status text, the logo, the log and the file-name panel; it owns the serial port,
// the tray icon and its menu, runs the port commands, and starts the dump engine, which
// shows its progress through the window's DumpView.
#pragma once

#include "capture_files.h"
#include "com_port.h"
#include "dialogs.h"
#include "dump_engine.h"
#include "port_list.h"
#include "save_choices.h"
#include "tray_backend.h"
#include "window_dump_side.h"

#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QAction;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace veldar {

class PortWatch;
class TComLed;
class TTrayIconComponent;

// A picture that reports double-clicks (the logo).
class TLogoImage : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void DoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// The program-wide state of the window. The dump engine shares only Busy.
struct ProgramState {
    // What the user chose for saving: the menu's ticks show it, a tick changes it, the settings
    // file keeps it, and each dump is given it.
    SaveChoices Choices;
    const std::string IniName = "VELDAR.ini";
    // True from start until the port is first opened, then while a dump runs: the dump
    // triggers do nothing while it is true.
    bool Busy = true;
    bool Quitting = false;
    bool InTray = false;
};

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    // What the window needs of the platform; tests give their own.
    struct Environment {
        // The program's folder (config_location.h): the executable's, or the user's
        // configuration folder in the installed layout. Settings file, COMn links,
        // fallback destination and rescue copies.
        QString ExecutableFolder;
        std::unique_ptr<ComDevice> Device;   // the platform's serial device when empty
        std::unique_ptr<Dialogs> Boxes;      // real modal boxes when empty
        std::unique_ptr<TrayBackend> Tray;   // the desktop's tray when empty
        std::unique_ptr<CaptureFiles> Files; // real files when empty
        std::function<void(int)> SleepFor;   // a real sleep when empty
        std::function<LocalTime()> Clock;    // the local clock when empty
        // Reads the settings file: its bytes, none when there is no file; throws when it
        // cannot be read. The file's own reader when empty.
        std::function<std::optional<ByteString>(const std::filesystem::path&)> ReadSettings;
        // The serial ports present now, each with the COM name that leads to it; the
        // platform's list when empty.
        std::function<std::vector<PortInfo>()> ListPorts;
    };

    enum TCloseAction { caNone, caHide, caFree, caMinimize };
    // Where a quit comes from: the menu may ask the user; the end of the session and a
    // signal have nobody to answer a box.
    enum class QuitFrom { Menu, Session, Signal };

    explicit TfrmMain(Environment environment);
    ~TfrmMain() override;

    // --- members, in their declared order ---
    QProgressBar* pbMain;
    TComPort ComPort1;
    TComLed* clCon;
    TComLed* clCts;
    TComLed* clRx;
    TComLed* clTx;
    QPlainTextEdit* mmoMain;
    QLabel* lblMsg;
    QFrame* pnlImg;
    TLogoImage* ImgLogo;
    TTrayIconComponent* tiMain;
    QMenu* pmMain;
    QAction* N1;
    QAction* mnuQuitter;
    QAction* N2;
    QAction* mnuMonter;
    QAction* mnuEnregistrer;
    QAction* mnuCom;
    // The ports present, filled each time the submenu opens.
    QMenu* mnuPorts;
    QFrame* PnlNomFic;
    QLineEdit* txtNomFic;
    QPushButton* btnNomFic;
    QLabel* lblNomFic;

    ProgramState State;

    // --- operations ---
    void FormCreate();
    // The event loop's one showing of the window at start.
    void FirstShow();
    void FormActivate();
    void FormClose(TCloseAction& Action);
    int LoadSettings();
    void SaveSettings();
    // Records that no folder took get a last try; a last box says what could not be kept.
    void SaveUnsavedAtQuit();
    // A box when the user quit from the menu, else a line on the error output.
    void TellAtQuit(const ByteString& text);
    void ConnectPort(int number);
    void DisconnectPort();
    // The device of the open port went away: the port is closed as soon as no dump holds
    // it, and reopened by itself when it comes back (the user's own commands still win).
    void PortLost();
    // One look at the open port after the computer woke up.
    void CheckPortAfterResume();
    bool WaitingForPort() const { return waitingForPort_; }
    void HideToTray();
    void ShowFromTray();
    void WakeDevice();

    // --- handlers ---
    void ComPort1RxChar(TCustomComPort* sender, int count);
    void ComPort1CTSChange(TCustomComPort* sender, bool onOff);
    void clCtsDblClick();
    void clConDblClick();
    void mnuComClick();
    void mnuPortsAboutToShow();
    // A port of the list chosen: ConnectPort with its COM name (on Linux one is given to it
    // when none leads to it yet).
    void ChoosePort(const PortInfo& port);
    // A tick of the menu chosen: the choice changes, and the ticks show the new value.
    void ChoiceClick(bool SaveChoices::*ticked);
    // The menu's tick of a choice.
    QAction* TickOf(bool SaveChoices::*ticked) const;
    void mnuEnregistrerClick();
    void mnuMonterClick();
    void tiMainDblClick();
    void ImgLogoDblClick();
    void btnNomFicClick();
    // Key is a Windows-1252 byte; set to 0 to discard it.
    void txtNomFicKeyPress(char& key);

    void mnuQuitterClick();
    // The desktop asks whether the session may end: yes, and whatever must persist (the
    // settings, the records of a running dump) is written before this returns.
    void WMQueryEndSession();
    // Quits as "Quitter" does: a running dump stops and saves first, open boxes close, the
    // port closes, the settings are written, the event loop ends.
    void RequestQuit(QuitFrom from);
    // Ends the event loop; QCoreApplication::exit(0) when empty.
    std::function<void()> OnTerminate;
    bool Terminated() const { return terminated_; }

    // True while a dump runs (Busy is also true before the first connection).
    bool DumpRunning() const { return engine_.Running(); }
    // The outer height, frame included.
    int OuterHeight() const;
    void SetOuterHeight(int height);
    // The folder of the executable, ending with a path delimiter.
    const std::filesystem::path& ExeFolder() const { return exeFolder_; }
    DumpEngine& Engine() { return engine_; }

    // --- what the dump shows and the options it is given ---
    void SetStatus(const ByteString& caption);
    void AddLogLine(const ByteString& line);
    void AddPathLogLine(const ByteString& before, const std::filesystem::path& path,
                        const ByteString& after);
    DumpOptions Options() const;
    void OpenInAssociatedProgram(const std::filesystem::path& file);

    // The application's general error box: the text with a stop icon, titled "VELDAR".
    void ShowError(const QString& text);
    Dialogs& Boxes() { return *boxes_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
#ifdef _WIN32
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void BuildMenu();
    // The ticks as the choices are.
    void ShowChoices();
    void PlaceBottomRight();
    void FollowScreen();
    void WatchScreens();
    // The frame's height is known only once the window manager has framed the shown window.
    void FollowFrame();
    void WatchFrame();
    void ApplyOuterHeight();
    QMargins Frame() const;
    // The window's rectangle, frame included, and a move of it.
    QRect OuterGeometry() const;
    void MoveOuter(QPoint topLeft);
    void KeepInsideWorkArea();
    // Without a notification area: an ordinary window, minimised with a taskbar entry.
    void MinimiseInsteadOfTray();
    void LayoutLog();
    void SnapToWorkArea();
    // Runs a handler; an exception goes to the error box instead of the event loop.
    void Guarded(const std::function<void()>& handler);
    // A port command asked for while a dump runs waits for its end.
    void PortCommand(std::function<void()> command);
    void DumpFinished();
    void TellOpenFailure(const std::exception& error);
    // The lost or missing port: waited for, looked at when it may be back, reopened.
    void ClosePortAsLost();
    void StartWaitingForPort(bool lookFirst);
    void StopWaitingForPort();
    void TryReopenPort();
    void ReopenPort();
    void WakeOpenedPort(bool busyBefore);
    bool PortPresent();
    QStringList PortFolders() const;
    // The device path the port's name leads to now (POSIX: a COMn link or /dev/ttyS);
    // empty on Windows, whose names are the devices'.
    std::string PortPath() const;
    // Counts the port commands in progress; at the end of the last one, what waited for it.
    struct Connecting {
        explicit Connecting(TfrmMain& window);
        ~Connecting();
        Connecting(const Connecting&) = delete;
        Connecting& operator=(const Connecting&) = delete;
        TfrmMain& window;
    };
    // The end of a quit, once nothing up the stack holds the port.
    void FinishQuit();
    void FinishQuitLater();

    std::unique_ptr<Dialogs> boxes_;
    std::unique_ptr<CaptureFiles> files_;
    std::filesystem::path exeFolder_;
    WindowDumpView dumpView_;
    WindowPump pump_;
    DumpEngine engine_;
    std::function<void()> deferredCommand_;
    // A command that opens a modal dialog, asked for during a dump.
    std::function<void()> deferredDialog_;
    // The list the submenu last showed: the one shown during a dump, and the one a choice
    // is made from.
    std::vector<PortInfo> listedPorts_;
    // The menu's ticks, each with the choice it shows (ChoiceItems' order).
    std::vector<std::pair<QAction*, bool SaveChoices::*>> ticks_;
    PortWatch* portWatch_ = nullptr;
    bool waitingForPort_ = false;
    // A loss told while a dump or a port command held the port, handled once they end; a
    // port that came back while an open failure's box was on screen.
    bool lostLater_ = false;
    bool reopenLater_ = false;
    bool unsavedTriedAtQuit_ = false;
    // Since the port last came back by itself (a device that fails at once is not reopened
    // every second).
    QElapsedTimer sinceReopen_;
    // Where the port was last opened: a port lost there is reopened only there, never through
    // the name's fallback (a COMn link gone with its adapter leaves /dev/ttyS, another port).
    std::string openedPath_;
    bool snapping_ = false;
    std::function<std::optional<ByteString>(const std::filesystem::path&)> readSettings_;
    std::function<std::vector<PortInfo>()> listPorts_;
    QuitFrom quitFrom_ = QuitFrom::Menu;
    bool activatedOnce_ = false;
    bool settingsSaved_ = false;
    bool terminated_ = false;
    int connecting_ = 0;
    int outerHeight_ = 0;
    // The frame height the outer height was last applied with.
    std::optional<int> appliedFrame_;
    bool framed_ = false;
    mutable QMargins lastFrame_;
    QTimer* frameWatch_ = nullptr;
    QTimer* snapWait_ = nullptr;
    int frameLooks_ = 0;
    // Where the collapsed window was when expanding had to move it up, and where it went.
    std::optional<QPoint> collapsedAt_;
    // Where the program last placed the window, frame included: elsewhere, the user moved it.
    std::optional<QPoint> placedAt_;
    QPoint expandedAt_;
    // Without a notification area the window hides by minimising, with a taskbar entry.
    bool minimisedInsteadOfTray_ = false;
};

} // namespace veldar
