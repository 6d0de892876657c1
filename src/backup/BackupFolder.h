#pragma once

#include "backup/BackupManifest.h"
#include "model/Snip.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The local side of a backup: the folder a backup is packed into before upload, and the folder a
// download is verified in before the library sees it. Everything here reads or writes files and
// runs on the background pool; failures are thrown as BackupFailure.
namespace BackupFolder {

// The library document a backup carries: every collection without its local-only snips.
QByteArray libraryDocument(const QList<SnipCollection> &collections);
// What the last backup is compared with: changes whenever that document changes. Image files
// never change under their name, so the document stands for them too.
QByteArray fingerprint(const QByteArray &libraryDocument);
QByteArray sha256Hex(QByteArrayView bytes);

// A new private folder below parent, removed again by remove(); leftovers of an interrupted run
// are cleared by removeLeftovers().
QString create(const QString &parent);
void remove(const QString &folder);
void removeLeftovers(const QString &parent);

struct Packed {
    QString folder;
    BackupManifest manifest;
    QByteArray fingerprint;
};
// Puts the library document and every image it names into a new folder below parent (hard links
// where the file system allows, else copies) and measures each file as it lands there.
Packed pack(const QString &parent, const QString &imagesFolder, const QList<SnipCollection> &collections);
// A packed file read back for upload, refused when it no longer matches its entry.
QByteArray readForUpload(const QString &folder, const BackupFile &file);

// Checks a downloaded file against its entry and writes it into the folder.
void storeDownloaded(const QString &folder, const BackupFile &file, const QByteArray &bytes);
// The collections of a completely downloaded backup, once the library document decodes and
// every image it names is in the manifest and passes the cloud image checks.
QList<SnipCollection> readRestored(const QString &folder, const BackupManifest &manifest);

// The sentences of this side.
extern const QString kNotPrepared;
extern const QString kDamaged;
extern const QString kInvalid;
extern const QString kNotKept;

} // namespace BackupFolder
