// A notification area for tests: records what the icon set on it and lets the test fire the
// user's clicks.
#pragma once

#include "tray_backend.h"

#include <QIcon>
#include <QMenu>
#include <QString>
#include <functional>

namespace veldar::test {

class FakeTrayBackend : public TrayBackend {
public:
    ~FakeTrayBackend() override {
        if (onDestroy) onDestroy(*this);
    }

    void Show() override {
        visible = true;
        ++shows;
    }
    void Hide() override { visible = false; }
    void SetIcon(const QIcon& value) override { icon = value; }
    void SetToolTip(const QString& value) override { toolTip = value; }
    void SetContextMenu(QMenu* value) override {
        menu = value;
        ++menuSets;
    }
    void SetActivationHandler(ActivationHandler value) override { handler = std::move(value); }
    bool Available() const override { return available; }

    // What the user does with the icon.
    void Fire(Activation activation) {
        if (handler) handler(activation);
    }

    bool visible = false;
    int shows = 0;
    QIcon icon;
    QString toolTip;
    QMenu* menu = nullptr;
    int menuSets = 0;
    ActivationHandler handler;
    bool available = true;
    // Sees the last state, for tests of what the owner does before letting go.
    std::function<void(const FakeTrayBackend&)> onDestroy;
};

} // namespace veldar::test
