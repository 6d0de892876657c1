// Load and save times of a large library (200 collections of 50 snips with 10 marks each, about
// 40 MB) against Python's json module on the same file, and the longest time the event loop stands
// still while an autosave of it runs, and while a capture is added, an export starts and restored
// collections are taken in, each with the save it makes.
#include "export/Exporter.h"
#include "model/JsonCoding.h"
#include "store/CollectionStore.h"

#include "BenchSupport.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {
constexpr int kCollections = 200;
constexpr int kSnips = 50;
constexpr int kMarks = 10;
constexpr int kRounds = 3;

SavedLibrary makeLibrary() {
    SavedLibrary library;
    const auto &kinds = MarkKinds::all();
    const auto &colors = MarkColors::all();
    for (int c = 0; c < kCollections; ++c) {
        SnipCollection collection;
        collection.title = QStringLiteral("Sammlung %1 · Ablauf für die Übergabe").arg(c);
        collection.subtitle = QStringLiteral("Stand März, geprüft");
        collection.createdAt = 700000000.0 + c * 3600.123456;
        for (int s = 0; s < kSnips; ++s) {
            Snip snip = Snip::make(uuidText(QUuid::createUuid()) + QStringLiteral(".png"));
            snip.title = QStringLiteral("Schritt %1: Einstellungen öffnen und „Speichern“ wählen").arg(s);
            snip.note = QStringLiteral(
                "Hier klickt man oben rechts auf das Zahnrad.\nDanach erscheint der Dialog "
                "mit den Optionen für Größe, Farbe und Ausrichtung.\nDort „Übernehmen“ wählen und das "
                "Fenster mit „Fertig“ schließen; die Änderung gilt sofort.");
            snip.createdAt = collection.createdAt + s * 17.25;
            if (s % 7 == 0)
                snip.cloudLocalOnly = true;
            for (int m = 0; m < kMarks; ++m) {
                Mark mark = Mark::make(kinds[size_t(m) % kinds.size()], 0.1 + m * 0.01234567, 0.2 + s * 0.001,
                                       0.6 - m * 0.0213, 0.75 + m * 0.002);
                mark.color = colors[size_t(m + s) % colors.size()];
                mark.strokeWidth = 3.5 + m;
                if (mark.kind == MarkKind::Text || mark.kind == MarkKind::Callout)
                    mark.text = QStringLiteral("Hier klicken, dann „Weiter“");
                if (mark.kind == MarkKind::Number)
                    mark.number = m + 1;
                if (mark.kind == MarkKind::Blur)
                    mark.blurRadius = 18;
                if (mark.kind == MarkKind::Callout) {
                    mark.tipX = 0.33;
                    mark.tipY = 0.44;
                }
                snip.marks.append(mark);
            }
            collection.items.append(snip);
        }
        library.collections.append(collection);
    }
    library.selectedID = library.collections.first().id;
    library.deletedCollections = QList<DeletedCollection>();
    return library;
}

const char *kPython = R"(
import json, sys, time
path, out, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
loads, dumps = [], []
for _ in range(rounds):
    t = time.perf_counter()
    with open(path, 'r', encoding='utf-8') as f:
        data = json.load(f)
    loads.append((time.perf_counter() - t) * 1000)
    t = time.perf_counter()
    with open(out, 'w', encoding='utf-8') as f:
        json.dump(data, f, indent=2, sort_keys=True)
    dumps.append((time.perf_counter() - t) * 1000)
print(sorted(loads)[len(loads) // 2], sorted(dumps)[len(dumps) // 2])
)";
// From `start` until `finished` holds and the library is on disk: the longest gap between two
// turns of the event loop, which a timer ticking every millisecond measures.
double stallMs(CollectionStore &store, const std::function<void()> &start,
               const std::function<bool()> &finished) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QEventLoop loop;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
        if (finished() && store.saveState() == CollectionStore::SaveState::Saved)
            loop.quit();
    });
    ticker.start();
    start();
    execBounded(loop, "the measured work");
    return double(std::max(longest, clock.nsecsElapsed() - last)) / 1e6;
}

double autosaveStallMs(CollectionStore &store, const QString &title) {
    return stallMs(
        store, [&] { store.editCurrent([&](SnipCollection &c) { c.title = title; }); }, [] { return true; });
}

