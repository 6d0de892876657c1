#pragma once

#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <QWidget>

// Closes every popup that opens while it lives and keeps their class names, so a test can type into
// a window and then tell whether a key opened a menu, without a menu's own event loop in the way.
class PopupWatch {
public:
    PopupWatch() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (QWidget *popup = QApplication::activePopupWidget()) {
                m_opened << QString::fromLatin1(popup->metaObject()->className());
                popup->close();
            }
        });
        m_timer.start(10);
    }
    const QStringList &opened() const { return m_opened; }

private:
    QTimer m_timer;
    QStringList m_opened;
};
