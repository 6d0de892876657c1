#include "look/FocusFrame.h"

#include "look/Theme.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QWidget>

#include <algorithm>

namespace {

constexpr qreal kRingWidth = 2;
constexpr qreal kLineWidth = 1.5;
const QString kFrameName = QStringLiteral("focusFrame");

// Lets the control paint itself, then paints the frame over it.
class FrameOverControl : public QObject {
public:
    FrameOverControl(QWidget *control, qreal radius) : QObject(control), m_radius(radius) {
        setObjectName(kFrameName);
        control->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::Paint || m_painting)
            return false;
        auto *control = static_cast<QWidget *>(watched);
        if (!control->hasFocus())
            return false;
        m_painting = true;
        QCoreApplication::sendEvent(control, event);
        m_painting = false;
        QPainter painter(control);
        FocusFrame::paint(painter, QRectF(control->rect()), m_radius);
        return true;
    }

private:
    qreal m_radius;
    bool m_painting = false;
};

} // namespace

void FocusFrame::paint(QPainter &painter, const QRectF &rect, qreal radius) {
    if (rect.width() < 2 * (kRingWidth + kLineWidth) || rect.height() < 2 * (kRingWidth + kLineWidth))
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const qreal ringInset = kRingWidth / 2;
    const QRectF ring = rect.adjusted(ringInset, ringInset, -ringInset, -ringInset);
    painter.setPen(QPen(Theme::accent(), kRingWidth));
    painter.drawRoundedRect(ring, std::max(0.0, radius - ringInset), std::max(0.0, radius - ringInset));
    const qreal lineInset = kRingWidth + kLineWidth / 2;
    const QRectF line = rect.adjusted(lineInset, lineInset, -lineInset, -lineInset);
    painter.setPen(QPen(Theme::surface(), kLineWidth));
    painter.drawRoundedRect(line, std::max(0.0, radius - lineInset), std::max(0.0, radius - lineInset));
    painter.restore();
}

void FocusFrame::attach(QWidget *control, qreal radius) {
    // A control painted through a shared factory may be attached again by the window using it.
    if (control->findChild<QObject *>(kFrameName, Qt::FindDirectChildrenOnly))
        return;
    // A style sheet's own focus rectangle would show as a second, fainter frame inside this one.
    if (!control->styleSheet().isEmpty())
        control->setStyleSheet(control->styleSheet() + QStringLiteral(" * { outline: none; }"));
    new FrameOverControl(control, radius);
}