QByteArray capturePng() {
    QImage image(1280, 800, QImage::Format_RGB32);
    image.fill(QColor(246, 247, 249));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

double captureStallMs(CollectionStore &store) {
    bool done = false;
    QObject receiver;
    const QByteArray png = capturePng(); // what the capture tool hands over
    return stallMs(
        store,
        [&] {
            store.addCapture(png, store.captureTarget(), &receiver, [&](const QString &failure) {
                if (!failure.isEmpty())
                    std::fprintf(stderr, "capture failed: %s\n", qPrintable(failure));
                done = true;
            });
        },
        [&] { return done; });
}

// Answers every save panel at once with the same path.
struct AnsweringPanels final : FilePanels {
    QString path;
    void chooseSaveFile(const SaveRequest &, SaveAnswer answer) override { answer(path); }
    void chooseOpenFiles(const OpenRequest &, OpenAnswer answer) override { answer({}); }
};

double exportStartStallMs(CollectionStore &store, Exporter &exporter) {
    bool ended = false;
    const auto connection = QObject::connect(&exporter, &Exporter::finished, [&] { ended = true; });
    // The export itself runs on the pool; its start on the main thread and its save are measured.
    const double stall = stallMs(
        store, [&] { exporter.present(ExportFormat::Pdf); }, [&] { return store.isExporting() || ended; });
    processEventsUntil([&] { return ended; }, "the export");
    QObject::disconnect(connection);
    return stall;
}

double restoreStallMs(CollectionStore &store, const QString &imagesFolder) {
    SnipCollection restored;
    restored.title = QStringLiteral("Aus der Sicherung");
    restored.items = {Snip::make(QStringLiteral("11111111-2222-4333-8444-555555555555.png"))};
    bool done = false;
    QObject receiver;
    return stallMs(
        store,
        [&] {
            store.restoreCloudCollections({restored}, imagesFolder, &receiver, [&](const QString &failure) {
                if (!failure.isEmpty())
                    std::fprintf(stderr, "restore failed: %s\n", qPrintable(failure));
                done = true;
            });
        },
        [&] { return done; });
}
} // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv); // the export lays out text
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("library.json"));
    const auto original = encodeJson(makeLibrary(), JsonStyle::Pretty);
    // Every round starts from the same library: the rounds before added a capture and a restore.
    const auto writeLibrary = [&] {
        QFile file(path);
        return original && file.open(QIODevice::WriteOnly) && file.write(*original) == original->size();
    };
    if (!writeLibrary()) {
        std::fprintf(stderr, "could not write the library\n");
        return 1;
    }
    std::printf("library_mb: %.1f\n", double(original->size()) / 1e6);

    QTemporaryDir backup;
    {
        QFile image(backup.filePath(QStringLiteral("11111111-2222-4333-8444-555555555555.png")));
        if (!image.open(QIODevice::WriteOnly) || image.write(capturePng()) <= 0) {
            std::fprintf(stderr, "could not write the backup image\n");
            return 1;
        }
    }
    std::vector<double> loads, saves, stalls, captureStalls, exportStalls, restoreStalls;
    for (int round = 0; round < kRounds; ++round) {
        if (!writeLibrary()) {
            std::fprintf(stderr, "could not write the library\n");
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        CollectionStore store(dir.path());
        loads.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!store.error().isEmpty() || store.collections().size() != kCollections) {
            std::fprintf(stderr, "library did not load\n");
            return 1;
        }
        timer.restart();
        if (!store.saveAtExit()) {
            std::fprintf(stderr, "save failed\n");
            return 1;
        }
        saves.push_back(double(timer.nsecsElapsed()) / 1e6);
        stalls.push_back(autosaveStallMs(store, QString::number(round)));
        captureStalls.push_back(captureStallMs(store));
        auto *panels = new AnsweringPanels;
        panels->path = dir.filePath(QStringLiteral("export.pdf"));
        store.setFilePanels(std::unique_ptr<FilePanels>(panels));
        store.setSelectedID(store.collections().first().id);
        Exporter exporter(&store);
        exportStalls.push_back(exportStartStallMs(store, exporter));
        restoreStalls.push_back(restoreStallMs(store, backup.path()));
        store.finishPendingWork();
    }

    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromUtf8(kPython), path,
                  dir.filePath(QStringLiteral("python.json")), QString::number(kRounds)});
    if (!finishBounded(python) || python.exitCode() != 0) {
        std::fprintf(stderr, "python3 failed: %s\n", python.readAllStandardError().constData());
        return 1;
    }
    const QList<QByteArray> figures = python.readAllStandardOutput().trimmed().split(' ');
    const double pythonLoad = figures.value(0).toDouble();
    const double pythonSave = figures.value(1).toDouble();
    const double load = median(loads);
    const double save = median(saves);
    std::printf("load_ms: %.1f\nsave_ms: %.1f\npython_load_ms: %.1f\npython_save_ms: %.1f\n", load, save,
                pythonLoad, pythonSave);
    std::printf("load_ratio: %.3f\nsave_ratio: %.3f\n", load / pythonLoad, save / pythonSave);
    std::printf("autosave_stall_ms: %.1f\n", median(stalls));
    const int snips = kCollections * kSnips;
    std::printf("capture_stall_ms_%d: %.1f\n", snips, median(captureStalls));
    std::printf("export_start_stall_ms_%d: %.1f\n", snips, median(exportStalls));
    std::printf("restore_stall_ms_%d: %.1f\n", snips, median(restoreStalls));
    return 0;
}
