#include "platform/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The message: one line with the number of arguments, then one line per argument; the running
// instance answers with one line once it has taken them.
namespace {

constexpr int kAnswerWaitMs = 5000;
// A start that lost the race waits this long for the winner to listen.
constexpr int kWinnerWaitMs = 5000;
// A client that sends nothing is dropped after this, so it holds no resources.
constexpr int kServeTimeoutMs = 5000;
const QByteArray kAnswer = QByteArrayLiteral("ok\n");

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY(Descriptor)
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool writeAll(int fd, const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray message(const QStringList &arguments) {
    QList<QByteArray> lines;
    for (const QString &argument : arguments) {
        const QByteArray line = argument.toUtf8();
        // A URL has no raw line break; one that does is not ours to pass on.
        if (line.contains('\n') || line.contains('\r') || line.size() > SingleInstance::kMaxArgumentBytes)
            continue;
        if (lines.size() == SingleInstance::kMaxArguments)
            break;
        lines.append(line);
    }
    QByteArray bytes = QByteArray::number(lines.size()) + '\n';
    for (const QByteArray &line : lines)
        bytes += line + '\n';
    return bytes;
}

// A connection to the socket at path; -1 when nobody listens there.
int connectTo(const QString &socketPath) {
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

} // namespace

SingleInstance::SingleInstance(const QString &socketPath, QObject *parent)
    : QObject(parent), m_path(socketPath) {}

SingleInstance::~SingleInstance() {
    delete m_server;
    // The lock goes only after the socket: a start in between finds neither and takes both.
    if (m_lock >= 0)
        ::close(m_lock);
}

QString SingleInstance::defaultSocketPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/vellumbox-instance");
    // The temporary folder is shared: the socket lives in a folder only we own and enter.
    const QString folder = QDir::tempPath() + QStringLiteral("/vellumbox-") + QString::number(::getuid());
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    struct stat info = {};
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 077) != 0)
        return {};
    return folder + QStringLiteral("/instance");
}

bool SingleInstance::handOver(const QString &socketPath, const QStringList &arguments) {
    const Descriptor fd(connectTo(socketPath));
    if (fd.get() < 0 || !writeAll(fd.get(), message(arguments)))
        return false;
    // Connected: an instance runs. Waiting for its answer keeps this process alive until the
    // arguments are taken, so a desktop that waits for us does not give up early.
    pollfd wait = {fd.get(), POLLIN, 0};
    while (::poll(&wait, 1, kAnswerWaitMs) < 0 && errno == EINTR) {
    }
    return true;
}

bool SingleInstance::listen() {
    if (m_path.isEmpty() || m_server)
        return false;
    // Whoever holds the lock beside the socket owns the socket. Two starts at the same moment both
    // find nobody listening; without the lock the second would remove the first one's socket and
    // leave an instance nobody can reach.
    const QByteArray lockPath = QFile::encodeName(m_path + QStringLiteral(".lock"));
    m_lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lock >= 0 && ::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lock);
        m_lock = -1;
        // The winner listens in a moment: wait for it, so our arguments can be handed over.
        QDeadlineTimer deadline(kWinnerWaitMs);
        while (!deadline.hasExpired() && Descriptor(connectTo(m_path)).get() < 0)
            QThread::msleep(10);
        return false;
    }
    // Without a lock file (a folder we cannot write) the socket alone decides, as before. An
    // instance of an older version holds no lock: it is asked first.
    const auto giveUp = [this] {
        delete m_server;
        m_server = nullptr;
        if (m_lock >= 0)
            ::close(m_lock);
        m_lock = -1;
        return false;
    };
    if (Descriptor(connectTo(m_path)).get() >= 0)
        return giveUp();
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_path) && (!QLocalServer::removeServer(m_path) || !m_server->listen(m_path)))
        return giveUp();
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection())
            serve(socket);
    });
    return true;
}

void SingleInstance::serve(QLocalSocket *socket) {
    socket->setParent(this);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kServeTimeoutMs, socket, [socket] { socket->abort(); });
    // The line count, then what has arrived of the lines.
    auto expected = std::make_shared<int>(-1);
    auto lines = std::make_shared<QStringList>();
    const auto consume = [this, socket, expected, lines] {
        while (socket->canReadLine()) {
            QByteArray line = socket->readLine(kMaxArgumentBytes + 2);
            if (!line.endsWith('\n')) {
                socket->abort();
                return;
            }
            line.chop(1);
            if (*expected < 0) {
                bool ok = false;
                *expected = line.toInt(&ok);
                if (!ok || *expected < 0 || *expected > kMaxArguments) {
                    socket->abort();
                    return;
                }
            } else {
                lines->append(QString::fromUtf8(line));
            }
            if (lines->size() == *expected) {
                socket->write(kAnswer);
                socket->flush();
                socket->disconnectFromServer();
                Q_EMIT received(*lines);
                return;
            }
        }
        // A line longer than any argument may be never ends well.
        if (socket->bytesAvailable() > kMaxArgumentBytes + 1)
            socket->abort();
    };
    connect(socket, &QLocalSocket::readyRead, socket, consume);
    // What arrived before the connection was taken raises no further readyRead.
    QMetaObject::invokeMethod(socket, consume, Qt::QueuedConnection);
}
