// The main window: its controls, placement, the port commands and the tray commands.
#include "main_window.h"

#include "app_images.h"
#include "com_led.h"
#include "native_path.h"
#include "port_errors.h"
#include "port_failure.h"
#include "port_watch.h"
#include "program_texts.h"
#include "qt_text.h"
#include "text_int.h"
#include "tray_backend.h"
#include "tray_icon.h"
#include "window_font.h"
#include "window_layout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <filesystem>
#ifdef _WIN32
#include "win32_api.h"
#else
#include "port_names.h"
#endif

namespace veldar {

namespace {

constexpr int SnapMargin = 10;
constexpr int SnapSettleMs = 150;
// A port lost again this soon after it came back by itself is waited for by changes only.
constexpr qint64 ReopenCalmMs = 60000;

} // namespace

void TLogoImage::mouseDoubleClickEvent(QMouseEvent* event) {
    QLabel::mouseDoubleClickEvent(event);
    emit DoubleClicked();
}

TfrmMain::TfrmMain(Environment environment)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ComPort1(environment.Device
                   ? std::move(environment.Device)
                   : CreatePlatformDevice(environment.ExecutableFolder.toStdString())),
      boxes_(environment.Boxes ? std::move(environment.Boxes) : std::make_unique<QtDialogs>(this)),
      files_(environment.Files ? std::move(environment.Files) : std::make_unique<CaptureFiles>()),
      exeFolder_(WithDelimiter(ToPath(environment.ExecutableFolder))), dumpView_(*this),
      pump_(*this, std::move(environment.SleepFor), std::move(environment.Clock)),
      engine_(State.Busy, ComPort1, dumpView_, pump_, *files_, [this] { return Options(); }),
      readSettings_(std::move(environment.ReadSettings)),
      listPorts_(std::move(environment.ListPorts)) {
    setWindowTitle(FromCp1252(texts::ProgramName));
    setWindowIcon(ProgramIconSet());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, InactiveCaptionTextColour());
    setPalette(palette);
    setAutoFillBackground(true);
    setFont(WindowFont());
    resize(layout::ClientSize);
    setFixedWidth(layout::ClientSize.width());

    // The port as the window's description sets it.
    ComPort1.SetPort("COM1");
    ComPort1.SetBaudRate(br115200);
    ComPort1.Parity().SetBits(prNone);
    ComPort1.SetStopBits(sbOneStopBit);
    ComPort1.SetDataBits(dbEight);
    ComPort1.SetEvents(AllComEvents);
    ComPort1.FlowControl().SetControlDTR(dtrEnable);
    ComPort1.FlowControl().SetControlRTS(rtsDisable);
    ComPort1.OnRxChar = [this](TCustomComPort* sender, int count) {
        ComPort1RxChar(sender, count);
    };
    ComPort1.OnCTSChange = [this](TCustomComPort* sender, bool on) {
        ComPort1CTSChange(sender, on);
    };
    ComPort1.OnLost = [this](TCustomComPort*, int) { PortLost(); };
    engine_.OnFinished = [this] { DumpFinished(); };
    portWatch_ = new PortWatch(this);
    connect(portWatch_, &PortWatch::MayBeBack, this,
            [this] { Guarded([this] { TryReopenPort(); }); });

    BuildControls();
    BuildMenu();

    tiMain = new TTrayIconComponent(
        environment.Tray ? std::move(environment.Tray) : MakeQtTrayBackend(), this);
    tiMain->SetIcon(ProgramIconSet());
    tiMain->SetHint(FromCp1252(texts::ProgramName));
    tiMain->SetPopupMenu(pmMain);
    tiMain->OnDblClick = [this] { tiMainDblClick(); };
    tiMain->SetErrorReporter([this](const QString& text) { ShowError(text); });
    tiMain->SetActive(true);
    WatchScreens();
}

TfrmMain::~TfrmMain() {
    // The LEDs go before the port they watch.
    for (TComLed* led : {clCon, clCts, clRx, clTx})
        led->SetComPort(nullptr);
}

