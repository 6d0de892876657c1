#pragma once

#include "store/AlertPresenter.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

// The one queue of message boxes of a window. The window's notices, its confirmations and the
// store's questions all wait here, so a second box never covers one the user has not answered.
// Boxes open window-modal with open(); none opens while the window is hidden.
class WindowAlerts : public QObject {
    Q_OBJECT

public:
    struct Request {
        QString title;   // the bold first line
        QString message; // the text below it
        QStringList buttons;
        int defaultButton = 0;
        int escapeButton = -1;
        int destructiveButton = -1;
        // Asked right before the box opens, so the box shows what holds then; false drops it.
        std::function<bool(Request &)> prepare;
        // The index of the button pressed; -1 when the box went away otherwise.
        std::function<void(int)> answer;
        // Kept at most once in the queue, so a notice that keeps being asked for waits only once.
        QString tag;
    };

    explicit WindowAlerts(QWidget *window);
    ~WindowAlerts() override;

    void present(Request request);
    // Whether a request with this tag is waiting or open.
    bool hasPending(const QString &tag) const;
    // The open box, if any.
    QMessageBox *openBox() const;
    // Opens the next box when the window can show it; the window calls it when it appears.
    void pump();

    // The store's presenter: its questions join this window's queue. It stays safe to use when
    // the window has gone (the answer is then -1).
    std::unique_ptr<AlertPresenter> storePresenter();

private:
    void finish(int button);

    QPointer<QWidget> m_window;
    QList<Request> m_queue;
    QPointer<QMessageBox> m_box;
    Request m_shown;
    bool m_pumpQueued = false;
};
