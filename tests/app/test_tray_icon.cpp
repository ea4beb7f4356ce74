// The tray icon on a fake notification area: tooltip, showing, menu and double-clicks.
#include "fake_tray_backend.h"
#include "tray_icon.h"

#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

namespace veldar {
namespace {

using Activation = TrayBackend::Activation;
using test::FakeTrayBackend;

// What the user can choose in a menu: the enabled, visible, non-separator items.
QStringList UsableItems(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions())
        if (action->isEnabled() && action->isVisible() && !action->isSeparator())
            texts << action->text();
    return texts;
}

class TrayIcon : public ::testing::Test {
protected:
    TrayIcon() {
        auto backend = std::make_unique<FakeTrayBackend>();
        tray = backend.get();
        icon = std::make_unique<TTrayIconComponent>(std::move(backend));
        icon->SetClock([this] { return now; });
        icon->OnDblClick = [this] { ++doubleClicks; };
    }

    // Fires an activation `after` milliseconds after the previous one.
    void Fire(Activation activation, qint64 after = 0) {
        now += after;
        tray->Fire(activation);
    }

    // Nine items as the program's tray menu has them, two of them separators.
    void FillNineItems(QMenu& menu) {
        menu.addAction(QStringLiteral("Monter"));
        menu.addSeparator();
        menu.addAction(QStringLiteral("Port"));
        menu.addAction(QStringLiteral("Dossier"));
        menu.addAction(QStringLiteral("Fichier"));
        menu.addAction(QStringLiteral("Écraser"))->setEnabled(false);
        menu.addSeparator();
        menu.addAction(QStringLiteral("À propos"));
        menu.addAction(QStringLiteral("Quitter"));
    }

    const qint64 interval = QApplication::doubleClickInterval();
    qint64 now = 1'000'000;
    int doubleClicks = 0;
    FakeTrayBackend* tray = nullptr;
    std::unique_ptr<TTrayIconComponent> icon;
};

// --- hint ---

TEST_F(TrayIcon, HintWithoutBarIsTheWholeToolTip) {
    icon->SetHint(QStringLiteral("VELDAR"));
    EXPECT_EQ(tray->toolTip, QStringLiteral("VELDAR"));
    EXPECT_EQ(icon->Hint(), QStringLiteral("VELDAR"));
}

TEST_F(TrayIcon, ToolTipIsThePartBeforeTheBar) {
    icon->SetHint(QStringLiteral("VELDAR|Vidage des appareils"));
    EXPECT_EQ(tray->toolTip, QStringLiteral("VELDAR"));
    EXPECT_EQ(icon->Hint(), QStringLiteral("VELDAR|Vidage des appareils"));
}

TEST_F(TrayIcon, ToolTipIsCutAt127Characters) {
    icon->SetHint(QString(127, QLatin1Char('a')));
    EXPECT_EQ(tray->toolTip, QString(127, QLatin1Char('a')));

    icon->SetHint(QString(128, QLatin1Char('b')));
    EXPECT_EQ(tray->toolTip, QString(127, QLatin1Char('b')));

    icon->SetHint(QString(300, QLatin1Char('c')) + QStringLiteral("|long"));
    EXPECT_EQ(tray->toolTip, QString(127, QLatin1Char('c')));
    EXPECT_EQ(icon->Hint().size(), 305);
}

TEST_F(TrayIcon, CutNeverSplitsACharacter) {
    // U+1F4BE takes two UTF-16 units, the 127th and the 128th.
    icon->SetHint(QString(126, QLatin1Char('a')) + QString::fromUcs4(U"\U0001F4BE"));
    EXPECT_EQ(tray->toolTip, QString(126, QLatin1Char('a')));
}

// --- icon and showing ---

TEST_F(TrayIcon, IconReachesTheTray) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::blue);
    const QIcon picture(pixmap);
    icon->SetIcon(picture);
    EXPECT_EQ(tray->icon.cacheKey(), picture.cacheKey());
    EXPECT_EQ(icon->Icon().cacheKey(), picture.cacheKey());
}

