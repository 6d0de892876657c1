// Frames of the mark canvas while one mark is dragged over a 4K screenshot with 300 marks, at fit
// in the editor's window and at 400 %. Then paints of a canvas whose one text box, of fixed size,
// holds 100 KB of text: the first, which fits the font size, and those after it.
#include "CanvasBenchSupport.h"

#include "annotation/AnnotationCanvas.h"

#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QThread>

#include <cstdio>

namespace {

void settle() {
    for (int i = 0; i < 40; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
}

struct Run {
    std::vector<double> frames;
    int blurs = 0;
};

// Drags the mark nearest to the visible centre for 120 frames, each painted at once.
Run dragFrames(QScrollArea &area, AnnotationCanvas *canvas) {
    const QPoint centre = canvas->mapFrom(area.viewport(), area.viewport()->rect().center());
    const QPointF n(double(centre.x()) / canvas->width(), double(centre.y()) / canvas->height());
    Mark target;
    double best = 1e9;
    for (const Mark &m : canvas->configuration().marks) {
        if (m.kind != MarkKind::Rectangle && m.kind != MarkKind::Arrow)
            continue;
        const double d = std::hypot(m.x1 - n.x(), m.y1 - n.y());
        if (d < best) {
            best = d;
            target = m;
        }
    }
    AnnotatedCapture c = canvas->configuration();
    c.selection = target.id;
    canvas->setConfiguration(c);
    canvas->repaint();
    const QPointF start(target.x1 * canvas->width(), target.y1 * canvas->height());
    const int blursBefore = canvas->blurCopiesMade();
    Run run;
    sendLeft(canvas, QEvent::MouseButtonPress, start, Qt::LeftButton);
    for (int frame = 0; frame < 120; ++frame) {
        sendLeft(canvas, QEvent::MouseMove, start + QPointF(frame * 1.5, frame * 0.7), Qt::LeftButton);
        QElapsedTimer timer;
        timer.start();
        canvas->repaint();
        run.frames.push_back(timer.nsecsElapsed() / 1e6);
    }
    sendLeft(canvas, QEvent::MouseButtonRelease, start + QPointF(180, 84), Qt::NoButton);
    run.blurs = canvas->blurCopiesMade() - blursBefore;
    return run;
}
// The first paint of a canvas with 100 KB of text in a small fixed box, then 60 frames while the
// box is dragged, each drawing it anew.
std::pair<double, std::vector<double>> longTextPaints() {
    QString text;
    while (text.size() < 100'000)
        text += QStringLiteral("Hier klicken, um die Einstellungen zu öffnen und den Export zu starten. ");
    AnnotatedCapture configuration;
    configuration.image = screenshotImage(1920, 1080, 5);
    configuration.editable = true;
    AnnotationCanvas canvas(configuration);
    canvas.resize(1200, 675);
    canvas.show();
    settle();
    Mark box = Mark::make(MarkKind::Text, 0.1, 0.1, 0.3, 0.2);
    box.text = text;
    box.fixedTextBox = true;
    configuration.marks = {box};
    configuration.selection = box.id;
    configuration.updateMark = [&](const Mark &m) {
        configuration.marks = {m};
        canvas.setConfiguration(configuration);
    };
    QElapsedTimer timer;
    timer.start();
    canvas.setConfiguration(configuration);
    canvas.repaint();
    const double first = timer.nsecsElapsed() / 1e6;
    const QPointF start(0.2 * canvas.width(), 0.15 * canvas.height());
    sendLeft(&canvas, QEvent::MouseButtonPress, start, Qt::LeftButton);
    std::vector<double> frames;
    for (int frame = 1; frame <= 60; ++frame) {
        sendLeft(&canvas, QEvent::MouseMove, start + QPointF(frame * 2, frame), Qt::LeftButton);
        timer.restart();
        canvas.repaint();
        frames.push_back(timer.nsecsElapsed() / 1e6);
    }
    sendLeft(&canvas, QEvent::MouseButtonRelease, start + QPointF(120, 60), Qt::NoButton);
    return {first, frames};
}

// Jumps to `scale` with the same image point in the middle, as a zoom step does, and times the
// first frame painted for it and the longest frame until the canvas has settled at the new size.
struct ZoomFrames {
    double first = 0;
    double longest = 0;
};
ZoomFrames zoomFrames(QScrollArea &area, AnnotationCanvas *canvas, double scale) {
    const QSize view = area.viewport()->size();
    const QPointF centre((area.horizontalScrollBar()->value() + view.width() / 2.0) / canvas->width(),
                         (area.verticalScrollBar()->value() + view.height() / 2.0) / canvas->height());
    canvas->resize(QSize(int(3840 * scale), int(2160 * scale)));
    area.horizontalScrollBar()->setValue(int(centre.x() * canvas->width() - view.width() / 2.0));
    area.verticalScrollBar()->setValue(int(centre.y() * canvas->height() - view.height() / 2.0));
    ZoomFrames result;
    for (int frame = 0; frame < 60; ++frame) {
        QElapsedTimer timer;
        timer.start();
        canvas->repaint();
        const double ms = timer.nsecsElapsed() / 1e6;
        if (frame == 0)
            result.first = ms;
        result.longest = std::max(result.longest, ms);
        // One display frame apart, while the kept frame for the new size is drawn in the background.
        QCoreApplication::processEvents();
        QThread::msleep(16);
    }
    settle();
    return result;
}
} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const double rssStart = rssMb();
    const QImage image = screenshotImage(3840, 2160, 11);

    QScrollArea area;
    area.resize(1380, 920);
    AnnotatedCapture configuration;
    configuration.image = image;
    configuration.marks = spreadMarks(5, 300, {8, 18, 32, 18, 8});
    configuration.editable = true;
    configuration.updateMark = [&](const Mark &m) {
        AnnotatedCapture next = configuration;
        for (Mark &mark : next.marks)
            if (mark.id == m.id)
                mark = m;
        configuration = next;
    };
    auto *canvas = new AnnotationCanvas(configuration);
    area.setWidget(canvas);
    area.show();

    const auto show = [&](double scale) {
        canvas->resize(QSize(int(3840 * scale), int(2160 * scale)));
        area.horizontalScrollBar()->setValue(area.horizontalScrollBar()->maximum() / 2);
        area.verticalScrollBar()->setValue(area.verticalScrollBar()->maximum() / 2);
        settle();
        canvas->repaint();
        settle();
    };

    const double fit = std::min((1380.0 - 96) / 3840, (920.0 - 96) / 2160);
    show(fit);
    const int blursAtOpen = canvas->blurCopiesMade();
    const Run atFit = dragFrames(area, canvas);
    const int blursBeforeZoom = canvas->blurCopiesMade();
    // Zoom jumps in both directions, and a step between two large sizes.
    std::vector<ZoomFrames> zooms;
    for (const double scale : {4.0, fit, 1.0, 4.0, 2.0, fit})
        zooms.push_back(zoomFrames(area, canvas, scale));
    show(4.0);
    const int blursAt400 = canvas->blurCopiesMade();
    const Run at400 = dragFrames(area, canvas);

    std::printf("paint_ms_median_fit: %.2f\n", median(atFit.frames));
    std::printf("paint_ms_p95_fit: %.2f\n", percentile(atFit.frames, 0.95));
    std::printf("paint_ms_median_400: %.2f\n", median(at400.frames));
    std::printf("paint_ms_p95_400: %.2f\n", percentile(at400.frames, 0.95));
    std::printf("paint_ms_median: %.2f\n", std::max(median(atFit.frames), median(at400.frames)));
    std::printf("paint_ms_p95: %.2f\n",
                std::max(percentile(atFit.frames, 0.95), percentile(at400.frames, 0.95)));
    double firstAfterZoom = 0, longestAfterZoom = 0;
    for (const ZoomFrames &z : zooms) {
        firstAfterZoom = std::max(firstAfterZoom, z.first);
        longestAfterZoom = std::max(longestAfterZoom, z.longest);
    }
    std::printf("first_frame_after_zoom_ms: %.2f\n", firstAfterZoom);
    std::printf("first_frame_after_zoom_ms_fit_to_400: %.2f\n", zooms[0].first);
    std::printf("longest_frame_after_zoom_ms: %.2f\n", longestAfterZoom);
    std::printf("blurs_computed: %d\n", canvas->blurCopiesMade());
    std::printf("blurs_at_open: %d\n", blursAtOpen);
    std::printf("blurs_after_zoom: %d\n", blursAt400 - blursBeforeZoom);
    std::printf("blurs_while_dragging: %d\n", atFit.blurs + at400.blurs);
    std::printf("rss_mb: %.1f\n", rssMb());
    std::printf("rss_growth_mb: %.1f\n", rssMb() - rssStart);

    const auto [firstFit, fitFrames] = longTextPaints();
    std::printf("fit_100kb_first_ms: %.1f\n", firstFit);
    std::printf("fit_100kb_ms: %.2f\n", median(fitFrames));
    return 0;
}
