// The main window with large collections of 4K snips (3 arrows, a blur and a text box each):
// opening a collection of 500, scrolling it, typing in a card, memory, and the grid of 1,000.
#include "BenchSupport.h"

#include "imaging/ImageImport.h"
#include "store/CollectionStore.h"
#include "views/CollectionDocument.h"
#include "views/EditorView.h"
#include "views/LibraryState.h"
#include "views/ScreenshotGrid.h"
#include "views/SnipCard.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

namespace {

constexpr int kStep = 120;

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

// Counts the paints of the window's widgets.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Runs the event loop until `widget` has painted once more; returns the milliseconds since `timer`.
double untilPainted(PaintCounter &counter, const QElapsedTimer &timer) {
    const int before = counter.paints;
    while (counter.paints == before && timer.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    return timer.nsecsElapsed() / 1e6;
}

SnipCollection makeCollection(const QString &title, int count, const QString &images, const QString &source) {
    SnipCollection collection;
    collection.title = title;
    for (int i = 0; i < count; ++i) {
        Snip snip = Snip::make(uuidText(QUuid::createUuid()) + QStringLiteral(".png"));
        ::link(QFile::encodeName(source).constData(),
               QFile::encodeName(images + u'/' + snip.imageFile).constData());
        snip.title = QStringLiteral("Schritt %1").arg(i + 1);
        for (int a = 0; a < 3; ++a)
            snip.marks.append(Mark::make(MarkKind::Arrow, 0.1 + a * 0.2, 0.2, 0.25 + a * 0.2, 0.5));
        snip.marks.append(Mark::make(MarkKind::Blur, 0.55, 0.6, 0.85, 0.8));
        Mark text = Mark::make(MarkKind::Text, 0.1, 0.7, 0.4, 0.8);
        text.text = QStringLiteral("Hier klicken");
        snip.marks.append(text);
        collection.items.append(snip);
    }
    return collection;
}

// Scrolls to the end and back in steps; the time of each step until its frame is painted.
std::vector<double> scrollThrough(QAbstractScrollArea *area, PaintCounter &counter) {
    std::vector<double> steps;
    QScrollBar *bar = area->verticalScrollBar();
    const auto step = [&](int value) {
        QElapsedTimer timer;
        timer.start();
        bar->setValue(value);
        steps.push_back(untilPainted(counter, timer));
    };
    for (int v = kStep; v <= bar->maximum(); v += kStep)
        step(v);
    for (int v = bar->maximum() - kStep; v >= 0; v -= kStep)
        step(v);
    return steps;
}

// Waits until every preview on screen shows its own thumbnail.
double untilPreviewsReady(CollectionDocument *document, const QElapsedTimer &timer) {
    while (timer.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const QRect shown(0, document->verticalScrollBar()->value(), document->width(),
                          document->viewport()->height());
        bool ready = true;
        for (SnipCard *card : document->builtCards()) {
            const QRect preview = card->preview()->geometry().translated(card->pos());
            if (card->isVisible() && preview.intersects(shown) && !card->preview()->hasThumbnail())
                ready = false;
        }
        if (ready)
            return timer.nsecsElapsed() / 1e6;

        QThread::msleep(1);
    }
    return -1;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QCoreApplication::setOrganizationName(QStringLiteral("VellumboxBench"));
    QStandardPaths::setTestModeEnabled(true);
    ImageImport::raiseAllocationLimit();
    QSettings().remove(QLatin1String(LibraryState::kCompactLayoutKey));

    QTemporaryDir dir;
    CollectionStore store(dir.path());
    const QString source = dir.filePath(QStringLiteral("source.png"));
    screenshotImage(3840, 2160, 7).save(source, "PNG");
    const QString images = store.imagesDirectory();
    const SnipCollection small = makeCollection(QStringLiteral("Fünfzig"), 50, images, source);
    const SnipCollection large = makeCollection(QStringLiteral("Fünfhundert"), 500, images, source);
    SnipCollection empty;
    empty.title = QStringLiteral("Leer");
    store.setCollections({empty, small, large});
    store.setSelectedID(empty.id);
    store.saveAtExit();

    EditorView view(
        &store, nullptr, nullptr, nullptr, [] {}, [] {}, [] {}, [] {}, [] {});
    view.resize(1380, 920);
    view.show();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    CollectionDocument *document = view.document();
    PaintCounter documentPaints;
    qApp->installEventFilter(&documentPaints);

    const auto open = [&](const SnipCollection &collection, double *openMs, double *readyMs) {
        QElapsedTimer timer;
        timer.start();
        store.setSelectedID(collection.id);
        store.setSelectedSnipID(collection.items.first().id);
        *openMs = untilPainted(documentPaints, timer);
        *readyMs = untilPreviewsReady(document, timer);
    };

    QElapsedTimer phase;
    phase.start();
    const auto progress = [&](const char *what) {
        std::fprintf(stderr, "%s done after %lld ms\n", what, phase.restart());
    };
    double open50 = 0, ready50 = 0;
    open(small, &open50, &ready50);
    progress("open 50");
    scrollThrough(document, documentPaints);
    const double rss50 = statusMegabytes("VmRSS:");
    progress("scroll 50");

    double open500 = 0, ready500 = 0;
    open(large, &open500, &ready500);
    progress("open 500");
    const std::vector<double> steps = scrollThrough(document, documentPaints);
    const double rss500 = statusMegabytes("VmRSS:");
    progress("scroll 500");

    // Typing in card 100 at a brisk pace; each key until its frame is painted.
    SnipCard *card = document->showCard(large.items[99].id);
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    QLineEdit *heading = card->headingField();
    heading->setFocus(Qt::MouseFocusReason);
    heading->end(false);
    std::vector<double> keys;
    PaintCounter &headingPaints = documentPaints;
    for (int i = 0; i < 60; ++i) {
        const QString letter(QChar(u'a' + i % 26));
        QElapsedTimer timer;
        timer.start();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A + i % 26, Qt::NoModifier, letter);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_A + i % 26, Qt::NoModifier, letter);
        QCoreApplication::sendEvent(heading, &press);
        QCoreApplication::sendEvent(heading, &release);
        keys.push_back(untilPainted(headingPaints, timer));
        QThread::msleep(30);
        QCoreApplication::processEvents();
    }

    progress("typing");
    // The grid over 1,000 snips in 20 collections.
    QList<SnipCollection> twenty;
    for (int c = 0; c < 20; ++c)
        twenty.append(makeCollection(QStringLiteral("Sammlung %1").arg(c + 1), 50, images, source));
    store.setCollections(twenty);
    store.setSelectedID(twenty.first().id);
    store.saveAtExit();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    PaintCounter &gridPaints = documentPaints;
    QElapsedTimer gridTimer;
    gridTimer.start();
    view.state()->setShowingAll(true);
    const double gridOpen = untilPainted(gridPaints, gridTimer);

    std::printf("open_ms_500: %.1f\n", open500);
    std::printf("scroll_step_ms_p95_500: %.2f\n", percentile(steps, 0.95));
    std::printf("scroll_step_ms_max_500: %.2f\n", percentile(steps, 1.0));
    std::printf("scroll_steps_500: %zu\n", steps.size());
    std::printf("previews_ready_ms: %.1f\n", ready500);
    std::printf("previews_ready_ms_50: %.1f\n", ready50);
    std::printf("keystroke_ms_p95: %.2f\n", percentile(keys, 0.95));
    std::printf("rss_mb_50: %.1f\n", rss50);
    std::printf("rss_mb_500: %.1f\n", rss500);
    std::printf("grid_open_ms_1000: %.1f\n", gridOpen);
    return 0;
}
