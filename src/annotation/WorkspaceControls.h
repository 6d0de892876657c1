#pragma once

#include "model/Mark.h"

#include <QAbstractButton>
#include <QFont>
#include <QPalette>
#include <QString>

class QFrame;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;

// A square tool button of the editor: the symbol centred in 42 × 42, white on the accent while
// its mode is active, ink otherwise. Help text and accessible name are the title.
class ToolButton : public QAbstractButton {
    Q_OBJECT

public:
    ToolButton(const QString &title, const QString &symbol, QWidget *parent = nullptr);
    void setSymbol(const QString &symbol);
    QString symbol() const { return m_symbol; }
    void setActive(bool active);
    bool isActive() const { return m_active; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    bool m_active = false;
};

// One colour of the style controls: a 22-point disc with a faint inner border, ringed in the
// accent while it is the current colour.
class ColorSwatch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ColorSwatch(MarkColor color, QWidget *parent = nullptr);
    MarkColor color() const { return m_color; }
    void setCurrent(bool current);
    bool isCurrent() const { return m_current; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    MarkColor m_color;
    bool m_current = false;
};

// The one accent colour of the editor (buttons, rings, the selected layer).
QColor editorAccent();

// The editor's texts: the interface font at a size in design points, in ink or secondary ink,
// wrapping unless told otherwise.
QLabel *editorLabel(const QString &text, int size, QFont::Weight weight, bool secondary, QWidget *parent,
                    bool wrap = true);
// A layout filling `widget` edge to edge, `spacing` apart (the style's spacing when negative).
QVBoxLayout *columnLayout(QWidget *widget, int spacing);
QHBoxLayout *rowLayout(QWidget *widget, int spacing);
// A hairline between areas; `length` fixes a vertical line's height.
QFrame *hairline(QWidget *parent, Qt::Orientation orientation, int length = 0);
// Views refresh often; these write only what changed, so nothing repaints or loses its state.
void setTextIfChanged(QLabel *label, const QString &text);
void setTextIfChanged(QAbstractButton *button, const QString &text);
void setColorIfChanged(QWidget *widget, QPalette::ColorRole role, const QColor &color);
