#include "annotation/AnnotationViewport.h"

#include "annotation/AnnotationCanvas.h"
#include "look/FocusFrame.h"

#include <QApplication>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>

namespace {
const QColor kBackground = QColor::fromRgbF(0.93f, 0.93f, 0.93f);

// The canvas's soft shadow: black at 0.14 spread over 14 points, 3 points down.
constexpr int kShadowRadius = 14;
constexpr int kShadowOffset = 3;

// Everything the shadow of a canvas at `canvas` may touch, with a point to spare for rounding.
QRect shadowBounds(const QRect &canvas) {
    constexpr int reach = kShadowRadius + 2;
    return canvas.adjusted(-reach, -reach + kShadowOffset, reach, reach + kShadowOffset);
}

void paintShadow(QPainter &painter, const QRectF &frame) {
    constexpr int kRadius = kShadowRadius;
    constexpr double kOpacity = 0.14;
    painter.setPen(Qt::NoPen);
    const QRectF base = frame.translated(0, kShadowOffset);
    for (int i = kRadius; i >= 1; --i) {
        // Each ring adds a little darkness, so the sum falls off smoothly towards the outside.
        const double share = kOpacity * 2 * (kRadius - i + 1) / (kRadius * (kRadius + 1.0));
        QColor color(0, 0, 0);
        color.setAlphaF(float(share));
        painter.setBrush(color);
        painter.drawRoundedRect(base.adjusted(-i, -i, i, i), i, i);
    }
}

bool sameLineIds(const RecognizedTextLines &a, const RecognizedTextLines &b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i].id != b[i].id)
            return false;
    return true;
}

// A dialog of the window (the text form) keeps the keyboard while it is open.
bool dialogOpen(const QWidget *widget) {
    const QWidget *modal = QApplication::activeModalWidget();
    return modal && modal != widget->window();
}
} // namespace

// The scrollable document: the grey background, the canvas's shadow, and hand panning over the
// margin around the image.
class AnnotationViewport::Document : public QWidget {
public:
    Document(AnnotationViewport *owner) : QWidget(nullptr), m_owner(owner) {}
    bool hand = false;

    void setHand(bool on) {
        hand = on;
        setCursor(on ? Qt::OpenHandCursor : Qt::ArrowCursor);
    }

protected:
    void paintEvent(QPaintEvent *event) override {
        QPainter painter(this);
        painter.fillRect(event->rect(), kBackground);
        const QRect canvas = m_owner->m_canvas->geometry();
        if (!m_owner->m_canvas->isVisible())
            return;
        // The opaque canvas covers the shadow's inside; only the ring around it is painted.
        const QRegion ring = QRegion(shadowBounds(canvas)) - QRegion(canvas);
        painter.setClipRegion(ring & event->region());
        painter.setRenderHint(QPainter::Antialiasing);
        paintShadow(painter, canvas);
    }
    void mousePressEvent(QMouseEvent *event) override {
        if (event->button() == Qt::LeftButton && m_owner->pan(event, true))
            return;
        QWidget::mousePressEvent(event);
    }
    void mouseMoveEvent(QMouseEvent *event) override {
        if ((event->buttons() & Qt::LeftButton) && m_owner->pan(event, false))
            return;
        QWidget::mouseMoveEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent *) override {
        // The open hand returns after a pan.
        setHand(hand);
    }

private:
    AnnotationViewport *m_owner;
};

// The frame that shows the canvas has the keyboard: around the image where the view shows it
// whole, along the edges of the view where the image fills it. A widget of its own over the view
// (the canvas paints every pixel of the image, and the document scrolls away).
class AnnotationViewport::FocusRing : public QWidget {
public:
    explicit FocusRing(QWidget *parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }
    // `frame` in the parent's coordinates; the ring is its outer band.
    void place(const QRect &frame) {
        if (frame == geometry())
            return;
        setGeometry(frame);
        setMask(QRegion(rect()) - QRegion(rect().adjusted(kBand, kBand, -kBand, -kBand)));
    }
    static constexpr int kBand = 4;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        FocusFrame::paint(painter, QRectF(rect()), 0);
    }
};

