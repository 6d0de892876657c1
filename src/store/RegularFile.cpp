#include "store/RegularFile.h"

#include "model/AppFailure.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RegularFile::RegularFile(const QString &path) {
    const QByteArray name = QFile::encodeName(path);
    m_fd = name.isEmpty() ? -1 : ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        throw AppFailure(describe(name.isEmpty() ? ENOENT : errno));
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        const int error = errno;
        ::close(m_fd);
        throw AppFailure(describe(error));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(m_fd);
        throw AppFailure(QStringLiteral("Nur gewöhnliche Dateien können gelesen werden."));
    }
    m_size = qint64(info.st_size);
}

RegularFile::~RegularFile() {
    ::close(m_fd);
}

qint64 RegularFile::readInto(char *target, qint64 capacity) {
    qint64 done = 0;
    while (done < capacity) {
        const ssize_t n = ::read(m_fd, target + done, size_t(capacity - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw AppFailure(describe(errno));
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

QByteArray RegularFile::readAll(const QString &path) {
    RegularFile file(path);
    QByteArray bytes(file.size(), Qt::Uninitialized);
    bytes.truncate(file.readInto(bytes.data(), file.size()));
    return bytes;
}

QString RegularFile::describe(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("Die Datei ist nicht vorhanden.");
    case EACCES:
    case EPERM:
        return QStringLiteral("Keine Berechtigung für die Datei.");
    case ENOMEM:
        return QStringLiteral("Für die Datei ist nicht genug Arbeitsspeicher frei.");
    default:
        return QStringLiteral("Die Datei konnte nicht gelesen werden.");
    }
}
