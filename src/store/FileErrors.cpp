#include "store/FileErrors.h"

#include "imaging/RegularFile.h"
#include "store/DurableFile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

#include <memory>

namespace {
const QString kCannotWrite = QStringLiteral("Die Datei konnte nicht geschrieben werden.");
const QString kNoFolderAccess = QStringLiteral("Kein Zugriff auf den Ordner.");
const QString kFolderMissing = QStringLiteral("Der Ordner ist nicht vorhanden.");
const QString kNoSpace = QStringLiteral("Auf dem Datenträger ist nicht genug Platz.");

} // namespace

QString FileErrors::describe(QFileDevice::FileError error) {
    switch (error) {
    case QFileDevice::ReadError:
        return QStringLiteral("Die Datei konnte nicht gelesen werden.");
    case QFileDevice::ResourceError:
        return kNoSpace;
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

QString FileErrors::describeSystemError(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return kNoSpace;
    default:
        return kCannotWrite;
    }
}

QString FileErrors::describe(const DurableFile &file) {
    const int error = file.systemError();
    switch (file.failedStep()) {
    case DurableFile::Step::None:
        return {};
    case DurableFile::Step::Create:
        if (error == ENOSPC || error == EDQUOT)
            return kNoSpace;
        // Links that never reach a file: there is nothing the user could make writable.
        if (error == ELOOP)
            return kCannotWrite;
        return describeWrite(error == EACCES || error == EPERM || error == EROFS
                                 ? QFileDevice::PermissionsError
                                 : QFileDevice::OpenError,
                             file.path());
    case DurableFile::Step::Write:
        return describeSystemError(error);
    case DurableFile::Step::Replace:
        return describeWrite(error == EISDIR ? QFileDevice::OpenError : QFileDevice::RenameError,
                             file.path());
    }
    return kCannotWrite;
}

QString FileErrors::writeAtomically(const QString &path, const QByteArray &bytes) {
    DurableFile file(path);
    if (file.open())
        file.write(bytes);
    file.commit();
    return describe(file);
}

QString FileErrors::copyAtomically(const QString &source, const QString &target) {
    std::unique_ptr<RegularFile> input;
    try {
        input = std::make_unique<RegularFile>(source, RegularFile::Links::Refuse);
    } catch (const RegularFile::Failure &failure) {
        return failure.errorDescription();
    }
    DurableFile file(target);
    if (!file.open())
        return describe(file);
    QByteArray block(1 << 20, Qt::Uninitialized);
    // No more than was measured: a file that grows while it is copied is taken as it was.
    for (qint64 left = input->size(); left > 0;) {
        qint64 read = 0;
        try {
            read = input->readInto(block.data(), std::min<qint64>(left, block.size()));
        } catch (const RegularFile::Failure &failure) {
            return failure.errorDescription();
        }
        if (read == 0)
            break;
        if (file.write(block.constData(), read) != read)
            break;
        left -= read;
    }
    file.commit();
    return describe(file);
}
