#include "look/ElidedText.h"

#include "look/TextDirection.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextLayout>

#include <limits>

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

// The direction of the last letter that has one; DirON when none has.
QChar::Direction lastDirection(QStringView text) {
    for (qsizetype i = text.size(); i > 0;) {
        char32_t c = text[--i].unicode();
        if (QChar::isLowSurrogate(c) && i > 0 && text[i - 1].isHighSurrogate())
            c = QChar::surrogateToUcs4(text[--i], QChar(c));
        const QChar::Direction direction = QChar::direction(c);
        if (direction == QChar::DirL || direction == QChar::DirR || direction == QChar::DirAL)
            return direction;
    }
    return QChar::DirON;
}

} // namespace

QString line(const QString &text, const QFont &font, int width) {
    const QString flat = flattened(text);
    // The exact advance decides: the rounded one may call a text that fits too wide.
    if (QFontMetricsF(font).horizontalAdvance(flat) <= width)
        return TextDirection::isolated(flat);
    QString elided = QFontMetrics(font).elidedText(flat, Qt::ElideRight, std::max(0, width));
    if (!elided.endsWith(QChar(0x2026)))
        return TextDirection::isolated(elided);
    // At the end of a line the "…" takes the line's direction, not that of the letters before it:
    // after a cut Hebrew title in a left-to-right line it would be drawn at the far end, beside
    // the title's first letter. A mark of the last letter's direction keeps it at the cut.
    const QChar::Direction last = lastDirection(QStringView(elided).chopped(1));
    if (last == QChar::DirR || last == QChar::DirAL)
        elided += QChar(0x200F);
    else if (last == QChar::DirL && flat.isRightToLeft())
        elided += QChar(0x200E);
    return TextDirection::isolated(elided);
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
        // A line that starts inside an isolated run opens it again.
        const QString open = TextDirection::openIsolates(QStringView(flat).first(next.textStart()));
        if (result.size() == maxLines - 1) {
            result << line(open + flat.mid(next.textStart()), font, width);
            break;
        }
        result << TextDirection::isolated(open + flat.mid(next.textStart(), next.textLength()));
    }
    layout.endLayout();
    return result;
}

QStringList wrapped(const QString &text, const QFont &font, int width) {
    QStringList result;
    for (const QString &paragraph : text.split(u'\n')) {
        if (paragraph.isEmpty())
            result << QString();
        else
            result << lines(paragraph, font, width, std::numeric_limits<int>::max());
    }
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

WrappingLabel::WrappingLabel(QWidget *parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    // QLabel keeps its height-for-width policy only while it wraps.
    setWordWrap(true);
}

WrappingLabel *WrappingLabel::replace(QLabel *label) {
    auto *grid = label && label->parentWidget() ? qobject_cast<QGridLayout *>(label->parentWidget()->layout())
                                                : nullptr;
    const int index = grid ? grid->indexOf(label) : -1;
    if (index < 0)
        return nullptr;
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(index, &row, &column, &rows, &columns);
    auto *wrapping = new WrappingLabel(label->parentWidget());
    wrapping->setText(label->text());
    wrapping->setFont(label->font());
    wrapping->setContentsMargins(label->contentsMargins());
    wrapping->setAlignment(label->alignment());
    wrapping->setMinimumSize(label->minimumSize());
    label->hide();
    grid->addWidget(wrapping, row, column, rows, columns);
    return wrapping;
}

QStringList WrappingLabel::shownLines() const {
    return Elide::wrapped(text(), font(), contentsRect().width());
}

int WrappingLabel::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    const auto lines = Elide::wrapped(text(), font(), width - margins.left() - margins.right()).size();
    return int(lines) * fontMetrics().lineSpacing() + margins.top() + margins.bottom();
}

QSize WrappingLabel::sizeHint() const {
    // Each paragraph on one line, as far as that goes.
    int width = 0;
    for (const QString &paragraph : text().split(u'\n'))
        width = std::max(width, fontMetrics().horizontalAdvance(paragraph));
    const QMargins margins = contentsMargins();
    width += margins.left() + margins.right();
    return QSize(width, heightForWidth(width));
}

QSize WrappingLabel::minimumSizeHint() const {
    // Any width holds the text; a narrower one only takes more lines.
    const QMargins margins = contentsMargins();
    return QSize(fontMetrics().horizontalAdvance(u'W') + margins.left() + margins.right(),
                 fontMetrics().lineSpacing() + margins.top() + margins.bottom());
}

void WrappingLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    drawFrame(&painter);
    const QRect room = contentsRect();
    const int step = fontMetrics().lineSpacing();
    const int flags =
        int(QStyle::visualAlignment(layoutDirection(), alignment() & Qt::AlignHorizontal_Mask)) |
        Qt::AlignVCenter | Qt::TextSingleLine;
    int top = room.top();
    for (const QString &line : shownLines()) {
        style()->drawItemText(&painter, QRect(room.left(), top, room.width(), step), flags, palette(),
                              isEnabled(), line, foregroundRole());
        top += step;
    }
}

ElidingLineEdit::ElidingLineEdit(QWidget *parent) : QLineEdit(parent) {
    // A typed change announces itself as edited before it announces the change; the caret
    // stays where the typing is, also in a window that is not active.
    connect(this, &QLineEdit::textEdited, this, [this] { m_typed = true; });
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!std::exchange(m_typed, false) && !hasFocus())
            setCursorPosition(0);
    });
    connect(this, &QLineEdit::returnPressed, this, [this] {
        m_finished = true;
        update();
    });
}

void ElidingLineEdit::keyPressEvent(QKeyEvent *event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        m_finished = false;
    QLineEdit::keyPressEvent(event);
}

void ElidingLineEdit::mousePressEvent(QMouseEvent *event) {
    m_finished = false;
    QLineEdit::mousePressEvent(event);
}

void ElidingLineEdit::focusInEvent(QFocusEvent *event) {
    m_finished = false;
    QLineEdit::focusInEvent(event);
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
    if (editing())
        return text();
    return Elide::line(text(), font(), lineRect().width());
}

void ElidingLineEdit::paintEvent(QPaintEvent *event) {
    // While the text is edited the caret blinks and repaints the field: nothing is measured then.
    if (editing() || text().isEmpty() || echoMode() != QLineEdit::Normal) {
        QLineEdit::paintEvent(event);
        return;
    }
    // A text that fits is drawn by the field itself.
    const QRect line = lineRect();
    if (QFontMetricsF(font()).horizontalAdvance(text()) <= line.width()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    painter.setClipRect(line.adjusted(-2, 0, 2, 0));
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QPoint(line.left(), line.top() + fontMetrics().ascent()),
                     Elide::line(text(), font(), line.width()));
}
