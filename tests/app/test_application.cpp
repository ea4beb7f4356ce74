// The program's application object, as main() creates it, under an English system: the
// titles get nothing added and Qt's own texts are French.
#include "application.h"

#include <QLibraryInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTranslator>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace veldar::test {
namespace {

namespace fs = std::filesystem;

TEST(Item8_Titles, QtAddsNoApplicationNameToTheWindowTitles) {
    // Qt appends the display name to every title on X11 (" — VELDAR"), cutting the input
    // box's title: the program leaves it empty.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "");
    EXPECT_EQ(QCoreApplication::applicationName(), "VELDAR");
}

TEST(Item9_QtTextsInFrench, TheLogsMenuIsFrenchUnderAnEnglishSystem) {
    QPlainTextEdit log;
    std::unique_ptr<QMenu> menu(log.createStandardContextMenu());
    QStringList items;
    for (QAction* action : menu->actions())
        if (!action->isSeparator()) items << action->text().section('\t', 0, 0).remove('&');
    EXPECT_TRUE(items.contains("Copier")) << items.join(", ").toStdString();
    EXPECT_TRUE(items.contains(QString::fromUtf8("Tout sélectionner")))
        << items.join(", ").toStdString();
}

TEST(Item9_QtTextsInFrench, TheCopyBesideTheProgramComesFirst) {
    const fs::path folder =
        fs::temp_directory_path() / ("veldar-translations-" + std::to_string(getpid()));
    fs::create_directories(folder / "translations");
    const fs::path qts =
        QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString() + "/qtbase_fr.qm";
    ASSERT_TRUE(fs::exists(qts)) << "qt6-translations-l10n";
    fs::copy_file(qts, folder / "translations" / "qtbase_fr.qm");
    QTranslator* translator =
        InstallQtFrench(*QCoreApplication::instance(), QString::fromStdString(folder.string()));
    ASSERT_NE(translator, nullptr);
    EXPECT_TRUE(translator->filePath().startsWith(QString::fromStdString(folder.string())))
        << translator->filePath().toStdString();
    QCoreApplication::removeTranslator(translator);
    delete translator;
    fs::remove_all(folder);
}

} // namespace
} // namespace veldar::test

int main(int argc, char** argv) {
    // The system speaks English.
    qputenv("LANG", "en_US.UTF-8");
    qputenv("LC_ALL", "en_US.UTF-8");
    qputenv("LANGUAGE", "en");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    veldar::TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
