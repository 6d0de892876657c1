#include "account/SheetParts.h"

#include "look/FocusFrame.h"
#include "look/Theme.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

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
    } else {
        result->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: 1px solid %3; "
                                             "border-radius: 7px; padding: 7px 12px; }"
                                             "QPushButton:pressed { background: %4; }"
                                             "QPushButton:disabled { color: %5; }")
                                  .arg(Theme::ink().name(), Theme::surface().name(), Theme::hairline().name(),
                                       Theme::canvas().name(), Theme::disabledInk().name()));
    }
    // The sheets' buttons show the same focus frame as every other button of ours.
    FocusFrame::attach(result, 7);
    return result;
}

QWidget *busyBar(QWidget *parent) {
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedHeight(4);
    return bar;
}

QVBoxLayout *sheet(QDialog *dialog, const QString &title, int minimumWidth, int minimumHeight) {
    dialog->setWindowTitle(title);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setMinimumSize(minimumWidth, minimumHeight);
    QPalette palette = dialog->palette();
    palette.setColor(QPalette::Window, Theme::surface());
    dialog->setPalette(palette);
    auto *layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(24, 22, 24, 18);
    layout->setSpacing(10);
    auto *heading = label(dialog, 20, QFont::DemiBold, Theme::ink());
    heading->setText(title);
    layout->addWidget(heading);
    return layout;
}

void closeButton(QDialog *dialog, QVBoxLayout *layout) {
    auto *close = button(dialog, QStringLiteral("Schließen"));
    QObject::connect(close, &QPushButton::clicked, dialog, &QDialog::reject);
    auto *footer = new QHBoxLayout;
    footer->addStretch(1);
    footer->addWidget(close);
    layout->addSpacing(6);
    layout->addLayout(footer);
}

void fitToContent(QDialog *dialog, int minimumHeight) {
    QLayout *layout = dialog->layout();
    if (!layout)
        return;
    layout->invalidate();
    layout->activate();
    int width = std::max(dialog->minimumWidth(), layout->totalMinimumSize().width());
    if (dialog->isVisible())
        width = std::max(width, dialog->width());
    const int content =
        layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
    const int height = std::max(content, minimumHeight);
    const char *fitted = "fittedHeight";
    const bool changed = dialog->property(fitted).toInt() != height;
    dialog->setProperty(fitted, height);
    dialog->setMinimumHeight(height);
    if (changed || dialog->height() < height || dialog->width() < width)
        dialog->resize(width, height);
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

using namespace SheetParts;

RowList::RowList(QWidget *parent, const QString &emptyText, const QString &rowName)
    : QScrollArea(parent), m_rowName(rowName) {
    auto *content = new QWidget;
    m_rows = new QVBoxLayout(content);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(6);
    m_empty = label(content, 12, QFont::Normal, Theme::secondaryInk());
    m_empty->setText(emptyText);
    m_empty->hide();
    m_rows->addWidget(m_empty);
    m_rows->addStretch(1);
    setWidget(content);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
}

void RowList::setRows(const QList<Row> &rows, bool actionsEnabled) {
    // The note stays first and the stretch last; the rows go in between.
    while (m_rows->count() > 2) {
        QLayoutItem *item = m_rows->takeAt(1);
        delete item->widget();
        delete item;
    }
    for (qsizetype i = 0; i < rows.size(); ++i) {
        auto *row = new QWidget;
        row->setObjectName(m_rowName);
        auto *line = new QHBoxLayout(row);
        line->setContentsMargins(0, 2, 0, 2);
        auto *text = label(row, 13, QFont::Normal, Theme::ink(), false);
        text->setText(rows[i].text);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        line->addWidget(text, 1);
        for (const Action &action : rows[i].actions) {
            auto *b = button(row, action.text);
            b->setEnabled(actionsEnabled);
            QObject::connect(b, &QPushButton::clicked, row, action.run);
            line->addWidget(b);
        }
        m_rows->insertWidget(int(i) + 1, row);
    }
}

void RowList::setEmptyNoteShown(bool shown) {
    SheetParts::setShown(m_empty, shown);
}

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