AnnotationViewport::AnnotationViewport(AnnotatedCapture configuration, QWidget *parent)
    : QScrollArea(parent), m_document(new Document(this)),
      m_canvas(new AnnotationCanvas(std::move(configuration), m_document)), m_focusRing(new FocusRing(this)) {
    // The canvas is the control here; the view around it has no keys of its own to offer.
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Window, kBackground);
    viewport()->setPalette(palette);
    viewport()->setAutoFillBackground(true);
    setWidget(m_document);
    const auto hook = [this](QMouseEvent *event, bool begin) { return pan(event, begin); };
    m_canvas->setPanGesture(hook);
    m_observedSelection = m_canvas->configuration().selection;
    m_canvas->installEventFilter(this);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &AnnotationViewport::placeFocusRing);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &AnnotationViewport::placeFocusRing);
}

void AnnotationViewport::placeFocusRing() {
    // Like the style's own focus frames: shown once the window is used by keyboard.
    const bool shown = m_canvas->hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange);
    if (shown) {
        const QRect image(m_canvas->mapTo(this, QPoint()), m_canvas->size());
        const int band = FocusRing::kBand;
        m_focusRing->place(image.adjusted(-band, -band, band, band) & viewport()->geometry());
        m_focusRing->raise();
    }
    m_focusRing->setVisible(shown);
}

bool AnnotationViewport::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_canvas && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        placeFocusRing();
    return QScrollArea::eventFilter(watched, event);
}

AnnotationViewport::~AnnotationViewport() = default;

void AnnotationViewport::apply(AnnotatedCapture configuration, std::optional<double> zoom, bool hand) {
    const AnnotatedCapture &current = m_canvas->configuration();
    const bool toolChanged = configuration.tool != current.tool;
    if (toolChanged || hand != m_hand || !sameLineIds(configuration.recognizedLines, current.recognizedLines))
        m_canvas->discardGesture();
    const bool focus = configuration.selection != m_observedSelection || toolChanged;
    m_observedSelection = configuration.selection;
    m_canvas->setConfiguration(std::move(configuration));
    m_canvas->setPanning(hand);
    m_hand = hand;
    m_document->setHand(hand);
    const bool kept = m_keeper && m_keeper->hasFocus();
    if (focus && isVisible() && !dialogOpen(this) && !kept)
        m_canvas->setFocus(Qt::OtherFocusReason);
    m_requestedZoom = zoom;
    refresh();
}

QPointF AnnotationViewport::relativeCentre(QSize view) const {
    if (!m_geometry || !(m_geometry->imageFrame.width() > 0) || !(m_geometry->imageFrame.height() > 0))
        return {0.5, 0.5};
    const QPointF centre(horizontalScrollBar()->value() + view.width() / 2.0,
                         verticalScrollBar()->value() + view.height() / 2.0);
    return {(centre.x() - m_geometry->imageFrame.x()) / m_geometry->imageFrame.width(),
            (centre.y() - m_geometry->imageFrame.y()) / m_geometry->imageFrame.height()};
}

void AnnotationViewport::refresh(std::optional<QPointF> centre) {
    // Resizing the document shows or hides scroll bars, which resizes the view again; that
    // happens inside this call and is laid out by the next round, for the same image point.
    if (m_refreshing) {
        m_again = true;
        return;
    }
    m_refreshing = true;
    const QPointF keep = centre ? *centre : relativeCentre(viewport()->size());
    for (int round = 0; round < 4; ++round) {
        m_again = false;
        layoutOnce(keep);
        if (!m_again)
            break;
    }
    m_refreshing = false;
}

