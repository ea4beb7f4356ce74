#include "select_dir.h"

#include "dialogs.h"
#include "led_images.h"
#include "program_texts.h"
#include "qt_text.h"

#include <QApplication>
#include <QCollator>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyledItemDelegate>
#include <algorithm>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace veldar {

namespace {

#ifdef Q_OS_WIN
constexpr bool WindowsRules = true;
#else
constexpr bool WindowsRules = false;
#endif

// The dialog's client size and its controls' bounds (left, top, width, height), in pixels at
// 96 dots per inch. The path label takes the place of the edit box.
constexpr QSize DialogSize(424, 255);
constexpr QRect NameLabelBounds(8, 8, 92, 13);
constexpr QRect DirEditBounds(8, 24, 313, 20);
constexpr QRect DirsLabelBounds(8, 56, 66, 13);
constexpr QRect DirListBounds(8, 72, 213, 138);
constexpr QRect FilesLabelBounds(232, 56, 57, 13);
constexpr QRect FileListBounds(232, 72, 185, 93);
constexpr QRect DrivesLabelBounds(232, 176, 41, 13);
constexpr QRect DriveListBounds(232, 192, 185, 19);
constexpr QRect NetButtonBounds(8, 224, 77, 27);
constexpr QRect OKButtonBounds(172, 224, 77, 27);
constexpr QRect CancelButtonBounds(256, 224, 77, 27);
constexpr QRect HelpButtonBounds(340, 224, 77, 27);

// From this many names on, filling the file list shows the busy cursor.
constexpr int BusyFileCount = 100;

QString JoinPath(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool IsDriveLetterPath(const QString& path) {
    return path.size() >= 2 && path[0].isLetter() && path[1] == QLatin1Char(':');
}

#ifdef Q_OS_WIN
// Qt's listing leaves hidden entries out but keeps the system ones, which the user does not
// handle either.
bool IsSystemEntry(const QString& path) {
    const DWORD attributes =
        GetFileAttributesW(QDir::toNativeSeparators(path).toStdWString().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_SYSTEM) != 0;
}
#endif

// The names of the folder's sub-folders or of its ordinary files, hidden and system entries
// left out, sorted. A link counts for what it leads to: Qt lists a link to a device (a serial
// port, say) among the folders and the files alike, and it is neither.
enum class TEntryKind { ekFolders, ekFiles };
QStringList VisibleNames(const QString& folder, TEntryKind kind) {
    const bool folders = kind == TEntryKind::ekFolders;
    const QFileInfoList entries = QDir(folder).entryInfoList(
        folders ? QDir::Dirs | QDir::NoDotAndDotDot : QDir::Files, QDir::NoSort);
    QStringList names;
    for (const QFileInfo& entry : entries) {
        if (folders ? !entry.isDir() : !entry.isFile()) continue;
#ifdef Q_OS_WIN
        if (IsSystemEntry(entry.absoluteFilePath())) continue;
#endif
        names << entry.fileName();
    }
    SortNames(names);
    return names;
}

// The 16 x 16 pictures at whole multiples too, pixel for pixel: a scaled screen gets crisp
// pictures instead of smoothed ones.
QIcon IconOf(const QImage& image) {
    const QImage base = WithBottomLeftTransparent(image);
    QIcon icon(QPixmap::fromImage(base));
    for (int factor : {2, 3, 4}) {
        QPixmap larger = QPixmap::fromImage(
            base.scaled(base.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        larger.setDevicePixelRatio(factor);
        icon.addPixmap(larger);
    }
    return icon;
}

QString DriveText(const QString& shownRoot, const QString& label) {
    return label.isEmpty() ? shownRoot
                           : shownRoot + QStringLiteral(" [") + label + QLatin1Char(']');
}

#ifndef Q_OS_WIN
// Mount points the system keeps for itself rather than for the user's files.
bool IsSystemMount(const QString& root) {
    if (root.startsWith(QLatin1String("/run/media/"))) return false;
    for (const char* area : {"/dev", "/proc", "/sys", "/run", "/var/run", "/var/lock", "/snap"})
        if (root == QLatin1String(area) || root.startsWith(QLatin1String(area) + QLatin1Char('/')))
            return true;
    return false;
}
#endif

// Folder-list lines drawn after their indent, the selection included.
class TIndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem shifted(option);
        shifted.rect.setLeft(option.rect.left() + index.data(DirIndentRole).toInt());
        QStyledItemDelegate::paint(painter, shifted, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += index.data(DirIndentRole).toInt();
        return size;
    }
};

} // namespace

TPathParts SplitFolderPath(const QString& path) {
    TPathParts parts;
    QString below;
    if (IsDriveLetterPath(path)) {
        parts.Root = path.left(2) + QLatin1Char('/');
        below = path.mid(2);
    } else if (path.startsWith(QLatin1String("//"))) {
        // A network share: the server and the share name make the root.
        const qsizetype server = path.indexOf(QLatin1Char('/'), 2);
        const qsizetype share = server < 0 ? -1 : path.indexOf(QLatin1Char('/'), server + 1);
        parts.Root = share < 0 ? path + QLatin1Char('/') : path.left(share + 1);
        below = share < 0 ? QString() : path.mid(share + 1);
    } else if (path.startsWith(QLatin1Char('/'))) {
        parts.Root = QStringLiteral("/");
        below = path.mid(1);
    } else {
        below = path;
    }
    parts.Folders = below.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return parts;
}

void SortNames(QStringList& names) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), collator);
}

