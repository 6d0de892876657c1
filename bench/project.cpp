// Saves and opens a project of 20 snips of 3840 × 2160 screenshots. Opening runs in a child
// process so that its peak memory is measured on its own.
#include "store/CollectionStore.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {
constexpr int kSnips = 20;

// Keeps the store's question so the benchmark can answer it.
struct FixedPanels final : FilePanels {
    SaveAnswer save;
    OpenAnswer open;
    void chooseSaveFile(const SaveRequest &, SaveAnswer answer) override { save = std::move(answer); }
    void chooseOpenFiles(const OpenRequest &, OpenAnswer answer) override { open = std::move(answer); }
};

FixedPanels *installPanels(CollectionStore &store) {
    auto panels = std::make_unique<FixedPanels>();
    FixedPanels *raw = panels.get();
    store.setFilePanels(std::move(panels));
    return raw;
}

double peakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// A screen-like picture: flat panels, lines of "text" and a noisy photo area, so the PNG is a few
// megabytes like a busy real screenshot.
QImage screenshot(int seed) {
    QImage image(3840, 2160, QImage::Format_RGB32);
    image.fill(QColor(236, 238, 241));
    QPainter painter(&image);
    painter.fillRect(0, 0, 520, 2160, QColor(40, 44, 52));
    painter.setPen(QColor(30, 30, 30));
    for (int line = 0; line < 60; ++line)
        painter.drawText(600, 80 + line * 32,
                         QStringLiteral("Zeile %1 der Anleitung mit etwas Text").arg(line + seed));
    painter.end();
    QRandomGenerator random(quint32(seed) + 1);
    for (int y = 700; y < 2100; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 1500; x < 3800; ++x)
            row[x] = qRgb(x / 16 % 256, y / 9 % 256, int(random.bounded(48)) + 100);
    }
    return image;
}

int runOpen(const QString &project, const QString &root) {
    CollectionStore store(root);
    FixedPanels *panels = installPanels(store);
    QElapsedTimer timer;
    timer.start();
    store.openProject();
    panels->open({project});
    const qint64 elapsed = timer.elapsed();
    if (!store.error().isEmpty() || store.collections().first().items.size() != kSnips) {
        std::fprintf(stderr, "open failed: %s\n", qPrintable(store.error()));
        return 1;
    }
    std::printf("open_ms: %lld\n", elapsed);
    std::printf("peak_rss_mb: %.1f\n", peakRssMb());
    return 0;
}
} // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QStringLiteral("--open"))
        return runOpen(args[2], args[3]);

    QTemporaryDir dir;
    CollectionStore store(dir.filePath(QStringLiteral("Library")));
    SnipCollection collection;
    collection.title = QStringLiteral("Benchmark");
    for (int i = 0; i < kSnips; ++i) {
        Snip snip = Snip::make(uuidText(QUuid::createUuid()) + QStringLiteral(".png"));
        if (!screenshot(i).save(store.imageURL(snip.imageFile), "png"))
            return 1;
        collection.items.append(snip);
    }
    store.setCollections({collection});
    store.setSelectedID(collection.id);
    FixedPanels *panels = installPanels(store);

    const double baseline = peakRssMb();
    const QString project = dir.filePath(QStringLiteral("Benchmark.vellumbox"));
    QElapsedTimer timer;
    timer.start();
    store.saveProject();
    panels->save(project);
    if (store.exportURL() != project) {
        std::fprintf(stderr, "save failed: %s\n", qPrintable(store.error()));
        return 1;
    }
    std::printf("save_ms: %lld\n", timer.elapsed());
    std::printf("save_peak_rss_mb: %.1f\n", std::max(baseline, peakRssMb()));
    std::printf("file_mb: %.1f\n", double(QFileInfo(project).size()) / 1e6);

    std::fflush(stdout);
    const QString opened = dir.filePath(QStringLiteral("Opened"));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open"), project, opened});
    child.waitForFinished(-1);
    return child.exitCode();
}
