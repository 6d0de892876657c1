#include "backup/BackupManifest.h"

#include "account/ServiceJson.h"
#include "model/FileNames.h"
#include "model/Ids.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

namespace {

bool hexDigest(const QByteArray &text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

simdjson::dom::array arrayOf(const json::Value &v) {
    simdjson::dom::array a;
    if (v.get_array().get(a) != simdjson::SUCCESS)
        throw json::DecodeError("expected an array");
    return a;
}

QString readID(const json::Value &v) {
    const QString id = json::readString(v);
    if (!parseUuid(id))
        throw json::DecodeError("malformed id");
    return id;
}

BackupManifest readFiles(const json::Value &root) {
    if (json::readInt(json::member(root, "version")) != 1)
        throw json::DecodeError("unknown version");
    BackupManifest manifest;
    for (const json::Value entry : arrayOf(json::member(root, "files"))) {
        BackupFile file;
        file.name = json::readString(json::member(entry, "name"));
        file.size = json::readInt(json::member(entry, "size"));
        file.sha256 = json::readString(json::member(entry, "sha256")).toLatin1();
        manifest.files.append(std::move(file));
        if (manifest.files.size() > BackupManifest::kMaxFiles)
            throw json::DecodeError("too many files");
    }
    if (!manifest.valid())
        throw json::DecodeError("invalid manifest");
    return manifest;
}

} // namespace

QByteArray BackupManifest::encode() const {
    QJsonArray entries;
    for (const BackupFile &file : files)
        entries.append(QJsonObject{{QStringLiteral("name"), file.name},
                                   {QStringLiteral("sha256"), QString::fromLatin1(file.sha256)},
                                   {QStringLiteral("size"), file.size}});
    return QJsonDocument(QJsonObject{{QStringLiteral("files"), entries}, {QStringLiteral("version"), 1}})
        .toJson(QJsonDocument::Compact);
}

std::optional<BackupManifest> BackupManifest::decode(QByteArrayView json) {
    return readServiceJson<BackupManifest>(json, readFiles);
}

bool BackupManifest::valid() const {
    if (files.isEmpty() || files.size() > kMaxFiles)
        return false;
    QSet<QString> names;
    int libraries = 0;
    for (const BackupFile &file : files) {
        const bool library = file.name == kBackupLibraryName;
        libraries += library ? 1 : 0;
        if (!isBackupFileName(file.name) || names.contains(file.name) || !hexDigest(file.sha256) ||
            file.size < 1 || file.size > (library ? kMaxLibraryBytes : kMaxImageBytes))
            return false;
        names.insert(file.name);
    }
    return libraries == 1;
}

qint64 BackupManifest::totalBytes() const {
    qint64 total = 0;
    for (const BackupFile &file : files)
        total += file.size;
    return total;
}

namespace BackupReplies {

bool sameID(QStringView a, QStringView b) {
    const auto id = parseUuid(a);
    return id && id == parseUuid(b);
}

std::optional<QString> createdID(QByteArrayView data) {
    return readServiceJson<QString>(data,
                                    [](const json::Value &root) { return readID(json::member(root, "id")); });
}

std::optional<QList<BackupSnapshot>> snapshots(QByteArrayView data) {
    return readServiceJson<QList<BackupSnapshot>>(data, [](const json::Value &root) {
        QList<BackupSnapshot> list;
        QSet<QUuid> ids;
        for (const json::Value entry : arrayOf(json::member(root, "snapshots"))) {
            BackupSnapshot snapshot;
            snapshot.id = readID(json::member(entry, "id"));
            // One snapshot listed twice is no list the service can mean (ids differ at most in case).
            const QUuid uuid = *parseUuid(snapshot.id);
            if (ids.contains(uuid))
                throw json::DecodeError("snapshot listed twice");
            ids.insert(uuid);
            snapshot.createdAt = readServiceDate(json::member(entry, "createdAt"));
            snapshot.fileCount = json::readInt(json::member(entry, "fileCount"));
            snapshot.byteCount = json::readInt(json::member(entry, "byteCount"));
            if (snapshot.fileCount < 0 || snapshot.byteCount < 0)
                throw json::DecodeError("negative count");
            list.append(std::move(snapshot));
        }
        std::stable_sort(list.begin(), list.end(), [](const BackupSnapshot &a, const BackupSnapshot &b) {
            return a.createdAt > b.createdAt;
        });
        return list;
    });
}

std::optional<BackupManifest> snapshotManifest(QByteArrayView data, const QString &expectedID) {
    return readServiceJson<BackupManifest>(data, [&expectedID](const json::Value &root) {
        if (!sameID(readID(json::member(root, "id")), expectedID))
            throw json::DecodeError("another snapshot");
        return readFiles(root);
    });
}

} // namespace BackupReplies
