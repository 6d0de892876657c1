#include "annotation/TextRecognition.h"
#include "annotation/TextRecognitionModel.h"
#include "imaging/PngEncoder.h"
#include "model/AppFailure.h"
#include "platform/TextRecognizer.h"

#include "support/MarkTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <ctime>

// Recognition with libtesseract on generated pictures. Runs with OMP_THREAD_LIMIT unset, so the
// recogniser itself must keep to one thread.
namespace {

struct TextAt {
    QString text;
    QPoint baseline;
};

QFont testFont(int pixels) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    return font;
}

QImage picture(QSize size, const QList<TextAt> &texts, int pixels = 20, QColor background = Qt::white,
               QColor ink = Qt::black) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter painter(&image);
    painter.setFont(testFont(pixels));
    painter.setPen(ink);
    for (const TextAt &text : texts)
        painter.drawText(text.baseline, text.text);
    return image;
}

// The ink of a text in normalised coordinates.
QRectF inkRect(const TextAt &text, QSize size, int pixels = 20) {
    const QRect ink = QFontMetrics(testFont(pixels)).tightBoundingRect(text.text).translated(text.baseline);
    return QRectF(double(ink.x()) / size.width(), double(ink.y()) / size.height(),
                  double(ink.width()) / size.width(), double(ink.height()) / size.height());
}

QString allText(const RecognizedTextLines &lines) {
    QStringList texts;
    for (const RecognizedTextLine &line : lines)
        texts.append(line.text);
    return texts.join(QLatin1Char('\n'));
}

double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Threads take the name of the thread that started them, so OpenMP helpers of the model's worker
// show up under its name.
int threadsNamed(const QString &name) {
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name.toUtf8())
            ++count;
    }
    return count;
}

// Counts passes, and how often the current pass has asked whether to stop, to know when a pass is
// reading words.
struct PassProbe {
    std::atomic<int> passes{0};
    std::atomic<int> checks{0};
};

class ProbedRecognizer final : public TextRecognizer {
public:
    explicit ProbedRecognizer(PassProbe *probe)
        : m_inner(TextRecognizer::createTesseract()), m_probe(probe) {}
    QList<Line> recognize(const QImage &image, const Cancelled &cancelled) override {
        m_probe->checks = 0;
        ++m_probe->passes;
        return m_inner->recognize(image, [&] {
            ++m_probe->checks;
            return cancelled();
        });
    }

private:
    std::unique_ptr<TextRecognizer> m_inner;
    PassProbe *m_probe;
};

} // namespace

class TestTextRecognizer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void hiddenTextNeverFound();
    void coordinates_data();
    void coordinates();
    void backgrounds_data();
    void backgrounds();
    void missingGerman();
    void cancelledPassesCostLittle();

private:
    std::unique_ptr<TextRecognizer> m_recognizer;
};

void TestTextRecognizer::initTestCase() {
    m_recognizer = TextRecognizer::createTesseract();
}

// A redacted word, a blurred line and a line whose box a redaction touches only at a corner are
// gone whole; the lines around them are read.
void TestTextRecognizer::hiddenTextNeverFound() {
    const QSize size(720, 330);
    const QList<TextAt> texts{
        {QStringLiteral("Rechnung vom 3. März bezahlt"), QPoint(20, 40)},
        {QStringLiteral("Kennwort: Zebra42 streng vertraulich"), QPoint(20, 100)},
        {QStringLiteral("Kontonummer Pelikan7 ganz geheim"), QPoint(20, 160)},
        {QStringLiteral("Notiz Flamingo am Rand"), QPoint(20, 220)},
        {QStringLiteral("Ende der Liste"), QPoint(20, 280)},
    };
    const QFontMetrics metrics(testFont(20));
    const auto norm = [&](QRectF r) {
        return mk(MarkKind::Redact, r.left() / size.width(), r.top() / size.height(),
                  r.right() / size.width(), r.bottom() / size.height());
    };
    const int wordStart = 20 + metrics.horizontalAdvance(QStringLiteral("Kennwort: "));
    const QRectF word(wordStart - 2, 100 - metrics.ascent(),
                      metrics.horizontalAdvance(QStringLiteral("Zebra42")) + 4, metrics.height());
    Mark blur = norm(QRectF(QPointF(14, 160 - metrics.ascent() - 4), QSizeF(600, metrics.height() + 8)));
    blur.kind = MarkKind::Blur;
    const QRect corner = metrics.tightBoundingRect(texts[3].text).translated(texts[3].baseline);
    const QRectF cornerMark(corner.right() - 2, corner.top() - 14, 16, 16);
    const MarkList marks{norm(word), blur, norm(cornerMark), mk(MarkKind::Highlight, 0, 0, 1, 1)};

    const RecognizedTextLines lines = TextRecognition::recognize(
        *m_recognizer, Imaging::encodePng(picture(size, texts), Imaging::PngEffort::Fast), marks);
    const QString all = allText(lines);
    for (const char *hidden :
         {"Zebra", "Kennwort", "vertraulich", "Pelikan", "Kontonummer", "Flamingo", "Notiz"})
        QVERIFY2(!all.contains(QLatin1String(hidden)), qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("Rechnung vom 3. März bezahlt")), qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("Ende der Liste")), qPrintable(all));
}

void TestTextRecognizer::coordinates_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("baseline");
    QTest::newRow("top left") << QSize(800, 400) << QPoint(16, 40);
    QTest::newRow("lower right") << QSize(800, 400) << QPoint(430, 350);
    QTest::newRow("above the upscale limit") << QSize(2700, 300) << QPoint(1900, 200);
}

