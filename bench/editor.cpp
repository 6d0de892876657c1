// The mark editor on a 4K screenshot with 200 marks: opening, zooming with Ctrl+wheel from 25 %
// to 400 %, and dragging a blur mark at fit and at 400 %.
#include "CanvasBenchSupport.h"

#include "annotation/AnnotationCanvas.h"
#include "annotation/AnnotationSession.h"
#include "annotation/AnnotationViewport.h"
#include "annotation/AnnotationWorkspace.h"
#include "store/CollectionStore.h"

#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QWheelEvent>

#include <cstdio>
#include <ctime>

namespace {

// Time the main thread itself spent, apart from waiting for a core on a busy machine.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void settle(int ms = 400) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
}

// Drags the first blur mark by small steps; each frame handles the move and repaints the view.
std::vector<double> dragBlur(AnnotationWorkspace &workspace, const Mark &blur) {
    AnnotationCanvas *canvas = workspace.viewport()->canvas();
    workspace.session()->setSelection(blur.id);
    settle(100);
    const QPointF start((blur.x1 + blur.x2) / 2 * canvas->width(),
                        (blur.y1 + blur.y2) / 2 * canvas->height());
    std::vector<double> frames;
    sendLeft(canvas, QEvent::MouseButtonPress, start, Qt::LeftButton);
    for (int frame = 1; frame <= 120; ++frame) {
        QElapsedTimer timer;
        timer.start();
        sendLeft(canvas, QEvent::MouseMove, start + QPointF(frame * 0.5, frame * 0.25), Qt::LeftButton);
        workspace.viewport()->viewport()->repaint();
        frames.push_back(timer.nsecsElapsed() / 1e6);
    }
    sendLeft(canvas, QEvent::MouseButtonRelease, start + QPointF(60, 30), Qt::NoButton);
    settle(100);
    return frames;
}
} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const double rssStart = rssMb();
    CollectionStore store(dir.path());
    screenshotImage(3840, 2160, 11).save(store.imagesDirectory() + QStringLiteral("/shot.png"));
    SnipCollection collection;
    Snip snip = Snip::make(QStringLiteral("shot.png"));
    snip.marks = spreadMarks(9, 200, {8, 18, 32}, QPointF(0.45, 0.45));
    collection.items = {snip};
    store.setCollections({collection});
    store.setSelectedID(collection.id);
    store.saveAtExit();
    const double rssLoaded = rssMb();

    // Open: from building the editor until its first frame shows the image.
    QElapsedTimer open;
    open.start();
    AnnotationWorkspace workspace(&store, snip.id, [] {});
    workspace.resize(1380, 920);
    workspace.show();
    processEventsUntil([&] { return workspace.viewport() && workspace.viewport()->isVisible(); },
                       "the editor's viewport");
    workspace.viewport()->viewport()->repaint();
    const double openMs = open.nsecsElapsed() / 1e6;
    settle();

    // 40 Ctrl+wheel steps from 25 % to 400 %, each handled and painted.
    workspace.session()->setZoom(0.25);
    settle();
    QWidget *view = workspace.viewport()->viewport();
    const QPointF centre = view->rect().center();
    std::vector<double> steps, stepsCpu;
    for (int step = 0; step < 40; ++step) {
        QElapsedTimer timer;
        timer.start();
        const double cpu = threadCpuMs();
        QWheelEvent wheel(centre, view->mapToGlobal(centre), QPoint(), QPoint(0, 38), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view, &wheel);
        QCoreApplication::processEvents();
        view->repaint();
        steps.push_back(timer.nsecsElapsed() / 1e6);
        stepsCpu.push_back(threadCpuMs() - cpu);
    }
    const double zoomReached = workspace.session()->zoom().value_or(0);
    settle();

    const Mark blur = workspace.session()->marks().first();
    workspace.session()->setZoom(std::nullopt);
    settle();
    std::vector<double> drags = dragBlur(workspace, blur);
    // The jump from fit to 400 %: the frame painted right after it, and the longest of the frames
    // that follow, one display frame apart, until the view has settled at the new zoom.
    workspace.session()->setZoom(4.0);
    double firstAfterZoom = 0, longestAfterZoom = 0;
    for (int frame = 0; frame < 60; ++frame) {
        QElapsedTimer timer;
        timer.start();
        QCoreApplication::processEvents();
        view->repaint();
        const double ms = timer.nsecsElapsed() / 1e6;
        if (frame == 0)
            firstAfterZoom = ms;
        longestAfterZoom = std::max(longestAfterZoom, ms);
        QThread::msleep(16);
    }
    settle();
    const Mark moved = workspace.session()->marks().first();
    // Bring the blur into the middle of the view.
    AnnotationViewport *viewport = workspace.viewport();
    const QRect canvas = viewport->canvas()->geometry();
    viewport->horizontalScrollBar()->setValue(
        int(canvas.x() + (moved.x1 + moved.x2) / 2 * canvas.width() - view->width() / 2));
    viewport->verticalScrollBar()->setValue(
        int(canvas.y() + (moved.y1 + moved.y2) / 2 * canvas.height() - view->height() / 2));
    settle();
    const std::vector<double> drags400 = dragBlur(workspace, moved);

    std::printf("open_ms: %.1f\n", openMs);
    std::printf("zoom_step_ms_median: %.2f\n", median(steps));
    std::printf("zoom_step_ms_p95: %.2f\n", percentile(steps, 0.95));
    std::printf("zoom_step_cpu_ms_p95: %.2f\n", percentile(stepsCpu, 0.95));
    std::printf("zoom_reached_percent: %.0f\n", zoomReached * 100);
    std::printf("drag_frame_ms_p95_fit: %.2f\n", percentile(drags, 0.95));
    std::printf("drag_frame_ms_p95_400: %.2f\n", percentile(drags400, 0.95));
    std::printf("drag_frame_ms_p95: %.2f\n", std::max(percentile(drags, 0.95), percentile(drags400, 0.95)));
    std::printf("first_frame_after_zoom_ms: %.2f\n", firstAfterZoom);
    std::printf("longest_frame_after_zoom_ms: %.2f\n", longestAfterZoom);
    std::printf("blurs_computed: %d\n", viewport->canvas()->blurCopiesMade());
    std::printf("rss_mb: %.1f\n", rssMb());
    std::printf("rss_growth_mb: %.1f\n", rssMb() - rssStart);
    std::printf("rss_growth_after_library_mb: %.1f\n", rssMb() - rssLoaded);
    return 0;
}
