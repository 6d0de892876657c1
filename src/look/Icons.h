#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// Icons are looked up by the symbol names the design uses ("arrow.up.right", "text.bubble", …);
// each has its own SVG under resources/icons, drawn on a 24 × 24 grid with round 1.75 strokes in
// ink (#131B29), so one tint rule fits all.
QIcon symbolIcon(const QString &name);
// The icon in another colour (white on the accent, secondary ink, …); null when there is no icon.
QIcon symbolIcon(const QString &name, const QColor &color);
QPixmap symbolPixmap(const QString &name, QSize size, const QColor &color, qreal devicePixelRatio);
