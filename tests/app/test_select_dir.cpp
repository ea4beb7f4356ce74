// The folder chooser: its rules on their own, then the dialog driven without a modal loop on
// temporary folders, its boxes answered by the test.
#include "dialogs.h"
#include "select_dir.h"
#include "select_dir_images.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace veldar::test {
namespace {

std::string Str(const QString& text) {
    return text.toStdString();
}

std::vector<std::string> Strs(const QStringList& texts) {
    std::vector<std::string> result;
    for (const QString& text : texts)
        result.push_back(text.toStdString());
    return result;
}

int Length(const QString& text) {
    return static_cast<int>(text.size());
}

const TSelectDirFlags AllOptions = dfEditPath | dfCreatePath | dfConfirmCreate;
const char* const CannotCreate = "Impossible de créer le répertoire";
const char* const CreateQuestion = "Confirmation: Le répertoire spécifié n'existe pas. Le créer ?";

// Boxes answered from a list; every question and message is kept.
class ScriptedBoxes : public Dialogs {
public:
    std::deque<bool> Answers; // "&Oui" for true; none left: a failure
    QStringList Questions;
    QStringList Messages;

    void Message(const QString& text, QMessageBox::Icon) override { Messages << text; }
    QString Input(const QString&, const QString&, const QString& defaultText) override {
        ADD_FAILURE() << "no input box expected";
        return defaultText;
    }
    bool Ask(const QString& title, const QString& question) override {
        Questions << title + QStringLiteral(": ") + question;
        if (Answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << Str(question);
            return false;
        }
        const bool answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    bool SelectDirectory(QString&) override {
        ADD_FAILURE() << "no nested chooser expected";
        return false;
    }
    void CancelAll() override {}
};

// --- The rules

TEST(SelectDirRules, SplitsRootsAndFolders) {
    TPathParts unix = SplitFolderPath(QStringLiteral("/home/user/docs"));
    EXPECT_EQ(Str(unix.Root), "/");
    EXPECT_EQ(Strs(unix.Folders), (std::vector<std::string>{"home", "user", "docs"}));
    TPathParts drive = SplitFolderPath(QStringLiteral("C:/Mesures/2024"));
    EXPECT_EQ(Str(drive.Root), "C:/");
    EXPECT_EQ(Strs(drive.Folders), (std::vector<std::string>{"Mesures", "2024"}));
    TPathParts share = SplitFolderPath(QStringLiteral("//serveur/partage/releves"));
    EXPECT_EQ(Str(share.Root), "//serveur/partage/");
    EXPECT_EQ(Strs(share.Folders), (std::vector<std::string>{"releves"}));
    EXPECT_TRUE(SplitFolderPath(QStringLiteral("/")).Folders.isEmpty());
}

TEST(SelectDirRules, SortsNamesIgnoringCase) {
    QStringList names{"beta", "Alpha", "charlie", "Delta"};
    SortNames(names);
    EXPECT_EQ(Strs(names), (std::vector<std::string>{"Alpha", "beta", "charlie", "Delta"}));
}

TEST(SelectDirRules, DirListHasRootAncestorsCurrentThenSubFolders) {
    using enum TFolderImage;
    const std::vector<TDirListEntry> expected{
        {"/", 2, fiOpen, "/"},
        {"home", 6, fiOpen, "/home"},
        {"user", 10, fiOpen, "/home/user"},
        {"docs", 14, fiCurrent, "/home/user/docs"},
        {"a", 18, fiClosed, "/home/user/docs/a"},
        {"B", 18, fiClosed, "/home/user/docs/B"},
    };
    EXPECT_EQ(DirListEntries(QStringLiteral("/home/user/docs"), {"a", "B"}), expected);
}

TEST(SelectDirRules, DirListOfTheRootHasItAsCurrent) {
    using enum TFolderImage;
    const std::vector<TDirListEntry> expected{{"/", 2, fiCurrent, "/"},
                                              {"usr", 6, fiClosed, "/usr"}};
    EXPECT_EQ(DirListEntries(QStringLiteral("/"), {"usr"}), expected);
}

TEST(SelectDirRules, ShortensOneFolderAtATimeUntilTheTextFits) {
    const QString path = QStringLiteral("/home/user/a/b");
    QStringList measured;
    auto measure = [&](const QString& text) {
        measured << text;
        return Length(text);
    };
    EXPECT_EQ(Str(ShortenPath(path, 5, measure, QLatin1Char('/'))), ".../b");
    EXPECT_EQ(Strs(measured), (std::vector<std::string>{"/home/user/a/b", "/.../user/a/b",
                                                        "/.../a/b", "/.../b", ".../b"}));
    EXPECT_EQ(Str(ShortenPath(path, 14, Length, QLatin1Char('/'))), "/home/user/a/b");
    EXPECT_EQ(Str(ShortenPath(path, 13, Length, QLatin1Char('/'))), "/.../user/a/b");
    EXPECT_EQ(Str(ShortenPath(path, 12, Length, QLatin1Char('/'))), "/.../a/b");
    EXPECT_EQ(Str(ShortenPath(path, 7, Length, QLatin1Char('/'))), "/.../b");
    EXPECT_EQ(Str(ShortenPath(path, 4, Length, QLatin1Char('/'))), "b");
    EXPECT_EQ(Str(ShortenPath(path, 0, Length, QLatin1Char('/'))), "b");
    EXPECT_EQ(Str(ShortenPath(QStringLiteral("/"), 0, Length, QLatin1Char('/'))), "/");
}

TEST(SelectDirRules, ShortensADrivePathAfterItsDrive) {
    const QString path = QStringLiteral("C:/Mesures/2024/Janvier");
    const QChar backslash = QLatin1Char('\\');
    EXPECT_EQ(Str(ShortenPath(path, 23, Length, backslash)), "C:\\Mesures\\2024\\Janvier");
    EXPECT_EQ(Str(ShortenPath(path, 22, Length, backslash)), "C:\\...\\2024\\Janvier");
    EXPECT_EQ(Str(ShortenPath(path, 18, Length, backslash)), "C:\\...\\Janvier");
    EXPECT_EQ(Str(ShortenPath(path, 13, Length, backslash)), "...\\Janvier");
}

TEST(SelectDirRules, TellsWhatATypedFolderNeeds) {
    EXPECT_EQ(CreateNeedOf(QString(), false), TCreateNeed::cnImpossible);
    EXPECT_EQ(CreateNeedOf(QString(), true), TCreateNeed::cnImpossible);
    EXPECT_EQ(CreateNeedOf(QStringLiteral("/"), false), TCreateNeed::cnNone);
    EXPECT_EQ(CreateNeedOf(QStringLiteral("nouveau"), false), TCreateNeed::cnImpossible);
    EXPECT_EQ(CreateNeedOf(QStringLiteral("a/b"), false), TCreateNeed::cnCreate);
    EXPECT_EQ(CreateNeedOf(QStringLiteral("/a"), false), TCreateNeed::cnCreate);
    EXPECT_EQ(CreateNeedOf(QStringLiteral("c:"), false), TCreateNeed::cnImpossible);
    EXPECT_EQ(CreateNeedOf(QStringLiteral("c:"), true), TCreateNeed::cnNone);
    EXPECT_EQ(CreateNeedOf(QStringLiteral("\\"), true), TCreateNeed::cnNone);
    EXPECT_EQ(CreateNeedOf(QStringLiteral("x"), true), TCreateNeed::cnImpossible);
    EXPECT_EQ(CreateNeedOf(QStringLiteral("a\\"), true), TCreateNeed::cnCreate);
    EXPECT_EQ(CreateNeedOf(QStringLiteral("c:\\Mesures"), true), TCreateNeed::cnCreate);
}

TEST(SelectDirRules, KnowsTheKindsOfVolumes) {
    EXPECT_EQ(VolumeKind("nfs4", "serveur:/export", "/mnt/data"), TDriveKind::dkNetwork);
    EXPECT_EQ(VolumeKind("cifs", "//serveur/partage", "/mnt/p"), TDriveKind::dkNetwork);
    EXPECT_EQ(VolumeKind("iso9660", "/dev/sr0", "/media/cd"), TDriveKind::dkCDRom);
    EXPECT_EQ(VolumeKind("tmpfs", "tmpfs", "/mnt/ram"), TDriveKind::dkRAM);
    EXPECT_EQ(VolumeKind("vfat", "/dev/sdb1", "/media/user/CLEF"), TDriveKind::dkRemovable);
    EXPECT_EQ(VolumeKind("ext4", "/dev/sda2", "/home"), TDriveKind::dkFixed);
}

TEST(SelectDirRules, FindsTheDriveHoldingAFolder) {
    const std::vector<TDriveEntry> mounts{
        {"/", "/", TDriveKind::dkFixed},
        {"/mnt/data", "/mnt/data", TDriveKind::dkFixed},
        {"/mnt/data2", "/mnt/data2", TDriveKind::dkFixed},
    };
    EXPECT_EQ(DriveIndexOf(mounts, QStringLiteral("/mnt/data/x"), false), 1);
    EXPECT_EQ(DriveIndexOf(mounts, QStringLiteral("/mnt/data2"), false), 2);
    EXPECT_EQ(DriveIndexOf(mounts, QStringLiteral("/mnt/dataX"), false), 0);
    const std::vector<TDriveEntry> letters{{"c:", "C:/", TDriveKind::dkFixed},
                                           {"d:", "D:/", TDriveKind::dkCDRom}};
    EXPECT_EQ(DriveIndexOf(letters, QStringLiteral("d:/x"), true), 1);
    EXPECT_EQ(DriveIndexOf(letters, QStringLiteral("e:/x"), true), -1);
}

TEST(SelectDirRules, PicturesAreDistinctWithTheKeyBottomLeft) {
    std::vector<QImage> images{FolderImage(TFolderImage::fiOpen),
                               FolderImage(TFolderImage::fiCurrent),
                               FolderImage(TFolderImage::fiClosed)};
    for (TDriveKind kind : {TDriveKind::dkRemovable, TDriveKind::dkFixed, TDriveKind::dkNetwork,
                            TDriveKind::dkCDRom, TDriveKind::dkRAM})
        images.push_back(DriveImage(kind));
    for (std::size_t i = 0; i < images.size(); ++i) {
        const QImage& image = images[i];
        ASSERT_EQ(image.size(), QSize(16, 16)) << i;
        const QRgb key = image.pixel(0, 15);
        int drawn = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                drawn += image.pixel(x, y) != key;
        EXPECT_GT(drawn, 40) << i;
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_NE(image, images[j]) << i << " and " << j;
    }
}

// --- The dialog on temporary folders

class SelectDirDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        root = QFileInfo(temp.path()).canonicalFilePath();
    }
    // The chooser changes the process's current directory; the next tests start from ours.
    void TearDown() override { QDir::setCurrent(startFolder); }

