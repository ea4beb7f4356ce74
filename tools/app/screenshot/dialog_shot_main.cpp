// veldar-dialog-screenshot: opens the folder chooser on a made-up tree of capture folders and
// saves a picture of it, for looking at the dialog without a session
// (tools/screenshot_dialog.sh runs it under Xvfb).
#include "dialogs.h"
#include "select_dir.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <iostream>

using namespace veldar;

namespace {

// Nothing should be asked while the picture is taken; whatever is, is told on the terminal.
class PrintedBoxes : public Dialogs {
public:
    void Message(const QString& text, QMessageBox::Icon) override {
        std::cerr << "message: " << text.toStdString() << '\n';
    }
    QString Input(const QString&, const QString&, const QString& defaultText) override {
        return defaultText;
    }
    bool Ask(const QString&, const QString& question) override {
        std::cerr << "question: " << question.toStdString() << '\n';
        return false;
    }
    bool SelectDirectory(QString&) override { return false; }
    void CancelAll() override {}
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: veldar-dialog-screenshot OUTPUT.png\n";
        return 2;
    }
    QApplication app(argc, argv);
    QTemporaryDir folder;
    const QString year = folder.path() + QStringLiteral("/Captures/Atelier/2024");
    for (const char* month : {"Janvier", "février", "Mars", "avril", "Mai", ".brouillons"})
        QDir().mkpath(year + QLatin1Char('/') + QString::fromUtf8(month));
    for (int i = 1; i <= 12; ++i) {
        QFile file(year + QStringLiteral("/Releve_%1.csv").arg(i, 3, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly)) return 1;
    }

    PrintedBoxes boxes;
    TSelectDirDlg dialog(dfEditPath | dfCreatePath | dfConfirmCreate, 0, boxes);
    dialog.Start(year);
    dialog.show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();

    const bool saved = dialog.grab().save(QString::fromLocal8Bit(argv[1]));
    std::cout << (saved ? "saved " : "could not save ") << argv[1] << std::endl;
    return saved ? 0 : 1;
}
