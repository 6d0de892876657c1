#include "look/FocusFrame.h"

#include "look/Theme.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusFrame>
#include <QItemDelegate>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTextEdit>
#include <QToolButton>

#include <algorithm>
#include <typeinfo>

namespace {

constexpr qreal kRingWidth = 2;
constexpr qreal kLineWidth = 1.5;
// Room between the frame and a control without an edge of its own (a check box's tick and label,
// a field without a border): the frame goes around it and never over its text.
constexpr int kRoom = 5;
constexpr qreal kAroundRadius = 6;
// The frame widget covers only this band along its edge, rounded corners included, so the
// control's own repaints (a caret blinking) never involve it.
constexpr int kBand = 6;
const char *const kRadiusProperty = "focusFrameRadius";
// Set on an item view once the style has drawn one of its items.
const char *const kStyleDrawsItems = "focusFrameStyleDrawsItems";

bool ruleInstalled = false;

// Qt's own kinds of control, painted by the style. Ours derive from QAbstractButton or QWidget and
// paint the frame themselves (or are attached).
bool framedByRule(const QWidget *control) {
    // An item view whose items the style draws is framed as a whole, its current item shown by
    // the selection; one whose delegate paints its items draws the frame on its item itself. Qt's
    // own delegates go to the style, so an empty view with one of them is framed too.
    if (const auto *view = qobject_cast<const QAbstractItemView *>(control)) {
        const QAbstractItemDelegate *delegate = view->itemDelegate();
        return control->property(kStyleDrawsItems).toBool() ||
               (delegate && (typeid(*delegate) == typeid(QStyledItemDelegate) ||
                             typeid(*delegate) == typeid(QItemDelegate)));
    }
    return qobject_cast<const QPushButton *>(control) || qobject_cast<const QToolButton *>(control) ||
           qobject_cast<const QCheckBox *>(control) || qobject_cast<const QRadioButton *>(control) ||
           qobject_cast<const QLineEdit *>(control) || qobject_cast<const QTextEdit *>(control) ||
           qobject_cast<const QPlainTextEdit *>(control) || qobject_cast<const QAbstractSpinBox *>(control) ||
           qobject_cast<const QComboBox *>(control) || qobject_cast<const QAbstractSlider *>(control) ||
           qobject_cast<const QTabBar *>(control);
}

// A control whose face has an edge is framed along it; one without (a check box, a slider, a field
// without a border) is framed around what it shows.
bool framedAround(const QWidget *control) {
    if (qobject_cast<const QCheckBox *>(control) || qobject_cast<const QRadioButton *>(control) ||
        qobject_cast<const QAbstractSlider *>(control))
        return true;
    if (const auto *field = qobject_cast<const QLineEdit *>(control))
        return !field->hasFrame();
    if (qobject_cast<const QAbstractScrollArea *>(control))
        return static_cast<const QFrame *>(control)->frameShape() == QFrame::NoFrame;
    return false;
}

// What a control shows, in its own coordinates: a check box's tick and label, not the empty
// stretch a layout gives it beside them.
QRect shownRect(const QWidget *control) {
    const bool check = qobject_cast<const QCheckBox *>(control);
    if (!check && !qobject_cast<const QRadioButton *>(control))
        return control->rect();
    const auto *button = static_cast<const QAbstractButton *>(control);
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    const QStyle *style = button->style();
    const QRect tick = style->subElementRect(
        check ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator, &option, button);
    const QRect label = style->subElementRect(
        check ? QStyle::SE_CheckBoxFocusRect : QStyle::SE_RadioButtonFocusRect, &option, button);
    return (tick | label) & control->rect();
}

// Where a frame around a control lives: in the window or the scroll area's view that shows the
// control, above everything between, so no card or group box in between cuts it.
QWidget *aroundHost(QWidget *control) {
    QWidget *host = control->parentWidget();
    while (host && !host->isWindow()) {
        QWidget *up = host->parentWidget();
        if (const auto *area = qobject_cast<QAbstractScrollArea *>(up); area && area->viewport() == host)
            break;
        host = up;
    }
    return host;
}

// The frame that follows the control with the keyboard. A QFocusFrame, so screen readers skip it
// and layouts never see it; it lets every click through.
class Ring : public QFocusFrame {
public:
    explicit Ring(QWidget *host) : QFocusFrame(host) { hide(); }

    void follow(QWidget *control) {
        if (control != m_control) {
            watch(false);
            m_control = control;
        }
        if (!control) {
            hide();
            return;
        }
        const bool around = framedAround(control) && !control->isWindow();
        const QVariant radius = control->property(kRadiusProperty);
        m_radius = around ? kAroundRadius : radius.isValid() ? radius.toReal() : 4;
        QWidget *host = around ? aroundHost(control) : control;
        if (parentWidget() != host) {
            watch(false);
            setParent(host);
        }
        if (m_watched.isEmpty())
            watch(true);
        place();
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::ChildAdded:
            place();
            break;
        case QEvent::ParentChange:
            // The way up to the frame's host changed: found again from the start.
            if (QWidget *control = m_control) {
                follow(nullptr);
                follow(control);
            }
            break;
        default:
            break;
        }
        return false;
    }

    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        FocusFrame::paint(painter, QRectF(rect()), m_radius);
    }