void TfrmMain::BuildControls() {
    pbMain = new QProgressBar(this);
    pbMain->setGeometry(layout::ProgressBar);
    pbMain->setRange(0, 1000);
    pbMain->setValue(0);
    pbMain->setTextVisible(false);

    auto makeLed = [this](const QRect& bounds, TComLedSignal signal, TLedKind kind,
                          const QString& hint) {
        auto* led = new TComLed(this);
        led->setGeometry(bounds);
        led->SetKind(kind);
        led->SetLedSignal(signal);
        led->SetComPort(&ComPort1);
        led->setToolTip(hint);
        return led;
    };
    clCon = makeLed(layout::ConnectionLed, TComLedSignal::lsConn, TLedKind::lkYellowLight,
                    FromCp1252(texts::HintConnection));
    clCts = makeLed(layout::CtsLed, TComLedSignal::lsCTS, TLedKind::lkBlueLight,
                    FromCp1252(texts::HintCts));
    clRx = makeLed(layout::ReceiveLed, TComLedSignal::lsRx, TLedKind::lkGreenLight,
                   FromCp1252(texts::HintReceive));
    clTx = makeLed(layout::TransmitLed, TComLedSignal::lsTx, TLedKind::lkGreenLight,
                   FromCp1252(texts::HintTransmit));
    connect(clCon, &TComLed::DoubleClicked, this, [this] { Guarded([this] { clConDblClick(); }); });
    connect(clCts, &TComLed::DoubleClicked, this, [this] { Guarded([this] { clCtsDblClick(); }); });

    mmoMain = new QPlainTextEdit(this);
    mmoMain->setGeometry(layout::Log);
    mmoMain->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmoMain->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoMain->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The log is the program's to write: keys typed there would read as received lines.
    mmoMain->setReadOnly(true);

    lblMsg = new QLabel(FromCp1252(texts::StatusAtStart), this);
    lblMsg->setGeometry(layout::StatusLabel);
    lblMsg->setWordWrap(true);
    lblMsg->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblMsg->setFont(WindowFont(true));
    lblMsg->setStyleSheet(QStringLiteral("color: navy;"));

    pnlImg = new QFrame(this);
    pnlImg->setGeometry(layout::LogoPanel);
    pnlImg->setFrameStyle(QFrame::Box | QFrame::Plain);
    pnlImg->setAutoFillBackground(true);
    QPalette white = pnlImg->palette();
    white.setColor(QPalette::Window, Qt::white);
    pnlImg->setPalette(white);
    ImgLogo = new TLogoImage(pnlImg);
    ImgLogo->setGeometry(layout::Logo);
    ImgLogo->setAlignment(Qt::AlignCenter);
    // Drawn for the screen's pixels, then fitted to its place.
    const int ratio = static_cast<int>(std::ceil(devicePixelRatioF()));
    QPixmap logo =
        QPixmap::fromImage(LogoImage(ratio))
            .scaled(layout::Logo.size() * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    logo.setDevicePixelRatio(ratio);
    ImgLogo->setPixmap(logo);
    connect(ImgLogo, &TLogoImage::DoubleClicked, this,
            [this] { Guarded([this] { ImgLogoDblClick(); }); });

    PnlNomFic = new QFrame(this);
    PnlNomFic->setGeometry(layout::NamePanel);
    PnlNomFic->setFrameStyle(QFrame::Panel | QFrame::Raised);
    PnlNomFic->setLineWidth(4);
    PnlNomFic->setAutoFillBackground(true);
    PnlNomFic->hide();
    lblNomFic = new QLabel(FromCp1252(texts::NamePrompt), PnlNomFic);
    lblNomFic->setGeometry(layout::NameLabel);
    lblNomFic->setFont(WindowFont(true));
    lblNomFic->setStyleSheet(QStringLiteral("color: red;"));
    txtNomFic = new QLineEdit(FromCp1252(texts::NameAtStart), PnlNomFic);
    txtNomFic->setGeometry(layout::NameEdit);
    txtNomFic->setMaxLength(15);
    txtNomFic->setFont(WindowFont(true));
    txtNomFic->installEventFilter(this);
    btnNomFic = new QPushButton(FromCp1252(texts::NameButton), PnlNomFic);
    btnNomFic->setGeometry(layout::NameButton);
    btnNomFic->setFont(WindowFont(true));
    connect(btnNomFic, &QPushButton::clicked, this,
            [this] { Guarded([this] { btnNomFicClick(); }); });

    setTabOrder(mmoMain, txtNomFic);
    setTabOrder(txtNomFic, btnNomFic);
}

void TfrmMain::BuildMenu() {
    pmMain = new QMenu(this);
    auto item = [this](const QString& caption, void (TfrmMain::*handler)()) {
        QAction* action = pmMain->addAction(caption);
        connect(action, &QAction::triggered, this,
                [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
        return action;
    };
    mnuCom = item(FromCp1252(texts::MenuPortPrefix) + QStringLiteral("1") +
                      FromCp1252(texts::MenuPortSuffix),
                  &TfrmMain::mnuComClick);
    mnuPorts = pmMain->addMenu(FromCp1252(texts::MenuPresentPorts));
    // Its own showing, not the parent menu's: a tray may show a copy of the parent menu.
    connect(mnuPorts, &QMenu::aboutToShow, this,
            [this] { Guarded([this] { mnuPortsAboutToShow(); }); });
    N2 = pmMain->addSeparator();
    for (const ChoiceItem& choice : ChoiceItems) {
        QAction* tick = pmMain->addAction(FromCp1252(choice.Text));
        tick->setCheckable(true);
        const auto ticked = choice.Ticked;
        connect(tick, &QAction::triggered, this,
                [this, ticked] { Guarded([this, ticked] { ChoiceClick(ticked); }); });
        ticks_.emplace_back(tick, ticked);
    }
    mnuEnregistrer = item(FromCp1252(texts::MenuSaveAs), &TfrmMain::mnuEnregistrerClick);
    mnuEnregistrer->setStatusTip(FromCp1252(texts::MenuSaveAsHint));
    mnuEnregistrer->setToolTip(mnuEnregistrer->statusTip());
    N1 = pmMain->addSeparator();
    mnuMonter = item(FromCp1252(texts::MenuShow), &TfrmMain::mnuMonterClick);
    mnuQuitter = item(FromCp1252(texts::MenuQuit), &TfrmMain::mnuQuitterClick);
}

// --- placement and size ---

// The frame as the window manager has it now. QWidget's own idea of the frame is refreshed
// only when the window moves or changes size, and a window manager may tell the frame's
// size without either. While the window manager withdraws the window or takes it back, the
// frame reads as none for a moment: the last one seen stands for it then.
QMargins TfrmMain::Frame() const {
    QWindow* window = windowHandle();
    const QMargins margins = window ? window->frameMargins() : QMargins();
    if (margins.isNull()) return lastFrame_;
    lastFrame_ = margins;
    return margins;
}

QRect TfrmMain::OuterGeometry() const {
    return geometry().marginsAdded(Frame());
}

void TfrmMain::MoveOuter(QPoint topLeft) {
    const QMargins frame = Frame();
    move(topLeft + QPoint(frame.left(), frame.top()) - (geometry().topLeft() - pos()));
}

int TfrmMain::OuterHeight() const {
    return OuterGeometry().height();
}

void TfrmMain::SetOuterHeight(int height) {
    outerHeight_ = height;
    ApplyOuterHeight();
}

void TfrmMain::ApplyOuterHeight() {
    const QMargins frame = Frame();
    appliedFrame_ = frame.top() + frame.bottom();
    setFixedHeight(std::max(0, outerHeight_ - *appliedFrame_));
    LayoutLog();
}

// Until the window manager has framed the window, its frame counts as nothing: the height set
// before the first showing is the client's. Once the frame is known, the outer height is set
// again and the window placed bottom-right as it was meant to be; a later change of the
// frame (another kind of window) keeps the window inside the work area.
void TfrmMain::FollowFrame() {
    // A minimised window waits for its restoring: resizing it would bring it back on some
    // window managers.
    if (!isVisible() || isMinimized() || outerHeight_ == 0) return;
    const QMargins margins = Frame();
    const int frame = margins.top() + margins.bottom();
    if (appliedFrame_ == frame) return;
    ApplyOuterHeight();
    if (!framed_ && frame > 0) {
        framed_ = true;
        PlaceBottomRight();
    } else {
        KeepInsideWorkArea();
    }
}

// The window manager's frame is usually known when the framed window is exposed, but it may
// come a little later, and Qt reports no change of the frame alone: look again for a while,
// until a frame has been applied or the window is hidden again.
void TfrmMain::WatchFrame() {
    if (QWindow* window = windowHandle()) window->installEventFilter(this);
    if (!frameWatch_) {
        frameWatch_ = new QTimer(this);
        connect(frameWatch_, &QTimer::timeout, this, [this] {
            FollowFrame();
            const bool applied = appliedFrame_ && *appliedFrame_ > 0;
            if (--frameLooks_ <= 0 || applied || !isVisible()) frameWatch_->stop();
        });
    }
    frameLooks_ = 40;
    frameWatch_->start(50);
}

void TfrmMain::KeepInsideWorkArea() {
    QScreen* screen = this->screen();
    if (!screen) return;
    const QRect work = screen->availableGeometry();
    const QRect frame = OuterGeometry();
    QPoint to = frame.topLeft();
    to.setX(std::max(work.left(), std::min(to.x(), work.right() - frame.width() + 1)));
    to.setY(std::max(work.top(), std::min(to.y(), work.bottom() - frame.height() + 1)));
    if (to != frame.topLeft()) MoveOuter(to);
}

// The log follows the window's size; everything else keeps its place.
void TfrmMain::LayoutLog() {
    const int belowLog = layout::ClientSize.height() - layout::Log.top() - layout::Log.height();
    // Collapsed, the log is not part of the window: where the frame is thinner (a scaled
    // screen) a strip of it would show below the controls.
    const bool collapsed = outerHeight_ <= layout::CollapsedHeight;
    mmoMain->setGeometry(layout::Log.left(), layout::Log.top(), width(),
                         collapsed ? 0 : std::max(0, height() - layout::Log.top() - belowLog));
}

void TfrmMain::PlaceBottomRight() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect work = screen->availableGeometry();
    // Sizes of the work area, as the window was always placed, not its right and bottom.
    placedAt_ = QPoint(work.width() - OuterGeometry().width(), work.height() - OuterHeight());
    MoveOuter(*placedAt_);
}

// The screen changed under the window (a panel appeared, a monitor went, another resolution):
// a window the user never moved goes back to the corner of the area now available, and so
// does one that would leave or overlap it; one the user placed within it stays there.
void TfrmMain::FollowScreen() {
    if (!isVisible() || isMinimized()) return;
    QScreen* screen = this->screen();
    if (!screen) return;
    const QRect work = screen->availableGeometry();
    const QRect outer = OuterGeometry();
    if (placedAt_ && outer.topLeft() != *placedAt_ && work.contains(outer)) return;
    placedAt_ = QPoint(work.right() + 1 - outer.width(), work.bottom() + 1 - outer.height());
    MoveOuter(*placedAt_);
}

void TfrmMain::WatchScreens() {
    auto follow = [this] { QTimer::singleShot(0, this, [this] { FollowScreen(); }); };
    auto watch = [this, follow](QScreen* screen) {
        connect(screen, &QScreen::availableGeometryChanged, this, follow);
    };
    for (QScreen* screen : QGuiApplication::screens())
        watch(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [watch, follow](QScreen* screen) {
        watch(screen);
        follow();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, follow);
}

void TfrmMain::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    FollowFrame();
    // Snapped where the window comes to rest: on the way, a window manager reports the places
    // of its animations and, late, places the window has already left.
    if (snapping_) return;
    if (!snapWait_) {
        snapWait_ = new QTimer(this);
        snapWait_->setSingleShot(true);
        connect(snapWait_, &QTimer::timeout, this, [this] { SnapToWorkArea(); });
    }
    snapWait_->start(SnapSettleMs);
}

// Edges that come within 10 pixels of the same edge of the work area are aligned with it.
void TfrmMain::SnapToWorkArea() {
    if (snapping_ || !isVisible() || isMinimized()) return;
    QScreen* screen = this->screen();
    if (!screen) return;
    const QRect work = screen->availableGeometry();
    const QRect frame = OuterGeometry();
    QPoint to = frame.topLeft();
    if (std::abs(frame.left() - work.left()) <= SnapMargin)
        to.setX(work.left());
    else if (std::abs(frame.right() - work.right()) <= SnapMargin)
        to.setX(work.right() - frame.width() + 1);
    if (std::abs(frame.top() - work.top()) <= SnapMargin)
        to.setY(work.top());
    else if (std::abs(frame.bottom() - work.bottom()) <= SnapMargin)
        to.setY(work.bottom() - frame.height() + 1);
    if (to != frame.topLeft()) {
        snapping_ = true;
        MoveOuter(to);
        snapping_ = false;
    }
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FollowFrame();
    LayoutLog();
}

void TfrmMain::ImgLogoDblClick() {
    // Judged on the height the program set: the frame around it may change later, when the
    // window becomes an ordinary one (no notification area) and back.
    const QRect before = OuterGeometry();
    if (outerHeight_ > layout::CollapsedHeight) {
        SetOuterHeight(layout::CollapsedHeight);
        // Back where it was, unless the user has moved it meanwhile.
        if (collapsedAt_ && OuterGeometry().topLeft() == expandedAt_) MoveOuter(*collapsedAt_);
        collapsedAt_.reset();
        return;
    }
    collapsedAt_.reset();
    // The top-left corner stays, unless the log would then hang below the work area (over
    // the taskbar, or off the screen): then the bottom edge stays.
    QScreen* screen = this->screen();
    const QRect work = screen ? screen->availableGeometry() : QRect();
    if (screen && before.top() + layout::ExpandedHeight - 1 > work.bottom()) {
        collapsedAt_ = before.topLeft();
        expandedAt_ = QPoint(before.left(),
                             std::max(work.top(), before.bottom() - layout::ExpandedHeight + 1));
        // Up first, then taller: the window never reaches over the edge.
        MoveOuter(expandedAt_);
    }
    SetOuterHeight(layout::ExpandedHeight);
}

// --- port control ---

TfrmMain::Connecting::Connecting(TfrmMain& w) : window(w) {
    ++window.connecting_;
}

TfrmMain::Connecting::~Connecting() {
    if (--window.connecting_ > 0) return;
    auto later = [this](void (TfrmMain::*step)()) {
        QMetaObject::invokeMethod(
            &window, [w = &window, step] { w->Guarded([w, step] { (w->*step)(); }); },
            Qt::QueuedConnection);
    };
    if (window.State.Quitting)
        window.FinishQuitLater();
    else if (std::exchange(window.lostLater_, false))
        later(&TfrmMain::ClosePortAsLost);
    else if (std::exchange(window.reopenLater_, false))
        later(&TfrmMain::TryReopenPort);
}

void TfrmMain::ConnectPort(int number) {
    if (number < 0 || number > 255) return;
    // A quit asked for meanwhile waits until the port is settled.
    Connecting connecting(*this);
    // No dump may start while the port opens and the device is woken: the opening's CTS
    // report and the probe's echo would start one.
    const bool busyBefore = State.Busy;
    State.Busy = true;
    DisconnectPort();
    if (number > 0) {
        const QString n = QString::number(number);
        const std::string name = "COM" + n.toStdString();
        // Another port: wherever it opens is its place.
        if (ComPort1.Port() != name) openedPath_.clear();
        ComPort1.SetPort(name);
        setWindowTitle(FromCp1252(texts::WindowCaption) + n);
        mnuCom->setText(FromCp1252(texts::MenuPortPrefix) + n + FromCp1252(texts::MenuPortSuffix));
    }
    try {
        ComPort1.SetConnected(true);
        SetStatus(texts::StatusPutInDump);
    } catch (const std::exception& e) {
        // Waited for from now on, before the box: the adapter may come while nobody is
        // there to answer it. Just tried, so only a change will bring it.
        StartWaitingForPort(false);
        TellOpenFailure(e);
        SetStatus(ByteString(texts::StatusNotConnected) + texts::StatusRetryHint);
    }
    if (!ComPort1.Connected()) {
        State.Busy = busyBefore || State.Quitting;
        return;
    }
    WakeOpenedPort(busyBefore);
}

// The port is open: no more waiting for it, the device is woken, and dumps may start.
void TfrmMain::WakeOpenedPort(bool busyBefore) {
    StopWaitingForPort();
    openedPath_ = PortPath();
    try {
        WakeDevice();
    } catch (...) {
        State.Busy = busyBefore || State.Quitting;
        throw;
    }
    // Once quitting, nothing may start a dump any more.
    State.Busy = State.Quitting;
}

// --- a port that goes away and comes back ---

void TfrmMain::PortLost() {
    // Never closed inside the hand-over that told it: from the event loop, and after a
    // running dump (which fails on the dead line by itself).
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { ClosePortAsLost(); }); }, Qt::QueuedConnection);
}