    QString Folder(const QString& relative) {
        const QString path = root + QLatin1Char('/') + relative;
        EXPECT_TRUE(QDir().mkpath(path)) << Str(path);
        return path;
    }
    QString File(const QString& relative) {
        const QString path = root + QLatin1Char('/') + relative;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << Str(path);
        return path;
    }
    static QString CurrentFolder() { return QFileInfo(QDir::currentPath()).canonicalFilePath(); }
    static QStringList Paths(const QListWidget& list) {
        QStringList paths;
        for (int row = 0; row < list.count(); ++row)
            paths << list.item(row)->data(DirPathRole).toString();
        return paths;
    }
    static QStringList Texts(const QListWidget& list) {
        QStringList texts;
        for (int row = 0; row < list.count(); ++row)
            texts << list.item(row)->text();
        return texts;
    }
    // The dialog on screen (offscreen) at folder, so closing it can be seen.
    std::unique_ptr<TSelectDirDlg> Shown(const QString& folder,
                                         TSelectDirFlags options = AllOptions) {
        auto dialog = std::make_unique<TSelectDirDlg>(options, 0, boxes);
        dialog->Start(folder);
        dialog->show();
        return dialog;
    }

    const QString startFolder = QDir::currentPath();
    QTemporaryDir temp;
    QString root;
    ScriptedBoxes boxes;
};

