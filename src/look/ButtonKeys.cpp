#include "look/ButtonKeys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

namespace {

bool pressedByReturn(const QAbstractButton *button) {
    if (qobject_cast<const QCheckBox *>(button) || qobject_cast<const QRadioButton *>(button))
        return false;
    // A dialog's default push buttons take Return themselves.
    if (const auto *push = qobject_cast<const QPushButton *>(button))
        return !push->autoDefault() && !push->isDefault();
    return true;
}

// Hands Return and Enter to the button as the Space it already knows, press and release alike,
// so every button reacts as it does to Space (a menu button opens its menu).
class ReturnAsSpace : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier))
            return false;
        auto *button = qobject_cast<QAbstractButton *>(watched);
        if (!button || !button->isEnabled() || !pressedByReturn(button))
            return false;
        QKeyEvent space(event->type(), Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "),
                        key->isAutoRepeat());
        QCoreApplication::sendEvent(button, &space);
        return true;
    }
};

} // namespace

void ButtonKeys::install() {
    static QPointer<QObject> filter;
    if (filter || !qApp)
        return;
    filter = new ReturnAsSpace(qApp);
    qApp->installEventFilter(filter);
}
