#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

// Whether a control shows that it has the keyboard, told from two pictures of it: one while it
// has the keyboard, one without.
namespace FocusPictures {

// How many pixels of the band along the inside of `rect` differ clearly between the pictures: a
// focus frame that can be seen changes much of that band, one in the colour of the face beneath
// it changes nothing.
inline int changedAlongEdge(const QImage &a, const QImage &b, const QRect &rect) {
    constexpr int band = 4;
    int changed = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (x >= rect.left() + band && x <= rect.right() - band && y >= rect.top() + band &&
                y <= rect.bottom() - band)
                continue;
            const QColor p = a.pixelColor(x, y);
            const QColor q = b.pixelColor(x, y);
            if (qAbs(p.red() - q.red()) + qAbs(p.green() - q.green()) + qAbs(p.blue() - q.blue()) >= 120)
                ++changed;
        }
    }
    return changed;
}

inline bool framed(const QImage &withFocus, const QImage &without, const QRect &rect) {
    return changedAlongEdge(withFocus, without, rect) >= rect.width() + rect.height();
}

} // namespace FocusPictures