TEST_F(SelectDirDialog, HasItsTitleSizeLabelsAndButtons) {
    TSelectDirDlg dialog(AllOptions, 0, boxes);
    EXPECT_EQ(Str(dialog.windowTitle()), "Sélection du répertoire");
    EXPECT_EQ(dialog.minimumSize(), QSize(424, 255));
    EXPECT_EQ(dialog.maximumSize(), QSize(424, 255));
    auto buddyOf = [&](const char* text) -> QWidget* {
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (label->text() == QString::fromUtf8(text)) return label->buddy();
        return nullptr;
    };
    EXPECT_EQ(buddyOf("&Nom de répertoire :"), dialog.DirEdit);
    EXPECT_EQ(buddyOf("&Répertoires :"), dialog.DirList);
    EXPECT_EQ(buddyOf("&Fichiers : (*.*)"), dialog.FileList);
    EXPECT_EQ(buddyOf("&Lecteurs :"), dialog.DriveList);
    EXPECT_EQ(Str(dialog.OKButton->text()), "OK");
    EXPECT_EQ(Str(dialog.CancelButton->text()), "Annuler");
    EXPECT_EQ(Str(dialog.HelpButton->text()), "&Aide");
    EXPECT_EQ(dialog.OKButton->x(), 256);
    EXPECT_EQ(dialog.CancelButton->x(), 340);
    EXPECT_TRUE(dialog.OKButton->isDefault());
    EXPECT_TRUE(dialog.HelpButton->isHidden());
    EXPECT_TRUE(dialog.NetButton->isHidden());
    EXPECT_FALSE(dialog.DirEdit->isHidden());
}