void TfrmMain::ClosePortAsLost() {
    if (State.Quitting) return;
    if (engine_.Running() || connecting_ > 0) {
        lostLater_ = true;
        return;
    }
    // Closed meanwhile by the user.
    if (!ComPort1.Connected()) return;
    // No dump may start on the closed port; the reopen ends this.
    State.Busy = true;
    // The platform's handle goes at once: Windows and Linux give the name back only then.
    ComPort1.SetConnected(false);
    SetStatus(texts::StatusPortLost);
    AddLogLine(ByteString(texts::LogPortLost) + ComPort1.Port() + texts::LogPortWaited);
    // Lost a while ago (the dump's end was waited for): it may be back already.
    StartWaitingForPort(!sinceReopen_.isValid() || sinceReopen_.elapsed() > ReopenCalmMs);
}

void TfrmMain::CheckPortAfterResume() {
    if (ComPort1.Connected() && !engine_.Running() && ComPort1.LineLost()) PortLost();
}

void TfrmMain::StartWaitingForPort(bool lookFirst) {
    waitingForPort_ = true;
    tiMain->SetHint(FromCp1252(ByteString(texts::TrayPortLost) + ComPort1.Port()));
    portWatch_->Start(PortFolders(), lookFirst);
}

void TfrmMain::StopWaitingForPort() {
    reopenLater_ = false;
    if (!waitingForPort_) return;
    waitingForPort_ = false;
    portWatch_->Stop();
    tiMain->SetHint(FromCp1252(texts::ProgramName));
}

