#include "annotation/WorkspaceControls.h"

#include "look/Icons.h"
#include "look/Theme.h"

#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

QColor editorAccent() {
    return QColor::fromRgbF(0.078f, 0.42f, 0.961f);
}

QLabel *editorLabel(const QString &text, int size, QFont::Weight weight, bool secondary, QWidget *parent,
                    bool wrap) {
    auto *label = new QLabel(text, parent);
    label->setFont(Theme::font(size, weight));
    label->setWordWrap(wrap);
    setColorIfChanged(label, QPalette::WindowText, secondary ? Theme::secondaryInk() : Theme::ink());
    return label;
}

namespace {
template <typename Layout> Layout *edgeToEdge(QWidget *widget, int spacing) {
    auto *layout = new Layout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    if (spacing >= 0)
        layout->setSpacing(spacing);
    return layout;
}
} // namespace

QVBoxLayout *columnLayout(QWidget *widget, int spacing) {
    return edgeToEdge<QVBoxLayout>(widget, spacing);
}

QHBoxLayout *rowLayout(QWidget *widget, int spacing) {
    return edgeToEdge<QHBoxLayout>(widget, spacing);
}

QFrame *hairline(QWidget *parent, Qt::Orientation orientation, int length) {
    auto *line = new QFrame(parent);
    line->setStyleSheet(QStringLiteral("background: %1; border: none;").arg(Theme::hairline().name()));
    if (orientation == Qt::Vertical) {
        line->setFixedWidth(1);
        if (length > 0)
            line->setFixedHeight(length);
    } else {
        line->setFixedHeight(1);
    }
    return line;
}

void setTextIfChanged(QLabel *label, const QString &text) {
    if (label->text() != text)
        label->setText(text);
}

void setTextIfChanged(QAbstractButton *button, const QString &text) {
    if (button->text() != text)
        button->setText(text);
}

void setColorIfChanged(QWidget *widget, QPalette::ColorRole role, const QColor &color) {
    if (widget->palette().color(role) == color)
        return;
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

ToolButton::ToolButton(const QString &title, const QString &symbol, QWidget *parent)
    : QAbstractButton(parent), m_symbol(symbol) {
    setToolTip(title);
    setAccessibleName(title);
    setCursor(Qt::PointingHandCursor);
}

void ToolButton::setSymbol(const QString &symbol) {
    if (symbol == m_symbol)
        return;
    m_symbol = symbol;
    update();
}

void ToolButton::setActive(bool active) {
    if (active == m_active)
        return;
    m_active = active;
    // Screen readers hear the active mode as a selected button.
    setAccessibleDescription(active ? QStringLiteral("ausgewählt") : QString());
    update();
}

QSize ToolButton::sizeHint() const {
    return {42, 42};
}

void ToolButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (m_active) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(editorAccent());
        painter.drawRoundedRect(frame, 9, 9);
    } else if (isDown() || underMouse()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, isDown() ? 28 : 14));
        painter.drawRoundedRect(frame, 9, 9);
    }
    QColor ink = m_active ? Qt::white : Theme::ink();
    if (!isEnabled())
        ink.setAlphaF(0.35f);
    const QSize icon(20, 20);
    const QPixmap pixmap = symbolPixmap(m_symbol, icon, ink, devicePixelRatioF());
    if (!pixmap.isNull())
        painter.drawPixmap(
            QRectF(QPointF((width() - icon.width()) / 2.0, (height() - icon.height()) / 2.0), icon), pixmap,
            pixmap.rect());
}

ColorSwatch::ColorSwatch(MarkColor color, QWidget *parent) : QAbstractButton(parent), m_color(color) {
    const QString title = MarkColors::title(color);
    setToolTip(title);
    setAccessibleName(QStringLiteral("Farbe: ") + title);
    setCursor(Qt::PointingHandCursor);
}

void ColorSwatch::setCurrent(bool current) {
    if (current == m_current)
        return;
    m_current = current;
    update();
}

QSize ColorSwatch::sizeHint() const {
    return {28, 28};
}

void ColorSwatch::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(3, 3, 22, 22);
    painter.setPen(Qt::NoPen);
    painter.setBrush(MarkColors::color(m_color));
    painter.drawEllipse(disc);
    QColor border(Qt::gray);
    border.setAlphaF(0.3f);
    painter.setPen(QPen(border, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
    if (m_current) {
        painter.setPen(QPen(editorAccent(), 2));
        painter.drawEllipse(QRectF(1, 1, 26, 26));
    }
}
