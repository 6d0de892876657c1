#include "store/FileErrors.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace {
const QString kCannotWrite = QStringLiteral("Die Datei konnte nicht geschrieben werden.");
const QString kNoFolderAccess = QStringLiteral("Kein Zugriff auf den Ordner.");
const QString kFolderMissing = QStringLiteral("Der Ordner ist nicht vorhanden.");
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
    if (file.write(bytes) != bytes.size()) {
        const auto error = file.error();
        file.cancelWriting();
        return describeWrite(error == QFileDevice::NoError ? QFileDevice::WriteError : error, path);
    }
    // A failed write may only show here.
    if (!file.commit())
        return describeWrite(file.error() == QFileDevice::NoError ? QFileDevice::WriteError : file.error(),
                             path);
    return {};
}
