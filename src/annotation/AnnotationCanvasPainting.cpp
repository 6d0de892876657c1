#include "annotation/AnnotationCanvas.h"

#include "common/Background.h"
#include "export/MarkRenderer.h"
#include "model/MarkGeometry.h"
#include "model/MarkLayers.h"

#include <QHash>
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

// Everything a kept frame is drawn from, copied, so it can be drawn on the background pool.
struct SceneInput {
    QImage picture;
    bool exact = false;
    QRectF image; // where the picture lies on the canvas
    QRect area;   // the part of the canvas the frame covers
    qreal ratio = 1;
    bool background = false;
    MarkList below;
    MarkList above;
    QHash<double, std::optional<BlurPatch>> blurs;
};

struct SceneLayers {
    QImage below;
    QImage above;
};

void drawMarks(QPainter &painter, const SceneInput &in, const MarkList &marks) {
    if (marks.isEmpty())
        return;
    painter.save();
    painter.translate(in.image.topLeft());
    MarkRenderer::draw(marks, painter, in.image.size(),
                       [&](double radius, const QRect &) { return in.blurs.value(radius); });
    painter.restore();
}

SceneLayers drawScene(const SceneInput &in) {
    SceneLayers layers;
    layers.below = layer(in.area.size(), in.ratio);
    {
        QPainter painter(&layers.below);
        painter.translate(-in.area.topLeft());
        if (in.background)
            painter.fillRect(in.area, kViewportBackground);
        if (!in.exact)
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(in.image, in.picture);
        drawMarks(painter, in, in.below);
    }
    if (!in.above.isEmpty()) {
        layers.above = layer(in.area.size(), in.ratio);
        QPainter painter(&layers.above);
        painter.translate(-in.area.topLeft());
        drawMarks(painter, in, in.above);
    }
    return layers;
}

