// Load and save times of a large library (200 collections of 50 snips with 10 marks each, about
// 40 MB) against Python's json module on the same file, and the longest time the event loop stands
// still while an autosave of it runs.
#include "model/JsonCoding.h"
#include "store/CollectionStore.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
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
// From a change until its autosave is on disk: the longest gap between two turns of the event
// loop, which a timer ticking every millisecond measures.
double autosaveStallMs(CollectionStore &store, const QString &title) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    QEventLoop loop;
    QObject::connect(&store, &CollectionStore::saveStateChanged, &loop, [&] {
        if (store.saveState() == QStringLiteral("Lokal gespeichert"))
            loop.quit();
    });
    ticker.start();
    store.editCurrent([&](SnipCollection &c) { c.title = title; });
    execBounded(loop, "the autosave");
    return double(std::max(longest, clock.nsecsElapsed() - last)) / 1e6;
}
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("library.json"));
    {
        const auto bytes = encodeJson(makeLibrary(), JsonStyle::Pretty);
        QFile file(path);
        if (!bytes || !file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size()) {
            std::fprintf(stderr, "could not write the library\n");
            return 1;
        }
        std::printf("library_mb: %.1f\n", double(bytes->size()) / 1e6);
    }

    std::vector<double> loads, saves, stalls;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        CollectionStore store(dir.path());
        loads.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!store.error().isEmpty() || store.collections().size() != kCollections) {
            std::fprintf(stderr, "library did not load\n");
            return 1;
        }
        timer.restart();
        if (!store.saveNow()) {
            std::fprintf(stderr, "save failed\n");
            return 1;
        }
        saves.push_back(double(timer.nsecsElapsed()) / 1e6);
        stalls.push_back(autosaveStallMs(store, QString::number(round)));
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
    return 0;
}
