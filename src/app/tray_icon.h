// The program's icon in the notification area: picture, tooltip, popup menu and double-click.
//
// The backend holds one menu of the component's own for the icon's whole life: once a menu is
// set, Qt keeps exporting it on trays speaking the D-Bus StatusNotifierItem protocol, so it
// cannot simply be taken back. That menu shows the actions of the assigned popup menu (the
// same QAction objects, still owned by their menu) and is left empty while none is assigned,
// so nothing can be chosen from it.
//
// Double-clicks: Windows and X11 trays report a DoubleClick for the left button (after a
// Trigger for the first click); D-Bus trays report single activations only. Two Triggers
// within the system's double-click interval therefore count as one double-click, until the
// tray has shown that it reports DoubleClick itself; from then on Triggers are left alone.
#pragma once

#include "tray_backend.h"

#include <QIcon>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QMenu;

namespace veldar {

class TTrayIconComponent : public QObject {
    Q_OBJECT
public:
    // Milliseconds from any fixed origin.
    using Clock = std::function<qint64()>;
    using ErrorReporter = std::function<void(const QString&)>;

    explicit TTrayIconComponent(std::unique_ptr<TrayBackend> backend, QObject* parent = nullptr);
    ~TTrayIconComponent() override;

    bool Active() const { return active_; }
    // True shows the icon in the notification area, false removes it.
    void SetActive(bool active);

    const QIcon& Icon() const { return icon_; }
    void SetIcon(const QIcon& icon);

    // The tooltip is the part before a "|" (all of it without one), at most 127 characters.
    const QString& Hint() const { return hint_; }
    void SetHint(const QString& hint);

    // Not owned; null when none is assigned.
    QMenu* PopupMenu() const;
    void SetPopupMenu(QMenu* menu);

    // Whether the desktop has a notification area.
    bool Available() const;

    // A steady clock by default; tests set their own.
    void SetClock(Clock clock);
    // Where an exception escaping a handler goes; qWarning by default.
    void SetErrorReporter(ErrorReporter reporter);

    std::function<void()> OnDblClick;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Activated(TrayBackend::Activation activation);
    void HandleActivation(TrayBackend::Activation activation, qint64 now);
    void ShowAssignedMenu();
    void ReportError(const QString& text) const;

    // Declared before the backend, which refers to it and goes first.
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<TrayBackend> backend_;
    QPointer<QMenu> assigned_;
    QMetaObject::Connection assignedDestroyed_;
    bool active_ = false;
    QIcon icon_;
    QString hint_;
    Clock clock_;
    ErrorReporter reportError_;
    // The tray has reported a DoubleClick itself.
    bool trayDoubleClicks_ = false;
    std::optional<qint64> pendingTrigger_;
    std::optional<qint64> synthesisedDoubleClick_;
};

} // namespace veldar
