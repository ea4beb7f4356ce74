#include "tray_backend.h"

#include <QMenu>
#include <optional>

namespace veldar {

namespace {

std::optional<TrayBackend::Activation> ToActivation(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return TrayBackend::Activation::Trigger;
    case QSystemTrayIcon::DoubleClick:
        return TrayBackend::Activation::DoubleClick;
    case QSystemTrayIcon::Context:
        return TrayBackend::Activation::Context;
    case QSystemTrayIcon::MiddleClick:
        return TrayBackend::Activation::MiddleClick;
    case QSystemTrayIcon::Unknown:
        break;
    }
    return std::nullopt;
}

} // namespace

QtTrayBackend::QtTrayBackend() {
    QObject::connect(&icon_, &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (const auto activation = ToActivation(reason); activation && handler_)
                             handler_(*activation);
                     });
}

void QtTrayBackend::Show() {
    icon_.show();
}

void QtTrayBackend::Hide() {
    icon_.hide();
}

void QtTrayBackend::SetIcon(const QIcon& icon) {
    icon_.setIcon(icon);
}

void QtTrayBackend::SetToolTip(const QString& tip) {
    icon_.setToolTip(tip);
}

void QtTrayBackend::SetContextMenu(QMenu* menu) {
    icon_.setContextMenu(menu);
}

void QtTrayBackend::SetActivationHandler(ActivationHandler handler) {
    handler_ = std::move(handler);
}

bool QtTrayBackend::Available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

std::unique_ptr<TrayBackend> MakeQtTrayBackend() {
    return std::make_unique<QtTrayBackend>();
}

} // namespace veldar
