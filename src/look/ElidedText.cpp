#include "look/ElidedText.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextLayout>

namespace Elide {

namespace {

QString flattened(QString text) {
    for (QChar &c : text) {
        if (c == u'\n' || c == u'\r' || c == u'\t' || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

} // namespace

QString line(const QString &text, const QFont &font, int width) {
    const QString flat = flattened(text);
    // The exact advance decides: the rounded one may call a text that fits too wide.
    if (QFontMetricsF(font).horizontalAdvance(flat) <= width)
        return flat;
    return QFontMetrics(font).elidedText(flat, Qt::ElideRight, std::max(0, width));
}

QStringList lines(const QString &text, const QFont &font, int width, int maxLines) {
    QStringList result;
    if (maxLines < 1)
        return result;
    const QString flat = flattened(text);
    QTextLayout layout(flat, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    while (result.size() < maxLines) {
        QTextLine next = layout.createLine();
        if (!next.isValid())
            break;
        next.setLineWidth(std::max(1, width));
        if (result.size() == maxLines - 1) {
            result << line(flat.mid(next.textStart()), font, width);
            break;
        }
        result << flat.mid(next.textStart(), next.textLength());
    }
    layout.endLayout();
    return result;
}

} // namespace Elide

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
}

QString ElidedLabel::shownText() const {
    return Elide::line(text(), font(), contentsRect().width());
}

QSize ElidedLabel::minimumSizeHint() const {
    // Down to the ellipsis alone: the layout may give the label less than its text.
    const QMargins margins = contentsMargins();
    return QSize(std::min(sizeHint().width(),
                          fontMetrics().horizontalAdvance(QChar(0x2026)) + margins.left() + margins.right()),
                 QLabel::minimumSizeHint().height());
}

void ElidedLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, contentsRect(),
                          int(QStyle::visualAlignment(layoutDirection(), alignment())) | Qt::TextSingleLine,
                          palette(), isEnabled(), shownText(), foregroundRole());
}

ElidingLineEdit::ElidingLineEdit(QWidget *parent) : QLineEdit(parent) {
    // A typed change announces itself as edited before it announces the change; the caret
    // stays where the typing is, also in a window that is not active.
    connect(this, &QLineEdit::textEdited, this, [this] { m_typed = true; });
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!std::exchange(m_typed, false) && !hasFocus())
            setCursorPosition(0);
    });
}

QRect ElidingLineEdit::lineRect() const {
    // Where QLineEdit puts its line: the contents less the text margins, 2 px in from each
    // side, and vertically as its alignment says (1 px from the edge when not centred).
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    const QRect r =
        style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).marginsRemoved(textMargins());
    const QFontMetrics metrics = fontMetrics();
    const int height = std::max(metrics.boundingRect(text()).height(), metrics.height());
    int top = r.y() + (r.height() - height + 1) / 2;
    if (alignment() & Qt::AlignTop)
        top = r.y() + 1;
    else if (alignment() & Qt::AlignBottom)
        top = r.y() + r.height() - height - 1;
    return QRect(r.x() + 2, top, r.width() - 4, height);
}

QString ElidingLineEdit::shownText() const {
    if (hasFocus())
        return text();
    return Elide::line(text(), font(), lineRect().width());
}

void ElidingLineEdit::paintEvent(QPaintEvent *event) {
    const QString shown = shownText();
    if (hasFocus() || text().isEmpty() || shown == text() || echoMode() != QLineEdit::Normal) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    const QRect line = lineRect();
    painter.setClipRect(line.adjusted(-2, 0, 2, 0));
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QPoint(line.left(), line.top() + fontMetrics().ascent()), shown);
}
