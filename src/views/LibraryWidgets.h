#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QMargins>
#include <QWidget>

class LibraryState;
class QKeyEvent;
class QLabel;
class QPainter;
class QScrollArea;

// Small painted pieces the parts of the main window share.
namespace LibraryPaint {

// A rounded rectangle filled and outlined inside its edge (the outline does not grow the shape).
void roundedPanel(QPainter &painter, const QRectF &rect, qreal radius, const QColor &fill,
                  const QColor &border = Qt::transparent, bool dashed = false);
// A QColor with the given opacity.
QColor withAlpha(QColor color, qreal alpha);

} // namespace LibraryPaint

// A button drawn as the design shows it: optional symbol and text in one colour and font, on an
// optional rounded background with an optional outline. Disabled, it fades. Like every button of
// the windows it takes the keyboard from Tab only, so a click leaves the keyboard where the user
// works, and shows the focus frame while it has it.
class FlatButton : public QAbstractButton {
    Q_OBJECT

public:
    struct Look {
        QString symbol;
        int symbolSize = 14;
        QFont font;
        QColor color;
        QColor background = Qt::transparent;
        QColor pressedBackground; // invalid: the background
        QColor border = Qt::transparent;
        bool dashedBorder = false;
        qreal radius = 0;
        QMargins padding;
        int spacing = 6;
        Qt::Alignment alignment = Qt::AlignCenter;

        // Text (and symbol) in one colour, nothing behind; the usual start of a look.
        static Look plain(const QColor &color, const QFont &font = QFont(), const QString &symbol = QString(),
                          int symbolSize = 14) {
            Look look;
            look.color = color;
            look.font = font;
            look.symbol = symbol;
            look.symbolSize = symbolSize;
            return look;
        }
    };

    FlatButton(const Look &look, const QString &text, QWidget *parent = nullptr);

    const Look &look() const { return m_look; }
    void setLook(const Look &look);
    void setSymbol(const QString &symbol);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    // A checkable FlatButton shows a selection its owner keeps (a layout, a mode): a click asks
    // for it, and clicking the selected one again must not switch it off.
    void nextCheckState() override {}

private:
    // Room between a text and the edge for the focus frame, whatever the look's padding.
    static constexpr QMargins kFocusRoom{6, 4, 6, 4};
    QMargins faceMargins() const;

    Look m_look;
};

// A button whose face is made of child widgets (symbol and lines of text); the children let the
// clicks through, so the whole rectangle is the hit area.
class PanelButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PanelButton(QWidget *parent = nullptr);
    // Adds a child to the face and makes it transparent for the mouse.
    void adopt(QWidget *child);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A label showing one of our symbols at a fixed size.
class SymbolLabel : public QWidget {
    Q_OBJECT

public:
    SymbolLabel(const QString &symbol, int size, const QColor &color, QWidget *parent = nullptr);
    void setSymbol(const QString &symbol);
    void setColor(const QColor &color);
    QString symbol() const { return m_symbol; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    int m_size;
    QColor m_color;
};

// A label in the given font and colour.
QLabel *makeLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent);
// The same on one line that ends with "…" where its room ends.
QLabel *makeElidedLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent);

// The prominent capture button: white semibold text on the accent, lighter while pressed.
FlatButton *makeCaptureButton(const QString &text, QWidget *parent);

// A thin line in the hairline colour, across (horizontal) or down (vertical).
class Divider : public QWidget {
    Q_OBJECT

public:
    explicit Divider(Qt::Orientation orientation, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The switch between large previews and the compact layout, bound to the window's setting.
class LayoutPicker : public QWidget {
    Q_OBJECT

public:
    LayoutPicker(LibraryState *state, QWidget *parent = nullptr);
    void refresh();

    QAbstractButton *largeButton() const { return m_large; }
    QAbstractButton *compactButton() const { return m_compact; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    LibraryState *m_state;
    FlatButton *m_large;
    FlatButton *m_compact;
};

// Brings the control that Tab or Shift+Tab gives the keyboard inside `area` on screen. Qt's scroll
// area does so only for a Tab from one of its own controls; an area that is no Tab stop itself is
// also entered from the controls before and after it in the window.
void revealTabFocus(QScrollArea *area);

// The one rule for the keys of a row or grid of items that is one Tab stop: the item an arrow
// key, Home or End leads to among `count` items set out `columns` to a row, from `current` (the
// first where none is current yet); an arrow that would leave the items keeps the current one.
// -1 for any other key, and for any key with a modifier other than the keypad's.
qsizetype steppedItem(const QKeyEvent *event, qsizetype current, qsizetype count, qsizetype columns);

// Sets a label's or field's text only when it differs, so carets and selections survive refreshes.
template <typename Widget> void setTextIfChanged(Widget *widget, const QString &text) {
    if (widget->text() != text)
        widget->setText(text);
}
