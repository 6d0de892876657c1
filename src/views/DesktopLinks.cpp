#include "views/DesktopLinks.h"

#include "platform/DesktopOpener.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

namespace {

void openFolder(const QUrl &folder, QObject *context, std::function<void()> notOpened) {
    DesktopOpener::open(folder, context, [notOpened = std::move(notOpened)](bool opened) {
        if (!opened && notOpened)
            notOpened();
    });
}

} // namespace

void DesktopLinks::revealFile(const QString &path, QObject *context, std::function<void()> notOpened) {
    if (path.isEmpty())
        return;
    const QUrl file = QUrl::fromLocalFile(path);
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return openFolder(folder, context, std::move(notOpened));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{file.toString()} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), nullptr);
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher,
        [watcher, folder, context = QPointer<QObject>(context), notOpened = std::move(notOpened)] {
            watcher->deleteLater();
            if (watcher->isError() && context)
                openFolder(folder, context, notOpened);
        });
}

QString DesktopLinks::folderNotOpened(const QString &path) {
    return QStringLiteral("Der Ordner „%1“ konnte nicht geöffnet werden.")
        .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
}
