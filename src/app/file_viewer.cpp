#include "file_viewer.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace veldar {

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)

// xdg-open is run here rather than through Qt, which starts it detached and so never learns
// that no program opened the file (its exit status says so).
void OpenWithDesktop(const QString& file, QObject* context, std::function<void()> notFound) {
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        notFound();
        return;
    }
    auto* process = new QProcess(context);
    process->setProgram(opener);
    process->setArguments({file});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, notFound](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;
                         notFound();
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::finished, process,
                     [process, notFound](int exitCode, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit || exitCode != 0) notFound();
                         process->deleteLater();
                     });
    process->start();
}

#else

void OpenWithDesktop(const QString& file, QObject*, std::function<void()> notFound) {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(file))) notFound();
}

#endif

} // namespace veldar