TEST_F(SelectDirDialog, HelpButtonShowsWithAContext) {
    TSelectDirDlg dialog(AllOptions, 42, boxes);
    EXPECT_FALSE(dialog.HelpButton->isHidden());
    EXPECT_EQ(dialog.OKButton->x(), 172);
    EXPECT_EQ(dialog.CancelButton->x(), 256);
    EXPECT_EQ(dialog.HelpButton->x(), 340);
    std::vector<int> asked;
    QObject::connect(&dialog, &TSelectDirDlg::HelpRequested,
                     [&](int context) { asked.push_back(context); });
    dialog.HelpButton->click();
    EXPECT_EQ(asked, std::vector<int>{42});
}

TEST_F(SelectDirDialog, WithoutEditTheBrowsedFolderIsTheResult) {
    const QString folder = Folder("a");
    auto dialog = Shown(folder, dfCreatePath);
    EXPECT_TRUE(dialog->DirEdit->isHidden());
    EXPECT_EQ(dialog->TryAccept(), TSelectDirDlg::TOkOutcome::okAccepted);
    EXPECT_EQ(Str(dialog->Result()), Str(QDir::toNativeSeparators(folder)));
}

TEST_F(SelectDirDialog, ExistingFolderIsReturnedWithoutAQuestion) {
    const QString folder = Folder("a");
    auto dialog = Shown(root);
    dialog->DirEdit->setText(folder);
    EXPECT_EQ(dialog->TryAccept(), TSelectDirDlg::TOkOutcome::okAccepted);
    EXPECT_EQ(Str(dialog->Result()), Str(folder));
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(boxes.Questions.isEmpty());
    EXPECT_TRUE(boxes.Messages.isEmpty());
}

TEST_F(SelectDirDialog, MissingFolderAnsweredNoStaysOpenWithTheText) {
    const QString typed = root + "/nouveau/dessous";
    auto dialog = Shown(root);
    dialog->DirEdit->setText(typed);
    boxes.Answers = {false};
    EXPECT_EQ(dialog->TryAccept(), TSelectDirDlg::TOkOutcome::okStayOpen);
    EXPECT_EQ(Strs(boxes.Questions), std::vector<std::string>{CreateQuestion});
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Str(dialog->DirEdit->text()), Str(typed));
    EXPECT_FALSE(QFileInfo::exists(root + "/nouveau"));
}

