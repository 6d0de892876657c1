#include "annotation/TextRecognitionModel.h"

#include "annotation/TextRecognition.h"
#include "model/AppFailure.h"
#include "platform/TextRecognizer.h"

#include <QFile>
#include <QThread>

#include <optional>

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
            QFile file(imagePath);
            if (!file.open(QIODevice::ReadOnly))
                throw AppFailure(QStringLiteral("Die Bilddatei konnte nicht gelesen werden."));
            const QByteArray bytes = file.readAll();
            if (file.error() != QFileDevice::NoError)
                throw AppFailure(QStringLiteral("Die Bilddatei konnte nicht gelesen werden."));
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

TextRecognitionModel::TextRecognitionModel(QObject *parent)
    : TextRecognitionModel(&TextRecognizer::createTesseract, parent) {}

TextRecognitionModel::TextRecognitionModel(RecognizerFactory factory, QObject *parent)
    : QObject(parent), m_factory(std::move(factory)),
      m_current(std::make_shared<std::atomic<quint64>>(m_token)) {}

TextRecognitionModel::~TextRecognitionModel() {
    m_current->store(0);
    if (!m_thread)
        return;
    // Queued behind any abandoned requests, which are skipped at once.
    QMetaObject::invokeMethod(
        m_worker.get(),
        [worker = m_worker.get()] {
            worker->shutDown();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    m_thread->wait();
    // Outcomes posted meanwhile are discarded with this object.
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
    QMetaObject::invokeMethod(
        m_worker.get(),
        [this, worker = m_worker.get(), token, imagePath, redactions] {
            std::optional<Outcome> outcome = worker->run(token, imagePath, redactions);
            if (!outcome)
                return;
            // The model outlives this call: its destructor waits for the thread.
            QMetaObject::invokeMethod(
                this, [this, token, outcome = std::move(*outcome)] { apply(token, outcome); },
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
