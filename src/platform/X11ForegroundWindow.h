#pragma once

#include "platform/ForegroundWindow.h"

#include <QObject>

#include <cstdint>

struct xcb_connection_t;
class QSocketNotifier;

// Watches the root window's _NET_ACTIVE_WINDOW on a connection of its own and remembers the
// last active window that belongs to another process.
class X11ForegroundWindow : public QObject, public ForegroundWindow {
    Q_OBJECT
public:
    explicit X11ForegroundWindow(QObject *parent = nullptr);
    ~X11ForegroundWindow() override;

    void reactivatePrevious() override;
    uint32_t previous() const { return m_previous; }

private:
    void readEvents();
    void noteActiveWindow();
    bool windowManagerSupportsActivation();

    xcb_connection_t *m_connection = nullptr;
    uint32_t m_root = 0;
    uint32_t m_activeAtom = 0;
    uint32_t m_pidAtom = 0;
    uint32_t m_previous = 0;
    QSocketNotifier *m_notifier = nullptr;
};
