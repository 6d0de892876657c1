#include "account/SecureHttpClient.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <memory>

namespace {
constexpr qint64 kReadBufferBytes = 1 << 20;
} // namespace

class SecureHttpClient::Worker : public QObject {
public:
    // Lives on the client's thread from the first request on.
    void start(HttpRequest request, std::function<void(HttpReply)> finish) {
        if (!m_network) {
            m_network = new QNetworkAccessManager(this);
            m_network->setAutoDeleteReplies(true);
            m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        }
        QNetworkRequest out(request.url);
        out.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        out.setMaximumRedirectsAllowed(0);
        out.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        out.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        out.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
        out.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        out.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
        out.setTransferTimeout(kStallTimeoutMs);
        for (const auto &[name, value] : std::as_const(request.headers))
            out.setRawHeader(name, value);

        QNetworkReply *reply = m_network->sendCustomRequest(out, request.method, request.body);
        // Qt would otherwise take in as much of the body as the network gives before we see any of
        // it; a bounded buffer keeps a reply above its limit from being read far beyond it.
        reply->setReadBufferSize(std::min<qint64>(request.maxReplyBytes + 1, kReadBufferBytes));
        struct State {
            QByteArray body;
            bool tooLarge = false;
        };
        auto state = std::make_shared<State>();
        const qint64 limit = request.maxReplyBytes;
        const auto overLimit = [reply, state] {
            state->tooLarge = true;
            state->body.clear();
            reply->abort();
        };
        QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, state, limit, overLimit] {
            const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
            if (!state->tooLarge && announced.isValid() && announced.toLongLong() > limit)
                overLimit();
        });
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, state, limit, overLimit] {
            if (state->tooLarge)
                return;
            if (state->body.size() + reply->bytesAvailable() > limit)
                return overLimit();
            state->body.append(reply->readAll());
        });
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply, state, limit, overLimit, finish] {
            HttpReply result;
            if (!state->tooLarge && reply->bytesAvailable() > 0) {
                if (state->body.size() + reply->bytesAvailable() > limit)
                    overLimit();
                else
                    state->body.append(reply->readAll());
            }
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            if (state->tooLarge) {
                result.problem = HttpReply::Problem::TooLarge;
            } else if (answeredByServer(reply->error()) && status.isValid()) {
                result.status = status.toInt();
                result.body = std::move(state->body);
            } else {
                result.problem = HttpReply::Problem::Unreachable;
            }
            finish(std::move(result));
        });
    }

private:
    // Errors that only report the server's status; the reply itself arrived whole.
    static bool answeredByServer(QNetworkReply::NetworkError error) {
        if (error == QNetworkReply::NoError)
            return true;
        const int code = int(error);
        return (code >= 201 && code < 300) || (code >= 401 && code < 500) ||
               error == QNetworkReply::ProtocolInvalidOperationError;
    }

    QNetworkAccessManager *m_network = nullptr;
};

SecureHttpClient::SecureHttpClient(bool allowLoopbackHttp)
    : m_allowLoopbackHttp(allowLoopbackHttp), m_worker(new Worker) {
    m_thread.setObjectName(QStringLiteral("Vellumbox network"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

SecureHttpClient::~SecureHttpClient() {
    // The worker and its open replies belong to the thread: they go with it, on it.
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker] { delete worker; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

bool SecureHttpClient::allowedAddress(const QUrl &url, bool allowLoopbackHttp) {
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty())
        return false;
    if (url.scheme() == u"https")
        return true;
    return allowLoopbackHttp && url.scheme() == u"http" && url.host() == u"127.0.0.1";
}

void SecureHttpClient::send(HttpRequest request, QObject *receiver, std::function<void(HttpReply)> done) {
    QPointer<QObject> guard(receiver);
    auto deliver = [guard, done = std::move(done)](HttpReply reply) mutable {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, done = std::move(done), reply = std::move(reply)]() mutable {
                if (guard)
                    done(std::move(reply));
            },
            Qt::QueuedConnection);
    };
    if (!allowedAddress(request.url, m_allowLoopbackHttp)) {
        HttpReply refused;
        refused.problem = HttpReply::Problem::AddressRefused;
        deliver(std::move(refused));
        return;
    }
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker,
        [worker, request = std::move(request), deliver = std::move(deliver)]() mutable {
            worker->start(std::move(request), std::move(deliver));
        },
        Qt::QueuedConnection);
}
