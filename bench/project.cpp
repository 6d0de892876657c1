// Saves and opens a project of 20 snips of 3840 × 2160 screenshots, and opens a project of noise
// near the 200 MB limit. Opening runs in a child process so that its peak memory is measured on
// its own.
#include "BenchSupport.h"
#include "model/JsonCoding.h"
#include "store/CollectionStore.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

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

// Runs the event loop until the store's flag goes down.
void waitFor(CollectionStore &store, bool (CollectionStore::*busy)() const,
             void (CollectionStore::*changed)()) {
    QEventLoop loop;
    QObject::connect(&store, changed, &loop, [&] {
        if (!(store.*busy)())
            loop.quit();
    });
    if ((store.*busy)())
        execBounded(loop, "the store to finish");
}

// prefix: "" for the screenshots, "noise_" for the noise project.
int runOpen(const QString &project, const QString &root, const QString &prefix, int snips) {
    CollectionStore store(root);
    FixedPanels *panels = installPanels(store);
    QElapsedTimer timer;
    timer.start();
    store.openProject();
    panels->open({project});
    waitFor(store, &CollectionStore::isOpeningProject, &CollectionStore::isOpeningProjectChanged);
    const qint64 elapsed = timer.elapsed();
    if (!store.error().isEmpty() || store.collections().first().items.size() != snips) {
        std::fprintf(stderr, "open failed: %s\n", qPrintable(store.error()));
        return 1;
    }
    const double fileMb = double(QFileInfo(project).size()) / (1024.0 * 1024.0);
    std::printf("%sopen_ms: %lld\n", qPrintable(prefix), elapsed);
    // The images are stored as new PNGs, whose size counts against the cloud limit.
    qint64 stored = 0;
    for (const QFileInfo &image : QDir(store.imagesDirectory()).entryInfoList(QDir::Files))
        stored += image.size();
    std::printf("%sstored_mb: %.2f\n", qPrintable(prefix), double(stored) / 1e6);
    std::printf("%speak_rss_mb: %.1f\n", qPrintable(prefix), statusMegabytes("VmHWM:"));
    if (!prefix.isEmpty())
        std::printf("%speak_ratio: %.2f\n", qPrintable(prefix), statusMegabytes("VmHWM:") / fileMb);
    return 0;
}

// A project of noise pictures, which do not compress, just under the 200 MB limit.
bool writeNoiseProject(const QString &path) {
    SnipCollection collection;
    QMap<QString, QByteArray> images;
    for (int i = 0; i < 4; ++i) {
        QImage noise(4000, 3000, QImage::Format_RGB32);
        QRandomGenerator(quint32(i) + 11)
            .fillRange(reinterpret_cast<quint32 *>(noise.bits()), noise.sizeInBytes() / 4);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.setQuality(90); // fast: noise does not compress at any level
        if (!writer.write(noise))
            return false;
        const QString name = uuidText(QUuid::createUuid()) + QStringLiteral(".png");
        collection.items.append(Snip::make(name));
        images.insert(name, png);
    }
    const auto document = encodeJson(PortableCollection{1, collection, images});
    QFile file(path);
    return document && file.open(QIODevice::WriteOnly) && file.write(*document) == document->size();
}

// Opens the project in a child process, which prints its own figures.
int openInChild(const QString &project, const QString &root, const char *mode) {
    std::fflush(stdout);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode), project, root});
    if (!finishBounded(child))
        return 3;
    return child.exitCode();
}
} // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QStringLiteral("--open"))
        return runOpen(args[2], args[3], QString(), kSnips);
    if (args.size() == 4 && args[1] == QStringLiteral("--open-noise"))
        return runOpen(args[2], args[3], QStringLiteral("noise_"), 4);

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

    const double baseline = statusMegabytes("VmHWM:");
    const QString project = dir.filePath(QStringLiteral("Benchmark.vellumbox"));
    QElapsedTimer timer;
    timer.start();
    store.saveProject();
    panels->save(project);
    waitFor(store, &CollectionStore::isSavingProject, &CollectionStore::isSavingProjectChanged);
    if (store.exportURL() != project) {
        std::fprintf(stderr, "save failed: %s\n", qPrintable(store.error()));
        return 1;
    }
    std::printf("save_ms: %lld\n", timer.elapsed());
    std::printf("save_peak_rss_mb: %.1f\n", std::max(baseline, statusMegabytes("VmHWM:")));
    std::printf("file_mb: %.1f\n", double(QFileInfo(project).size()) / 1e6);

    if (const int failed = openInChild(project, dir.filePath(QStringLiteral("Opened")), "--open"))
        return failed;

    const QString noise = dir.filePath(QStringLiteral("Noise.vellumbox"));
    if (!writeNoiseProject(noise)) {
        std::fprintf(stderr, "could not write the noise project\n");
        return 1;
    }
    std::printf("noise_file_mb: %.1f\n", double(QFileInfo(noise).size()) / (1024.0 * 1024.0));
    return openInChild(noise, dir.filePath(QStringLiteral("Noise")), "--open-noise");
}