void TfrmMain::TryReopenPort() {
    if (!waitingForPort_ || State.Quitting || ComPort1.Connected() || engine_.Running()) return;
    if (!openedPath_.empty() && PortPath() != openedPath_) return;
    if (connecting_ > 0) {
        // An open failure's box is on screen (the start without the adapter): when the
        // port is there, the box goes, and the reopen comes once the command has returned.
        if (PortPresent()) {
            reopenLater_ = true;
            boxes_->CancelAll();
        }
        return;
    }
    ReopenPort();
}

// Whether the port opens now, without keeping it.
bool TfrmMain::PortPresent() {
    ComDevice& device = ComPort1.Device();
    if (device.IsAcquired()) return true;
    if (device.Acquire(ComPort1.Port()) != 0) return false;
    device.Release();
    return true;
}

// The steps of ConnectPort for the same port, without its box: a failed attempt means the
// port is not back yet.
void TfrmMain::ReopenPort() {
    Connecting connecting(*this);
    const bool busyBefore = State.Busy;
    State.Busy = true;
    try {
        ComPort1.SetConnected(true);
    } catch (const EComPort& e) {
        State.Busy = busyBefore || State.Quitting;
        if (e.OsError() > 0 && PlatformPortErrorKind(e.OsError()) != PortErrorKind::Absent)
            portWatch_->LookAgainSoon();
        return;
    }
    SetStatus(texts::StatusPortBack);
    AddLogLine(ByteString(texts::LogPortBack) + ComPort1.Port());
    sinceReopen_.start();
    WakeOpenedPort(busyBefore);
}

