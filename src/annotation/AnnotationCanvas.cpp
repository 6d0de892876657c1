#include "annotation/AnnotationCanvas.h"

#include "export/MarkRenderer.h"

#include <QPainter>

// Placeholder drawing until the canvas is built: the image and its marks, nothing interactive.
AnnotationCanvas::AnnotationCanvas(AnnotatedCapture configuration, QWidget *parent)
    : QWidget(parent), m_configuration(std::move(configuration)) {
    setAttribute(Qt::WA_TransparentForMouseEvents, !m_configuration.editable);
    setFocusPolicy(m_configuration.editable ? Qt::ClickFocus : Qt::NoFocus);
}

AnnotationCanvas::~AnnotationCanvas() = default;

void AnnotationCanvas::setConfiguration(AnnotatedCapture configuration) {
    m_configuration = std::move(configuration);
    update();
}

void AnnotationCanvas::discardGesture() {
    update();
}

void AnnotationCanvas::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_configuration.image);
    MarkRenderer::draw(m_configuration.marks, painter, size());
}
