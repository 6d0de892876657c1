#pragma once

#include <QByteArray>
#include <QString>

// A file opened for reading that is known to be a regular file. Opening never blocks (a FIFO
// would wait for a writer), and anything else is refused before a byte is read, on the open
// descriptor, so the name cannot be swapped in between. Failures throw AppFailure with a short
// German sentence.
class RegularFile {
public:
    explicit RegularFile(const QString &path);
    ~RegularFile();
    RegularFile(const RegularFile &) = delete;
    RegularFile &operator=(const RegularFile &) = delete;

    // The size when the file was opened.
    qint64 size() const { return m_size; }

    // Reads up to capacity bytes; fewer when the file has shrunk meanwhile.
    qint64 readInto(char *target, qint64 capacity);

    // The whole file as it was measured when opened.
    static QByteArray readAll(const QString &path);

    // Why a file could not be opened or read, for an errno value.
    static QString describe(int error);

private:
    int m_fd = -1;
    qint64 m_size = 0;
};
