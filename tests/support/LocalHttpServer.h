#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for tests and benchmarks of the online clients: keep-alive,
// Content-Length bodies, and a few ways to misbehave (late, cut-off or oversized answers).

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <functional>
#include <memory>
#include <optional>

struct HttpTestRequest {
    QByteArray method;
    QByteArray target;                     // path and query as sent
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;

    QString path() const { return QUrl(QString::fromLatin1(target)).path(); }
    QUrlQuery query() const { return QUrlQuery(QUrl(QString::fromLatin1(target))); }
    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    // The token of an "Authorization: Bearer …" header, empty without one.
    QByteArray bearer() const {
        const QByteArray value = header("authorization");
        return value.startsWith("Bearer ") ? value.mid(7) : QByteArray();
    }
    QUrlQuery form() const { return QUrlQuery(QString::fromUtf8(body)); }
};

struct HttpTestResponse {
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    int delayMs = 0;
    // Announce the whole body but send only this many bytes, then close the connection.
    std::optional<qint64> cutAfter;
    // Send no Content-Length: the body ends when the connection closes.
    bool unannounced = false;

    static HttpTestResponse json(int status, const QByteArray &body) {
        return {status, body, {{"Content-Type", "application/json"}}};
    }
    static HttpTestResponse redirect(const QByteArray &location) {
        return {302, {}, {{"Location", location}}};
    }
};

class LocalHttpServer : public QObject {
public:
    using Handler = std::function<HttpTestResponse(const HttpTestRequest &)>;

    explicit LocalHttpServer(Handler handler, QObject *parent = nullptr)
        : QObject(parent), m_handler(std::move(handler)) {
        m_server.listen(QHostAddress(QHostAddress::LocalHost), 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
    }

    QUrl url(const QString &path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    quint16 port() const { return m_server.serverPort(); }
    int requestCount() const { return m_requests; }

private:
    struct Connection {
        QByteArray buffer;
        std::optional<HttpTestRequest> pending; // headers read, body incomplete
        qint64 bodyLength = 0;
    };

    void serve(QTcpSocket *socket) {
        auto connection = std::make_shared<Connection>();
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket, connection] {
            connection->buffer.append(socket->readAll());
            while (parse(*connection)) {
                HttpTestRequest request = std::move(*connection->pending);
                connection->pending.reset();
                ++m_requests;
                respond(socket, m_handler(request));
            }
        });
    }

    // True when a whole request is ready in connection.pending.
    static bool parse(Connection &c) {
        if (!c.pending) {
            const qsizetype end = c.buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return false;
            const QList<QByteArray> lines = c.buffer.left(end).split('\n');
            HttpTestRequest request;
            const QList<QByteArray> first = lines.first().trimmed().split(' ');
            request.method = first.value(0);
            request.target = first.value(1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon > 0)
                    request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                           lines[i].mid(colon + 1).trimmed());
            }
            c.bodyLength = request.headers.value("content-length", "0").toLongLong();
            c.buffer.remove(0, end + 4);
            c.pending = std::move(request);
        }
        if (c.buffer.size() < c.bodyLength)
            return false;
        c.pending->body = c.buffer.left(c.bodyLength);
        c.buffer.remove(0, c.bodyLength);
        return true;
    }

    static void respond(QTcpSocket *socket, HttpTestResponse response) {
        QPointer<QTcpSocket> guard(socket);
        auto send = [guard, response] {
            if (!guard)
                return;
            QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
            for (const auto &[name, value] : response.headers)
                head += name + ": " + value + "\r\n";
            if (response.unannounced)
                head += "Connection: close\r\n\r\n";
            else
                head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n\r\n";
            guard->write(head);
            if (response.unannounced) {
                guard->write(response.body);
                guard->disconnectFromHost();
                return;
            }
            if (response.cutAfter) {
                guard->write(response.body.left(*response.cutAfter));
                guard->flush();
                guard->disconnectFromHost();
                return;
            }
            guard->write(response.body);
        };
        if (response.delayMs > 0)
            QTimer::singleShot(response.delayMs, socket, send);
        else
            send();
    }

    Handler m_handler;
    QTcpServer m_server;
    int m_requests = 0;
};
