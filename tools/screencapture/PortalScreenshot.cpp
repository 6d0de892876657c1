#include "PortalScreenshot.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kObject = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
constexpr int kCallTimeoutMilliseconds = 30'000;
} // namespace

PortalScreenshot::PortalScreenshot(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus)) {}

void PortalScreenshot::request() {
    if (!m_bus.isConnected()) {
        const QDBusError error = m_bus.lastError();
        QTimer::singleShot(0, this, [this, error] { fail(describe(error)); });
        return;
    }
    const QString token =
        QStringLiteral("vellumbox%1").arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    subscribe(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token));

    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kObject, QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
    const QVariantMap options{{QStringLiteral("handle_token"), token},
                              {QStringLiteral("interactive"), false},
                              {QStringLiteral("modal"), false}};
    call << QString() << options;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMilliseconds), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        if (m_answered)
            return;
        const QDBusPendingReply<QDBusObjectPath> reply = *call;
        if (reply.isError()) {
            fail(describe(reply.error()));
            return;
        }
        // Portals before version 0.9 chose their own path.
        const QString path = reply.value().path();
        if (path != m_requestPath)
            subscribe(path);
    });
}

void PortalScreenshot::subscribe(const QString &path) {
    unsubscribe();
    m_requestPath = path;
    m_bus.connect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
}

void PortalScreenshot::unsubscribe() {
    if (m_requestPath.isEmpty())
        return;
    m_bus.disconnect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
    m_requestPath.clear();
}

QString PortalScreenshot::describe(const QDBusError &error) {
    if (!error.isValid())
        return QStringLiteral("keine Verbindung zum Sitzungsbus");
    return error.name() + QStringLiteral(": ") + error.message();
}

void PortalScreenshot::fail(const QString &reason) {
    if (m_answered)
        return;
    m_answered = true;
    unsubscribe();
    emit failed(reason);
}

void PortalScreenshot::onResponse(uint response, const QVariantMap &results) {
    if (m_answered)
        return;
    m_answered = true;
    unsubscribe();
    // 1: the user said no; 2: the portal denied it, for instance by its permission store.
    if (response != 0) {
        emit refused();
        return;
    }
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    if (!uri.isLocalFile()) {
        emit failed(QStringLiteral("die Antwort nennt keine lokale Datei"));
        return;
    }
    const QString path = uri.toLocalFile();
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    QImage image;
    if (format == "png" || format == "jpeg")
        image = reader.read();
    // The portal made this file for us alone; a still of the whole desktop must not linger.
    if (QFileInfo(path).isFile())
        QFile::remove(path);
    if (image.isNull()) {
        emit failed(QStringLiteral("die Datei ist kein lesbares PNG- oder JPEG-Bild"));
        return;
    }
    emit taken(image.convertToFormat(QImage::Format_RGB32));
}