std::string TfrmMain::PortPath() const {
#ifdef _WIN32
    return {};
#else
    return ResolvePortPath(ComPort1.Port(), exeFolder_.string());
#endif
}

// The folders whose changes may bring the port back: the COMn link's, its target's, /dev
// and the stable names of USB adapters. None on Windows: it looks every second.
QStringList TfrmMain::PortFolders() const {
    QStringList folders;
#ifndef _WIN32
    namespace fs = std::filesystem;
    auto add = [&folders](const fs::path& folder) {
        const QString name = FromPath(folder.lexically_normal());
        if (!name.isEmpty() && !folders.contains(name)) folders.append(name);
    };
    // Where COMn links are made, whether or not one is there now.
    add(exeFolder_);
    const fs::path device = ResolvePortPath(ComPort1.Port(), exeFolder_.string());
    add(fs::path(device).parent_path());
    std::error_code error;
    if (fs::is_symlink(device, error)) {
        fs::path target = fs::read_symlink(device, error);
        if (!error)
            add((target.is_absolute() ? target : fs::path(device).parent_path() / target)
                    .parent_path());
    }
    add("/dev");
    add("/dev/serial/by-id");
#endif
    return folders;
}

// The box keeps its first line; the reason the platform gave goes on a second line and, as
// one line, to the log.
void TfrmMain::TellOpenFailure(const std::exception& error) {
    ByteString reason;
    if (const auto* portError = dynamic_cast<const EComPort*>(&error)) {
        std::string devicePath;
#ifndef _WIN32
        devicePath = ResolvePortPath(ComPort1.Port(), exeFolder_.string());
#endif
        reason = PortOpenFailureReason(portError->ErrorCode(), portError->OsError(), devicePath);
    }
    if (reason.empty()) {
        boxes_->Message(FromCp1252(texts::PortNotOpened));
        return;
    }
    boxes_->Message(FromCp1252(ByteString(texts::PortNotOpened) + "\n" + reason));
    AddLogLine(ByteString(texts::PortNotOpened) + " " + ComPort1.Port() + ": " + reason);
}

