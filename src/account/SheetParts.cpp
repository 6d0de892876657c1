#include "account/SheetParts.h"

#include "views/Theme.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace SheetParts {

QLabel *label(QWidget *parent, int pixelSize, QFont::Weight weight, const QColor &color, bool wrap) {
    auto *result = new QLabel(parent);
    result->setFont(Theme::font(pixelSize, weight));
    QPalette palette = result->palette();
    palette.setColor(QPalette::WindowText, color);
    result->setPalette(palette);
    result->setWordWrap(wrap);
    result->setTextFormat(Qt::PlainText);
    return result;
}

QPushButton *button(QWidget *parent, const QString &text, bool primary) {
    auto *result = new QPushButton(text, parent);
    result->setFont(Theme::font(13, primary ? QFont::DemiBold : QFont::Medium));
    result->setAutoDefault(false);
    result->setCursor(Qt::PointingHandCursor);
    if (primary) {
        result->setStyleSheet(
            QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 7px;"
                           " padding: 7px 14px; }"
                           "QPushButton:disabled { background: %2; color: %3; }")
                .arg(Theme::accent().name(), Theme::hairline().name(), Theme::secondaryInk().name()));
    }
    return result;
}

QWidget *busyBar(QWidget *parent) {
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedHeight(4);
    return bar;
}

void setText(QLabel *label, const QString &text) {
    if (label->text() != text)
        label->setText(text);
}

void setText(QPushButton *button, const QString &text) {
    if (button->text() != text)
        button->setText(text);
}

void setShown(QWidget *widget, bool shown) {
    if (widget->isHidden() == shown)
        widget->setVisible(shown);
}

void enable(QWidget *widget, bool enabled) {
    if (widget->isEnabled() != enabled)
        widget->setEnabled(enabled);
}

} // namespace SheetParts

CoalescedRefresh::CoalescedRefresh(QObject *parent, std::function<void()> refresh)
    : QObject(parent), m_refresh(std::move(refresh)) {}

void CoalescedRefresh::schedule() {
    if (m_pending)
        return;
    m_pending = true;
    QTimer::singleShot(0, this, [this] {
        m_pending = false;
        m_refresh();
    });
}