// A line and its words land where they were drawn, within 0.01 of the picture on every edge.
void TestTextRecognizer::coordinates() {
    QFETCH(QSize, size);
    QFETCH(QPoint, baseline);
    const TextAt text{QStringLiteral("Koordinaten prüfen"), baseline};
    const RecognizedTextLines lines = TextRecognition::recognize(
        *m_recognizer, Imaging::encodePng(picture(size, {text}), Imaging::PngEffort::Fast), {});
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines[0].text, text.text);
    const QRectF expected = inkRect(text, size);
    const auto near = [](const QRectF &a, const QRectF &b) {
        return qAbs(a.left() - b.left()) <= 0.01 && qAbs(a.top() - b.top()) <= 0.01 &&
               qAbs(a.right() - b.right()) <= 0.01 && qAbs(a.bottom() - b.bottom()) <= 0.01;
    };
    QVERIFY(near(lines[0].rect, expected));
    QCOMPARE(lines[0].words.size(), 2);
    QVERIFY(near(lines[0].words[0].rect, inkRect({QStringLiteral("Koordinaten"), baseline}, size)));
}

void TestTextRecognizer::backgrounds_data() {
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QString>("expected");
    const QSize size(500, 120);
    QTest::newRow("blank") << picture(size, {}) << QString();
    QTest::newRow("black text on transparent")
        << picture(size, {{QStringLiteral("Durchsichtiger Hintergrund"), QPoint(20, 60)}}, 20,
                   Qt::transparent)
        << QStringLiteral("Durchsichtiger Hintergrund");
    QTest::newRow("light text on a dark theme")
        << picture(size, {{QStringLiteral("Dunkles Fenster, helle Schrift"), QPoint(20, 60)}}, 13,
                   QColor(30, 30, 32), QColor(229, 229, 234))
        << QStringLiteral("Dunkles Fenster, helle Schrift");
}

void TestTextRecognizer::backgrounds() {
    QFETCH(QImage, image);
    QFETCH(QString, expected);
    QCOMPARE(allText(TextRecognition::recognize(*m_recognizer,
                                                Imaging::encodePng(image, Imaging::PngEffort::Fast), {})),
             expected);
}

// Tesseract starts with whatever part of the language list it finds; English alone is no success.
void TestTextRecognizer::missingGerman() {
    QTemporaryDir dir;
    const QString installed = QStringLiteral("/usr/share/tesseract-ocr/5/tessdata/eng.traineddata");
    QVERIFY(QFile::link(installed, dir.filePath(QStringLiteral("eng.traineddata"))));
    const QByteArray previous = qgetenv("TESSDATA_PREFIX");
    const auto restore = qScopeGuard([&] {
        if (previous.isNull())
            qunsetenv("TESSDATA_PREFIX");
        else
            qputenv("TESSDATA_PREFIX", previous);
    });
    qputenv("TESSDATA_PREFIX", dir.path().toUtf8());
    try {
        TextRecognizer::createTesseract();
        QFAIL("a recogniser without German data was made");
    } catch (const AppFailure &failure) {
        QCOMPARE(failure.errorDescription(),
                 QStringLiteral("Die Sprachdaten für Deutsch sind nicht installiert."));
    }
}

// The worker starts no OpenMP helper, and five requests, each cancelled while its pass reads words,
// cost less than two whole passes: the running pass stops instead of finishing in the background.
void TestTextRecognizer::cancelledPassesCostLittle() {
    QTemporaryDir dir;
    QList<TextAt> texts;
    for (int row = 0; row < 32; ++row)
        texts.append(
            {QStringLiteral("Zeile %1: Die Übersicht der Einstellungen wurde geändert, bitte prüfen.")
                 .arg(row),
             QPoint(12, 20 + row * 20)});
    const QString path = dir.filePath(QStringLiteral("dicht.png"));
    QVERIFY(picture(QSize(720, 660), texts, 13).save(path, "PNG"));

    PassProbe probe;
    TextRecognitionModel model([&] { return std::make_unique<ProbedRecognizer>(&probe); });
    const auto whole = [&] {
        model.recognize(path, {});
        QTRY_VERIFY_WITH_TIMEOUT(model.didRun(), 120000);
        QVERIFY2(model.error().isEmpty(), qPrintable(model.error()));
    };
    whole(); // loads the language data
    QVERIFY(model.lines().size() >= 30);
    // Helper threads would stay for the next parallel region; the worker must be alone.
    QCOMPARE(threadsNamed(QStringLiteral("TextRecognizer")), 1);
    const double start = processCpuMs();
    whole();
    whole();
    const double twoPasses = processCpuMs() - start;

    const double cycleStart = processCpuMs();
    for (int i = 0; i < 5; ++i) {
        const int before = probe.passes;
        model.recognize(path, {});
        QTRY_VERIFY_WITH_TIMEOUT(probe.passes == before + 1 && probe.checks >= 2, 60000);
        model.reset();
    }
    // The worker takes one request after another, so once this one is done the others are too.
    model.recognize(path, {});
    QTRY_VERIFY_WITH_TIMEOUT(model.didRun(), 120000);
    const double cycles = processCpuMs() - cycleStart - twoPasses / 2;
    QVERIFY2(
        cycles < twoPasses,
        qPrintable(
            QStringLiteral("five cancelled: %1 ms CPU, two whole: %2 ms CPU").arg(cycles).arg(twoPasses)));
}

QTEST_MAIN(TestTextRecognizer)
#include "tst_textrecognizer.moc"
