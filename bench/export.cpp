// Exports collections of 4K screenshot-like snips with marks of every kind as PDF and Word, each
// run in a child process that reports its own peak memory, and times img2pdf on the same PNGs.
#include "BenchSupport.h"

#include "export/ExportJob.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentMap>

#include <cstring>
#include <numeric>

namespace {
constexpr int kWidth = 3840;
constexpr int kHeight = 2160;

QString imageName(int i) {
    return QStringLiteral("snip%1.png").arg(i, 3, 10, QChar(u'0'));
}

MarkList marksOfEveryKind(int i) {
    auto mark = [](MarkKind kind, double x1, double y1, double x2, double y2) {
        return Mark::make(kind, x1, y1, x2, y2);
    };
    Mark number = mark(MarkKind::Number, 0.05, 0.5, 0.1, 0.58);
    number.number = i + 1;
    Mark text = mark(MarkKind::Text, 0.6, 0.05, 0.9, 0.15);
    text.text = QStringLiteral("Hier auf „Exportieren“ klicken");
    Mark callout = mark(MarkKind::Callout, 0.6, 0.75, 0.85, 0.85);
    callout.text = QStringLiteral("Kontonummer");
    callout.fixedTextBox = true;
    callout.color = MarkColor::Coral;
    Mark blur = mark(MarkKind::Blur, 0.3, 0.62, 0.55, 0.8);
    blur.blurRadius = 18;
    return {mark(MarkKind::Arrow, 0.1, 0.1, 0.3, 0.3),
            mark(MarkKind::Line, 0.1, 0.4, 0.4, 0.4),
            mark(MarkKind::Rectangle, 0.2, 0.2, 0.5, 0.35),
            mark(MarkKind::Ellipse, 0.55, 0.2, 0.7, 0.35),
            mark(MarkKind::FilledRectangle, 0.75, 0.2, 0.8, 0.25),
            mark(MarkKind::FilledEllipse, 0.85, 0.2, 0.9, 0.25),
            number,
            mark(MarkKind::Cloud, 0.15, 0.45, 0.35, 0.6),
            mark(MarkKind::Highlight, 0.2, 0.1, 0.5, 0.13),
            mark(MarkKind::Redact, 0.6, 0.3, 0.8, 0.33),
            blur,
            text,
            callout};
}

SnipCollection benchCollection(int count) {
    SnipCollection c;
    c.title = QStringLiteral("Benchmark");
    c.subtitle = QStringLiteral("Screenshots mit Markierungen");
    c.createdAt = 800000000;
    for (int i = 0; i < count; ++i) {
        Snip snip = Snip::make(imageName(i));
        snip.title = QStringLiteral("Schritt %1").arg(i + 1);
        snip.note = QStringLiteral("Eine kurze Notiz zum Ausschnitt.");
        snip.marks = marksOfEveryKind(i);
        c.items.append(snip);
    }
    return c;
}

// Child: one export; prints "ms peak_kb".
int runOne(const QString &directory, int count, ExportFormat format, const QString &out) {
    ExportJob job(benchCollection(count), format, out, directory);
    QElapsedTimer timer;
    timer.start();
    const ExportJob::Outcome outcome = job.run();
    const double ms = timer.nsecsElapsed() / 1e6;
    if (!outcome.error.isEmpty()) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(outcome.error));
        return 1;
    }
    std::printf("%.1f %lld\n", ms, qint64(statusMegabytes("VmHWM:") * 1024));
    return 0;
}

struct Run {
    double ms = -1;
    double peakMb = -1;
};

Run child(const QString &directory, int count, const QString &format, const QString &out) {
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--run"), directory, QString::number(count), format, out});
    Run run;
    if (!finishBounded(process) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s", process.readAllStandardError().constData());
        return run;
    }
    const QList<QByteArray> fields = process.readAllStandardOutput().trimmed().split(' ');
    run.ms = fields.value(0).toDouble();
    run.peakMb = fields.value(1).toDouble() / 1024.0;
    QFile::remove(out);
    return run;
}

void generate(const QString &directory) {
    std::vector<int> indices(40);
    std::iota(indices.begin(), indices.end(), 0);
    QtConcurrent::blockingMap(indices, [&](int i) {
        screenshotImage(kWidth, kHeight, quint32(100 + i)).save(QDir(directory).filePath(imageName(i)));
    });
}
} // namespace

// bench_export: the whole benchmark. bench_export --generate DIR: only the images, for profiling
// single runs with bench_export --run DIR COUNT pdf|docx OUT.
int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "--generate") == 0) {
        QGuiApplication app(argc, argv);
        generate(QString::fromUtf8(argv[2]));
        return 0;
    }
    if (argc == 6 && std::strcmp(argv[1], "--run") == 0) {
        QGuiApplication app(argc, argv);
        const auto format = ExportFormats::fromRawValue(QString::fromUtf8(argv[4]));
        return format ? runOne(QString::fromUtf8(argv[2]), std::atoi(argv[3]), *format,
                               QString::fromUtf8(argv[5]))
                      : 2;
    }
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    generate(dir.path());

    const Run pdf10 = child(dir.path(), 10, QStringLiteral("pdf"), dir.filePath(QStringLiteral("a.pdf")));
    const Run pdf40 = child(dir.path(), 40, QStringLiteral("pdf"), dir.filePath(QStringLiteral("b.pdf")));
    const Run docx10 = child(dir.path(), 10, QStringLiteral("docx"), dir.filePath(QStringLiteral("a.docx")));
    const Run docx40 = child(dir.path(), 40, QStringLiteral("docx"), dir.filePath(QStringLiteral("b.docx")));

    QStringList img2pdfArguments;
    for (int i = 0; i < 40; ++i)
        img2pdfArguments << dir.filePath(imageName(i));
    img2pdfArguments << QStringLiteral("-o") << dir.filePath(QStringLiteral("img2pdf.pdf"));
    const double img2pdf = timeProgram(QStringLiteral("img2pdf"), img2pdfArguments);

    std::printf("pdf_ms_10: %.0f\n", pdf10.ms);
    std::printf("pdf_ms_40: %.0f\n", pdf40.ms);
    std::printf("docx_ms_10: %.0f\n", docx10.ms);
    std::printf("docx_ms_40: %.0f\n", docx40.ms);
    std::printf("img2pdf_ms_40: %.0f\n", img2pdf);
    std::printf("peak_rss_mb_10: %.0f\n", std::max(pdf10.peakMb, docx10.peakMb));
    std::printf("peak_rss_mb_40: %.0f\n", std::max(pdf40.peakMb, docx40.peakMb));
    std::printf("peak_rss_mb_pdf_10: %.0f\n", pdf10.peakMb);
    std::printf("peak_rss_mb_pdf_40: %.0f\n", pdf40.peakMb);
    std::printf("peak_rss_mb_docx_10: %.0f\n", docx10.peakMb);
    std::printf("peak_rss_mb_docx_40: %.0f\n", docx40.peakMb);
    return 0;
}
