#pragma once

#include <QFileDevice>
#include <QString>

class DurableFile;

// Short German sentences for file failures: Qt's own error texts are English and never reach the
// user.
namespace FileErrors {

QString describe(QFileDevice::FileError error);

// Why a file could not be written at path, judged from the error and the state of its folder.
QString describeWrite(QFileDevice::FileError error, const QString &path);

// Why writing failed for an errno value of a write or sync: a full disk or quota, else the
// general sentence.
QString describeSystemError(int error);

// Why a DurableFile could not be written, by the step that failed and its errno.
QString describe(const DurableFile &file);

// Why the folder at path could not be created.
QString describeFolder(const QString &path);

// Writes bytes to path durably and atomically (DurableFile); returns an empty string on success,
// else one of the sentences above.
QString writeAtomically(const QString &path, const QByteArray &bytes);

// Copies source to target the same way, a block at a time, so a file of any size needs little
// memory. Only a regular file is read, never a symbolic link; its sentences are RegularFile's.
QString copyAtomically(const QString &source, const QString &target);

} // namespace FileErrors