std::vector<TDirListEntry> DirListEntries(const QString& absoluteFolder,
                                          const QStringList& subFolders) {
    const TPathParts parts = SplitFolderPath(absoluteFolder);
    const int depth = static_cast<int>(parts.Folders.size());
    auto imageAt = [depth](int level) {
        return level == depth ? TFolderImage::fiCurrent : TFolderImage::fiOpen;
    };
    std::vector<TDirListEntry> entries;
    entries.push_back({QDir::toNativeSeparators(parts.Root), 2, imageAt(0), parts.Root});
    QString path = parts.Root;
    for (int level = 1; level <= depth; ++level) {
        const QString& name = parts.Folders[level - 1];
        path = JoinPath(path, name);
        entries.push_back({name, 4 * level + 2, imageAt(level), path});
    }
    for (const QString& name : subFolders)
        entries.push_back({name, 4 * depth + 6, TFolderImage::fiClosed, JoinPath(path, name)});
    return entries;
}

QString ShortenPath(const QString& path, int maxWidth,
                    const std::function<int(const QString&)>& measure, QChar separator) {
    auto shown = [separator](QString text) { return text.replace(QLatin1Char('/'), separator); };
    const TPathParts parts = SplitFolderPath(path);
    const QStringList& folders = parts.Folders;
    QStringList candidates{shown(path)};
    for (qsizetype kept = folders.size() - 1; kept >= 1; --kept)
        candidates << shown(parts.Root + QStringLiteral(".../") +
                            folders.mid(folders.size() - kept).join(QLatin1Char('/')));
    if (folders.size() > 1) candidates << shown(QStringLiteral(".../") + folders.last());
    if (!folders.isEmpty()) candidates << folders.last();
    for (const QString& candidate : candidates)
        if (measure(candidate) <= maxWidth) return candidate;
    return candidates.last();
}

TCreateNeed CreateNeedOf(const QString& typed, bool windowsRules) {
    if (typed.isEmpty()) return TCreateNeed::cnImpossible;
    const bool driveRoot = windowsRules ? typed.size() < 3 && (IsDriveLetterPath(typed) ||
                                                               typed[0] == QLatin1Char('\\') ||
                                                               typed[0] == QLatin1Char('/'))
                                        : typed == QLatin1String("/");
    if (driveRoot) return TCreateNeed::cnNone;
    const bool hasSeparator =
        typed.contains(QLatin1Char('/')) ||
        (windowsRules && (typed.contains(QLatin1Char('\\')) || typed.contains(QLatin1Char(':'))));
    return hasSeparator ? TCreateNeed::cnCreate : TCreateNeed::cnImpossible;
}

TDriveKind VolumeKind(const QByteArray& type, const QByteArray& device, const QString& root) {
    static const QByteArrayList network{"nfs",   "nfs4",       "cifs",  "smb3",       "smbfs",
                                        "ncpfs", "afs",        "9p",    "ceph",       "glusterfs",
                                        "sshfs", "fuse.sshfs", "davfs", "fuse.rclone"};
    if (network.contains(type) || device.startsWith("//") || device.contains(":/"))
        return TDriveKind::dkNetwork;
    if (type == "iso9660" || type == "udf" || device.startsWith("/dev/sr") ||
        device.startsWith("/dev/cdrom"))
        return TDriveKind::dkCDRom;
    if (type == "tmpfs" || type == "ramfs") return TDriveKind::dkRAM;
    if (root.startsWith(QLatin1String("/media/")) || root.startsWith(QLatin1String("/run/media/")))
        return TDriveKind::dkRemovable;
    return TDriveKind::dkFixed;
}

