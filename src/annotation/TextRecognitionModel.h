#pragma once

#include "annotation/RecognizedText.h"
#include "model/Mark.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThread;
class TextRecognizer;

// Text recognition of one snip image for the mark editor: the state of the newest request and its
// lines. Used on the main thread only; the work runs on one worker thread of the model's own,
// which keeps one recogniser and its language data between runs. Only the newest request's
// outcome is ever applied: a reset cancels a running pass, which stops at its next check, and
// requests that were overtaken before they started are skipped.
class TextRecognitionModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool didRun READ didRun NOTIFY didRunChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)

public:
    using RecognizerFactory = std::function<std::unique_ptr<TextRecognizer>()>;

    // With the recogniser on libtesseract.
    explicit TextRecognitionModel(QObject *parent = nullptr);
    // With recognisers from `factory`, made on the worker thread when the first request needs one;
    // it may throw AppFailure, which fails that request, and is asked again by the next.
    explicit TextRecognitionModel(RecognizerFactory factory, QObject *parent = nullptr);
    // Cancels a running pass without waiting for it; nothing of it arrives afterwards.
    ~TextRecognitionModel() override;

    // The result of the last successful run; empty otherwise.
    const RecognizedTextLines &lines() const { return m_lines; }
    // A request whose outcome will be applied is under way.
    bool isRunning() const { return m_running; }
    // A run has finished, successfully or not, since the last reset.
    bool didRun() const { return m_didRun; }
    // "Texterkennung fehlgeschlagen: " and a German sentence after a failed run; empty otherwise.
    QString error() const { return m_error; }

    // Starts recognising the image file at `imagePath` with the redact and blur marks among
    // `redactions` burnt in (other kinds are ignored). Returns at once; ignored while running.
    void recognize(const QString &imagePath, const MarkList &redactions);
    // Forgets the results and abandons the request in flight.
    void reset();

Q_SIGNALS:
    void linesChanged();
    void isRunningChanged();
    void didRunChanged();
    void errorChanged();

private:
    class Worker;
    struct Outcome;

    void apply(quint64 token, const Outcome &outcome);
    void setRunning(bool running);
    void setDidRun(bool didRun);
    void setError(const QString &error);
    void setLines(const RecognizedTextLines &lines);

    RecognizerFactory m_factory;
    // The newest request's token, read by the worker to skip and cancel abandoned ones; 0 matches
    // no request.
    std::shared_ptr<std::atomic<quint64>> m_current;
    quint64 m_token = 1;
    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<Worker> m_worker; // lives on m_thread

    RecognizedTextLines m_lines;
    bool m_running = false;
    bool m_didRun = false;
    QString m_error;
};