TEST_F(TrayIcon, ActiveAddsAndRemovesTheIcon) {
    EXPECT_FALSE(icon->Active());
    EXPECT_FALSE(tray->visible);

    icon->SetActive(true);
    EXPECT_TRUE(icon->Active());
    EXPECT_TRUE(tray->visible);

    icon->SetActive(true);
    EXPECT_EQ(tray->shows, 1);

    icon->SetActive(false);
    EXPECT_FALSE(icon->Active());
    EXPECT_FALSE(tray->visible);
}

TEST_F(TrayIcon, DestructionRemovesTheIcon) {
    icon->SetActive(true);
    bool visibleAtEnd = true;
    tray->onDestroy = [&](const FakeTrayBackend& t) { visibleAtEnd = t.visible; };
    icon.reset();
    EXPECT_FALSE(visibleAtEnd);
}

TEST_F(TrayIcon, AvailableIsTheTrays) {
    EXPECT_TRUE(icon->Available());
    tray->available = false;
    EXPECT_FALSE(icon->Available());
}

// --- clicks ---

TEST_F(TrayIcon, DoubleClickCallsTheHandlerOnce) {
    Fire(Activation::DoubleClick);
    EXPECT_EQ(doubleClicks, 1);
}

TEST_F(TrayIcon, SingleClicksDoNothing) {
    Fire(Activation::Trigger);
    Fire(Activation::Context, 5 * interval);
    Fire(Activation::MiddleClick, 5 * interval);
    EXPECT_EQ(doubleClicks, 0);
}

TEST_F(TrayIcon, TwoQuickTriggersAreADoubleClick) {
    Fire(Activation::Trigger);
    Fire(Activation::Trigger, interval / 2);
    EXPECT_EQ(doubleClicks, 1);
}

TEST_F(TrayIcon, TwoSlowTriggersAreNot) {
    Fire(Activation::Trigger);
    Fire(Activation::Trigger, interval + 1);
    Fire(Activation::Trigger, interval + 1);
    EXPECT_EQ(doubleClicks, 0);
}

TEST_F(TrayIcon, ThreeQuickTriggersAreOneDoubleClick) {
    Fire(Activation::Trigger);
    Fire(Activation::Trigger, interval / 4);
    Fire(Activation::Trigger, interval / 4);
    EXPECT_EQ(doubleClicks, 1);
    Fire(Activation::Trigger, interval / 4);
    EXPECT_EQ(doubleClicks, 2);
}

TEST_F(TrayIcon, AnotherButtonInBetweenBreaksTheDoubleClick) {
    Fire(Activation::Trigger);
    Fire(Activation::Context, interval / 4);
    Fire(Activation::Trigger, interval / 4);
    EXPECT_EQ(doubleClicks, 0);
}

TEST_F(TrayIcon, TriggerThenDoubleClickCallsOnce) {
    Fire(Activation::Trigger);
    Fire(Activation::DoubleClick, interval / 2);
    EXPECT_EQ(doubleClicks, 1);

    Fire(Activation::Trigger, 5 * interval);
    Fire(Activation::DoubleClick, interval / 2);
    EXPECT_EQ(doubleClicks, 2);
}

TEST_F(TrayIcon, TwoTriggersThenDoubleClickCallOnce) {
    // Each click reported as a Trigger, the second also as a DoubleClick.
    Fire(Activation::Trigger);
    Fire(Activation::Trigger, interval / 2);
    Fire(Activation::DoubleClick);
    EXPECT_EQ(doubleClicks, 1);

    // The tray has shown it reports double-clicks: Triggers are single clicks from now on.
    Fire(Activation::Trigger, 5 * interval);
    Fire(Activation::Trigger, interval / 2);
    EXPECT_EQ(doubleClicks, 1);
    Fire(Activation::DoubleClick);
    EXPECT_EQ(doubleClicks, 2);
}

// --- menu ---

TEST_F(TrayIcon, TheTrayGetsOneMenuForGood) {
    ASSERT_NE(tray->menu, nullptr);
    QMenu menu;
    FillNineItems(menu);
    icon->SetPopupMenu(&menu);
    icon->SetPopupMenu(nullptr);
    icon->SetPopupMenu(&menu);
    EXPECT_EQ(tray->menuSets, 1);
}

