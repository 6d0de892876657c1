#include "annotation/TextRecognitionModel.h"

#include "annotation/TextRecognition.h"
#include "imaging/RegularFile.h"
#include "model/AppFailure.h"
#include "platform/TextRecognizer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <optional>
#include <utility>

namespace {

// Only a regular file is read, without ever blocking: a FIFO, a folder or a device under the
// image's name would otherwise hold the worker, and with it quitting, for good.
QByteArray readImage(const QString &path) {
    try {
        return RegularFile::readAll(path);
    } catch (const RegularFile::Failure &) {
        throw AppFailure(QStringLiteral("Die Bilddatei konnte nicht gelesen werden."));
    }
}

} // namespace

struct TextRecognitionModel::Outcome {
    RecognizedTextLines lines;
    QString failure; // a German sentence; empty on success
};

// Lives on the model's thread and keeps the recogniser there, so its language data is loaded once
// and every pass runs on the same thread.
class TextRecognitionModel::Worker : public QObject {
public:
    Worker(RecognizerFactory factory, std::shared_ptr<std::atomic<quint64>> current)
        : m_factory(std::move(factory)), m_current(std::move(current)) {}

    // Nothing when the request was abandoned before or while it ran.
    std::optional<Outcome> run(quint64 token, const QString &imagePath, const MarkList &marks) {
        const auto cancelled = [current = m_current, token] { return current->load() != token; };
        if (cancelled())
            return std::nullopt;
        Outcome outcome;
        try {
            const QByteArray bytes = readImage(imagePath);
            if (!m_recognizer)
                m_recognizer = m_factory();
            if (!m_recognizer)
                throw AppFailure(QStringLiteral("Die Texterkennung ist auf diesem Gerät nicht verfügbar."));
            outcome.lines = TextRecognition::recognize(*m_recognizer, bytes, marks, cancelled);
        } catch (const AppFailure &failure) {
            outcome.failure = failure.errorDescription();
        } catch (const std::bad_alloc &) {
            outcome.failure = QStringLiteral("Für die Texterkennung reicht der Arbeitsspeicher nicht.");
        } catch (const std::exception &) {
            outcome.failure = QStringLiteral("Die Texterkennung ist unerwartet abgebrochen.");
        }
        if (cancelled())
            return std::nullopt;
        return outcome;
    }

    // The recogniser is released on the thread that used it.
    void shutDown() { m_recognizer.reset(); }

private:
    RecognizerFactory m_factory;
    std::shared_ptr<std::atomic<quint64>> m_current;
    std::unique_ptr<TextRecognizer> m_recognizer;
};

namespace {

struct AbandonedWorker {
    QThread *thread;
    QObject *worker;
};

// Workers of destroyed models, finishing their cancelled pass; touched on the main thread only.
QList<AbandonedWorker> &abandonedWorkers() {
    static QList<AbandonedWorker> workers;
    return workers;
}

void deleteWorker(const AbandonedWorker &abandoned) {
    abandoned.thread->wait();
    delete abandoned.worker;
    delete abandoned.thread;
}

void releaseAbandonedWorker(QThread *thread) {
    QList<AbandonedWorker> &workers = abandonedWorkers();
    for (qsizetype i = 0; i < workers.size(); ++i) {
        if (workers[i].thread == thread) {
            deleteWorker(workers.takeAt(i));
            return;
        }
    }
}

void joinAbandonedWorkers() {
    for (const AbandonedWorker &abandoned : std::exchange(abandonedWorkers(), {}))
        deleteWorker(abandoned);
}

} // namespace

TextRecognitionModel::TextRecognitionModel(QObject *parent)
    : TextRecognitionModel(&TextRecognizer::createTesseract, parent) {}

TextRecognitionModel::TextRecognitionModel(RecognizerFactory factory, QObject *parent)
    : QObject(parent), m_factory(std::move(factory)),
      m_current(std::make_shared<std::atomic<quint64>>(m_token)) {}

TextRecognitionModel::~TextRecognitionModel() {
    m_current->store(0);
    if (!m_thread)
        return;
    QThread *thread = m_thread.release();
    Worker *worker = m_worker.release();
    // The cancelled pass may still be in the part of the recogniser that cannot be interrupted
    // (page layout, up to about half a second on a full-HD page). Closing the editor or quitting
    // must not wait for it: the thread finishes on its own and is only joined when the
    // application shuts down.
    QObject *application = QCoreApplication::instance();
    if (application) {
        abandonedWorkers().append({thread, worker});
        static const bool joinAtExit = (qAddPostRoutine(&joinAbandonedWorkers), true);
        Q_UNUSED(joinAtExit);
        connect(
            thread, &QThread::finished, application, [thread] { releaseAbandonedWorker(thread); },
            Qt::QueuedConnection);
    }
    // Queued behind any overtaken requests, which are skipped at once.
    QMetaObject::invokeMethod(
        worker,
        [worker] {
            worker->shutDown();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (!application) {
        thread->wait();
        delete worker;
        delete thread;
    }
}

void TextRecognitionModel::recognize(const QString &imagePath, const MarkList &redactions) {
    if (m_running)
        return;
    reset();
    if (!m_thread) {
        m_thread = std::make_unique<QThread>();
        m_thread->setObjectName(QStringLiteral("TextRecognizer"));
        m_worker = std::make_unique<Worker>(m_factory, m_current);
        m_worker->moveToThread(m_thread.get());
        m_thread->start();
    }
    const quint64 token = m_token;
    setRunning(true);
    // Made here, on the model's thread: the worker may outlive the model.
    const QPointer<TextRecognitionModel> model(this);
    QMetaObject::invokeMethod(
        m_worker.get(),
        [model, worker = m_worker.get(), token, imagePath, redactions] {
            std::optional<Outcome> outcome = worker->run(token, imagePath, redactions);
            if (!outcome)
                return;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [model, token, outcome = std::move(*outcome)] {
                    if (model)
                        model->apply(token, outcome);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void TextRecognitionModel::reset() {
    m_current->store(++m_token);
    setLines({});
    setRunning(false);
    setDidRun(false);
    setError({});
}

void TextRecognitionModel::apply(quint64 token, const Outcome &outcome) {
    if (token != m_token)
        return;
    setRunning(false);
    setDidRun(true);
    if (outcome.failure.isEmpty())
        setLines(outcome.lines);
    else
        setError(QStringLiteral("Texterkennung fehlgeschlagen: ") + outcome.failure);
}

void TextRecognitionModel::setRunning(bool running) {
    if (m_running == running)
        return;
    m_running = running;
    emit isRunningChanged();
}

void TextRecognitionModel::setDidRun(bool didRun) {
    if (m_didRun == didRun)
        return;
    m_didRun = didRun;
    emit didRunChanged();
}

void TextRecognitionModel::setError(const QString &error) {
    if (m_error == error)
        return;
    m_error = error;
    emit errorChanged();
}

void TextRecognitionModel::setLines(const RecognizedTextLines &lines) {
    // Lines carry fresh ids, so two runs never compare equal; only empty-to-empty is no change.
    if (m_lines.isEmpty() && lines.isEmpty())
        return;
    m_lines = lines;
    emit linesChanged();
}
