#pragma once

#include "model/AppFailure.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// A file opened for reading that is known to be a regular file: every read of a file that a user
// or another file could name goes through here. Opening never blocks (a FIFO would wait for a
// writer), and anything else is refused before a byte is read, on the open descriptor, so the
// name cannot be swapped in between. Failures throw RegularFile::Failure with a short German
// sentence.
class RegularFile {
public:
    enum class Links {
        Follow,
        Refuse, // a symbolic link in the last part of the path counts as not a regular file
    };

    class Failure : public AppFailure {
    public:
        // error: the errno value, or 0 when the file is not a regular file.
        explicit Failure(int error) : AppFailure(RegularFile::describe(error)), m_error(error) {}
        bool notRegular() const { return m_error == 0; }

    private:
        int m_error;
    };

    explicit RegularFile(const QString &path, Links links = Links::Follow);
    ~RegularFile();
    RegularFile(const RegularFile &) = delete;
    RegularFile &operator=(const RegularFile &) = delete;

    // The size when the file was opened.
    qint64 size() const { return m_size; }

    // Reads up to capacity bytes; fewer when the file has shrunk meanwhile.
    qint64 readInto(char *target, qint64 capacity);

    // The open file as a device for readers that take one (the image decoders); it reads on from
    // where readInto stopped.
    QIODevice *device();

    // The whole file as it was measured when opened.
    static QByteArray readAll(const QString &path);

    // Why a file could not be opened or read, for an errno value (0: not a regular file).
    static QString describe(int error);

private:
    int m_fd = -1;
    qint64 m_size = 0;
    QFile m_device;
};
