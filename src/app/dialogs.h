// The program's modal boxes, behind one small interface so tests can answer them without a
// real modal loop. Every box is titled "VELDAR" and has French buttons.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace veldar {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message with an "OK" button.
    virtual void Message(const QString& text,
                         QMessageBox::Icon icon = QMessageBox::Information) = 0;
    // An input box with "OK" and "Annuler": the edited text when confirmed, the default text
    // when cancelled.
    virtual QString Input(const QString& title, const QString& prompt,
                          const QString& defaultText) = 0;
    // A question with "&Oui" and "&Non"; true for yes.
    virtual bool Ask(const QString& title, const QString& question) = 0;
    // The destination folder chooser; true with the chosen folder in directory.
    virtual bool SelectDirectory(QString& directory) = 0;
    // Closes every open box as if cancelled (the program is quitting).
    virtual void CancelAll() = 0;
};

class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent) : parent_(parent) {}
    // The window the boxes open over from now on.
    void SetParent(QWidget* parent) { parent_ = parent; }
    void Message(const QString& text, QMessageBox::Icon icon) override;
    QString Input(const QString& title, const QString& prompt, const QString& defaultText) override;
    bool Ask(const QString& title, const QString& question) override;
    bool SelectDirectory(QString& directory) override;
    void CancelAll() override;

private:
    QWidget* parent_;
};

} // namespace veldar
