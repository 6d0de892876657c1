#include "account/AccountSession.h"

#include "account/ServiceJson.h"
#include "model/Ids.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <cmath>

namespace {

constexpr qsizetype kMaxTokenLength = 16 * 1024;
constexpr qsizetype kMaxEmailLength = 320;

std::optional<QString> optionalString(const json::Value &object, const char *key) {
    if (const auto v = json::optionalMember(object, key))
        return json::readString(*v);
    return std::nullopt;
}

} // namespace

namespace AccountChecks {

bool validToken(QStringView token) {
    if (token.isEmpty() || token.size() > kMaxTokenLength)
        return false;
    return std::all_of(token.begin(), token.end(),
                       [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F; });
}

bool validUserID(QStringView sub) {
    return parseUuid(sub).has_value();
}

bool validEmail(QStringView email) {
    return !email.isEmpty() && email.size() <= kMaxEmailLength;
}

} // namespace AccountChecks

QByteArray AccountSession::encode() const {
    QJsonObject user{{QStringLiteral("id"), identity.sub}};
    if (identity.email)
        user.insert(QStringLiteral("email"), *identity.email);
    const QJsonObject root{{QStringLiteral("access_token"), accessToken},
                           {QStringLiteral("refresh_token"), refreshToken},
                           {QStringLiteral("expires_at"), expiresAt},
                           {QStringLiteral("user"), user}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<AccountSession> AccountSession::decode(QByteArrayView data) {
    return readServiceJson<AccountSession>(data, [](const json::Value &root) {
        json::requireObject(root, "session");
        AccountSession session;
        session.accessToken = json::readString(json::member(root, "access_token"));
        session.refreshToken = json::readString(json::member(root, "refresh_token"));
        session.expiresAt = json::readDouble(json::member(root, "expires_at"));
        const json::Value user = json::member(root, "user");
        json::requireObject(user, "user");
        session.identity.sub = json::readString(json::member(user, "id"));
        session.identity.email = optionalString(user, "email");
        if (!AccountChecks::validToken(session.accessToken) ||
            !AccountChecks::validToken(session.refreshToken) || !std::isfinite(session.expiresAt) ||
            !AccountChecks::validUserID(session.identity.sub) ||
            (session.identity.email && !AccountChecks::validEmail(*session.identity.email)))
            throw json::DecodeError("unusable session");
        return session;
    });
}

namespace Pkce {

namespace {

QString base64url(const QByteArray &bytes) {
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

QString makeVerifier() {
    static constexpr char kUnreserved[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    constexpr quint32 kAlphabet = sizeof(kUnreserved) - 1;
    // Rejection sampling keeps every character equally likely.
    constexpr quint32 kLimit = 256 / kAlphabet * kAlphabet;
    QString verifier;
    verifier.reserve(kVerifierLength);
    while (verifier.size() < kVerifierLength) {
        const quint32 byte = QRandomGenerator::system()->generate() & 0xFF;
        if (byte < kLimit)
            verifier.append(QLatin1Char(kUnreserved[byte % kAlphabet]));
    }
    return verifier;
}

QString challenge(const QString &verifier) {
    return base64url(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256));
}

QString makeState() {
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return base64url(bytes);
}

} // namespace Pkce
