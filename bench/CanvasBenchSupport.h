#pragma once

#include "BenchSupport.h"

#include "model/Mark.h"

#include <QCoreApplication>
#include <QFile>
#include <QMouseEvent>
#include <QWidget>

#include <optional>

// The resident memory of this process in MB.
inline double rssMb() {
    return statusMegabytes("VmRSS:");
}

inline double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

// `count` marks of every kind spread over the image, the first ones blurs with the given radii
// (near `blursAt` when given, so a zoomed view shows them).
inline MarkList spreadMarks(quint32 seed, int count, const std::vector<double> &blurRadii,
                            std::optional<QPointF> blursAt = std::nullopt) {
    QRandomGenerator random(seed);
    MarkList list;
    for (int i = 0; i < count; ++i) {
        MarkKind kind = MarkKinds::all()[size_t(random.bounded(13))];
        if (kind == MarkKind::Blur)
            kind = MarkKind::Rectangle;
        double x = random.bounded(0.9), y = random.bounded(0.9);
        const bool blur = size_t(i) < blurRadii.size();
        if (blur) {
            kind = MarkKind::Blur;
            if (blursAt) {
                x = blursAt->x() + 0.02 * i;
                y = blursAt->y();
            }
        }
        Mark m = Mark::make(kind, x, y, x + 0.02 + random.bounded(0.07), y + 0.02 + random.bounded(0.07));
        m.color = MarkColors::all()[size_t(random.bounded(7))];
        if (blur)
            m.blurRadius = blurRadii[size_t(i)];
        if (MarkKinds::isTextBox(kind))
            m.text = QStringLiteral("Hier klicken und prüfen");
        if (kind == MarkKind::Number)
            m.number = i + 1;
        list.append(m);
    }
    return list;
}

// A left-button press, drag or release, sent straight to the widget.
inline void sendLeft(QWidget *w, QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}