void TfrmMain::DisconnectPort() {
    SetStatus(texts::StatusNotConnected);
    if (ComPort1.Connected()) ComPort1.SetConnected(false);
}

void TfrmMain::PortCommand(std::function<void()> command) {
    if (engine_.Running()) {
        // The latest command waits for the dump: the port is never closed under it.
        deferredCommand_ = std::move(command);
        return;
    }
    command();
}

void TfrmMain::clConDblClick() {
    PortCommand([this] {
        if (ComPort1.Connected()) {
            // Closed on purpose: never reopened by itself.
            StopWaitingForPort();
            DisconnectPort();
        } else {
            ConnectPort(0);
        }
    });
}

void TfrmMain::mnuComClick() {
    PortCommand([this] {
        const QString port = QString::fromStdString(ComPort1.Port());
        QString typed = boxes_->Input(FromCp1252(texts::PortChangeTitle) + port + ")",
                                      FromCp1252(texts::PortChangePrompt),
                                      FromCp1252(texts::PortChangeDefault));
        auto number = TextToInt(typed.toStdString());
        if (!number) {
            boxes_->Message(FromCp1252(texts::InvalidEntry));
            return;
        }
        ConnectPort(*number);
    });
}

namespace {

std::vector<PortInfo> PlatformPorts(const std::filesystem::path& linkFolder) {
    std::vector<PortInfo> ports = ListSerialPorts();
#ifndef _WIN32
    NameLinkedPorts(linkFolder, ports);
#else
    (void)linkFolder;
#endif
    SortPortsByName(ports);
    return ports;
}

// The COM name a listed port is chosen by: its own on Windows, the link's on Linux.
std::string ComNameOf(const PortInfo& port) {
#ifdef _WIN32
    return port.name;
#else
    return port.comName;
#endif
}

} // namespace