private:
    // The control and every parent up to the frame's host: any of them moving moves the frame.
    void watch(bool on) {
        for (const QPointer<QWidget> &widget : std::as_const(m_watched))
            if (widget)
                widget->removeEventFilter(this);
        m_watched.clear();
        if (!on)
            return;
        for (QWidget *widget = m_control; widget; widget = widget->parentWidget()) {
            widget->installEventFilter(this);
            m_watched.append(widget);
            if (widget == parentWidget())
                break;
        }
    }

    void place() {
        QWidget *control = m_control;
        QWidget *host = parentWidget();
        if (!control || !host || !control->isVisible()) {
            hide();
            return;
        }
        QRect frame = control->rect();
        if (host != control) {
            frame = shownRect(control).adjusted(-kRoom, -kRoom, kRoom, kRoom);
            frame.moveTopLeft(control->mapTo(host, frame.topLeft()));
            // A control at the edge of its page keeps a whole frame, drawn closer on that side.
            QWidget *page = control;
            while (page->parentWidget() && page->parentWidget() != host)
                page = page->parentWidget();
            if (page != control)
                frame &= QRect(page->pos(), page->size());
            frame &= host->rect();
        }
        if (frame.size() != size()) {
            setGeometry(frame);
            setMask(QRegion(rect()) - QRegion(rect().adjusted(kBand, kBand, -kBand, -kBand)));
        } else {
            move(frame.topLeft());
        }
        raise();
        show();
    }

    QPointer<QWidget> m_control;
    QList<QPointer<QWidget>> m_watched;
    qreal m_radius = 4;
};

// Sends the frame to whichever control has the keyboard.
class Keeper : public QObject {
public:
    static Keeper *instance() {
        static QPointer<Keeper> keeper;
        if (!keeper && qApp)
            keeper = new Keeper(qApp);
        return keeper;
    }

    void frameFocus() { focusMoved(nullptr, QApplication::focusWidget()); }

private:
    explicit Keeper(QObject *parent) : QObject(parent) {
        connect(qApp, &QApplication::focusChanged, this, &Keeper::focusMoved);
    }

    void focusMoved(QWidget *, QWidget *now) {
        QWidget *control = controlFor(now);
        if (!control) {
            if (m_ring)
                m_ring->follow(nullptr);
            return;
        }
        if (!m_ring)
            m_ring = new Ring(control);
        m_ring->follow(control);
    }

    static QWidget *controlFor(QWidget *focus) {
        if (!focus)
            return nullptr;
        // The line edit inside a spin box or combo box stands for the box.
        QWidget *box = focus->parentWidget();
        if (box && qobject_cast<QLineEdit *>(focus) &&
            (qobject_cast<QAbstractSpinBox *>(box) || qobject_cast<QComboBox *>(box)))
            focus = box;
        // Menus, completers and a combo box's list close on their own; nothing is framed there.
        if (focus->window()->windowType() == Qt::Popup)
            return nullptr;
        if (focus->property(kRadiusProperty).isValid() || (ruleInstalled && framedByRule(focus)))
            return focus;
        return nullptr;
    }

    QPointer<Ring> m_ring;
};

// The application's style with its own focus cues switched off (the highlighted edge of a field,
// the dotted rectangle around a label or an item, the tinted tick box): the frame shows focus
// instead.
class FocusStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override {
        if (element == PE_FrameFocusRect)
            return;
        const WithoutFocus plain(option);
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override {
        if (element == CE_ItemViewItem && widget && !widget->property(kStyleDrawsItems).toBool()) {
            auto *view = const_cast<QWidget *>(widget);
            view->setProperty(kStyleDrawsItems, true);
            // Seen only now that it paints: the frame comes to it if it has the keyboard already.
            if (Keeper *keeper = Keeper::instance(); keeper && view->hasFocus())
                QMetaObject::invokeMethod(keeper, &Keeper::frameFocus, Qt::QueuedConnection);
        }
        const WithoutFocus plain(option);
        QProxyStyle::drawControl(element, option, painter, widget);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget) const override {
        const WithoutFocus plain(option);
        QProxyStyle::drawComplexControl(control, option, painter, widget);
    }

private:
    // Every style draws its focus cues from this one flag of the option. The options come from
    // the controls' paint events, where they are plain local values: the flag is taken out for
    // the drawing and put back.
    class WithoutFocus {
    public:
        explicit WithoutFocus(const QStyleOption *option)
            : m_option(const_cast<QStyleOption *>(option)),
              m_state(option ? option->state : QStyle::State()) {
            if (m_option)
                m_option->state &= ~QStyle::State_HasFocus;
        }
        ~WithoutFocus() {
            if (m_option)
                m_option->state = m_state;
        }
        WithoutFocus(const WithoutFocus &) = delete;
        WithoutFocus &operator=(const WithoutFocus &) = delete;

    private:
        QStyleOption *m_option;
        QStyle::State m_state;
    };
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

void FocusFrame::install() {
    if (ruleInstalled || !qApp)
        return;
    ruleInstalled = true;
    // A new style hands the application its standard palette: ours is kept.
    const QPalette palette = QApplication::palette();
    QApplication::setStyle(new FocusStyle(QApplication::style()->name()));
    QApplication::setPalette(palette);
    Keeper::instance()->frameFocus();
}

void FocusFrame::attach(QWidget *control, qreal radius) {
    control->setProperty(kRadiusProperty, radius);
    if (Keeper *keeper = Keeper::instance())
        keeper->frameFocus();
}