std::vector<TDriveEntry> DriveEntries() {
    std::vector<TDriveEntry> drives;
#ifdef Q_OS_WIN
    for (const QFileInfo& drive : QDir::drives()) {
        const QString root = drive.absoluteFilePath();
        TDriveKind kind = TDriveKind::dkFixed;
        switch (GetDriveTypeW(QDir::toNativeSeparators(root).toStdWString().c_str())) {
        case DRIVE_REMOVABLE:
            kind = TDriveKind::dkRemovable;
            break;
        case DRIVE_REMOTE:
            kind = TDriveKind::dkNetwork;
            break;
        case DRIVE_CDROM:
            kind = TDriveKind::dkCDRom;
            break;
        case DRIVE_RAMDISK:
            kind = TDriveKind::dkRAM;
            break;
        }
        // Asking a diskette or disc drive for its label would wait for the medium.
        const bool mediumAlwaysIn = kind != TDriveKind::dkRemovable && kind != TDriveKind::dkCDRom;
        const QString label = mediumAlwaysIn ? QStorageInfo(root).name() : QString();
        drives.push_back({DriveText(root.left(2).toLower(), label), root, kind});
    }
#else
    drives.push_back({DriveText(QStringLiteral("/"), QStorageInfo::root().name()),
                      QStringLiteral("/"), TDriveKind::dkFixed});
    std::vector<TDriveEntry> volumes;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (!volume.isValid() || !volume.isReady() || volume.isRoot() || IsSystemMount(root))
            continue;
        if (std::any_of(volumes.begin(), volumes.end(),
                        [&](const TDriveEntry& seen) { return seen.Root == root; }))
            continue; // mounted over again: one line is enough
        volumes.push_back({DriveText(root, volume.name()), root,
                           VolumeKind(volume.fileSystemType(), volume.device(), root)});
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const TDriveEntry& a, const TDriveEntry& b) { return a.Root < b.Root; });
    drives.insert(drives.end(), volumes.begin(), volumes.end());
#endif
    return drives;
}

int DriveIndexOf(const std::vector<TDriveEntry>& drives, const QString& absoluteFolder,
                 bool windowsRules) {
    auto withSlash = [](const QString& path) {
        return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    };
    const Qt::CaseSensitivity cs = windowsRules ? Qt::CaseInsensitive : Qt::CaseSensitive;
    const QString folder = withSlash(absoluteFolder);
    int best = -1;
    for (int i = 0; i < static_cast<int>(drives.size()); ++i) {
        const QString root = withSlash(drives[i].Root);
        if (folder.startsWith(root, cs) &&
            (best < 0 || root.size() > withSlash(drives[best].Root).size()))
            best = i;
    }
    return best;
}

// --- The dialog

