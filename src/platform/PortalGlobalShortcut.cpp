#include "platform/PortalGlobalShortcut.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kObject = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

QString newToken() {
    return QStringLiteral("vellumbox%1")
        .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

const QString PortalGlobalShortcut::shortcutId = QStringLiteral("capture");

PortalGlobalShortcut::PortalGlobalShortcut(QDBusConnection bus, QObject *parent)
    : GlobalShortcut(parent), m_bus(std::move(bus)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
}

PortalGlobalShortcut::~PortalGlobalShortcut() {
    unsubscribe();
    if (!m_session.isEmpty()) {
        m_bus.call(QDBusMessage::createMethodCall(kService, m_session,
                                                  QStringLiteral("org.freedesktop.portal.Session"),
                                                  QStringLiteral("Close")),
                   QDBus::NoBlock);
    }
}

void PortalGlobalShortcut::registerShortcut() {
    if (m_stage != Stage::Idle)
        return;
    if (!m_bus.isConnected()) {
        fail();
        return;
    }
    m_bus.connect(kService, kObject, kInterface, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusMessage)));
    m_stage = Stage::CreatingSession;
    const QString token = newToken();
    call(QStringLiteral("CreateSession"),
         {QVariantMap{{QStringLiteral("handle_token"), token},
                      {QStringLiteral("session_handle_token"), newToken()}}},
         token);
}

void PortalGlobalShortcut::call(const QString &method, const QList<QVariant> &arguments,
                                const QString &token) {
    // The answer may overtake the reply to the call: subscribe to the request path first.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    subscribe(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token));
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kObject, kInterface, method);
    message.setArguments(arguments);
    const Stage stage = m_stage;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, stage](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        if (m_stage != stage)
            return;
        const QDBusPendingReply<QDBusObjectPath> reply = *call;
        if (reply.isError()) {
            fail();
            return;
        }
        if (reply.value().path() != m_requestPath)
            subscribe(reply.value().path());
    });
}

void PortalGlobalShortcut::subscribe(const QString &path) {
    unsubscribe();
    m_requestPath = path;
    m_bus.connect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
}

void PortalGlobalShortcut::unsubscribe() {
    if (m_requestPath.isEmpty())
        return;
    m_bus.disconnect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
    m_requestPath.clear();
}

void PortalGlobalShortcut::fail() {
    if (m_stage == Stage::Failed)
        return;
    m_stage = Stage::Failed;
    unsubscribe();
    QMetaObject::invokeMethod(
        this, [this] { emit failed(); }, Qt::QueuedConnection);
}

void PortalGlobalShortcut::onResponse(uint response, const QVariantMap &results) {
    unsubscribe();
    if (response != 0) {
        fail();
        return;
    }
    if (m_stage == Stage::CreatingSession) {
        // Older portals send the handle as a string, newer ones as an object path.
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        m_session =
            handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path() : handle.toString();
        if (m_session.isEmpty()) {
            fail();
            return;
        }
        m_stage = Stage::Binding;
        const QList<PortalShortcut> shortcuts{
            {shortcutId,
             {{QStringLiteral("description"), QStringLiteral("Ausschnitt aufnehmen")},
              {QStringLiteral("preferred_trigger"), QStringLiteral("CTRL+SHIFT+space")}}}};
        const QString token = newToken();
        call(QStringLiteral("BindShortcuts"),
             {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString(),
              QVariantMap{{QStringLiteral("handle_token"), token}}},
             token);
        return;
    }
    if (m_stage == Stage::Binding) {
        const auto bound = qdbus_cast<QList<PortalShortcut>>(results.value(QStringLiteral("shortcuts")));
        const bool ours = std::any_of(bound.begin(), bound.end(), [](const PortalShortcut &shortcut) {
            return shortcut.id == shortcutId;
        });
        if (!ours) {
            fail();
            return;
        }
        m_stage = Stage::Bound;
    }
}

void PortalGlobalShortcut::onActivated(const QDBusMessage &message) {
    // Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options)
    const QList<QVariant> arguments = message.arguments();
    if (m_stage != Stage::Bound || arguments.size() < 2)
        return;
    if (arguments.at(0).value<QDBusObjectPath>().path() == m_session &&
        arguments.at(1).toString() == shortcutId)
        emit activated();
}
