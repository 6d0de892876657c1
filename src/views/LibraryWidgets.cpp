#include "views/LibraryWidgets.h"

#include "look/ElidedText.h"
#include "look/FocusFrame.h"
#include "look/Icons.h"
#include "look/Theme.h"
#include "views/LibraryState.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>

#include <algorithm>
#include <cmath>

void LibraryPaint::roundedPanel(QPainter &painter, const QRectF &rect, qreal radius, const QColor &fill,
                                const QColor &border, bool dashed) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (fill.alpha() > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(rect, radius, radius);
    }
    if (border.alpha() > 0) {
        QPen pen(border, 1);
        if (dashed)
            pen.setDashPattern({5, 5});
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const QRectF inner = rect.adjusted(0.5, 0.5, -0.5, -0.5);
        painter.drawRoundedRect(inner, std::max(0.0, radius - 0.5), std::max(0.0, radius - 0.5));
    }
    painter.restore();
}

QColor LibraryPaint::withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

FlatButton::FlatButton(const Look &look, const QString &text, QWidget *parent)
    : QAbstractButton(parent), m_look(look) {
    setText(text);
    setFont(look.font);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover, false);
}

void FlatButton::setLook(const Look &look) {
    m_look = look;
    setFont(look.font);
    updateGeometry();
    update();
}

void FlatButton::setSymbol(const QString &symbol) {
    if (m_look.symbol == symbol)
        return;
    m_look.symbol = symbol;
    updateGeometry();
    update();
}

QSize FlatButton::sizeHint() const {
    const QFontMetricsF metrics(m_look.font);
    int width = 0;
    int height = 0;
    if (!text().isEmpty()) {
        // Rounded up, so the text is never cut at its own ideal size.
        width = int(std::ceil(metrics.horizontalAdvance(text()))) + 1;
        height = int(std::ceil(metrics.height()));
    }
    if (!m_look.symbol.isEmpty()) {
        width += m_look.symbolSize + (text().isEmpty() ? 0 : m_look.spacing);
        height = std::max(height, m_look.symbolSize);
    }
    const QMargins margins = faceMargins();
    return QSize(width + margins.left() + margins.right(), height + margins.top() + margins.bottom());
}

QSize FlatButton::minimumSizeHint() const {
    const QSize hint = sizeHint();
    const QMargins margins = faceMargins();
    return QSize(std::min(hint.width(), margins.left() + margins.right() + m_look.symbolSize), hint.height());
}

QMargins FlatButton::faceMargins() const {
    if (text().isEmpty())
        return m_look.padding;
    // The focus frame runs along the inside of the edge: text never lies under it.
    const QMargins &p = m_look.padding;
    return QMargins(std::max(p.left(), kFocusRoom.left()), std::max(p.top(), kFocusRoom.top()),
                    std::max(p.right(), kFocusRoom.right()), std::max(p.bottom(), kFocusRoom.bottom()));
}

void FlatButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    if (!isEnabled())
        painter.setOpacity(0.4);
    const QRectF frame = QRectF(rect());
    const QColor background =
        isDown() && m_look.pressedBackground.isValid() ? m_look.pressedBackground : m_look.background;
    LibraryPaint::roundedPanel(painter, frame, m_look.radius, background, m_look.border, m_look.dashedBorder);

    const QRect content = rect().marginsRemoved(faceMargins());
    const QFontMetrics metrics(m_look.font);
    const bool hasSymbol = !m_look.symbol.isEmpty();
    const int gap = hasSymbol && !text().isEmpty() ? m_look.spacing : 0;
    const int symbolWidth = hasSymbol ? m_look.symbolSize : 0;
    const int room = std::max(0, content.width() - symbolWidth - gap);
    const QString shown = Elide::line(text(), m_look.font, room);
    const int total = symbolWidth + gap + (shown.isEmpty() ? 0 : metrics.horizontalAdvance(shown));
    int x = content.left();
    if (m_look.alignment & Qt::AlignHCenter)
        x += std::max(0, (content.width() - total) / 2);
    else if (m_look.alignment & Qt::AlignRight)
        x += std::max(0, content.width() - total);
    if (hasSymbol) {
        const QPixmap pixmap = symbolPixmap(m_look.symbol, QSize(m_look.symbolSize, m_look.symbolSize),
                                            m_look.color, devicePixelRatioF());
        painter.drawPixmap(QPointF(x, content.top() + (content.height() - m_look.symbolSize) / 2.0), pixmap);
        x += symbolWidth + gap;
    }
    if (!shown.isEmpty()) {
        painter.setFont(m_look.font);
        painter.setPen(m_look.color);
        painter.drawText(QRect(x, content.top(), content.right() - x + 1, content.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
    if (hasFocus())
        FocusFrame::paint(painter, frame, std::max<qreal>(m_look.radius, 4));
}

PanelButton::PanelButton(QWidget *parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void PanelButton::adopt(QWidget *child) {
    child->setAttribute(Qt::WA_TransparentForMouseEvents);
    child->setFocusPolicy(Qt::NoFocus);
}

QSize PanelButton::sizeHint() const {
    return layout() ? layout()->sizeHint() : QAbstractButton::sizeHint();
}

QSize PanelButton::minimumSizeHint() const {
    return layout() ? layout()->minimumSize() : QAbstractButton::minimumSizeHint();
}

void PanelButton::paintEvent(QPaintEvent *) {
    if (!hasFocus())
        return;
    QPainter painter(this);
    FocusFrame::paint(painter, QRectF(rect()), 7);
}

SymbolLabel::SymbolLabel(const QString &symbol, int size, const QColor &color, QWidget *parent)
    : QWidget(parent), m_symbol(symbol), m_size(size), m_color(color) {
    setFixedSize(size, size);
}

void SymbolLabel::setSymbol(const QString &symbol) {
    if (m_symbol == symbol)
        return;
    m_symbol = symbol;
    update();
}

void SymbolLabel::setColor(const QColor &color) {
    if (m_color == color)
        return;
    m_color = color;
    update();
}

QSize SymbolLabel::sizeHint() const {
    return QSize(m_size, m_size);
}

void SymbolLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    if (!isEnabled())
        painter.setOpacity(0.4);
    const QPixmap pixmap = symbolPixmap(m_symbol, QSize(m_size, m_size), m_color, devicePixelRatioF());
    painter.drawPixmap(QPointF((width() - m_size) / 2.0, (height() - m_size) / 2.0), pixmap);
}

namespace {

QLabel *styled(QLabel *label, const QString &text, const QFont &font, const QColor &color) {
    label->setText(text);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

} // namespace

QLabel *makeLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent) {
    return styled(new QLabel(parent), text, font, color);
}

QLabel *makeElidedLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent) {
    return styled(new ElidedLabel(parent), text, font, color);
}

FlatButton *makeCaptureButton(const QString &text, QWidget *parent) {
    FlatButton::Look look = FlatButton::Look::plain(Theme::surface(), Theme::font(15, QFont::DemiBold),
                                                    QStringLiteral("camera.fill"), 16);
    look.background = Theme::accent();
    look.pressedBackground = LibraryPaint::withAlpha(Theme::accent(), 0.78);
    look.radius = 8;
    look.padding = QMargins(22, 12, 22, 12);
    look.spacing = 8;
    return new FlatButton(look, text, parent);
}

Divider::Divider(Qt::Orientation orientation, QWidget *parent) : QWidget(parent) {
    if (orientation == Qt::Horizontal)
        setFixedHeight(1);
    else
        setFixedWidth(1);
}

void Divider::paintEvent(QPaintEvent *) {
    QPainter(this).fillRect(rect(), Theme::hairline());
}

LayoutPicker::LayoutPicker(LibraryState *state, QWidget *parent) : QWidget(parent), m_state(state) {
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(2);
    const auto make = [&](const QString &symbol, const QString &title, bool compact) {
        FlatButton::Look look = FlatButton::Look::plain(Theme::ink(), QFont(), symbol, 15);
        look.radius = 7;
        auto *button = new FlatButton(look, QString(), this);
        button->setFixedSize(40, 31);
        button->setCheckable(true);
        button->setToolTip(title);
        button->setAccessibleName(title);
        connect(button, &QAbstractButton::clicked, this,
                [this, compact] { m_state->setCompactLayout(compact); });
        layout->addWidget(button);
        return button;
    };
    m_large = make(QStringLiteral("rectangle.grid.1x2"), QStringLiteral("Große Vorschauen"), false);
    m_compact = make(QStringLiteral("list.bullet"), QStringLiteral("Kompakte Ansicht"), true);
    refresh();
}

void LayoutPicker::refresh() {
    for (FlatButton *button : {m_large, m_compact}) {
        const bool selected = (button == m_compact) == m_state->compactLayout();
        FlatButton::Look look = button->look();
        const QColor background =
            selected ? LibraryPaint::withAlpha(Qt::white, 0.85) : QColor(Qt::transparent);
        if (look.background != background) {
            look.background = background;
            button->setLook(look);
        }
        button->setChecked(selected);
    }
}

void LayoutPicker::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    LibraryPaint::roundedPanel(painter, QRectF(rect()), 8, LibraryPaint::withAlpha(Theme::hairline(), 0.65));
}

namespace {

// Sees where the keyboard goes in the whole program; acts for the controls inside its area only.
class TabFocusReveal : public QObject {
public:
    explicit TabFocusReveal(QScrollArea *area) : QObject(area), m_area(area) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::FocusIn)
            return false;
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        auto *control = qobject_cast<QWidget *>(watched);
        const QWidget *page = m_area->widget();
        if ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) && control && page &&
            page->isAncestorOf(control))
            m_area->ensureWidgetVisible(control);
        return false;
    }

private:
    QScrollArea *m_area;
};

} // namespace

void revealTabFocus(QScrollArea *area) {
    new TabFocusReveal(area);
}

qsizetype steppedItem(const QKeyEvent *event, qsizetype current, qsizetype count, qsizetype columns) {
    if (count <= 0 || (event->modifiers() & ~Qt::KeypadModifier))
        return -1;
    const qsizetype last = count - 1;
    const qsizetype at = std::clamp<qsizetype>(current, 0, last);
    const bool none = current < 0;
    columns = std::max<qsizetype>(1, columns);
    switch (event->key()) {
    case Qt::Key_Left:
        return none ? 0 : std::max<qsizetype>(0, at - 1);
    case Qt::Key_Right:
        return none ? 0 : std::min(last, at + 1);
    case Qt::Key_Up:
        return at >= columns ? at - columns : at;
    case Qt::Key_Down:
        return at + columns <= last ? at + columns : at;
    case Qt::Key_Home:
        return 0;
    case Qt::Key_End:
        return last;
    default:
        return -1;
    }
}
