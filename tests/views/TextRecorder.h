#pragma once

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QStringList>
#include <QTextItem>
#include <QWidget>

// A paint device that keeps the texts drawn on it and nothing else, to read what a widget
// paints as words rather than as pixels.
class TextRecorder : public QPaintDevice {
public:
    explicit TextRecorder(QSize size) : m_size(size) {}

    // The texts `widget` paints, in the order it paints them.
    static QStringList texts(QWidget *widget) {
        TextRecorder recorder(widget->size());
        recorder.record(widget);
        return recorder.m_engine.texts;
    }

    struct Placed {
        QString text;
        qreal left = 0; // in the widget
        qreal width = 0;
        qreal baseline = 0;
    };
    // The same with where each one starts: a line that mixes directions is painted in runs.
    static QList<Placed> placedTexts(QWidget *widget) {
        TextRecorder recorder(widget->size());
        recorder.record(widget);
        return recorder.m_engine.placed;
    }

    QPaintEngine *paintEngine() const override { return &m_engine; }

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth:
            return m_size.width();
        case PdmHeight:
            return m_size.height();
        case PdmWidthMM:
            return m_size.width() * 254 / 960;
        case PdmHeightMM:
            return m_size.height() * 254 / 960;
        case PdmNumColors:
            return INT_MAX;
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    // With the widget's own direction, as its painter on screen has it: a painter on another
    // device would lay every text out in the direction of its first letter.
    void record(QWidget *widget) {
        QPainter painter(this);
        painter.setLayoutDirection(widget->layoutDirection());
        widget->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    }

    struct Engine : QPaintEngine {
        QStringList texts;
        QList<Placed> placed;
        Engine() : QPaintEngine(AllFeatures) {}
        bool begin(QPaintDevice *) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState &) override {}
        void drawTextItem(const QPointF &position, const QTextItem &item) override {
            texts << item.text();
            const QPointF at = painter()->deviceTransform().map(position);
            placed.append({item.text(), at.x(), item.width(), at.y()});
        }
        void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
        void drawImage(const QRectF &, const QImage &, const QRectF &, Qt::ImageConversionFlags) override {}
        void drawTiledPixmap(const QRectF &, const QPixmap &, const QPointF &) override {}
        void drawPath(const QPainterPath &) override {}
        void drawPolygon(const QPointF *, int, PolygonDrawMode) override {}
        void drawRects(const QRectF *, int) override {}
        void drawLines(const QLineF *, int) override {}
        void drawEllipse(const QRectF &) override {}
        void drawPoints(const QPointF *, int) override {}
        Type type() const override { return User; }
    };
    QSize m_size;
    mutable Engine m_engine;
};
