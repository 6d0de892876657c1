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

// For a control its style paints (a style-sheet button): the frame is painted over its face
// while it has the keyboard.
void attach(QWidget *control, qreal radius);

} // namespace FocusFrame
