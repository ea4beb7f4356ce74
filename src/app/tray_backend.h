// What a platform notification area does for the tray icon, behind one small interface so
// tests can drive the icon without a desktop tray.
#pragma once

#include <QIcon>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

class QMenu;

namespace veldar {

class TrayBackend {
public:
    // How the user touched the icon. Trigger is a single click (or the only activation some
    // trays report at all), Context a request for the menu.
    enum class Activation { Trigger, DoubleClick, Context, MiddleClick };
    using ActivationHandler = std::function<void(Activation)>;

    virtual ~TrayBackend() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual void SetIcon(const QIcon& icon) = 0;
    virtual void SetToolTip(const QString& tip) = 0;
    // The menu stays owned by the caller and must outlive its use here.
    virtual void SetContextMenu(QMenu* menu) = 0;
    virtual void SetActivationHandler(ActivationHandler handler) = 0;
    // Whether the desktop has a notification area at all.
    virtual bool Available() const = 0;
};

class QtTrayBackend : public TrayBackend {
public:
    QtTrayBackend();
    void Show() override;
    void Hide() override;
    void SetIcon(const QIcon& icon) override;
    void SetToolTip(const QString& tip) override;
    void SetContextMenu(QMenu* menu) override;
    void SetActivationHandler(ActivationHandler handler) override;
    bool Available() const override;

    // The Qt icon itself, for balloon messages and for tests that emit its signals.
    QSystemTrayIcon& Native() { return icon_; }

private:
    QSystemTrayIcon icon_;
    ActivationHandler handler_;
};

// The desktop's own tray.
std::unique_ptr<TrayBackend> MakeQtTrayBackend();

} // namespace veldar
