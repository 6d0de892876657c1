#include "store/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Hidden, and named so that it can never be taken for a file of the user's.
const QString kMarker = QStringLiteral(".vellumbox-partial-");
constexpr int kRandomLength = 8;
// Small writes of the document builders are gathered into blocks of this size.
constexpr qsizetype kBlock = 1 << 20;
// The temporary name keeps this much of the target's name, so it stays within NAME_MAX.
constexpr qsizetype kNameKept = 100;
// As many links as the system itself follows before it gives up (ELOOP).
constexpr int kMaxLinkHops = 40;

std::atomic<int> injectedWriteError{0};

QString randomPart() {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString text;
    for (int i = 0; i < kRandomLength; ++i)
        text += QLatin1Char(kAlphabet[QRandomGenerator::system()->bounded(int(sizeof kAlphabet) - 1)]);
    return text;
}

int retryingClose(int fd) {
    // Linux closes the descriptor even when close() is interrupted: never close it twice.
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

QByteArray folderPart(const QByteArray &path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

// The path with its folder as the system resolves it; unchanged when the folder cannot be
// resolved, so that creating the file reports why.
QByteArray withRealFolder(const QByteArray &path) {
    char *real = ::realpath(folderPart(path).constData(), nullptr);
    if (!real)
        return path;
    QByteArray folder(real);
    std::free(real);
    if (folder.endsWith('/'))
        folder.chop(1);
    return folder + '/' + path.mid(path.lastIndexOf('/') + 1);
}

// The text of the link at path; empty, with errno set, when it cannot be read.
QByteArray linkText(const QByteArray &path) {
    errno = 0;
    QByteArray text(PATH_MAX, Qt::Uninitialized);
    const ssize_t length = ::readlink(path.constData(), text.data(), size_t(text.size()));
    if (length <= 0 || length >= text.size()) {
        if (length >= text.size())
            errno = ENAMETOOLONG;
        return {};
    }
    text.truncate(length);
    return text;
}

} // namespace

DurableFile::DurableFile(QString path) {
    // The file at the end of the links is the one replaced, as a user who names a link expects;
    // a link on the way must not become a file of its own. Paths are never cleaned as text: ".."
    // after a linked folder leads to that folder's parent, so each folder is resolved by the system.
    QByteArray resolved = QFile::encodeName(path);
    for (int hop = 0;; ++hop) {
        resolved = withRealFolder(resolved);
        struct stat info {};
        if (::lstat(resolved.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
            break;
        if (hop == kMaxLinkHops) {
            m_linkError = ELOOP;
            break;
        }
        const QByteArray target = linkText(resolved);
        if (target.isEmpty()) {
            m_linkError = errno != 0 ? errno : EIO;
            break;
        }
        resolved = target.startsWith('/') ? target : folderPart(resolved) + '/' + target;
    }
    m_path = QFile::decodeName(resolved);
}

DurableFile::~DurableFile() {
    discard();
}

bool DurableFile::open(OpenMode mode) {
    if (isOpen() || m_fd >= 0 || !(mode & WriteOnly) || (mode & ReadOnly))
        return false;
    // A loop of links has no file at its end: writing would replace one of the links.
    if (m_linkError != 0)
        return fail(Step::Create, m_linkError);
    const QFileInfo target(m_path);
    const QString folder = target.absolutePath();
    const QString stem = folder + QStringLiteral("/.") + target.fileName().left(kNameKept) + kMarker;
    int error = EEXIST;
    for (int attempt = 0; attempt < 64 && error == EEXIST; ++attempt) {
        m_temporary = QFile::encodeName(stem + randomPart());
        // 0666 as for any new file: the umask decides.
        m_fd = ::open(m_temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        error = m_fd < 0 ? errno : 0;
    }
    if (m_fd < 0) {
        m_temporary.clear();
        return fail(Step::Create, error);
    }
    // A replaced file keeps who may read it.
    struct stat old {};
    if (::stat(QFile::encodeName(m_path).constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(m_fd, old.st_mode & 07777);
    m_error = 0;
    m_failedStep = Step::None;
    return QIODevice::open(WriteOnly | Unbuffered);
}

qint64 DurableFile::writeData(const char *data, qint64 size) {
    if (m_fd < 0 || m_error != 0)
        return -1;
    if (m_buffer.size() + size <= kBlock) {
        m_buffer.append(data, size);
        return size;
    }
    if (!writeOut(m_buffer.constData(), m_buffer.size()))
        return -1;
    m_buffer.clear();
    if (size >= kBlock)
        return writeOut(data, size) ? size : -1;
    m_buffer.append(data, size);
    return size;
}

bool DurableFile::writeOut(const char *data, qint64 size) {
    if (const int injected = injectedWriteError.load(); injected != 0 && size > 0)
        return fail(Step::Write, injected);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(Step::Write, n < 0 ? errno : EIO);
        data += n;
        size -= n;
    }
    return true;
}

bool DurableFile::commit() {
    if (m_fd < 0 || m_error != 0) {
        // Never opened counts as a failure too, so no caller can take it for a written file.
        fail(Step::Write, EBADF);
        discard();
        return false;
    }
    if (!writeOut(m_buffer.constData(), m_buffer.size())) {
        discard();
        return false;
    }
    m_buffer.clear();
    // The data must be on the disk before the name points at it, or a power loss can leave an
    // empty file under the target's name.
    int result;
    while ((result = ::fdatasync(m_fd)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        fail(Step::Write, errno);
        discard();
        return false;
    }
    const int closed = retryingClose(m_fd);
    m_fd = -1;
    if (closed != 0) {
        fail(Step::Write, closed);
        discard();
        return false;
    }
    if (::rename(m_temporary.constData(), QFile::encodeName(m_path).constData()) != 0) {
        fail(Step::Replace, errno);
        discard();
        return false;
    }
    m_temporary.clear();
    QIODevice::close();
    // The new name itself is made durable by syncing the folder. The file is in place already, so
    // a folder that cannot be synced (some file systems refuse) does not turn this into a failure.
    const QByteArray folder = QFile::encodeName(QFileInfo(m_path).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        while (::fsync(dir) != 0 && errno == EINTR) {
        }
        ::close(dir);
    }
    return true;
}

void DurableFile::discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(m_temporary.constData());
        m_temporary.clear();
    }
    m_buffer.clear();
    if (isOpen())
        QIODevice::close();
}

bool DurableFile::fail(Step step, int error) {
    if (m_failedStep == Step::None) {
        m_failedStep = step;
        m_error = error != 0 ? error : EIO;
    }
    return false;
}

void DurableFile::failWritesForTesting(int error) {
    injectedWriteError.store(error);
}

bool DurableFile::isLeftover(const QString &fileName) {
    static const QRegularExpression pattern(QStringLiteral("^\\..+") + QRegularExpression::escape(kMarker) +
                                            QStringLiteral("[A-Za-z0-9]{%1}$").arg(kRandomLength));
    return pattern.match(fileName).hasMatch();
}

void DurableFile::removeLeftovers(const QString &folder) {
    const QStringList names = QDir(folder).entryList(
        {u'*' + kMarker + u'*'}, QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::System);
    for (const QString &name : names) {
        if (!isLeftover(name))
            continue;
        const QByteArray path = QFile::encodeName(folder + u'/' + name);
        // Only a regular file of ours: a link or anything else with this name is left alone.
        struct stat info {};
        if (::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid())
            ::unlink(path.constData());
    }
}
