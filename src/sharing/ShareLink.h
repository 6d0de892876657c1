#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// One shared image as the share service knows it.
struct ShareLink {
    QString id; // UUID text as the service writes it
    QUrl url;
    std::optional<QDateTime> expiresAt;

    bool operator==(const ShareLink &other) const = default;
};

namespace ShareLinks {

// A link is shown or copied only when it is an HTTPS address on the share service's own host
// whose path begins with "/s/", with no user, query, fragment or dot segment.
bool acceptable(const QUrl &link, const QUrl &serviceBase);

// The body that announces an image before it is uploaded.
QByteArray announcement(qint64 size, const QByteArray &sha256, int width, int height);

enum class Problem { None, Malformed, ForeignLink };
template <typename T> struct Reading {
    std::optional<T> value;
    Problem problem = Problem::None;
};
// {"id", "url", "expiresAt"?} of a created share.
Reading<ShareLink> created(QByteArrayView json, const QUrl &serviceBase);
// {"shares": [...]}: refused whole when any link is not acceptable.
Reading<QList<ShareLink>> list(QByteArrayView json, const QUrl &serviceBase);

} // namespace ShareLinks
