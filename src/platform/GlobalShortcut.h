#pragma once

#include <QObject>

#include <memory>

// Control-Shift-Space for the whole desktop. The shell holds one for the whole run and takes a
// fake in tests. activated() always arrives on the main thread, after the key event has been
// dealt with, once per press.
class GlobalShortcut : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Tries to take the shortcut. Success or failure may be known when this returns (see
    // isRegistered()) or come later as failed(); connect first.
    virtual void registerShortcut() = 0;
    virtual bool isRegistered() const = 0;

    // The implementation this desktop offers: a key grab on a plain X server, the GlobalShortcuts
    // portal under Wayland (XWayland's grab only sees X clients), or one that always fails. The
    // caller is its one owner: it has no QObject parent that could delete it a second time.
    static std::unique_ptr<GlobalShortcut> createForDesktop();

signals:
    void activated();
    void failed();
};