TEST_F(TrayIcon, WithoutPopupMenuNothingCanBeChosen) {
    EXPECT_EQ(icon->PopupMenu(), nullptr);
    EXPECT_TRUE(UsableItems(tray->menu).isEmpty());

    QMenu menu;
    FillNineItems(menu);
    icon->SetPopupMenu(&menu);
    EXPECT_EQ(UsableItems(tray->menu).size(), 6);

    icon->SetPopupMenu(nullptr);
    EXPECT_EQ(icon->PopupMenu(), nullptr);
    EXPECT_TRUE(UsableItems(tray->menu).isEmpty());
}

// Item 1 of the desktop faults: a menu without items popped up on an XEmbed tray never maps
// again; without an assigned menu the tray's menu must not show at all.
TEST_F(TrayIcon, Item1_WithoutPopupMenuTheTrayMenuRefusesToShow) {
    QMenu menu;
    FillNineItems(menu);
    icon->SetPopupMenu(nullptr);
    tray->menu->popup(QPoint(10, 10));
    EXPECT_FALSE(tray->menu->isVisible());

    icon->SetPopupMenu(&menu);
    tray->menu->popup(QPoint(10, 10));
    EXPECT_TRUE(tray->menu->isVisible());
    tray->menu->hide();
}

TEST_F(TrayIcon, ReassigningRestoresTheNineItemsInOrder) {
    QMenu menu;
    FillNineItems(menu);
    icon->SetPopupMenu(&menu);
    icon->SetPopupMenu(nullptr);
    icon->SetPopupMenu(&menu);

    EXPECT_EQ(icon->PopupMenu(), &menu);
    ASSERT_EQ(tray->menu->actions().size(), 9);
    EXPECT_EQ(tray->menu->actions(), menu.actions());
    EXPECT_EQ(UsableItems(tray->menu),
              (QStringList{"Monter", "Port", "Dossier", "Fichier", "À propos", "Quitter"}));
    EXPECT_TRUE(tray->menu->actions()[1]->isSeparator());
    EXPECT_FALSE(tray->menu->actions()[5]->isEnabled());
}

TEST_F(TrayIcon, ChoosingInTheTrayRunsTheAssignedItem) {
    QMenu menu;
    FillNineItems(menu);
    int raised = 0;
    QObject::connect(menu.actions()[0], &QAction::triggered, [&] { ++raised; });
    icon->SetPopupMenu(&menu);
    tray->menu->actions()[0]->trigger();
    EXPECT_EQ(raised, 1);
}

TEST_F(TrayIcon, LaterChangesOfTheAssignedMenuShow) {
    QMenu menu;
    FillNineItems(menu);
    icon->SetPopupMenu(&menu);

    QAction* extra = menu.addAction(QStringLiteral("Journal"));
    EXPECT_EQ(tray->menu->actions(), menu.actions());

    menu.removeAction(menu.actions()[0]);
    EXPECT_EQ(tray->menu->actions(), menu.actions());

    delete extra;
    EXPECT_EQ(tray->menu->actions(), menu.actions());
    EXPECT_EQ(tray->menu->actions().size(), 8);
}

TEST_F(TrayIcon, ADeletedPopupMenuLeavesNothingToChoose) {
    QAction shared(QStringLiteral("Quitter"));
    auto menu = std::make_unique<QMenu>();
    FillNineItems(*menu);
    menu->addAction(&shared);
    icon->SetPopupMenu(menu.get());

    menu.reset();
    EXPECT_EQ(icon->PopupMenu(), nullptr);
    EXPECT_TRUE(tray->menu->actions().isEmpty());
}

TEST_F(TrayIcon, AnotherMenuReplacesTheFirst) {
    QMenu first;
    FillNineItems(first);
    QMenu second;
    second.addAction(QStringLiteral("Seul"));
    icon->SetPopupMenu(&first);
    icon->SetPopupMenu(&second);
    EXPECT_EQ(UsableItems(tray->menu), QStringList{"Seul"});

    first.addAction(QStringLiteral("Ailleurs"));
    EXPECT_EQ(UsableItems(tray->menu), QStringList{"Seul"});
}