void AnnotationViewport::layoutOnce(QPointF centre) {
    const QSize view = viewport()->size();
    if (view.width() <= 0 || view.height() <= 0)
        return;
    const AnnotationViewportGeometry g = AnnotationViewportGeometry::make(
        QSizeF(m_canvas->configuration().image.size()), QSizeF(view), m_requestedZoom);
    if (m_geometry && m_geometry->imageFrame == g.imageFrame) {
        const bool same = m_lastViewport == view;
        m_lastViewport = view;
        if (same)
            return;
    }
    m_lastViewport = view;
    m_geometry = g;
    const QSize document(int(std::ceil(g.documentSize.width())), int(std::ceil(g.documentSize.height())));
    m_document->resize(document);
    const QRect before = m_canvas->geometry();
    const QRect after = g.imageFrame.toRect();
    m_canvas->setGeometry(after);
    if (before != after) {
        // Moving the canvas repaints only the area it left; its shadow around the old and the
        // new place is the document's own painting and must be redrawn as well, or every
        // smaller zoom step leaves the old frame behind.
        m_document->update(QRegion(shadowBounds(before)) - QRegion(after));
        m_document->update(QRegion(shadowBounds(after)) - QRegion(after));
    }
    // The ranges follow the document at once, also while the view is hidden.
    horizontalScrollBar()->setRange(0, std::max(0, document.width() - view.width()));
    verticalScrollBar()->setRange(0, std::max(0, document.height() - view.height()));
    horizontalScrollBar()->setPageStep(view.width());
    verticalScrollBar()->setPageStep(view.height());

    QPointF target;
    if (m_requestedZoom)
        target = QPointF(g.imageFrame.x() + centre.x() * g.imageFrame.width() - view.width() / 2.0,
                         g.imageFrame.y() + centre.y() * g.imageFrame.height() - view.height() / 2.0);
    else
        target = QPointF((g.documentSize.width() - view.width()) / 2,
                         (g.documentSize.height() - view.height()) / 2);
    horizontalScrollBar()->setValue(int(std::lround(target.x())));
    verticalScrollBar()->setValue(int(std::lround(target.y())));
    placeFocusRing();
    m_canvas->update();
    const double scale = g.scale;
    QTimer::singleShot(0, this, [this, scale] { m_reportZoom(scale); });
}

void AnnotationViewport::showEvent(QShowEvent *event) {
    QScrollArea::showEvent(event);
    refresh();
}

void AnnotationViewport::zoomTo(double zoom) {
    m_requestedZoom = zoom;
    refresh();
    m_changeZoom(zoom);
}

void AnnotationViewport::wheelEvent(QWheelEvent *event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QScrollArea::wheelEvent(event);
        return;
    }
    // One notch of the wheel is one step of the zoom buttons; finer wheels zoom finer.
    const double notches = event->angleDelta().y() / 120.0;
    const double scale = m_geometry ? m_geometry->scale : 1.0;
    if (notches != 0)
        zoomTo(std::clamp(scale * std::pow(1.25, notches), AnnotationViewportGeometry::kMinimumZoom,
                          AnnotationViewportGeometry::kMaximumZoom));
    event->accept();
}

bool AnnotationViewport::viewportEvent(QEvent *event) {
    if (event->type() == QEvent::Resize) {
        // The scroll values still belong to the old size: keep the image point that was in the
        // middle of it.
        const QPointF centre = relativeCentre(m_lastViewport.isValid() ? m_lastViewport : viewport()->size());
        const bool handled = QScrollArea::viewportEvent(event);
        if (viewport()->size() != m_lastViewport)
            refresh(centre);
        return handled;
    }
    if (event->type() == QEvent::NativeGesture) {
        const auto *gesture = static_cast<QNativeGestureEvent *>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            const double scale = m_geometry ? m_geometry->scale : 1.0;
            zoomTo(std::clamp(scale * (1 + gesture->value()), AnnotationViewportGeometry::kMinimumZoom,
                              AnnotationViewportGeometry::kMaximumZoom));
            return true;
        }
    }
    return QScrollArea::viewportEvent(event);
}

bool AnnotationViewport::pan(QMouseEvent *event, bool begin) {
    if (!m_hand)
        return false;
    const QPointF p = event->globalPosition();
    if (begin) {
        m_panStart = p;
        m_panOrigin = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
        m_canvas->setFocus(Qt::MouseFocusReason);
    } else {
        // The content follows the pointer on both axes.
        const QPointF delta = p - m_panStart;
        horizontalScrollBar()->setValue(int(std::lround(m_panOrigin.x() - delta.x())));
        verticalScrollBar()->setValue(int(std::lround(m_panOrigin.y() - delta.y())));
    }
    m_canvas->setCursor(Qt::ClosedHandCursor);
    m_document->setCursor(Qt::ClosedHandCursor);
    return true;
}
