#include "port_watch.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QTimer>

#include <algorithm>

#ifdef _WIN32
#include "win32_api.h"

#include <dbt.h>
#endif

namespace veldar {

namespace {
constexpr int LookIntervalMs = 1000;
} // namespace

PortWatch::PortWatch(QObject* parent)
    : QObject(parent), everySecond_(new QTimer(this)), settle_(new QTimer(this)) {
    everySecond_->setInterval(LookIntervalMs);
    connect(everySecond_, &QTimer::timeout, this, [this] {
        lastLook_.restart();
        emit MayBeBack();
    });
    settle_->setSingleShot(true);
    connect(settle_, &QTimer::timeout, this, [this] {
        if (!active_) return;
        lastLook_.restart();
        Watch();
        emit MayBeBack();
    });
}

PortWatch::~PortWatch() {
    StopWatchingDeviceArrivals();
}

void PortWatch::Start(const QStringList& folders, bool lookFirst) {
    Stop();
    active_ = true;
    folders_ = folders;
    lastLook_.start();
    if (!folders_.isEmpty()) {
        watcher_ = new QFileSystemWatcher(this);
        connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { Changed(); });
        Watch();
    }
    // No folder could be watched (no inotify, its watches used up): a look every second.
    if (!watcher_ || watcher_->directories().isEmpty()) everySecond_->start();
    WatchDeviceArrivals();
    if (lookFirst) LookAgainSoon();
}

void PortWatch::Stop() {
    active_ = false;
    StopWatchingDeviceArrivals();
    everySecond_->stop();
    settle_->stop();
    delete watcher_;
    watcher_ = nullptr;
}

void PortWatch::LookAgainSoon() {
    if (active_ && !everySecond_->isActive() && !settle_->isActive())
        settle_->start(LookIntervalMs);
}

// Changes come in bursts (a link removed and made again, udev's links): one look for all of
// them, a second after the last look at most.
void PortWatch::Changed() {
    if (!active_ || settle_->isActive()) return;
    if (everySecond_->isActive()) {
        // The look of every second comes forward; the second counts from it.
        if (lastLook_.elapsed() < LookIntervalMs) return;
        everySecond_->start();
    }
    settle_->start(static_cast<int>(std::max<qint64>(0, LookIntervalMs - lastLook_.elapsed())));
}

// Folders that appeared since (/dev/serial/by-id comes back with the first adapter) are
// watched from now on.
void PortWatch::Watch() {
    if (!watcher_) return;
    const QStringList watched = watcher_->directories();
    for (const QString& folder : folders_)
        if (!watched.contains(folder) && QDir(folder).exists()) watcher_->addPath(folder);
}

#ifdef _WIN32
namespace {

// The port class's device interface, from <ntddser.h>.
constexpr GUID ComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
constexpr wchar_t ArrivalWindowClass[] = L"VeldarPortArrivals";

LRESULT CALLBACK ArrivalWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL) {
        auto* watch = reinterpret_cast<PortWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (watch) watch->Changed();
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

// A message-only window of its own: the main window's handle changes when Qt re-creates it.
void PortWatch::WatchDeviceArrivals() {
    if (arrivalWindow_) return;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ArrivalWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = ArrivalWindowClass;
    RegisterClassW(&windowClass); // fails harmlessly once registered
    HWND window = CreateWindowExW(0, ArrivalWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!window) return;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = ComPortInterface;
    arrivalWindow_ = window;
    arrivalNotification_ =
        RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void PortWatch::StopWatchingDeviceArrivals() {
    if (arrivalNotification_) UnregisterDeviceNotification(arrivalNotification_);
    if (arrivalWindow_) DestroyWindow(static_cast<HWND>(arrivalWindow_));
    arrivalNotification_ = nullptr;
    arrivalWindow_ = nullptr;
}
#else
void PortWatch::WatchDeviceArrivals() {}
void PortWatch::StopWatchingDeviceArrivals() {}
#endif

} // namespace veldar
