#include "select_dir.h"

#include <QDir>
#include <QFileDialog>

namespace veldar {

bool ExecuteSelectDirDlg(QString& Directory, TSelectDirFlags, int, QWidget* parent) {
    const QString start = Directory.isEmpty() ? QDir::currentPath() : Directory;
    const QString chosen = QFileDialog::getExistingDirectory(
        parent, QString::fromUtf8("Sélection du répertoire"), start, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return false;
    Directory = QDir::toNativeSeparators(chosen);
    return true;
}

} // namespace veldar