TEST_F(TrayIcon, UnassigningKeepsTheMenusActions) {
    QMenu menu;
    FillNineItems(menu);
    icon->SetPopupMenu(&menu);
    icon->SetPopupMenu(nullptr);
    EXPECT_EQ(menu.actions().size(), 9);
    EXPECT_EQ(UsableItems(&menu).size(), 6);
}

// --- errors ---

TEST_F(TrayIcon, AnExceptionIsReportedAndTheIconKeepsWorking) {
    QStringList reported;
    icon->SetErrorReporter([&](const QString& text) { reported << text; });
    icon->OnDblClick = [&] {
        if (++doubleClicks == 1) throw std::runtime_error("Port introuvable");
    };

    Fire(Activation::DoubleClick);
    EXPECT_EQ(reported, QStringList{"Port introuvable"});

    Fire(Activation::DoubleClick, 5 * interval);
    EXPECT_EQ(doubleClicks, 2);
    EXPECT_EQ(reported.size(), 1);
}

TEST_F(TrayIcon, AnExceptionFromTwoTriggersIsReportedToo) {
    QStringList reported;
    icon->SetErrorReporter([&](const QString& text) { reported << text; });
    icon->OnDblClick = [&] {
        ++doubleClicks;
        throw 42;
    };

    Fire(Activation::Trigger);
    Fire(Activation::Trigger, interval / 2);
    ASSERT_EQ(reported.size(), 1);
    EXPECT_FALSE(reported[0].isEmpty());

    Fire(Activation::Trigger, 5 * interval);
    Fire(Activation::Trigger, interval / 2);
    EXPECT_EQ(doubleClicks, 2);
}

QStringList warnings;
void CollectWarnings(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtWarningMsg) warnings << text;
}

TEST_F(TrayIcon, WithoutReporterTheExceptionIsAWarning) {
    icon->OnDblClick = [] { throw std::runtime_error("Dossier absent"); };
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(CollectWarnings);
    Fire(Activation::DoubleClick);
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings, QStringList{"Dossier absent"});
}

// --- the desktop's tray, which the offscreen platform does not have ---

TEST(QtTrayIcon, WorksWithoutANotificationArea) {
    auto backend = std::make_unique<QtTrayBackend>();
    QSystemTrayIcon& native = backend->Native();
    auto icon = std::make_unique<TTrayIconComponent>(std::move(backend));
    qint64 now = 0;
    int doubleClicks = 0;
    icon->SetClock([&] { return now; });
    icon->OnDblClick = [&] { ++doubleClicks; };

    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::red);
    icon->SetIcon(QIcon(pixmap));
    icon->SetHint(QStringLiteral("VELDAR|Vidage"));
    QMenu menu;
    menu.addAction(QStringLiteral("Quitter"));
    icon->SetPopupMenu(&menu);
    icon->SetActive(true);

    EXPECT_FALSE(icon->Available());
    EXPECT_EQ(native.toolTip(), QStringLiteral("VELDAR"));
    ASSERT_NE(native.contextMenu(), nullptr);
    EXPECT_EQ(native.contextMenu()->actions(), menu.actions());

    // Qt's reasons reach the component: Context breaks a pair of Triggers, Unknown is nothing.
    emit native.activated(QSystemTrayIcon::Trigger);
    emit native.activated(QSystemTrayIcon::Context);
    emit native.activated(QSystemTrayIcon::Trigger);
    emit native.activated(QSystemTrayIcon::Unknown);
    EXPECT_EQ(doubleClicks, 0);
    emit native.activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(doubleClicks, 1);
    now += 10 * QApplication::doubleClickInterval();
    emit native.activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(doubleClicks, 2);

    icon->SetActive(false);
    icon->SetActive(true);
    icon.reset();
}

TEST(QtTrayIcon, TheDesktopFactoryMakesAQtTray) {
    auto backend = MakeQtTrayBackend();
    EXPECT_NE(dynamic_cast<QtTrayBackend*>(backend.get()), nullptr);
    EXPECT_FALSE(backend->Available());
}

} // namespace
} // namespace veldar
