#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QThread>
#include <QUrl>

#include <functional>

// One HTTP exchange as the online services need it. The body of a request is sent as is; the
// reply body is kept only up to maxReplyBytes.
struct HttpRequest {
    QByteArray method = "GET";
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    qint64 maxReplyBytes = 1'000'000;
};

struct HttpReply {
    enum class Problem {
        None,
        AddressRefused, // not HTTPS (plain HTTP only on the loopback address, where allowed)
        Unreachable,    // no connection, timeout, or the connection broke off (also a truncated body)
        TooLarge,       // the announced or received body exceeds the request's limit
    };
    Problem problem = Problem::None;
    int status = 0; // HTTP status when the server answered
    QByteArray body;

    bool succeeded() const { return problem == Problem::None && status >= 200 && status < 300; }
};

// The HTTP client of the account, backup and share services. Requests run on a thread of their
// own, so reading and buffering replies never costs the window a frame; `done` runs on the main
// thread. Redirects are never followed (a 3xx comes back as it is), nothing is cached, no cookie
// is stored or sent, and a reply above its limit is broken off.
class SecureHttpClient {
public:
    // allowLoopbackHttp lets tests talk plain HTTP to 127.0.0.1; every other address must be HTTPS.
    explicit SecureHttpClient(bool allowLoopbackHttp = false);
    ~SecureHttpClient();
    SecureHttpClient(const SecureHttpClient &) = delete;
    SecureHttpClient &operator=(const SecureHttpClient &) = delete;

    static bool allowedAddress(const QUrl &url, bool allowLoopbackHttp);
    bool allowsLoopbackHttp() const { return m_allowLoopbackHttp; }

    // Dropped when `receiver` is gone by the time the reply is there.
    void send(HttpRequest request, QObject *receiver, std::function<void(HttpReply)> done);

    // Without progress for this long a request counts as unreachable.
    static constexpr int kStallTimeoutMs = 30'000;

private:
    class Worker;
    bool m_allowLoopbackHttp;
    QThread m_thread;
    Worker *m_worker;
};
