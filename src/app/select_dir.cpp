#include "select_dir.h"

#include <QDir>
#include <QFileDialog>

namespace veldar {

bool ExecuteSelectDirDlg(QString& Directory, TSelectDirFlags, int, QWidget* parent) {
    const QString start = Directory.isEmpty() ? QDir::currentPath() : Directory;
    // Qt's own dialog, so a quit can close it like the program's other boxes.
    const QString chosen = QFileDialog::getExistingDirectory(
        parent, QString::fromUtf8("Sélection du répertoire"), start,
        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (chosen.isEmpty()) return false;
    Directory = QDir::toNativeSeparators(chosen);
    return true;
}

} // namespace veldar
