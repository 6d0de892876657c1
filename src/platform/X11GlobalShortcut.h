#pragma once

#include "platform/GlobalShortcut.h"

#include <QList>

#include <cstdint>

struct xcb_connection_t;
class QSocketNotifier;

// A passive key grab on the root window, on a connection of its own, for each combination of
// the lock modifiers the user may have on (Caps Lock, Num Lock).
class X11GlobalShortcut : public GlobalShortcut {
    Q_OBJECT
public:
    explicit X11GlobalShortcut(QObject *parent = nullptr);
    ~X11GlobalShortcut() override;

    void registerShortcut() override;
    bool isRegistered() const override { return !m_grabbed.isEmpty(); }

private:
    void fail();
    void ungrabAll();
    void readEvents();

    xcb_connection_t *m_connection = nullptr;
    uint32_t m_root = 0;
    uint8_t m_keycode = 0;
    QList<uint16_t> m_grabbed; // modifier masks held
    QSocketNotifier *m_notifier = nullptr;
    bool m_detectableRepeat = false;
    bool m_down = false;
};