TEST_F(SelectDirDialog, MissingFolderAnsweredYesIsCreatedWithItsParents) {
    const QString typed = root + "/x/y/z";
    auto dialog = Shown(root);
    dialog->DirEdit->setText(typed);
    boxes.Answers = {true};
    EXPECT_EQ(dialog->TryAccept(), TSelectDirDlg::TOkOutcome::okAccepted);
    EXPECT_EQ(Str(dialog->Result()), Str(typed));
    EXPECT_TRUE(QFileInfo(typed).isDir());
    EXPECT_EQ(Strs(boxes.Questions), std::vector<std::string>{CreateQuestion});
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(SelectDirDialog, TrailingSeparatorStaysInTheResult) {
    const QString typed = root + "/neuf/";
    auto dialog = Shown(root);
    dialog->DirEdit->setText(typed);
    boxes.Answers = {true};
    EXPECT_EQ(dialog->TryAccept(), TSelectDirDlg::TOkOutcome::okAccepted);
    EXPECT_EQ(Str(dialog->Result()), Str(typed));
    EXPECT_TRUE(QFileInfo(root + "/neuf").isDir());

    const QString existing = Folder("a") + "/";
    auto again = Shown(root);
    again->DirEdit->setText(existing);
    EXPECT_EQ(again->TryAccept(), TSelectDirDlg::TOkOutcome::okAccepted);
    EXPECT_EQ(Str(again->Result()), Str(existing));
}

TEST_F(SelectDirDialog, TheRootIsTakenWithoutCreatingAnything) {
    auto dialog = Shown(root);
    dialog->DirEdit->setText(QStringLiteral("/"));
    EXPECT_EQ(dialog->TryAccept(), TSelectDirDlg::TOkOutcome::okAccepted);
    EXPECT_EQ(Str(dialog->Result()), "/");
    EXPECT_TRUE(boxes.Questions.isEmpty());
}

TEST_F(SelectDirDialog, RelativeFolderIsCreatedInTheBrowsedOne) {
    const QString folder = Folder("a");
    auto dialog = Shown(folder);
    dialog->DirEdit->setText(QStringLiteral("b/c"));
    boxes.Answers = {true};
    EXPECT_EQ(dialog->TryAccept(), TSelectDirDlg::TOkOutcome::okAccepted);
    EXPECT_EQ(Str(dialog->Result()), "b/c");
    EXPECT_TRUE(QFileInfo(folder + "/b/c").isDir());
}

TEST_F(SelectDirDialog, UncreatableFolderIsReportedAndCloses) {
    const QString typed = File("simple") + "/dessous";
    auto dialog = Shown(root);
    dialog->DirEdit->setText(typed);
    boxes.Answers = {true};
    EXPECT_EQ(dialog->TryAccept(), TSelectDirDlg::TOkOutcome::okFailed);
    EXPECT_EQ(Strs(boxes.Messages), std::vector<std::string>{CannotCreate});
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(SelectDirDialog, EmptyOrBareNameCannotBeCreated) {
    for (const QString& typed : {QString(), QStringLiteral("nouveau")}) {
        ScriptedBoxes answered;
        answered.Answers = {true};
        TSelectDirDlg dialog(AllOptions, 0, answered);
        dialog.Start(root);
        dialog.DirEdit->setText(typed);
        EXPECT_EQ(dialog.TryAccept(), TSelectDirDlg::TOkOutcome::okFailed) << Str(typed);
        EXPECT_EQ(Strs(answered.Messages), std::vector<std::string>{CannotCreate}) << Str(typed);
    }
    EXPECT_FALSE(QFileInfo::exists(root + "/nouveau"));
}

TEST_F(SelectDirDialog, WithoutCreatePathAMissingFolderIsRefused) {
    const QString typed = root + "/absent";
    auto dialog = Shown(root, dfEditPath | dfConfirmCreate);
    dialog->DirEdit->setText(typed);
    EXPECT_EQ(dialog->TryAccept(), TSelectDirDlg::TOkOutcome::okStayOpen);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(boxes.Questions.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(typed));
}

TEST_F(SelectDirDialog, WithoutConfirmationTheFolderIsCreatedUnasked) {
    const QString typed = root + "/direct/sous";
    auto dialog = Shown(root, dfEditPath | dfCreatePath);
    dialog->DirEdit->setText(typed);
    EXPECT_EQ(dialog->TryAccept(), TSelectDirDlg::TOkOutcome::okAccepted);
    EXPECT_TRUE(boxes.Questions.isEmpty());
    EXPECT_TRUE(QFileInfo(typed).isDir());
}

TEST_F(SelectDirDialog, ListsRootAncestorsCurrentAndSortedVisibleSubFolders) {
    const QString current = Folder("a/b");
    for (const char* name : {"beta", "Alpha", "charlie", "Delta", ".cache"})
        Folder(QStringLiteral("a/b/") + name);
    File("a/b/notes.txt");
    auto dialog = Shown(current);

    const TPathParts parts = SplitFolderPath(current);
    const int depth = static_cast<int>(parts.Folders.size());
    QStringList expectedTexts{parts.Root};
    QStringList expectedPaths{parts.Root};
    for (int level = 1; level <= depth; ++level) {
        expectedTexts << parts.Folders[level - 1];
        expectedPaths << parts.Root + parts.Folders.mid(0, level).join('/');
    }
    for (const char* name : {"Alpha", "beta", "charlie", "Delta"}) {
        expectedTexts << name;
        expectedPaths << current + '/' + name;
    }
    const QListWidget& list = *dialog->DirList;
    EXPECT_EQ(Strs(Texts(list)), Strs(expectedTexts));
    EXPECT_EQ(Strs(Paths(list)), Strs(expectedPaths));
    ASSERT_EQ(list.count(), depth + 5);
    for (int row = 0; row < list.count(); ++row) {
        const bool sub = row > depth;
        const int indent = sub ? 4 * depth + 6 : 4 * row + 2;
        const auto image = sub            ? TFolderImage::fiClosed
                           : row == depth ? TFolderImage::fiCurrent
                                          : TFolderImage::fiOpen;
        EXPECT_EQ(list.item(row)->data(DirIndentRole).toInt(), indent) << row;
        EXPECT_EQ(list.item(row)->data(DirImageRole).toInt(), static_cast<int>(image)) << row;
    }
    EXPECT_EQ(list.currentRow(), depth);
    EXPECT_EQ(CurrentFolder(), current);
    EXPECT_EQ(Str(dialog->DirEdit->text()), Str(QDir::toNativeSeparators(current)));
    EXPECT_EQ(dialog->DirEdit->selectedText(), dialog->DirEdit->text());
}

TEST_F(SelectDirDialog, OpeningAListedFolderChangesToIt) {
    const QString folder = Folder("a");
    Folder("a/sous");
    auto dialog = Shown(folder);
    const int sub = dialog->DirList->count() - 1;
    dialog->OpenDirListEntry(sub);
    EXPECT_EQ(Str(dialog->Directory()), Str(folder + "/sous"));
    EXPECT_EQ(CurrentFolder(), folder + "/sous");

    // Enter in the list opens the folder, here the parent, and does not press OK.
    dialog->DirList->setCurrentRow(dialog->DirList->currentRow() - 1);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(dialog->DirList, &enter);
    EXPECT_EQ(Str(dialog->Directory()), Str(folder));
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(SelectDirDialog, FileListHasTheOrdinaryFilesInGrey) {
    const QString folder = Folder("a");
    for (const char* name : {"b.txt", "A.dat", ".cache"})
        File(QStringLiteral("a/") + name);
    Folder("a/dossier");
    auto dialog = Shown(folder);
    EXPECT_EQ(Strs(Texts(*dialog->FileList)), (std::vector<std::string>{"A.dat", "b.txt"}));
    EXPECT_EQ(dialog->FileList->item(0)->foreground().color(), QColor(128, 128, 128));
}

TEST_F(SelectDirDialog, BusyCursorFromTheHundredAndFirstFile) {
    const QString folder = Folder("a");
    for (int i = 0; i < 120; ++i)
        File(QStringLiteral("a/f%1").arg(i, 3, 10, QLatin1Char('0')));
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    TSelectDirDlg dialog(AllOptions, 0, boxes);
    std::vector<bool> busyAt;
    QObject::connect(dialog.FileList->model(), &QAbstractItemModel::rowsInserted, [&] {
        const QCursor* cursor = QApplication::overrideCursor();
        busyAt.push_back(cursor && cursor->shape() == Qt::WaitCursor);
    });
    ASSERT_TRUE(dialog.SetDirectory(folder));
    ASSERT_EQ(busyAt.size(), 120u);
    for (std::size_t i = 0; i < busyAt.size(); ++i)
        EXPECT_EQ(busyAt[i], i >= 100) << i;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(SelectDirDialog, PathLabelIsShortenedToItsWidth) {
    const QString deep = Folder("un-dossier-au-nom-assez-long/encore-un-dossier-au-nom-long/"
                                "et-un-troisieme-pour-deborder/dernier");
    auto dialog = Shown(deep);
    const QString text = dialog->DirLabel->text();
    EXPECT_LE(dialog->DirLabel->fontMetrics().horizontalAdvance(text), dialog->DirLabel->width());
    EXPECT_TRUE(text.startsWith("/.../")) << Str(text);
    EXPECT_TRUE(text.endsWith("/dernier")) << Str(text);
    EXPECT_EQ(Str(dialog->DirLabel->toolTip()), Str(deep));
}

TEST_F(SelectDirDialog, FailedChangeKeepsThePreviousFolder) {
    const QString folder = Folder("a");
    Folder("a/parti");
    const QString plain = File("simple");
    auto dialog = Shown(folder);
    const QStringList before = Paths(*dialog->DirList);
    const QString edited = dialog->DirEdit->text();

    EXPECT_FALSE(dialog->SetDirectory(plain));
    const int notADirectory = static_cast<int>(std::errc::not_a_directory);
    EXPECT_EQ(Strs(boxes.Messages),
              std::vector<std::string>{"Erreur E/S " + std::to_string(notADirectory)});

    // A listed folder removed meanwhile.
    ASSERT_TRUE(QDir(folder + "/parti").removeRecursively());
    dialog->OpenDirListEntry(dialog->DirList->count() - 1);
    const int missing = static_cast<int>(std::errc::no_such_file_or_directory);
    ASSERT_EQ(boxes.Messages.size(), 2);
    EXPECT_EQ(Str(boxes.Messages[1]), "Erreur E/S " + std::to_string(missing));

    EXPECT_EQ(Str(dialog->Directory()), Str(folder));
    EXPECT_EQ(Strs(Paths(*dialog->DirList)), Strs(before));
    EXPECT_EQ(Str(dialog->DirEdit->text()), Str(edited));
    EXPECT_EQ(CurrentFolder(), folder);
}

TEST_F(SelectDirDialog, StartsOnTheCurrentFolderWithAMissingOneTyped) {
    const QString folder = Folder("a");
    ASSERT_TRUE(QDir::setCurrent(folder));
    TSelectDirDlg dialog(AllOptions, 0, boxes);
    dialog.Start(root + "/plus-tard");
    EXPECT_EQ(Str(dialog.Directory()), Str(folder));
    EXPECT_EQ(Str(dialog.DirEdit->text()), Str(root + "/plus-tard"));
}

TEST_F(SelectDirDialog, DriveListStartsWithTheRootAndChangesToIt) {
    auto dialog = Shown(Folder("a"));
    ASSERT_GE(dialog->DriveList->count(), 1);
    EXPECT_TRUE(dialog->DriveList->itemText(0).startsWith('/'));
    dialog->ChooseDrive(0);
    EXPECT_EQ(Str(dialog->Directory()), "/");
    EXPECT_EQ(Str(QDir::currentPath()), "/");
    EXPECT_EQ(dialog->DriveList->currentIndex(), 0);
}

TEST_F(SelectDirDialog, Item10_LinksAreListedForWhatTheyLeadTo) {
#ifdef Q_OS_WIN
    GTEST_SKIP() << "making links needs privileges on Windows";
#endif
    const QString folder = Folder("a");
    const QString target = Folder("b");
    const QString notes = File("notes.txt");
    namespace fs = std::filesystem;
    // A port's name beside the program leads to a character device, as COM1 to /dev/pts/N.
    fs::create_symlink("/dev/null", (folder + "/COM1").toStdString());
    fs::create_symlink(target.toStdString(), (folder + "/vers-b").toStdString());
    fs::create_symlink(notes.toStdString(), (folder + "/vers-notes").toStdString());
    auto dialog = Shown(folder);
    EXPECT_EQ(Str(Texts(*dialog->DirList).last()), "vers-b");
    EXPECT_FALSE(Texts(*dialog->DirList).contains("COM1"));
    EXPECT_EQ(Strs(Texts(*dialog->FileList)), std::vector<std::string>{"vers-notes"});
}

TEST_F(SelectDirDialog, Item11_PathLabelTakesTheEditPlaceAndNothingLeavesTheDialog) {
    for (const TSelectDirFlags options : {AllOptions, TSelectDirFlags{dfCreatePath}}) {
        const bool edit = (options & dfEditPath) != 0;
        TSelectDirDlg dialog(options, 42, boxes);
        EXPECT_EQ(dialog.DirLabel->geometry(), dialog.DirEdit->geometry());
        EXPECT_EQ(dialog.DirEdit->isVisibleTo(&dialog), edit);
        EXPECT_EQ(dialog.DirLabel->isVisibleTo(&dialog), !edit);
        const int foldersRight = dialog.DirList->geometry().right();
        EXPECT_GT(dialog.FileList->x(), foldersRight);
        EXPECT_GT(dialog.DriveList->x(), foldersRight);
        for (const QWidget* control : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const QRect bounds = control->geometry();
            EXPECT_TRUE(dialog.rect().contains(bounds))
                << control->metaObject()->className() << " at " << bounds.x() << ", " << bounds.y()
                << ", " << bounds.width() << " x " << bounds.height();
        }
    }
}

// --- The modal entry point, its buttons pressed once its loop runs

// Runs action, which ends with a button that closes the chooser, as soon as the chooser is on
// screen. A chooser left open is a failure, and is closed so the test goes on.
void WhenShown(const std::function<void(TSelectDirDlg&)>& action) {
    QTimer::singleShot(0, [action] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<TSelectDirDlg*>(widget);
            if (!dialog || !dialog->isVisible()) continue;
            action(*dialog);
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the chooser stayed open";
                dialog->done(QDialog::Rejected);
            }
            return;
        }
        ADD_FAILURE() << "the chooser is not on screen";
    });
}

// Runs action on the first box found on screen, from within the box's own modal loop.
void WhenBoxShown(const std::function<void(QMessageBox&)>& action) {
    QTimer::singleShot(0, [action] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                action(*box);
                return;
            }
        ADD_FAILURE() << "no box on screen";
    });
}

