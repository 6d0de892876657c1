#pragma once

#include <QRectF>

class QPainter;
class QWidget;

// The one look of keyboard focus: every control that has the keyboard shows this frame, so the
// user sees where a key goes.
namespace FocusFrame {

// Paints the frame along the inside of `rect` (the control's own rectangle), rounded like the
// control: an accent ring with a white line inside it, so it shows on white, grey and accent faces
// alike. Painted last, over the control's face.
void paint(QPainter &painter, const QRectF &rect, qreal radius);

// The rule for the whole application: the control of Qt's own kinds that has the keyboard (push
// and tool buttons, check boxes, radio buttons, text fields, spin boxes, combo boxes, sliders, tab
// bars, item views) shows the frame, along its edge or, where it has none, around it; the style's
// own focus cues are switched off, so the frame is the only one. Our own controls paint the frame
// themselves and are left alone. Installed once at launch; more calls change nothing.
void install();

// Frames a control of another kind (a button of our own painted by the style) the same way while
// it has the keyboard, with the corner radius of its face; it also sets the radius for a control
// the rule frames anyway. Attaching again changes only the radius: the frame is shown once.
void attach(QWidget *control, qreal radius);

} // namespace FocusFrame