TSelectDirDlg::TSelectDirDlg(TSelectDirFlags options, int helpContext, Dialogs& boxes,
                             QWidget* parent)
    : QDialog(parent), options_(options), helpContext_(helpContext), boxes_(boxes),
      drives_(DriveEntries()) {
    setWindowTitle(FromCp1252(texts::SelectDirTitle));
    setFixedSize(DialogSize);

    // A label grows from its place to the size of its text, which the font may make wider.
    auto label = [this](const char* text, QRect bounds) {
        auto* made = new QLabel(FromCp1252(text), this);
        made->setGeometry(QRect(bounds.topLeft(), made->sizeHint().expandedTo(bounds.size())));
        return made;
    };
    QLabel* nameLabel = label(texts::SelectDirNameLabel, NameLabelBounds);
    QLabel* dirsLabel = label(texts::SelectDirDirsLabel, DirsLabelBounds);
    QLabel* filesLabel = label(texts::SelectDirFilesLabel, FilesLabelBounds);
    QLabel* drivesLabel = label(texts::SelectDirDrivesLabel, DrivesLabelBounds);

    // Made in the order the Tab key goes through them.
    DirEdit = new QLineEdit(this);
    DirEdit->setGeometry(DirEditBounds);
    DirLabel = new QLabel(this);
    DirLabel->setGeometry(DirEditBounds);
    DirLabel->setTextFormat(Qt::PlainText);
    DirList = new QListWidget(this);
    DirList->setGeometry(DirListBounds);
    DirList->setIconSize(QSize(16, 16));
    DirList->setItemDelegate(new TIndentDelegate(DirList));
    DirList->installEventFilter(this);
    FileList = new QListWidget(this);
    FileList->setGeometry(FileListBounds);
    FileList->setSelectionMode(QAbstractItemView::NoSelection);
    DriveList = new QComboBox(this);
    DriveList->setGeometry(DriveListBounds);
    DriveList->setIconSize(QSize(16, 16));
    for (const TDriveEntry& drive : drives_)
        DriveList->addItem(IconOf(DriveImage(drive.Kind)), drive.Text);
    NetButton = new QPushButton(FromCp1252(texts::NetworkButton), this);
    // No network connection is made from here: the button keeps its place, hidden.
    NetButton->setGeometry(NetButtonBounds);
    NetButton->hide();
    OKButton = new QPushButton(FromCp1252(texts::ButtonOk), this);
    CancelButton = new QPushButton(FromCp1252(texts::ButtonCancel), this);
    HelpButton = new QPushButton(FromCp1252(texts::HelpButton), this);
    const bool help = helpContext != 0;
    // Without help, OK and Cancel move right into the places of Cancel and Help.
    OKButton->setGeometry(help ? OKButtonBounds : CancelButtonBounds);
    CancelButton->setGeometry(help ? CancelButtonBounds : HelpButtonBounds);
    HelpButton->setGeometry(HelpButtonBounds);
    HelpButton->setVisible(help);
    OKButton->setDefault(true);

    nameLabel->setBuddy(DirEdit);
    dirsLabel->setBuddy(DirList);
    filesLabel->setBuddy(FileList);
    drivesLabel->setBuddy(DriveList);
    const bool edit = (options & dfEditPath) != 0;
    DirEdit->setVisible(edit);
    DirLabel->setVisible(!edit);
    (edit ? static_cast<QWidget*>(DirEdit) : DirList)->setFocus();

    connect(DirList, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { OpenDirListEntry(DirList->row(item)); });
    connect(DriveList, &QComboBox::activated, this, &TSelectDirDlg::ChooseDrive);
    connect(OKButton, &QPushButton::clicked, this, [this] { TryAccept(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(HelpButton, &QPushButton::clicked, this, [this] { emit HelpRequested(helpContext_); });
    CentreOnParent();
}

void TSelectDirDlg::Start(const QString& directory) {
    for (const QString& folder :
         {directory, QDir::currentPath(), QDir::homePath(), QDir::rootPath()})
        if (!folder.isEmpty() && QFileInfo(folder).isDir() && SetDirectory(folder)) break;
    // A folder still to be created waits in the edit for OK.
    if (!directory.isEmpty() && !QFileInfo(directory).isDir()) {
        DirEdit->setText(directory);
        DirEdit->selectAll();
    }
}

bool TSelectDirDlg::SetDirectory(const QString& folder) {
    const QString absolute =
        QDir::cleanPath(QDir::current().absoluteFilePath(QDir::fromNativeSeparators(folder)));
    const std::filesystem::path where = QFileInfo(absolute).filesystemAbsoluteFilePath();
    std::error_code error;
    // Opening the folder tells why it cannot be listed, as the system's error number.
    std::filesystem::directory_iterator probe(where, error);
    if (!error) std::filesystem::current_path(where, error);
    if (error) {
        boxes_.Message(FromCp1252(texts::FolderIoError).arg(error.value()), QMessageBox::Critical);
        ShowDriveOf(directory_);
        return false;
    }
    directory_ = absolute;
    FillDirList(absolute, VisibleNames(absolute, TEntryKind::ekFolders));
    const QFontMetrics metrics(DirLabel->font());
    DirLabel->setText(ShortenPath(
        absolute, DirLabel->width(),
        [&metrics](const QString& text) { return metrics.horizontalAdvance(text); },
        QDir::separator()));
    DirLabel->setToolTip(QDir::toNativeSeparators(absolute));
    FillFileList(absolute);
    DirEdit->setText(QDir::toNativeSeparators(absolute));
    DirEdit->selectAll();
    ShowDriveOf(absolute);
    return true;
}

TSelectDirDlg::TOkOutcome TSelectDirDlg::TryAccept() {
    const QString typed =
        (options_ & dfEditPath) ? DirEdit->text() : QDir::toNativeSeparators(directory_);
    auto accepted = [&] {
        result_ = typed;
        accept();
        return TOkOutcome::okAccepted;
    };
    if (QFileInfo(typed).isDir()) return accepted();
    // Nothing to ask when the folder could not be made anyway.
    if (!(options_ & dfCreatePath)) return TOkOutcome::okStayOpen;
    if ((options_ & dfConfirmCreate) &&
        !boxes_.Ask(FromCp1252(texts::ConfirmTitle), FromCp1252(texts::ConfirmCreateFolder)))
        return TOkOutcome::okStayOpen;
    switch (CreateNeedOf(typed, WindowsRules)) {
    case TCreateNeed::cnNone:
        return accepted();
    case TCreateNeed::cnCreate:
        if (QDir().mkpath(typed) && QFileInfo(typed).isDir()) return accepted();
        break;
    case TCreateNeed::cnImpossible:
        break;
    }
    // The caller must not take a folder that does not exist for a chosen one.
    boxes_.Message(FromCp1252(texts::SelectDirNotCreated), QMessageBox::Critical);
    reject();
    return TOkOutcome::okFailed;
}

void TSelectDirDlg::OpenDirListEntry(int row) {
    if (const QListWidgetItem* item = DirList->item(row))
        SetDirectory(item->data(DirPathRole).toString());
}

void TSelectDirDlg::ChooseDrive(int index) {
    if (index >= 0 && index < static_cast<int>(drives_.size()))
        SetDirectory(drives_[static_cast<std::size_t>(index)].Root);
}

bool TSelectDirDlg::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the folder list opens the folder instead of pressing OK.
    if (watched == DirList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OpenDirListEntry(DirList->currentRow());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TSelectDirDlg::FillDirList(const QString& folder, const QStringList& subFolders) {
    DirList->clear();
    int currentRow = 0;
    for (const TDirListEntry& entry : DirListEntries(folder, subFolders)) {
        auto* item = new QListWidgetItem(IconOf(FolderImage(entry.Image)), entry.Text, DirList);
        item->setData(DirPathRole, entry.Path);
        item->setData(DirIndentRole, entry.Indent);
        item->setData(DirImageRole, static_cast<int>(entry.Image));
        if (entry.Image == TFolderImage::fiCurrent) currentRow = DirList->row(item);
    }
    DirList->setCurrentRow(currentRow);
}

void TSelectDirDlg::FillFileList(const QString& folder) {
    const QStringList files = VisibleNames(folder, TEntryKind::ekFiles);
    FileList->clear();
    bool busy = false;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (i == BusyFileCount) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            busy = true;
        }
        auto* item = new QListWidgetItem(files[i], FileList);
        // Shown for orientation only: the files are not what is being chosen.
        item->setForeground(QColor(128, 128, 128));
    }
    if (busy) QApplication::restoreOverrideCursor();
}

void TSelectDirDlg::ShowDriveOf(const QString& folder) {
    const QSignalBlocker quiet(DriveList);
    DriveList->setCurrentIndex(DriveIndexOf(drives_, folder, WindowsRules));
}

void TSelectDirDlg::CentreOnParent() {
    QRect area;
    if (QWidget* owner = parentWidget(); owner && owner->window()->isVisible())
        area = owner->window()->frameGeometry();
    else if (QScreen* screen =
                 parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    move(area.center() - rect().center());
}

// --- The entry points

namespace {

bool Run(TSelectDirDlg& dialog, QString& Directory) {
    dialog.Start(Directory);
    if (dialog.exec() != QDialog::Accepted) return false;
    Directory = dialog.Result();
    return true;
}

} // namespace

bool ExecuteSelectDirDlg(QString& Directory, TSelectDirFlags Options, int HelpContext,
                         Dialogs& boxes, QWidget* parent) {
    TSelectDirDlg dialog(Options, HelpContext, boxes, parent);
    return Run(dialog, Directory);
}

bool ExecuteSelectDirDlg(QString& Directory, TSelectDirFlags Options, int HelpContext,
                         QWidget* parent) {
    // Its questions and errors open over the chooser, not over the window that opened it.
    QtDialogs boxes(parent);
    TSelectDirDlg dialog(Options, HelpContext, boxes, parent);
    boxes.SetParent(&dialog);
    return Run(dialog, Directory);
}

} // namespace veldar
