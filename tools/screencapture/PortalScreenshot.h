#pragma once

#include <QDBusConnection>
#include <QDBusError>
#include <QImage>
#include <QObject>
#include <QVariantMap>

// Asks the desktop's screenshot portal for a still of the whole desktop, without its own
// dialog. The answer arrives as a Request.Response signal, which may come before the reply to
// the call: the subscription is made first, on the request path the portal will use.
class PortalScreenshot : public QObject {
    Q_OBJECT
public:
    explicit PortalScreenshot(QDBusConnection bus, QObject *parent = nullptr);

    void request();

signals:
    void taken(const QImage &image); // Format_RGB32
    void refused();
    // reason: the D-Bus error or what was wrong with the answer, for the tool's standard error.
    void failed(const QString &reason);

private slots:
    void onResponse(uint response, const QVariantMap &results);

private:
    void subscribe(const QString &path);
    void unsubscribe();
    void fail(const QString &reason);
    static QString describe(const QDBusError &error);

    QDBusConnection m_bus;
    QString m_requestPath;
    bool m_answered = false;
};
