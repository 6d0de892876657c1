#include "platform/DesktopOpener.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

namespace DesktopOpener {

void open(const QUrl &url, QObject *context, std::function<void(bool opened)> done,
          std::chrono::milliseconds startTime) {
    QPointer<QObject> guard(context);
    auto answer = [guard, done = std::move(done)](bool opened) {
        if (guard)
            done(opened);
    };
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        // Without xdg-open Qt tries the common browsers itself; whether one started is all it knows.
        const bool opened = QDesktopServices::openUrl(url);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [answer, opened] { answer(opened); }, Qt::QueuedConnection);
        return;
    }
    // Owned by the application, not by the asker: the browser may outlive the sheet that opened it.
    auto *process = new QProcess(QCoreApplication::instance());
    process->setProgram(opener);
    process->setArguments({url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)});
    // A text-mode browser would otherwise wait on our input; nothing reads what it prints.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    const QDeadlineTimer starting(startTime);
    QObject::connect(process, &QProcess::finished, process,
                     [process, answer, starting](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         answer((status == QProcess::NormalExit && code == 0) || starting.hasExpired());
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, answer](QProcess::ProcessError error) {
                         // Every other error is followed by finished().
                         if (error != QProcess::FailedToStart)
                             return;
                         process->deleteLater();
                         answer(false);
                     });
    process->start();
}

} // namespace DesktopOpener
