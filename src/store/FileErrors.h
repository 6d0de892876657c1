#pragma once

#include <QFileDevice>
#include <QString>

// Short German sentences for file failures: Qt's own error texts are English and never reach the
// user.
namespace FileErrors {

QString describe(QFileDevice::FileError error);

// Why a file could not be written at path, judged from the error and the state of its folder.
QString describeWrite(QFileDevice::FileError error, const QString &path);

// Why the folder at path could not be created.
QString describeFolder(const QString &path);

// Writes bytes to path atomically (a temporary file replaced in one step); returns an empty
// string on success, else one of the sentences above.
QString writeAtomically(const QString &path, const QByteArray &bytes);

// Copies source to target the same way, a block at a time, so a file of any size needs little
// memory. Only a regular file is read, never a symbolic link; its sentences are RegularFile's.
QString copyAtomically(const QString &source, const QString &target);

} // namespace FileErrors
