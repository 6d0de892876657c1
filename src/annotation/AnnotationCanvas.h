#pragma once

#include "annotation/AnnotatedCapture.h"

#include <QWidget>

// Draws a snip image with its marks; read-only in previews, editable inside the mark editor.
class AnnotationCanvas : public QWidget {
    Q_OBJECT

public:
    explicit AnnotationCanvas(AnnotatedCapture configuration, QWidget *parent = nullptr);
    ~AnnotationCanvas() override;

    const AnnotatedCapture &configuration() const { return m_configuration; }
    // Replaces the whole configuration; a change of tool drops the gesture in progress.
    void setConfiguration(AnnotatedCapture configuration);
    // Forgets the gesture in progress; leaves the selection alone.
    void discardGesture();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    AnnotatedCapture m_configuration;
};
