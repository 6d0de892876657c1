#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

// One running Vellumbox per user. A later start hands its arguments (a URL the desktop opened
// with us, or nothing for a plain reopen) to the running one over a socket only this user may
// open, and ends. What arrives is untrusted text: it is capped in count and length here, and the
// receiver decides which of it to act on.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxArguments = 8;
    static constexpr int kMaxArgumentBytes = 4096;

    explicit SingleInstance(const QString &socketPath = defaultSocketPath(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // In $XDG_RUNTIME_DIR, else in a folder of our own in the temporary folder.
    static QString defaultSocketPath();

    // Sends the arguments to the instance listening at socketPath and waits until it has taken
    // them; false when no instance listens. Needs no Qt application object.
    static bool handOver(const QString &socketPath, const QStringList &arguments);

    // Starts listening; false when another instance listens already or the socket cannot be made.
    // A start that loses a race to another returns once the winner listens (or after a few
    // seconds), so handOver() reaches it.
    bool listen();

Q_SIGNALS:
    // The arguments of a later start, in their order; empty for a plain reopen.
    void received(const QStringList &arguments);

private:
    void serve(QLocalSocket *socket);

    QString m_path;
    QLocalServer *m_server = nullptr;
    int m_lock = -1; // the flock'd file beside the socket, held while we listen
};
