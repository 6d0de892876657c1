#include "store/FileErrors.h"

#include "imaging/RegularFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <memory>

namespace {
const QString kCannotWrite = QStringLiteral("Die Datei konnte nicht geschrieben werden.");
const QString kNoFolderAccess = QStringLiteral("Kein Zugriff auf den Ordner.");
const QString kFolderMissing = QStringLiteral("Der Ordner ist nicht vorhanden.");

QString cancel(QSaveFile &file, const QString &path) {
    const auto error = file.error();
    file.cancelWriting();
    return FileErrors::describeWrite(error == QFileDevice::NoError ? QFileDevice::WriteError : error, path);
}

QString commit(QSaveFile &file, const QString &path) {
    // The last buffered bytes are written only now. When that fails part way, commit() still puts
    // the cut-off file in place of the old one and reports success: flush first and check.
    if (!file.flush())
        return cancel(file, path);
    if (!file.commit())
        return FileErrors::describeWrite(
            file.error() == QFileDevice::NoError ? QFileDevice::WriteError : file.error(), path);
    return {};
}
} // namespace

QString FileErrors::describe(QFileDevice::FileError error) {
    switch (error) {
    case QFileDevice::ReadError:
        return QStringLiteral("Die Datei konnte nicht gelesen werden.");
    case QFileDevice::ResourceError:
        return QStringLiteral("Auf dem Datenträger ist nicht genug Platz.");
    case QFileDevice::OpenError:
        return QStringLiteral("Die Datei konnte nicht geöffnet werden.");
    case QFileDevice::PermissionsError:
        return QStringLiteral("Keine Berechtigung für die Datei.");
    case QFileDevice::RenameError:
    case QFileDevice::CopyError:
    case QFileDevice::RemoveError:
        return QStringLiteral("Die Datei konnte nicht ersetzt werden.");
    default:
        return kCannotWrite;
    }
}

QString FileErrors::describeWrite(QFileDevice::FileError error, const QString &path) {
    if (error == QFileDevice::OpenError || error == QFileDevice::PermissionsError) {
        const QFileInfo folder(QFileInfo(path).absolutePath());
        if (!folder.exists())
            return kFolderMissing;
        if (!folder.isDir() || !folder.isWritable())
            return kNoFolderAccess;
        if (QFileInfo(path).isDir())
            return QStringLiteral("An der Stelle der Datei liegt ein Ordner.");
    }
    return describe(error);
}

QString FileErrors::describeFolder(const QString &path) {
    // Walk up to the deepest existing part of the path: that part decides why creation failed.
    QFileInfo info(path);
    while (!info.exists() && !info.isSymLink()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            break;
        info = QFileInfo(parent);
    }
    if (info.exists() && !info.isDir())
        return QStringLiteral("An der Stelle des Ordners liegt eine Datei.");
    if (info.exists() && !info.isWritable())
        return kNoFolderAccess;
    return QStringLiteral("Der Ordner konnte nicht angelegt werden.");
}

QString FileErrors::writeAtomically(const QString &path, const QByteArray &bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return describeWrite(file.error(), path);
    if (file.write(bytes) != bytes.size())
        return cancel(file, path);
    return commit(file, path);
}

QString FileErrors::copyAtomically(const QString &source, const QString &target) {
    std::unique_ptr<RegularFile> input;
    try {
        input = std::make_unique<RegularFile>(source, RegularFile::Links::Refuse);
    } catch (const RegularFile::Failure &failure) {
        return failure.errorDescription();
    }
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return describeWrite(file.error(), target);
    QByteArray block(1 << 20, Qt::Uninitialized);
    // No more than was measured: a file that grows while it is copied is taken as it was.
    for (qint64 left = input->size(); left > 0;) {
        qint64 read = 0;
        try {
            read = input->readInto(block.data(), std::min<qint64>(left, block.size()));
        } catch (const RegularFile::Failure &failure) {
            file.cancelWriting();
            return failure.errorDescription();
        }
        if (read == 0)
            break;
        if (file.write(block.constData(), read) != read)
            return cancel(file, target);
        left -= read;
    }
    return commit(file, target);
}