void TfrmMain::mnuPortsAboutToShow() {
    // Never inside the record loop: a dump shows the list of the last opening.
    if (!engine_.Running()) listedPorts_ = listPorts_ ? listPorts_() : PlatformPorts(exeFolder_);
    mnuPorts->clear();
    if (listedPorts_.empty()) {
        mnuPorts->addAction(FromCp1252(texts::MenuNoPortFound))->setEnabled(false);
        return;
    }
    for (const PortInfo& port : listedPorts_) {
        QAction* action = mnuPorts->addAction(FromCp1252(PortDisplayLine(port)));
        action->setCheckable(true);
        action->setChecked(ComNameOf(port) == ComPort1.Port());
        // ConnectPort takes COM1 to COM255 only.
        action->setEnabled(!port.outsideComRange);
        connect(action, &QAction::triggered, this, [this, port] {
            Guarded([this, port] { PortCommand([this, port] { ChoosePort(port); }); });
        });
    }
}

void TfrmMain::ChoosePort(const PortInfo& port) {
    std::string name = ComNameOf(port);
#ifndef _WIN32
    if (name.empty()) {
        std::error_code error;
        name = ComNameFor(exeFolder_, listedPorts_, port, error);
        if (name.empty()) {
            boxes_->Message(FromCp1252(texts::PortNotNamed + error.message()));
            return;
        }
    }
#endif
    if (auto number = TextToInt(name.size() > 3 ? name.substr(3) : std::string()))
        ConnectPort(*number);
}

void TfrmMain::ChoiceClick(bool SaveChoices::*ticked) {
    State.Choices.*ticked = !(State.Choices.*ticked);
    ShowChoices();
}

// Qt ticks or unticks a checkable item by itself when it is chosen: the choices set the ticks
// again, whatever that did.
void TfrmMain::ShowChoices() {
    for (const auto& [tick, ticked] : ticks_)
        tick->setChecked(State.Choices.*ticked);
}

QAction* TfrmMain::TickOf(bool SaveChoices::*ticked) const {
    for (const auto& [tick, choice] : ticks_)
        if (choice == ticked) return tick;
    return nullptr;
}

void TfrmMain::mnuEnregistrerClick() {
    // A modal dialog inside the dump's record loop would leave the device unanswered: it
    // opens once the dump has returned, and the folder chosen goes to the next dump.
    if (engine_.Running()) {
        deferredDialog_ = [this] { mnuEnregistrerClick(); };
        return;
    }
    // Opens on the current folder, not on the destination.
    QString directory;
    if (!boxes_->SelectDirectory(directory)) return;
    State.Choices.DestPath = ToPath(directory);
    // Records that no folder took go to the one chosen, if it has room now.
    engine_.RetryUnsaved();
}

void TfrmMain::mnuMonterClick() {
    ShowFromTray();
}
void TfrmMain::tiMainDblClick() {
    ShowFromTray();
}

// --- tray ---