// `r` of a frame laid out for `from`, moved and scaled with the image to `to`.
QRectF follow(const QRectF &r, const QRectF &from, const QRectF &to) {
    const double sx = to.width() / from.width(), sy = to.height() / from.height();
    return QRectF(to.x() + (r.x() - from.x()) * sx, to.y() + (r.y() - from.y()) * sy, r.width() * sx,
                  r.height() * sy);
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

// Marks wholly outside `area` are left out: the renderer would paint nothing of them but still pay
// for their paths and text.
MarkList AnnotationCanvas::visibleMarks(const MarkList &marks, const QRect &area) const {
    const QRectF image = imageRect();
    const QRectF local = QRectF(area).translated(-image.topLeft());
    MarkList visible;
    visible.reserve(marks.size());
    for (const Mark &mark : marks)
        if (MarkRenderer::drawnBounds(mark, image.size()).intersects(local))
            visible.append(mark);
    return visible;
}

BlurLookup AnnotationCanvas::blurLookup() {
    const QSizeF size = imageRect().size();
    const QSize device = (size * devicePixelRatioF()).toSize();
    return [this, size, device](double radius, const QRect &) {
        return m_blurs.lookup(m_levels, radius, size, device);
    };
}

// Keeps the frame beneath and above the live part of the drawing up to date for `needed`. A new
// mark list, or a scroll beyond the kept area, is drawn at once, so the next frame never shows an
// old list. A new size (zooming) or a sharper copy of the picture is always drawn on the
// background pool, never on the paint path: meanwhile the old frame is shown stretched to the new
// size, or, when the marks changed as well, the picture alone with the marks drawn over it.
void AnnotationCanvas::prepareScene(const QRect &needed, const MarkList &order, qsizetype below,
                                    qsizetype above) {
    const qreal ratio = devicePixelRatioF();
    const SceneKey key{m_contentGeneration, m_qualityGeneration, below, above, size(), ratio};
    if (m_scene.key == key && m_scene.area.contains(needed))
        return;
    const bool sameContent = !m_scene.below.isNull() && m_scene.key.content == key.content &&
                             m_scene.key.below == below && m_scene.key.above == above;
    const bool sameGeometry = m_scene.key.size == key.size && m_scene.key.ratio == key.ratio;
    const bool later =
        !m_scene.below.isNull() && (!sameGeometry || (sameContent && m_scene.area.contains(needed)));
    if (later && m_building)
        return;

    SceneInput in;
    const QRectF image = imageRect();
    in.image = image;
    in.area =
        needed.adjusted(-kSceneMargin, -kSceneMargin, kSceneMargin, kSceneMargin) & image.toAlignedRect();
    in.ratio = ratio;
    in.background = m_configuration.editable;
    const ImageLevels::Pick pick = m_levels.pick((image.size() * ratio).toSize());
    in.picture = pick.image;
    in.exact = pick.exact;
    in.below = visibleMarks(order.mid(0, below), in.area);
    in.above = visibleMarks(order.mid(order.size() - above), in.area);
    const BlurLookup lookup = blurLookup();
    for (const MarkList *list : {&in.below, &in.above})
        for (const Mark &mark : *list)
            if (mark.kind == MarkKind::Blur && !in.blurs.contains(mark.effectiveBlurRadius()))
                in.blurs.insert(mark.effectiveBlurRadius(), lookup(mark.effectiveBlurRadius(), QRect()));

    if (!later) {
        ++m_framesDrawnWhilePainting;
        const SceneLayers layers = drawScene(in);
        m_scene = {layers.below, layers.above, in.area, image, key};
        return;
    }
    m_building = true;
    Background::run(
        this, [in] { return drawScene(in); },
        [this, in, key](const SceneLayers &layers) {
            m_building = false;
            // A frame for an older list is of no use; one for an older size still is, as the
            // stretched stand-in until the next one.
            if (key.content == m_contentGeneration)
                m_scene = {layers.below, layers.above, in.area, in.image, key};
            update();
        });
}

void AnnotationCanvas::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    const QRectF image = imageRect();
    if (m_configuration.image.isNull() || image.isEmpty()) {
        if (m_configuration.editable)
            painter.fillRect(event->rect(), kViewportBackground);
        return;
    }
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

    const QRectF target = follow(m_scene.area, m_scene.image, image);
    const bool stretched = target != QRectF(m_scene.area);
    const bool current = m_scene.key.content == m_contentGeneration && m_scene.key.below == below &&
                         m_scene.key.above == above;
    if (m_configuration.editable && (stretched || !current || image != QRectF(rect())))
        painter.fillRect(event->rect(), kViewportBackground);
    if (!current) {
        // Zoomed while the marks changed: the kept frame shows old marks, so the picture alone
        // stands in, with every mark drawn over it, until the frame for the new size arrives.
        painter.drawImage(image, m_levels.nearest((image.size() * devicePixelRatioF()).toSize() / 2));
        paintLive(painter, visibleMarks(order, needed));
        paintAids(painter, drawn);
        return;
    }
    if (stretched) {
        // A stand-in for a frame or two while zooming: plain sampling keeps each step cheap.
        // Parts the old frame does not reach show the picture alone for a moment.
        if (!target.contains(QRectF(needed))) {
            painter.drawImage(image, m_levels.nearest((image.size() * devicePixelRatioF()).toSize() / 2));
        }
    }
    painter.drawImage(target, m_scene.below);
    if (first >= 0)
        paintLive(painter, visibleMarks(order.mid(first, last - first + 1), needed));
    if (!m_scene.above.isNull())
        painter.drawImage(target, m_scene.above);
    paintAids(painter, drawn);
}

void AnnotationCanvas::paintLive(QPainter &painter, const MarkList &marks) {
    if (marks.isEmpty())
        return;
    const QRectF image = imageRect();
    painter.save();
    painter.translate(image.topLeft());
    MarkRenderer::draw(marks, painter, image.size(), blurLookup());
    painter.restore();
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
