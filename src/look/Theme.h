#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

// The colours and type of the windows. A design point is one logical pixel.
namespace Theme {

inline QColor accent() {
    return QColor(0x14, 0x6B, 0xF5);
}
inline QColor surface() {
    return QColor(0xFF, 0xFF, 0xFF);
}
inline QColor ink() {
    return QColor(0x13, 0x1B, 0x29);
}
inline QColor canvas() {
    return QColor(0xF0, 0xF1, 0xF3);
}
inline QColor secondaryInk() {
    return QColor(0x57, 0x61, 0x70);
}
inline QColor hairline() {
    return QColor(0xE0, 0xE3, 0xE8);
}
// Text of a control that cannot be used now: light enough to read as unavailable.
inline QColor disabledInk() {
    return QColor(0xA0, 0xA6, 0xAF);
}

// The light palette of the whole application, on top of the style's own. Disabled text in every
// role uses disabledInk, so disabled menu entries and buttons look disabled.
QPalette palette(const QPalette &base);

// The interface font (Inter where installed) at a size in design points.
QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);

} // namespace Theme
