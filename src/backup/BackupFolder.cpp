#include "backup/BackupFolder.h"

#include "backup/BackupFailure.h"
#include "common/Background.h"
#include "imaging/ImageImport.h"
#include "imaging/RegularFile.h"
#include "model/AppFailure.h"
#include "model/FileNames.h"
#include "model/JsonCoding.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace BackupFolder {

const QString kNotPrepared =
    QStringLiteral("Die Sicherung konnte auf diesem Computer nicht vorbereitet werden. "
                   "Bitte prüfe den freien Speicherplatz.");
const QString kDamaged =
    QStringLiteral("Die Sicherung ist beschädigt oder unvollständig und wurde nicht wiederhergestellt.");
const QString kInvalid = QStringLiteral("Die Sicherung enthält ungültige Daten.");
const QString kNotKept = QStringLiteral("Die heruntergeladene Sicherung konnte nicht zwischengespeichert "
                                        "werden. Bitte prüfe den freien Speicherplatz.");

namespace {

const QString kPrefix = QStringLiteral(".cloud-backup-");
constexpr qint64 kChunk = 1 << 20;

QList<SnipCollection> withoutLocalOnly(QList<SnipCollection> collections) {
    for (SnipCollection &collection : collections)
        collection.items.removeIf([](const Snip &snip) { return snip.isLocalOnly(); });
    return collections;
}

// Writes bytes into a new file; an existing name is never overwritten.
void writeNew(const QString &path, const QByteArray &bytes, const QString &failure) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(bytes) != bytes.size() ||
        !file.flush())
        throw BackupFailure(failure);
}

// Reads the file to its end, handing every chunk to `chunk`; returns its size.
qint64 stream(const QString &path, const std::function<void(QByteArrayView)> &chunk) {
    RegularFile file(path);
    QByteArray buffer(kChunk, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 n = file.readInto(buffer.data(), kChunk);
        if (n <= 0)
            return total;
        chunk(QByteArrayView(buffer.constData(), n));
        total += n;
    }
}

// Puts one image into the folder and measures what landed there.
BackupFile packImage(const QString &source, const QString &target, const QString &name) {
    try {
        ImageImport::validateCloudPNG(source);
    } catch (const AppFailure &failure) {
        throw BackupFailure(failure.errorDescription());
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 size = 0;
    if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0) {
        size = stream(target, [&hash](QByteArrayView chunk) { hash.addData(chunk); });
    } else {
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            throw BackupFailure(kNotPrepared);
        size = stream(source, [&hash, &out](QByteArrayView chunk) {
            hash.addData(chunk);
            if (out.write(chunk.data(), chunk.size()) != chunk.size())
                throw BackupFailure(kNotPrepared);
        });
        if (!out.flush())
            throw BackupFailure(kNotPrepared);
    }
    if (size < 1 || size > BackupManifest::kMaxImageBytes)
        throw BackupFailure(kNotPrepared);
    return {name, size, hash.result().toHex()};
}

} // namespace

QByteArray libraryDocument(const QList<SnipCollection> &collections) {
    SavedLibrary library;
    library.collections = withoutLocalOnly(collections);
    const auto json = encodeJson(library);
    if (!json)
        throw BackupFailure(kNotPrepared);
    return *json;
}

QByteArray sha256Hex(QByteArrayView bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray fingerprint(const QByteArray &document) {
    return sha256Hex(document);
}

QString create(const QString &parent) {
    const QString folder = parent + u'/' + kPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0)
        throw BackupFailure(kNotPrepared);
    return folder;
}

void remove(const QString &folder) {
    if (!folder.isEmpty() && QFileInfo(folder).fileName().startsWith(kPrefix))
        QDir(folder).removeRecursively();
}

void removeLeftovers(const QString &parent) {
    const QStringList names = QDir(parent).entryList(
        {kPrefix + u'*'}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString &name : names)
        remove(parent + u'/' + name);
}

Packed pack(const QString &parent, const QString &imagesFolder, const QList<SnipCollection> &collections) {
    const QByteArray document = libraryDocument(collections);
    QStringList images;
    QSet<QString> seen;
    for (const SnipCollection &collection : collections)
        for (const Snip &snip : collection.items) {
            if (snip.isLocalOnly() || seen.contains(snip.imageFile))
                continue;
            if (!isBackupImageName(snip.imageFile))
                throw BackupFailure(kInvalid);
            seen.insert(snip.imageFile);
            images.append(snip.imageFile);
        }

    Packed packed;
    packed.folder = create(parent);
    try {
        writeNew(packed.folder + u'/' + kBackupLibraryName, document, kNotPrepared);
        packed.fingerprint = fingerprint(document);
        QList<BackupFile> entries(images.size());
        Background::parallelFor(int(images.size()), [&](int i) {
            entries[i] =
                packImage(imagesFolder + u'/' + images[i], packed.folder + u'/' + images[i], images[i]);
        });
        packed.manifest.files.append({kBackupLibraryName, document.size(), packed.fingerprint});
        packed.manifest.files.append(entries);
        if (!packed.manifest.valid())
            throw BackupFailure(kNotPrepared);
    } catch (const AppFailure &failure) {
        remove(packed.folder);
        throw BackupFailure(failure.errorDescription());
    } catch (...) {
        remove(packed.folder);
        throw;
    }
    return packed;
}

QByteArray readForUpload(const QString &folder, const BackupFile &file) {
    QByteArray bytes;
    try {
        bytes = RegularFile::readAll(folder + u'/' + file.name);
    } catch (const AppFailure &failure) {
        throw BackupFailure(failure.errorDescription());
    }
    if (bytes.size() != file.size)
        throw BackupFailure(kNotPrepared);
    return bytes;
}

void storeDownloaded(const QString &folder, const BackupFile &file, const QByteArray &bytes) {
    if (bytes.size() != file.size || sha256Hex(bytes) != file.sha256)
        throw BackupFailure(kDamaged);
    writeNew(folder + u'/' + file.name, bytes, kNotKept);
}

QList<SnipCollection> readRestored(const QString &folder, const BackupManifest &manifest) {
    QSet<QString> names;
    for (const BackupFile &file : manifest.files)
        names.insert(file.name);
    QByteArray document;
    try {
        document = RegularFile::readAll(folder + u'/' + kBackupLibraryName);
    } catch (const AppFailure &) {
        throw BackupFailure(kDamaged);
    }
    const auto library = decodeJson<SavedLibrary>(document);
    if (!library || library->version != 1)
        throw BackupFailure(kInvalid);
    QSet<QString> checked;
    for (const SnipCollection &collection : library->collections)
        for (const Snip &snip : collection.items) {
            const QString &name = snip.imageFile;
            if (!isBackupImageName(name) || !names.contains(name))
                throw BackupFailure(kInvalid);
            if (checked.contains(name))
                continue;
            try {
                ImageImport::validateCloudPNG(folder + u'/' + name);
            } catch (const AppFailure &) {
                throw BackupFailure(kInvalid);
            }
            checked.insert(name);
        }
    return library->collections;
}

} // namespace BackupFolder
