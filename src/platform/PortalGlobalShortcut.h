#pragma once

#include "platform/GlobalShortcut.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantMap>

// The desktop portal's GlobalShortcuts interface: a session, one bound shortcut, and its
// Activated signal. The desktop may ask the user first, so the outcome comes later.
class PortalGlobalShortcut : public GlobalShortcut {
    Q_OBJECT
public:
    explicit PortalGlobalShortcut(QDBusConnection bus, QObject *parent = nullptr);
    ~PortalGlobalShortcut() override;

    void registerShortcut() override;
    bool isRegistered() const override { return m_stage == Stage::Bound; }

    static const QString shortcutId;

private slots:
    void onResponse(uint response, const QVariantMap &results);
    void onActivated(const QDBusMessage &message);

private:
    enum class Stage { Idle, CreatingSession, Binding, Bound, Failed };

    void call(const QString &method, const QList<QVariant> &arguments, const QString &token);
    void subscribe(const QString &path);
    void unsubscribe();
    void fail();

    QDBusConnection m_bus;
    Stage m_stage = Stage::Idle;
    QString m_requestPath;
    QString m_session;
};
