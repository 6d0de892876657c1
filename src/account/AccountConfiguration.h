#pragma once

#include <QString>
#include <QUrl>

// Where the online functions live. A deployment changes these addresses and the client
// identifier here and nowhere else.
namespace AccountConfiguration {

// The desktop application's OAuth client at the authentication service.
inline const QString clientID = QStringLiteral("4e9b2d70-8c1f-4a36-9e5d-2b7c61f0a8d4");

// The authentication service; its endpoints are relative to this address.
inline QUrl authenticationBase() {
    return QUrl(QStringLiteral("https://auth.vellumbox.app/auth/v1/"));
}
// The account page of the service's website, opened in the browser.
inline QUrl accountPage() {
    return QUrl(QStringLiteral("https://vellumbox.app/account.html"));
}
// The backup and share services: one host, two paths.
inline QUrl backupBase() {
    return QUrl(QStringLiteral("https://cloud.vellumbox.app/v1/backups"));
}
inline QUrl shareBase() {
    return QUrl(QStringLiteral("https://cloud.vellumbox.app/v1/shares"));
}

// The application's own URL scheme: the browser hands sign-in results back through it.
inline const QString urlScheme = QStringLiteral("app.vellumbox.prototype");
inline const QString redirectURI = QStringLiteral("app.vellumbox.prototype://auth/callback");

} // namespace AccountConfiguration
