#include "sharing/ShareLink.h"

#include "account/ServiceJson.h"
#include "model/Ids.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace ShareLinks {

namespace {

constexpr qsizetype kMaxLinkLength = 2048;

struct ForeignLink {};

ShareLink readLink(const json::Value &v, const QUrl &base) {
    ShareLink link;
    link.id = json::readString(json::member(v, "id"));
    if (!parseUuid(link.id))
        throw json::DecodeError("malformed id");
    const QString text = json::readString(json::member(v, "url"));
    link.url = QUrl(text, QUrl::StrictMode);
    if (text.size() > kMaxLinkLength || !acceptable(link.url, base))
        throw ForeignLink{};
    if (const auto expires = json::optionalMember(v, "expiresAt")) {
        link.expiresAt = readServiceDate(*expires);
    }
    return link;
}

template <typename T, typename Read> Reading<T> read(QByteArrayView data, Read read) {
    try {
        std::optional<T> value = readServiceJson<T>(data, read);
        const Problem problem = value ? Problem::None : Problem::Malformed;
        return {std::move(value), problem};
    } catch (const ForeignLink &) {
        return {std::nullopt, Problem::ForeignLink};
    }
}

} // namespace

bool acceptable(const QUrl &link, const QUrl &base) {
    static const QRegularExpression path(QStringLiteral("^/s(/[A-Za-z0-9_~-][A-Za-z0-9._~-]*)+$"));
    const int servicePort = base.scheme() == u"https" ? base.port(443) : 443;
    return link.isValid() && link.scheme() == u"https" && link.userInfo().isEmpty() &&
           !link.host().isEmpty() && link.host().compare(base.host(), Qt::CaseInsensitive) == 0 &&
           link.port(443) == servicePort && !link.hasQuery() && !link.hasFragment() &&
           path.match(link.path(QUrl::FullyEncoded)).hasMatch();
}

QByteArray announcement(qint64 size, const QByteArray &sha256, int width, int height) {
    return QJsonDocument(QJsonObject{{QStringLiteral("height"), height},
                                     {QStringLiteral("sha256"), QString::fromLatin1(sha256)},
                                     {QStringLiteral("size"), size},
                                     {QStringLiteral("width"), width}})
        .toJson(QJsonDocument::Compact);
}

Reading<ShareLink> created(QByteArrayView data, const QUrl &base) {
    return read<ShareLink>(data, [&base](const json::Value &root) { return readLink(root, base); });
}

Reading<QList<ShareLink>> list(QByteArrayView data, const QUrl &base) {
    return read<QList<ShareLink>>(data, [&base](const json::Value &root) {
        simdjson::dom::array entries;
        if (json::member(root, "shares").get_array().get(entries) != simdjson::SUCCESS)
            throw json::DecodeError("expected an array");
        QList<ShareLink> links;
        for (const json::Value entry : entries)
            links.append(readLink(entry, base));
        return links;
    });
}

} // namespace ShareLinks
