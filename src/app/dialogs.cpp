#include "dialogs.h"

#include "program_texts.h"
#include "qt_text.h"
#include "select_dir.h"

#include <QApplication>
#include <QInputDialog>
#include <QPushButton>

namespace veldar {

// Boxes block the window only: the tray's icon and menu, "Quitter" included, stay usable
// while a box waits for somebody who may not be there.
void QtDialogs::Message(const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, FromCp1252(texts::ProgramName), text, QMessageBox::Ok, parent_);
    box.button(QMessageBox::Ok)->setText(FromCp1252(texts::ButtonOk));
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}

QString QtDialogs::Input(const QString& title, const QString& prompt, const QString& defaultText) {
    QInputDialog dialog(parent_);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    dialog.setOkButtonText(FromCp1252(texts::ButtonOk));
    dialog.setCancelButtonText(FromCp1252(texts::ButtonCancel));
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : defaultText;
}

bool QtDialogs::Ask(const QString& title, const QString& question) {
    QMessageBox box(QMessageBox::Question, title, question, QMessageBox::Yes | QMessageBox::No,
                    parent_);
    box.setWindowModality(Qt::WindowModal);
    box.button(QMessageBox::Yes)->setText(FromCp1252(texts::ButtonYes));
    box.button(QMessageBox::No)->setText(FromCp1252(texts::ButtonNo));
    return box.exec() == QMessageBox::Yes;
}

bool QtDialogs::SelectDirectory(QString& directory) {
    return ExecuteSelectDirDlg(directory, dfEditPath | dfCreatePath | dfConfirmCreate, 0, parent_);
}

void QtDialogs::CancelAll() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
            dialog->reject();
}

} // namespace veldar