TEST_F(SelectDirDialog, Item10_QuestionsAndErrorsOpenOverTheChooser) {
    // The program's window, hidden in the tray, in the bottom-right corner of the screen.
    QWidget window;
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    window.setGeometry(QRect(screen.bottomRight() - QPoint(180, 106), QSize(180, 106)));
    const QString plain = File("simple");
    int boxesSeen = 0;
    WhenShown([&](TSelectDirDlg& dialog) {
        auto overTheChooser = [&](QMessageBox& box) {
            ++boxesSeen;
            EXPECT_EQ(box.parentWidget(), &dialog);
            EXPECT_TRUE(dialog.frameGeometry().contains(box.frameGeometry().center()));
            box.reject();
        };
        WhenBoxShown(overTheChooser);
        dialog.SetDirectory(plain);
        dialog.DirEdit->setText(root + "/absent");
        WhenBoxShown(overTheChooser);
        dialog.OKButton->click();
        dialog.CancelButton->click();
    });
    QString directory = root;
    EXPECT_FALSE(ExecuteSelectDirDlg(directory, AllOptions, 0, &window));
    EXPECT_EQ(boxesSeen, 2);
}

TEST_F(SelectDirDialog, ModalOkReturnsTheChosenFolder) {
    QString directory = Folder("a");
    WhenShown([](TSelectDirDlg& dialog) { dialog.OKButton->click(); });
    EXPECT_TRUE(ExecuteSelectDirDlg(directory, AllOptions, 0, boxes));
    EXPECT_EQ(Str(directory), Str(QDir::toNativeSeparators(root + "/a")));
}

TEST_F(SelectDirDialog, ModalCancelKeepsTheTextAndTheLastFolderBrowsed) {
    QString directory = Folder("a");
    const QString browsed = Folder("a/b");
    WhenShown([&](TSelectDirDlg& dialog) {
        dialog.SetDirectory(browsed);
        dialog.CancelButton->click();
    });
    EXPECT_FALSE(ExecuteSelectDirDlg(directory, AllOptions, 0, boxes));
    EXPECT_EQ(Str(directory), Str(root + "/a"));
    EXPECT_EQ(CurrentFolder(), browsed);
}

TEST_F(SelectDirDialog, ModalFailedCreationReturnsFalse) {
    const QString typed = File("simple") + "/dessous";
    QString directory = typed;
    boxes.Answers = {true};
    WhenShown([](TSelectDirDlg& dialog) { dialog.OKButton->click(); });
    EXPECT_FALSE(ExecuteSelectDirDlg(directory, AllOptions, 0, boxes));
    EXPECT_EQ(Str(directory), Str(typed));
    EXPECT_EQ(Strs(boxes.Messages), std::vector<std::string>{CannotCreate});
}

} // namespace
} // namespace veldar::test
