#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <sys/stat.h>

inline QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Puts what is not a regular file under `path`: "fifo" (a pipe nobody writes to), "folder", or
// "device" (a link to /dev/null). False when it could not be made.
inline bool makeNonRegularFile(const QString &kind, const QString &path) {
    if (kind == u"fifo")
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    if (kind == u"folder")
        return QDir().mkdir(path);
    return kind == u"device" && QFile::link(QStringLiteral("/dev/null"), path);
}
