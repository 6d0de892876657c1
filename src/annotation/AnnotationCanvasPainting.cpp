#include "annotation/AnnotationCanvas.h"

#include "export/MarkRenderer.h"
#include "model/MarkGeometry.h"
#include "model/MarkLayers.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {
// The editing aids are drawn in the system's selection blue, apart from every mark colour.
const QColor kAidBlue(0, 122, 255);
// Under an editable canvas's transparent pixels: the viewport's own background.
const QColor kViewportBackground = QColor::fromRgbF(0.93f, 0.93f, 0.93f);
constexpr double kPreviewCornerRadius = 6;
// Beyond the visible area the kept frame reaches this far, so small scrolls reuse it.
constexpr int kSceneMargin = 256;

QImage layer(QSize logical, qreal ratio) {
    QImage image((QSizeF(logical) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    return image;
}
} // namespace

QRectF AnnotationCanvas::imageRect() const {
    const QRectF bounds = rect();
    const QSize image = m_configuration.image.size();
    if (m_configuration.editable || image.isEmpty() || bounds.isEmpty())
        return bounds;
    const QSizeF fitted = QSizeF(image).scaled(bounds.size(), Qt::KeepAspectRatio);
    const QRectF r(bounds.center() - QPointF(fitted.width(), fitted.height()) / 2, fitted);
    return QRectF(r.toRect());
}

MarkList AnnotationCanvas::drawnList(QSet<QUuid> *live) const {
    MarkList drawn = m_configuration.marks;
    if (!m_textRegions.isEmpty()) {
        const MarkList preview = TextMarkerSelection::marks(
            m_textRegions, m_configuration.drawingColor.value_or(MarkColor::Yellow));
        for (const Mark &mark : preview)
            live->insert(mark.id);
        drawn.append(preview);
    }
    if (m_draft) {
        live->insert(m_draft->id);
        const auto found =
            std::find_if(drawn.begin(), drawn.end(), [&](const Mark &m) { return m.id == m_draft->id; });
        if (found != drawn.end())
            *found = *m_draft;
        else
            drawn.append(*m_draft);
    }
    return drawn;
}

void AnnotationCanvas::paintMarks(QPainter &painter, const MarkList &marks, const QRect &area) {
    const QRectF image = imageRect();
    const QSizeF size = image.size();
    const QSize device = (size * devicePixelRatioF()).toSize();
    // Marks wholly outside the repainted area are left out; the renderer would paint nothing of
    // them but still pay for their paths and text.
    const QRectF local = QRectF(area).translated(-image.topLeft());
    MarkList visible;
    visible.reserve(marks.size());
    for (const Mark &mark : marks)
        if (MarkRenderer::drawnBounds(mark, size).intersects(local))
            visible.append(mark);
    if (visible.isEmpty())
        return;
    painter.save();
    painter.translate(image.topLeft());
    MarkRenderer::draw(visible, painter, size, [this, size, device](double radius, const QRect &) {
        return m_blurs.lookup(m_levels, radius, size, device);
    });
    painter.restore();
}

// Builds the kept frame for `needed`: the picture and the marks order[0, below) in one layer, the
// marks order[size − above, size) in another.
void AnnotationCanvas::prepareScene(const QRect &needed, const MarkList &order, qsizetype below,
                                    qsizetype above) {
    const qreal ratio = devicePixelRatioF();
    const SceneKey key{m_generation, below, above, size(), ratio};
    if (key == m_sceneKey && m_sceneRect.contains(needed))
        return;
    const QRectF image = imageRect();
    const QRect area =
        needed.adjusted(-kSceneMargin, -kSceneMargin, kSceneMargin, kSceneMargin) & image.toAlignedRect();
    m_sceneKey = key;
    m_sceneRect = area;

    m_below = layer(area.size(), ratio);
    {
        QPainter painter(&m_below);
        painter.translate(-area.topLeft());
        if (m_configuration.editable)
            painter.fillRect(area, kViewportBackground);
        const QSize device = (image.size() * ratio).toSize();
        const ImageLevels::Pick pick = m_levels.pick(device);
        if (!pick.exact)
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(image, pick.image);
        paintMarks(painter, order.mid(0, below), area);
    }
    if (above > 0) {
        m_above = layer(area.size(), ratio);
        QPainter painter(&m_above);
        painter.translate(-area.topLeft());
        paintMarks(painter, order.mid(order.size() - above), area);
    } else {
        m_above = QImage();
    }
}

void AnnotationCanvas::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    const QRectF image = imageRect();
    if (m_configuration.image.isNull() || image.isEmpty()) {
        if (m_configuration.editable)
            painter.fillRect(event->rect(), kViewportBackground);
        return;
    }
    if (m_configuration.editable && image != QRectF(rect()))
        painter.fillRect(event->rect(), kViewportBackground);
    if (!m_configuration.editable) {
        QPainterPath rounded;
        rounded.addRoundedRect(image, kPreviewCornerRadius, kPreviewCornerRadius);
        painter.setClipPath(rounded);
    }

    // Only the live part of a gesture (the draft, the marker's preview) is drawn afresh; the marks
    // beneath and above it come from the kept frame.
    QSet<QUuid> live;
    const MarkList drawn = drawnList(&live);
    const MarkList order = Marks::renderingOrder(drawn);
    qsizetype first = -1, last = -1;
    for (qsizetype i = 0; i < order.size() && !live.isEmpty(); ++i) {
        if (live.contains(order[i].id)) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    const qsizetype below = first < 0 ? order.size() : first;
    const qsizetype above = first < 0 ? 0 : order.size() - 1 - last;

    QRect needed = visibleRegion().boundingRect();
    needed = needed.isEmpty() ? event->rect() : needed.united(event->rect());
    needed &= image.toAlignedRect();
    if (needed.isEmpty())
        return;
    prepareScene(needed, order, below, above);
    painter.drawImage(m_sceneRect.topLeft(), m_below);
    if (first >= 0)
        paintMarks(painter, order.mid(first, last - first + 1), needed);
    if (!m_above.isNull())
        painter.drawImage(m_sceneRect.topLeft(), m_above);
    paintAids(painter, drawn);
}

void AnnotationCanvas::paintAids(QPainter &painter, const MarkList &drawn) {
    const QRectF image = imageRect();
    const double w = image.width(), h = image.height();
    const auto toView = [&](const QRectF &n) {
        return QRectF(image.x() + n.x() * w, image.y() + n.y() * h, n.width() * w, n.height() * h);
    };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_configuration.editable && m_configuration.selection) {
        const auto found = std::find_if(drawn.cbegin(), drawn.cend(),
                                        [&](const Mark &m) { return m.id == *m_configuration.selection; });
        if (found != drawn.cend()) {
            const Mark &mark = *found;
            QPen pen(kAidBlue, 1);
            pen.setDashPattern({4, 3});
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            const QRectF frame = MarkGeometry::bounds(mark, image.size()).translated(image.topLeft());
            painter.drawRect(frame.adjusted(-3, -3, 3, 3));
            painter.setPen(QPen(kAidBlue, 1));
            painter.setBrush(Qt::white);
            QList<QPointF> handles{{mark.x1, mark.y1}, {mark.x2, mark.y2}};
            if (mark.kind == MarkKind::Callout)
                handles.append(mark.arrowTip());
            for (const QPointF &n : handles)
                painter.drawEllipse(QRectF(image.x() + n.x() * w - 4, image.y() + n.y() * h - 4, 8, 8));
        }
    }
    if (!m_configuration.recognizedLines.isEmpty()) {
        QColor underline = kAidBlue;
        underline.setAlphaF(0.45f);
        painter.setPen(QPen(underline, 1));
        QPainterPath path;
        for (const RecognizedTextLine &line : m_configuration.recognizedLines) {
            const QRectF r = toView(line.rect);
            path.moveTo(r.left(), r.bottom() + 2);
            path.lineTo(r.right(), r.bottom() + 2);
        }
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }
    if (m_configuration.focusRect) {
        QColor fill = kAidBlue;
        fill.setAlphaF(0.12f);
        const QRectF r = toView(*m_configuration.focusRect);
        painter.fillRect(r, fill);
        painter.setPen(QPen(kAidBlue, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(r);
    }
    painter.restore();
}