void TfrmMain::HideToTray() {
    if (State.InTray) return;
    if (tiMain->Available()) {
        hide();
        if (minimisedInsteadOfTray_) {
            // The tray came after all: a tool window again, changed while hidden.
            setWindowFlag(Qt::Tool, true);
            minimisedInsteadOfTray_ = false;
        }
    } else {
        MinimiseInsteadOfTray();
    }
    State.InTray = true;
}

void TfrmMain::MinimiseInsteadOfTray() {
    if (!minimisedInsteadOfTray_) {
        // Without a notification area the window must stay reachable: an ordinary window
        // with a taskbar entry. Its flags change only while it is hidden; changed on a shown
        // window they re-create it under the window manager, which may then never map it.
        hide();
        setWindowFlag(Qt::Tool, false);
        minimisedInsteadOfTray_ = true;
    }
    showMinimized();
}

void TfrmMain::ShowFromTray() {
    // The window manager may have minimised the tool window although it offers no such
    // button; it comes back from there too.
    const bool minimised = isMinimized();
    if (!State.InTray && !minimised) return;
    if (minimised) {
        showNormal();
        raise();
        activateWindow();
    } else {
        show();
        raise();
    }
    FollowScreen();
    if (!State.InTray) return;
    pnlImg->setToolTip(FromPath(State.Choices.DestPath));
    State.InTray = false;
}

void TfrmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !isMinimized()) WatchFrame();
    // Brought back from the taskbar by the user: no longer hidden.
    if (event->type() == QEvent::WindowStateChange && minimisedInsteadOfTray_ && State.InTray &&
        !(windowState() & Qt::WindowMinimized) && isVisible()) {
        State.InTray = false;
        pnlImg->setToolTip(FromPath(State.Choices.DestPath));
    }
}

#ifdef _WIN32
// After a sleep the adapter may be gone although no request failed yet: one look at it.
bool TfrmMain::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const auto* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_POWERBROADCAST && msg->wParam == PBT_APMRESUMEAUTOMATIC)
        Guarded([this] { CheckPortAfterResume(); });
    return QWidget::nativeEvent(eventType, message, result);
}
#endif

void TfrmMain::contextMenuEvent(QContextMenuEvent* event) {
    // The tray menu, where there is no tray to offer it.
    if (minimisedInsteadOfTray_ && tiMain->PopupMenu()) pmMain->popup(event->globalPos());
}

// --- file-name panel ---

void TfrmMain::btnNomFicClick() {
    engine_.NameConfirmed(ToCp1252(txtNomFic->text()));
}

void TfrmMain::txtNomFicKeyPress(char& key) {
    if (key == '\r') btnNomFicClick();
    const QChar separator =
        QLocale().decimalPoint().isEmpty() ? QChar('.') : QLocale().decimalPoint().at(0);
    const ByteString separatorByte = ToCp1252(QString(separator));
    const auto c = static_cast<unsigned char>(key);
    const bool allowed = c == 8 || c == '.' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                         (c >= 'a' && c <= 'z') ||
                         (separatorByte.size() == 1 && key == separatorByte[0]);
    if (!allowed) key = 0;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == windowHandle()) FollowFrame();
    if (watched == txtNomFic && event->type() == QEvent::KeyPress) {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        QString text = keyEvent->text();
        if (keyEvent->key() == Qt::Key_Return || keyEvent->key() == Qt::Key_Enter)
            text = QStringLiteral("\r");
        else if (keyEvent->key() == Qt::Key_Backspace)
            text = QStringLiteral("\b");
        // Keys that type nothing (arrows, Delete...) are the edit box's own.
        if (text.size() != 1) return false;
        ByteString bytes = ToCp1252(text);
        char key = bytes.size() == 1 ? bytes[0] : 0;
        Guarded([&] { txtNomFicKeyPress(key); });
        return key == 0 || key == '\r';
    }
    return QWidget::eventFilter(watched, event);
}

// --- errors ---

void TfrmMain::ShowError(const QString& text) {
    boxes_->Message(text, QMessageBox::Critical);
}

void TfrmMain::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const EComPort& e) {
        // French for the user, the port's own text for support in the log.
        AddLogLine(e.what());
        const bool lost = ComPort1.IsLostError(e.OsError());
        // The box promises the reopen: the port is closed and waited for.
        if (lost && ComPort1.Connected()) PortLost();
        ShowError(ToDisplay(PortFailureText(ComPort1.Port(), e.OsError(), lost)));
    } catch (const std::exception& e) {
        ShowError(QString::fromStdString(e.what()));
    }
}

} // namespace veldar
