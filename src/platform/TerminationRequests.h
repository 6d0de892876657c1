#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT as a request to quit on the main thread, so they end the program through
// the same save as the menu's quit instead of losing the last changes. One per process.
class TerminationRequests : public QObject {
    Q_OBJECT

public:
    explicit TerminationRequests(QObject *parent = nullptr);
    ~TerminationRequests() override;

    bool isInstalled() const { return m_notifier != nullptr; }

Q_SIGNALS:
    // Once per signal received, on the thread that created this object.
    void requested();

private:
    QSocketNotifier *m_notifier = nullptr;
};
