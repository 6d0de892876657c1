#pragma once

#include "imaging/ImageImport.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// One file of a backup as the manifest names it.
struct BackupFile {
    QString name;
    qint64 size = 0;
    QByteArray sha256; // 64 lower-case hex digits

    bool operator==(const BackupFile &other) const = default;
};

// What a backup holds: every file with its size and SHA-256. Checked whole before anything is
// downloaded, and every file is checked against it before it is used.
struct BackupManifest {
    static constexpr qint64 kMaxImageBytes = ImageImport::maximumCloudBytes; // only what may be backed up
    static constexpr qint64 kMaxLibraryBytes = 200'000'000;
    static constexpr qsizetype kMaxFiles = 100'000;

    QList<BackupFile> files;

    QByteArray encode() const;
    // Nothing unless the document and every entry pass valid().
    static std::optional<BackupManifest> decode(QByteArrayView json);
    // Exactly one library file, image names by the backup rule, no name twice, sizes within the
    // limits, well-formed checksums.
    bool valid() const;
    qint64 totalBytes() const;

    bool operator==(const BackupManifest &other) const = default;
};

// One snapshot in the service's list.
struct BackupSnapshot {
    QString id; // UUID text as the service writes it
    QDateTime createdAt;
    qint64 fileCount = 0;
    qint64 byteCount = 0;

    bool operator==(const BackupSnapshot &other) const = default;
};

// The service's replies, read strictly: anything unexpected gives nothing.
namespace BackupReplies {

// Ids of snapshots and shares are UUIDs, whose text the service may write in either case: two
// ids are the same when they read as the same UUID.
bool sameID(QStringView a, QStringView b);

// {"id": UUID} of a created snapshot or share.
std::optional<QString> createdID(QByteArrayView json);
// {"snapshots": [...]}, newest first.
std::optional<QList<BackupSnapshot>> snapshots(QByteArrayView json);
// {"id": UUID, "createdAt": …, "files": [...]} of the snapshot asked for.
std::optional<BackupManifest> snapshotManifest(QByteArrayView json, const QString &expectedID);

} // namespace BackupReplies
