#include "imaging/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RegularFile::RegularFile(const QString &path, Links links) {
    const QByteArray name = QFile::encodeName(path);
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
    m_fd = name.isEmpty() ? -1 : ::open(name.constData(), flags);
    if (m_fd < 0) {
        const int error = name.isEmpty() ? ENOENT : errno;
        throw Failure(error == ELOOP && links == Links::Refuse ? 0 : error);
    }
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        const int error = errno;
        ::close(m_fd);
        throw Failure(error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(m_fd);
        throw Failure(0);
    }
    m_size = qint64(info.st_size);
}

RegularFile::~RegularFile() {
    m_device.close();
    ::close(m_fd);
}

qint64 RegularFile::readInto(char *target, qint64 capacity) {
    qint64 done = 0;
    while (done < capacity) {
        const ssize_t n = ::read(m_fd, target + done, size_t(capacity - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Failure(errno);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

QIODevice *RegularFile::device() {
    if (!m_device.isOpen() && !m_device.open(m_fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw Failure(EIO);
    return &m_device;
}

QByteArray RegularFile::readAll(const QString &path) {
    RegularFile file(path);
    QByteArray bytes(file.size(), Qt::Uninitialized);
    bytes.truncate(file.readInto(bytes.data(), file.size()));
    return bytes;
}

QString RegularFile::describe(int error) {
    switch (error) {
    case 0:
        return QStringLiteral("Nur gewöhnliche Dateien können gelesen werden.");
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
