#include "tray_icon.h"

#include "program_texts.h"
#include "qt_text.h"

#include <algorithm>

#include <QApplication>
#include <QMenu>
#include <QtGlobal>
#include <chrono>
#include <exception>
#include <functional>

namespace veldar {

namespace {

constexpr qsizetype MaxToolTip = 127;

qint64 SteadyMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString ToolTipOf(const QString& hint) {
    QString tip = hint.section(QLatin1Char('|'), 0, 0);
    if (tip.size() > MaxToolTip) {
        tip.truncate(MaxToolTip);
        // Never leave half of a character written as two UTF-16 units.
        if (tip.back().isHighSurrogate()) tip.chop(1);
    }
    return tip;
}

// The menu the tray shows. While no popup menu is assigned it refuses to show: on XEmbed trays
// Qt pops the tray's menu up on every right-click, and once a menu without items has been
// popped up there, the same menu never maps again, even after its items are back.
class TrayMenu : public QMenu {
public:
    explicit TrayMenu(std::function<bool()> mayShow) : mayShow_(std::move(mayShow)) {}
    void setVisible(bool visible) override {
        if (visible && !mayShow_()) return;
        QMenu::setVisible(visible);
    }

private:
    std::function<bool()> mayShow_;
};

void RemoveAllActions(QMenu& menu) {
    // removeAction rather than clear(): clear() would delete actions the menu owns.
    for (QAction* action : menu.actions())
        menu.removeAction(action);
}

} // namespace

TTrayIconComponent::TTrayIconComponent(std::unique_ptr<TrayBackend> backend, QObject* parent)
    : QObject(parent),
      menu_(std::make_unique<TrayMenu>([this] { return assigned_ && !menu_->isEmpty(); })),
      backend_(std::move(backend)), clock_(SteadyMilliseconds) {
    backend_->SetContextMenu(menu_.get());
    backend_->SetActivationHandler([this](TrayBackend::Activation a) { Activated(a); });
}

TTrayIconComponent::~TTrayIconComponent() {
    SetActive(false);
    if (assigned_) assigned_->removeEventFilter(this);
    backend_->SetActivationHandler({});
}

void TTrayIconComponent::SetActive(bool active) {
    if (active == active_) return;
    active_ = active;
    if (active)
        backend_->Show();
    else
        backend_->Hide();
}

void TTrayIconComponent::SetIcon(const QIcon& icon) {
    icon_ = icon;
    backend_->SetIcon(icon);
}

void TTrayIconComponent::SetHint(const QString& hint) {
    hint_ = hint;
    backend_->SetToolTip(ToolTipOf(hint));
}

QMenu* TTrayIconComponent::PopupMenu() const {
    return assigned_;
}

void TTrayIconComponent::SetPopupMenu(QMenu* menu) {
    if (assigned_) {
        assigned_->removeEventFilter(this);
        disconnect(assignedDestroyed_);
    }
    assigned_ = menu;
    if (menu) {
        // Items added to or removed from the assigned menu later show up in the tray too.
        menu->installEventFilter(this);
        assignedDestroyed_ =
            connect(menu, &QObject::destroyed, this, [this] { RemoveAllActions(*menu_); });
    }
    ShowAssignedMenu();
}

bool TTrayIconComponent::Available() const {
    return backend_->Available();
}

void TTrayIconComponent::SetClock(Clock clock) {
    clock_ = std::move(clock);
}

void TTrayIconComponent::SetErrorReporter(ErrorReporter reporter) {
    reportError_ = std::move(reporter);
}

bool TTrayIconComponent::eventFilter(QObject* watched, QEvent* event) {
    // Only installed on the assigned menu. The type comes first: other events also arrive
    // while that menu is being destroyed, when it is no longer a QMenu to compare with. Qt has
    // updated the action list before it sends these two.
    if (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved)
        ShowAssignedMenu();
    return QObject::eventFilter(watched, event);
}

void TTrayIconComponent::ShowAssignedMenu() {
    const QList<QAction*> wanted = assigned_ ? assigned_->actions() : QList<QAction*>();
    // Compared element by element: Qt 6.4's list comparison hands memcmp a null pointer for
    // empty lists, which the undefined-behaviour checker rightly stops at.
    const QList<QAction*> shown = menu_->actions();
    if (std::equal(shown.begin(), shown.end(), wanted.begin(), wanted.end())) return;
    RemoveAllActions(*menu_);
    menu_->addActions(wanted);
}

void TTrayIconComponent::Activated(TrayBackend::Activation activation) {
    // Nothing may escape into the tray's notification: report it, and the icon keeps working.
    try {
        HandleActivation(activation, clock_());
    } catch (const std::exception& e) {
        ReportError(QString::fromUtf8(e.what()));
    } catch (...) {
        ReportError(FromCp1252(texts::TrayUnknownError));
    }
}

void TTrayIconComponent::HandleActivation(TrayBackend::Activation activation, qint64 now) {
    using Activation = TrayBackend::Activation;
    const qint64 interval = QApplication::doubleClickInterval();
    switch (activation) {
    case Activation::DoubleClick: {
        trayDoubleClicks_ = true;
        pendingTrigger_.reset();
        // X11 trays also report the second click of this double-click as a Trigger, which may
        // already have counted it.
        const bool counted = synthesisedDoubleClick_ && now - *synthesisedDoubleClick_ <= interval;
        synthesisedDoubleClick_.reset();
        if (!counted && OnDblClick) OnDblClick();
        return;
    }
    case Activation::Trigger:
        if (trayDoubleClicks_) return;
        if (pendingTrigger_ && now - *pendingTrigger_ <= interval) {
            pendingTrigger_.reset();
            synthesisedDoubleClick_ = now;
            if (OnDblClick) OnDblClick();
        } else {
            pendingTrigger_ = now;
        }
        return;
    case Activation::Context:
    case Activation::MiddleClick:
        // Another button in between: the next Trigger starts afresh.
        pendingTrigger_.reset();
        return;
    }
}

void TTrayIconComponent::ReportError(const QString& text) const {
    if (reportError_)
        reportError_(text);
    else
        qWarning("%s", qUtf8Printable(text));
}

} // namespace veldar
