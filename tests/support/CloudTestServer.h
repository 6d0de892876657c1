#pragma once

// The backup and share services as docs/services.md describes them, on 127.0.0.1, with the
// bearer token checked against the test's authentication service. `fault` may answer any request
// in place of the service.

#include "support/LocalHttpServer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QUuid>

#include <functional>
#include <optional>

struct CloudTestServer {
    struct File {
        QString name;
        qint64 size = 0;
        QByteArray sha256;
    };
    struct Snapshot {
        QString id;
        QString createdAt;
        QList<File> manifest;
        QMap<QString, QByteArray> files;
        bool complete = false;
    };
    struct Share {
        QString id;
        QString url;
        qint64 size = 0;
        QByteArray sha256;
        QByteArray image;
    };

    std::function<bool(const QByteArray &token)> authorised = [](const QByteArray &t) {
        return !t.isEmpty();
    };
    std::function<std::optional<HttpTestResponse>(const HttpTestRequest &)> fault;
    // The host and path of the share links handed out.
    QString linkBase = QStringLiteral("https://127.0.0.1/s/");
    int uploadDelayMs = 0;
    QMap<QString, Snapshot> snapshots;
    QMap<QString, Share> shares;
    QList<QByteArray> seen; // "METHOD path" of every request
    LocalHttpServer server{[this](const HttpTestRequest &r) { return answer(r); }};

    QUrl backups() const { return server.url(QStringLiteral("/v1/backups")); }
    QUrl sharesBase() const { return server.url(QStringLiteral("/v1/shares")); }

    static QByteArray sha(const QByteArray &bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    }
    int count(const QByteArray &methodAndPrefix) const {
        return int(std::count_if(seen.begin(), seen.end(),
                                 [&](const QByteArray &s) { return s.startsWith(methodAndPrefix); }));
    }
    int calls(const QByteArray &methodAndPath) const { return int(seen.count(methodAndPath)); }
    QList<Snapshot> completed() const {
        QList<Snapshot> list;
        for (const Snapshot &s : snapshots)
            if (s.complete)
                list.append(s);
        return list;
    }

    static QJsonArray manifestJson(const QList<File> &files) {
        QJsonArray list;
        for (const File &f : files)
            list.append(
                QJsonObject{{"name", f.name}, {"size", f.size}, {"sha256", QString::fromLatin1(f.sha256)}});
        return list;
    }
    static HttpTestResponse json(int status, const QJsonObject &object) {
        return HttpTestResponse::json(status, QJsonDocument(object).toJson(QJsonDocument::Compact));
    }

    HttpTestResponse answer(const HttpTestRequest &r) {
        seen.append(r.method + ' ' + r.path().toLatin1());
        if (fault)
            if (auto answer = fault(r))
                return *answer;
        if (!authorised(r.bearer()))
            return {401, {}};
        const QStringList parts = r.path().split(u'/', Qt::SkipEmptyParts); // v1, backups|shares, …
        if (parts.size() < 2 || parts[0] != u"v1")
            return {404, {}};
        return parts[1] == u"backups" ? backup(r, parts.mid(2)) : share(r, parts.mid(2));
    }

    HttpTestResponse backup(const HttpTestRequest &r, const QStringList &p) {
        if (p.isEmpty() && r.method == "GET") {
            QJsonArray list;
            for (const Snapshot &s : completed()) {
                qint64 bytes = 0;
                for (const File &f : s.manifest)
                    bytes += f.size;
                list.append(QJsonObject{{"id", s.id},
                                        {"createdAt", s.createdAt},
                                        {"fileCount", s.manifest.size()},
                                        {"byteCount", bytes}});
            }
            return json(200, {{"snapshots", list}});
        }
        if (p.isEmpty() && r.method == "POST") {
            const QJsonObject manifest = QJsonDocument::fromJson(r.body).object();
            if (manifest.value("version").toInt() != 1)
                return {400, {}};
            Snapshot s;
            s.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            s.createdAt = QDateTime::currentDateTimeUtc().addSecs(snapshots.size()).toString(Qt::ISODate);
            for (const QJsonValue entry : manifest.value("files").toArray()) {
                const QJsonObject e = entry.toObject();
                s.manifest.append({e.value("name").toString(), e.value("size").toInteger(),
                                   e.value("sha256").toString().toLatin1()});
            }
            snapshots.insert(s.id, s);
            return json(201, {{"id", s.id}});
        }
        auto it = snapshots.find(p.value(0));
        if (it == snapshots.end())
            return {404, {}};
        if (p.size() == 1 && r.method == "GET" && it->complete)
            return json(200, {{"id", it->id},
                              {"createdAt", it->createdAt},
                              {"version", 1},
                              {"files", manifestJson(it->manifest)}});
        if (p.size() == 1 && r.method == "DELETE") {
            snapshots.erase(it);
            return {204, {}};
        }
        if (p.size() == 2 && p[1] == u"complete" && r.method == "POST") {
            for (const File &f : it->manifest)
                if (!it->files.contains(f.name))
                    return {409, {}};
            it->complete = true;
            return json(200, {});
        }
        if (p.size() == 3 && p[1] == u"files") {
            const auto file = std::find_if(it->manifest.begin(), it->manifest.end(),
                                           [&](const File &f) { return f.name == p[2]; });
            if (file == it->manifest.end())
                return {404, {}};
            if (r.method == "PUT") {
                if (r.body.size() != file->size || sha(r.body) != file->sha256)
                    return {400, {}};
                it->files.insert(file->name, r.body);
                HttpTestResponse done{204, {}};
                done.delayMs = uploadDelayMs;
                return done;
            }
            if (r.method == "GET" && it->complete)
                return {200, it->files.value(file->name), {{"Content-Type", "application/octet-stream"}}};
        }
        return {404, {}};
    }

    HttpTestResponse share(const HttpTestRequest &r, const QStringList &p) {
        if (p.isEmpty() && r.method == "GET") {
            QJsonArray list;
            for (const Share &s : shares)
                if (!s.image.isEmpty())
                    list.append(QJsonObject{{"id", s.id},
                                            {"url", s.url},
                                            {"createdAt", "2026-12-01T10:00:00Z"},
                                            {"expiresAt", "2026-12-08T10:00:00Z"}});
            return json(200, {{"shares", list}});
        }
        if (p.isEmpty() && r.method == "POST") {
            const QJsonObject manifest = QJsonDocument::fromJson(r.body).object();
            Share s;
            s.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            s.url = linkBase + s.id.left(8);
            s.size = manifest.value("size").toInteger();
            s.sha256 = manifest.value("sha256").toString().toLatin1();
            shares.insert(s.id, s);
            return json(201, {{"id", s.id}, {"url", s.url}, {"expiresAt", "2026-12-08T10:00:00Z"}});
        }
        auto it = shares.find(p.value(0));
        if (it == shares.end())
            return {404, {}};
        if (p.size() == 2 && p[1] == u"image" && r.method == "PUT") {
            if (r.body.size() != it->size || sha(r.body) != it->sha256)
                return {400, {}};
            it->image = r.body;
            return {204, {}};
        }
        if (p.size() == 1 && r.method == "DELETE") {
            shares.erase(it);
            return {204, {}};
        }
        return {404, {}};
    }
};
