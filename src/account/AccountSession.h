#pragma once

#include "account/AccountAPI.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// The signed-in session as it is kept in the keyring: the service's own key names.
struct AccountSession {
    QString accessToken;
    QString refreshToken;
    double expiresAt = 0; // Unix seconds
    AccountIdentity identity;

    QByteArray encode() const;
    // Nothing for anything but a complete, well-typed session.
    static std::optional<AccountSession> decode(QByteArrayView json);

    bool operator==(const AccountSession &other) const = default;
};

namespace AccountChecks {

// A token goes into an HTTP header: visible ASCII only, so no reply can smuggle in a header.
bool validToken(QStringView token);
// User ids name per-account settings and are compared as owners: UUID text only.
bool validUserID(QStringView sub);
bool validEmail(QStringView email);

} // namespace AccountChecks

// Proof Key for Code Exchange (S256) and the state value of one browser sign-in.
namespace Pkce {

constexpr int kVerifierLength = 64;

// kVerifierLength characters of the unreserved set, from the system's secure generator.
QString makeVerifier();
// base64url(SHA-256(verifier)) without padding.
QString challenge(const QString &verifier);
// 32 random bytes, base64url.
QString makeState();

} // namespace Pkce
