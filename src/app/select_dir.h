// The destination folder chooser: a fixed dialog with the folder being browsed, its
// sub-folders, its files and the drives, and an edit where a folder that does not exist yet
// can be typed and created.
#pragma once

#include "select_dir_images.h"

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace veldar {

class Dialogs;

enum TSelectDirOpt { dfEditPath = 1, dfCreatePath = 2, dfConfirmCreate = 4 };
using TSelectDirFlags = unsigned;

// Lets the user choose a folder, starting from Directory (empty: the current folder).
// True with the chosen folder in Directory; false when cancelled or when the folder could not
// be created, Directory unchanged. The process's current directory is left at the last folder
// browsed. Questions and errors go through boxes; the first form uses the program's own boxes,
// opened over the chooser.
bool ExecuteSelectDirDlg(QString& Directory, TSelectDirFlags Options, int HelpContext,
                         QWidget* parent = nullptr);
bool ExecuteSelectDirDlg(QString& Directory, TSelectDirFlags Options, int HelpContext,
                         Dialogs& boxes, QWidget* parent = nullptr);

// --- The rules behind the dialog, apart from any widget. Paths use '/' separators.

// A folder path cut into its root ("/", "C:/", "//server/share/") and the folders below it.
struct TPathParts {
    QString Root;
    QStringList Folders;
};
TPathParts SplitFolderPath(const QString& absolutePath);

// Sorts folder or file names the way the user reads them: locale-aware, ignoring case.
void SortNames(QStringList& names);

// One line of the folder list.
struct TDirListEntry {
    QString Text;
    int Indent = 0; // pixels before the picture
    TFolderImage Image = TFolderImage::fiClosed;
    QString Path;
    bool operator==(const TDirListEntry&) const = default;
};
// The root, each folder down to the current one, the current one, then its sub-folders in
// the order given.
std::vector<TDirListEntry> DirListEntries(const QString& absoluteFolder,
                                          const QStringList& subFolders);

// The path as shown in a label measure() pixels wide at most: the folders after the root
// give way to "..." one at a time, then the root, then the ellipsis, so the last folder's name
// is always kept. separator is the one shown.
QString ShortenPath(const QString& path, int maxWidth,
                    const std::function<int(const QString&)>& measure, QChar separator);

// What OK does with a typed folder that does not exist.
enum class TCreateNeed {
    cnNone,      // a drive root: nothing to create, taken as it is
    cnCreate,    // created with its missing parents
    cnImpossible // no folder can be made from the text
};
TCreateNeed CreateNeedOf(const QString& typed, bool windowsRules);

// One line of the drive list.
struct TDriveEntry {
    QString Text;
    QString Root;
    TDriveKind Kind = TDriveKind::dkFixed;
};
// The drives of this machine: on Windows its logical drives, elsewhere "/" and the real
// mounted volumes.
std::vector<TDriveEntry> DriveEntries();
// The kind of a mounted volume from what the system tells of it.
TDriveKind VolumeKind(const QByteArray& fileSystemType, const QByteArray& device,
                      const QString& root);
// The line of the drive whose root holds the folder the most closely; -1 for none.
int DriveIndexOf(const std::vector<TDriveEntry>& drives, const QString& absoluteFolder,
                 bool windowsRules);

// --- The dialog, with its widgets open to tests.

// Item data of the folder list.
constexpr int DirPathRole = Qt::UserRole;
constexpr int DirIndentRole = Qt::UserRole + 1;
constexpr int DirImageRole = Qt::UserRole + 2;

class TSelectDirDlg : public QDialog {
    Q_OBJECT
public:
    enum class TOkOutcome {
        okAccepted, // closes with the chosen folder
        okFailed,   // closes without one (the folder could not be created)
        okStayOpen  // the user goes on choosing
    };

    TSelectDirDlg(TSelectDirFlags options, int helpContext, Dialogs& boxes,
                  QWidget* parent = nullptr);

    // Opens on directory when it is a folder, else on the current folder with directory
    // typed in the edit, ready to be created.
    void Start(const QString& directory);
    // Changes to a folder: the current directory, the lists and the texts follow. On failure
    // the error is shown and everything stays on the previous folder.
    bool SetDirectory(const QString& folder);
    // The OK button: the outcome, also applied to the dialog (accept, reject or nothing).
    TOkOutcome TryAccept();
    // The folder chosen by an accepted OK, as typed.
    QString Result() const { return result_; }
    // The folder being browsed.
    QString Directory() const { return directory_; }
    // What a double-click (or Enter) on a line of the folder list does.
    void OpenDirListEntry(int row);
    // What choosing a line of the drive list does.
    void ChooseDrive(int index);

    QLineEdit* DirEdit;
    QLabel* DirLabel;
    QListWidget* DirList;
    QListWidget* FileList;
    QComboBox* DriveList;
    QPushButton* NetButton;
    QPushButton* OKButton;
    QPushButton* CancelButton;
    QPushButton* HelpButton;

signals:
    // The help button, with the context the dialog was opened with.
    void HelpRequested(int helpContext);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillDirList(const QString& folder, const QStringList& subFolders);
    void FillFileList(const QString& folder);
    void ShowDriveOf(const QString& folder);
    void CentreOnParent();

    TSelectDirFlags options_;
    int helpContext_;
    Dialogs& boxes_;
    std::vector<TDriveEntry> drives_;
    QString directory_;
    QString result_;
};

} // namespace veldar
