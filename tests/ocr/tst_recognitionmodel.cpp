#include "annotation/TextRecognition.h"
#include "annotation/TextRecognitionModel.h"
#include "model/AppFailure.h"
#include "platform/TextRecognizer.h"

#include "support/FileSupport.h"
#include "support/MarkTestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>

namespace {

// Shared between the test and the recogniser on the worker thread. Pass n (counted from 1) waits
// until `released` reaches n, or until it is cancelled unless cancels are ignored, and then
// answers one line "Lauf n".
struct Latch {
    std::atomic<int> factoryCalls{0};
    std::atomic<int> started{0};
    std::atomic<int> returned{0};
    std::atomic<int> released{0};
    std::atomic<bool> ignoreCancel{false};
};

class LatchRecognizer final : public TextRecognizer {
public:
    explicit LatchRecognizer(Latch *latch) : m_latch(latch) {}
    QList<Line> recognize(const QImage &image, const Cancelled &cancelled) override {
        const int pass = ++m_latch->started;
        while (m_latch->released < pass && (m_latch->ignoreCancel || !cancelled()))
            QThread::msleep(1);
        ++m_latch->returned;
        const QRectF box(0, 0, image.width() / 2.0, image.height() / 2.0);
        return {Line{box, {Word{QStringLiteral("Lauf"), box}, Word{QString::number(pass), box}}}};
    }

private:
    Latch *m_latch;
};

TextRecognitionModel::RecognizerFactory latchFactory(Latch *latch) {
    return [latch] {
        ++latch->factoryCalls;
        return std::make_unique<LatchRecognizer>(latch);
    };
}

// Keeps the picture it was given.
class CapturingRecognizer final : public TextRecognizer {
public:
    QList<Line> recognize(const QImage &image, const Cancelled &) override {
        seen = image;
        return {};
    }
    QImage seen;
};

TextRecognizer::Line line(QRectF box, QStringList words) {
    TextRecognizer::Line result{box, {}};
    for (const QString &word : words)
        result.words.append({word, box});
    return result;
}

} // namespace

class TestRecognitionModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void requestWhileRunningIsIgnored();
    void onlyTheNewestRequestApplies_data();
    void onlyTheNewestRequestApplies();
    void destroyedMidPass_data();
    void destroyedMidPass();
    void recognizerUnavailable();
    void failures_data();
    void failures();
    void programEndsAfterRun_data();
    void programEndsAfterRun();
    void hiddenMarksBurntIn();
    void editorLines_data();
    void editorLines();

private:
    QTemporaryDir m_dir;
    QString m_image;
};

void TestRecognitionModel::initTestCase() {
    QVERIFY(m_dir.isValid());
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    m_image = m_dir.filePath(QStringLiteral("snip.png"));
    QVERIFY(image.save(m_image, "PNG"));
}

// The second request changes nothing, and the recogniser made for the first serves the next run.
void TestRecognitionModel::requestWhileRunningIsIgnored() {
    Latch latch;
    TextRecognitionModel model(latchFactory(&latch));
    model.recognize(m_image, {});
    QVERIFY(model.isRunning());
    QTRY_COMPARE(latch.started.load(), 1);
    model.recognize(m_image, {});
    latch.released = 2;
    QTRY_VERIFY(model.didRun());
    QCOMPARE(model.lines().value(0).text, QStringLiteral("Lauf 1"));
    QVERIFY(!model.isRunning());
    QCOMPARE(latch.started.load(), 1);

    model.recognize(m_image, {});
    QTRY_VERIFY(model.didRun());
    QCOMPARE(model.lines().value(0).text, QStringLiteral("Lauf 2"));
    QCOMPARE(latch.factoryCalls.load(), 1);
}

void TestRecognitionModel::onlyTheNewestRequestApplies_data() {
    QTest::addColumn<bool>("ignoreCancel");
    QTest::addColumn<bool>("firstReturnsBeforeReset");
    QTest::newRow("abandoned pass stops when cancelled") << false << false;
    QTest::newRow("abandoned pass ends after the new request") << true << false;
    QTest::newRow("abandoned pass ends before the reset") << true << true;
}

// recognise, reset, recognise: the first outcome never shows, however the first pass ends, and the
// model stays running until the second has ended.
void TestRecognitionModel::onlyTheNewestRequestApplies() {
    QFETCH(bool, ignoreCancel);
    QFETCH(bool, firstReturnsBeforeReset);
    Latch latch;
    latch.ignoreCancel = ignoreCancel;
    TextRecognitionModel model(latchFactory(&latch));
    const auto releaseAll = qScopeGuard([&] { latch.released = 1000; });
    QSignalSpy lines(&model, &TextRecognitionModel::linesChanged);
    model.recognize(m_image, {});
    QTRY_COMPARE(latch.started.load(), 1);
    if (firstReturnsBeforeReset) {
        latch.released = 1;
        // Without handling events, so that the posted outcome arrives only after the reset.
        const QDeadlineTimer deadline(10000);
        while (latch.returned < 1 && !deadline.hasExpired())
            QThread::msleep(1);
        QVERIFY2(latch.returned == 1, "the released pass never returned");
        QThread::msleep(100);
    }
    model.reset();
    QVERIFY(!model.isRunning());
    model.recognize(m_image, {});
    if (!firstReturnsBeforeReset && ignoreCancel)
        latch.released = 1;
    QTRY_COMPARE(latch.started.load(), 2);
    QCoreApplication::processEvents();
    QVERIFY(model.isRunning());
    QVERIFY(!model.didRun());
    QCOMPARE(lines.count(), 0);

    latch.released = 2;
    QTRY_VERIFY(model.didRun());
    QCOMPARE(model.lines().value(0).text, QStringLiteral("Lauf 2"));
    QCOMPARE(lines.count(), 1);
    QVERIFY(model.error().isEmpty());
}

void TestRecognitionModel::destroyedMidPass_data() {
    QTest::addColumn<bool>("ignoreCancel");
    QTest::newRow("pass stops when cancelled") << false;
    QTest::newRow("pass cannot be interrupted") << true;
}

// Closing the editor or quitting mid-pass: the destructor returns without waiting for the pass,
// and nothing of it arrives afterwards (the sanitizers watch the posted outcome).
void TestRecognitionModel::destroyedMidPass() {
    QFETCH(bool, ignoreCancel);
    Latch latch;
    latch.ignoreCancel = ignoreCancel;
    int changes = 0;
    {
        TextRecognitionModel model(latchFactory(&latch));
        model.recognize(m_image, {});
        QTRY_COMPARE(latch.started.load(), 1);
        connect(&model, &TextRecognitionModel::didRunChanged, [&] { ++changes; });
        connect(&model, &TextRecognitionModel::linesChanged, [&] { ++changes; });
    }
    latch.released = 1;
    QTRY_COMPARE(latch.returned.load(), 1);
    QTest::qWait(50);
    QCOMPARE(changes, 0);
}

// A recogniser that could not be made fails its request and is asked for again by the next one.
void TestRecognitionModel::recognizerUnavailable() {
    Latch latch;
    latch.released = 1000;
    int made = 0;
    TextRecognitionModel model([&]() -> std::unique_ptr<TextRecognizer> {
        if (made++ == 0)
            throw AppFailure(QStringLiteral("Die Sprachdaten fehlen."));
        return std::make_unique<LatchRecognizer>(&latch);
    });
    model.recognize(m_image, {});
    QTRY_VERIFY(model.didRun());
    QCOMPARE(model.error(), QStringLiteral("Texterkennung fehlgeschlagen: Die Sprachdaten fehlen."));
    QVERIFY(model.lines().isEmpty());
    model.recognize(m_image, {});
    QTRY_VERIFY(model.didRun());
    QVERIFY(model.error().isEmpty());
    QCOMPARE(model.lines().value(0).text, QStringLiteral("Lauf 1"));
}

void TestRecognitionModel::failures_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<QString>("expected"); // the whole text, or its beginning when it ends in "…"
    const QString prefix = QStringLiteral("Texterkennung fehlgeschlagen: ");
    QTest::newRow("missing file") << QStringLiteral("fehlt.png") << MarkList()
                                  << prefix + QStringLiteral("Die Bilddatei konnte nicht gelesen werden.");
    QTest::newRow("not an image") << QStringLiteral("text.png") << MarkList() << prefix + u'…';
    QTest::newRow("invalid blur mark")
        << QStringLiteral("snip.png") << MarkList{mk(MarkKind::Blur, 0.1, 0.1, 1.5, 0.2)} << prefix + u'…';
    QTest::newRow("above 40 megapixels")
        << QStringLiteral("huge.png") << MarkList()
        << prefix + QStringLiteral("Das Bild ist für die Texterkennung zu groß (höchstens 40 Megapixel).");
    // Refused by its header, before the decoder could find that the data ends early.
    QTest::newRow("above 40 megapixels, cut short")
        << QStringLiteral("cut.png") << MarkList()
        << prefix + QStringLiteral("Das Bild ist für die Texterkennung zu groß (höchstens 40 Megapixel).");
    QTest::newRow("wider than 20,000 pixels")
        << QStringLiteral("wide.png") << MarkList()
        << prefix + QStringLiteral(
                        "Das Bild ist für die Texterkennung zu groß (höchstens 20.000 Pixel je Seite).");
    QTest::newRow("taller than 20,000 pixels, under a redaction")
        << QStringLiteral("tall.png") << MarkList{mk(MarkKind::Redact, 0.1, 0.1, 0.5, 0.2)}
        << prefix + QStringLiteral(
                        "Das Bild ist für die Texterkennung zu groß (höchstens 20.000 Pixel je Seite).");
}

// A failed run after a successful one: no lines, the German failure text, finished.
void TestRecognitionModel::failures() {
    QFETCH(QString, file);
    QFETCH(MarkList, marks);
    QFETCH(QString, expected);
    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("text.png")), "Kein Bild, nur Text."));
    for (const QSize size : {QSize(20001, 2), QSize(3, 20001)}) {
        const QString name =
            size.width() > size.height() ? QStringLiteral("wide.png") : QStringLiteral("tall.png");
        if (!QFile::exists(m_dir.filePath(name))) {
            QImage image(size, QImage::Format_Mono);
            image.fill(0);
            QVERIFY(image.save(m_dir.filePath(name), "PNG"));
        }
    }
    if (!QFile::exists(m_dir.filePath(QStringLiteral("huge.png")))) {
        QImage huge(8000, 5001, QImage::Format_Mono);
        huge.fill(0);
        QVERIFY(huge.save(m_dir.filePath(QStringLiteral("huge.png")), "PNG"));
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("cut.png")),
                          readFile(m_dir.filePath(QStringLiteral("huge.png"))).left(200)));
    }

    Latch latch;
    latch.released = 1000;
    TextRecognitionModel model(latchFactory(&latch));
    model.recognize(m_image, {});
    QTRY_VERIFY(model.didRun());
    QVERIFY(!model.lines().isEmpty());

    model.recognize(m_dir.filePath(file), marks);
    QVERIFY(model.isRunning());
    QTRY_VERIFY(model.didRun());
    QVERIFY(!model.isRunning());
    QVERIFY(model.lines().isEmpty());
    if (expected.endsWith(u'…')) {
        QVERIFY2(model.error().startsWith(expected.chopped(1)), qPrintable(model.error()));
        QVERIFY(model.error().size() > expected.size());
    } else {
        QCOMPARE(model.error(), expected);
    }
}

// A program that recognises whatever lies under the image's name ends its run and then quits: a
// FIFO without a writer must not hold the run, nor the worker that quitting waits for.
void TestRecognitionModel::programEndsAfterRun_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("printed");
    const QString unreadable =
        QStringLiteral("Texterkennung fehlgeschlagen: Die Bilddatei konnte nicht gelesen werden.");
    QTest::newRow("FIFO") << "fifo" << unreadable;
    QTest::newRow("folder") << "folder" << unreadable;
    QTest::newRow("image without text") << "image"
                                        << "0";
}

void TestRecognitionModel::programEndsAfterRun() {
    QFETCH(QString, kind);
    QFETCH(QString, printed);
    const QString path = m_dir.filePath(QStringLiteral("unter-dem-namen.png"));
    if (kind == u"image")
        QVERIFY(QFile::copy(m_image, path));
    else
        QVERIFY(makeNonRegularFile(kind, path));
    QProcess program;
    const auto cleanUp = qScopeGuard([&] {
        program.kill();
        program.waitForFinished();
        if (kind == u"folder")
            QDir().rmdir(path);
        else
            QFile::remove(path);
    });
    program.start(QStringLiteral(RECOGNIZE_AND_QUIT), {path});
    QVERIFY(program.waitForStarted());
    QVERIFY2(program.waitForFinished(30000), "the program did not end");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(QString::fromUtf8(program.readAllStandardOutput()), printed);
    QCOMPARE(program.exitCode(), 0);
}

// Hidden text is gone from the pixels before the recogniser sees them; a blur becomes a redaction
// rather than a blur, which a machine might still read.
void TestRecognitionModel::hiddenMarksBurntIn() {
    const MarkList marks{mk(MarkKind::Blur, 0.1, 0.2, 0.3, 0.8), mk(MarkKind::Redact, 0.6, 0.2, 0.8, 0.6),
                         mk(MarkKind::Highlight, 0.4, 0.1, 0.5, 0.9),
                         mk(MarkKind::Rectangle, 0.85, 0.1, 0.95, 0.9)};
    const QList<QPoint> black{QPoint(20, 25), QPoint(12, 12), QPoint(70, 20)};
    const QList<QPoint> untouched{QPoint(45, 25), QPoint(85, 25), QPoint(90, 45), QPoint(50, 5)};
    QImage source(100, 50, QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            source.setPixel(x, y, (x / 2 + y / 2) % 2 ? qRgb(255, 255, 255) : qRgb(90, 140, 200));
    const QString path = m_dir.filePath(QStringLiteral("muster.png"));
    QVERIFY(source.save(path, "PNG"));
    CapturingRecognizer recognizer;
    TextRecognition::recognize(recognizer, readFile(path), marks);
    QCOMPARE(recognizer.seen.size(), source.size());
    for (const QPoint &p : black)
        QCOMPARE(QColor(recognizer.seen.pixel(p)), QColor(Qt::black));
    for (const QPoint &p : untouched)
        QCOMPARE(QColor(recognizer.seen.pixel(p)), QColor(source.pixel(p)));
}

void TestRecognitionModel::editorLines_data() {
    using Lines = QList<TextRecognizer::Line>;
    QTest::addColumn<Lines>("input");
    QTest::addColumn<MarkList>("hidden");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<QRectF>>("rects");
    const QSizeF size(200, 100);
    QTest::newRow("normalised, words joined by one space")
        << Lines{line(QRectF(20, 10, 100, 20), {QStringLiteral("Datei"), QStringLiteral("öffnen …")})}
        << MarkList() << QStringList{QStringLiteral("Datei öffnen …")}
        << QList<QRectF>{QRectF(0.1, 0.1, 0.5, 0.2)};
    QTest::newRow("blank words and blank lines left out")
        << Lines{line(QRectF(0, 0, 20, 10), {QStringLiteral(" "), QStringLiteral("Ja\n"), QString()}),
                 line(QRectF(0, 50, 20, 10), {QStringLiteral("\t"), QStringLiteral(" ")}),
                 line(QRectF(0, 80, 20, 10), {})}
        << MarkList() << QStringList{QStringLiteral("Ja")} << QList<QRectF>{QRectF(0, 0, 0.1, 0.1)};
    QTest::newRow("a no-break space separates words")
        << Lines{line(QRectF(20, 10, 100, 20), {QStringLiteral("Nr.\u00A0123"), QStringLiteral("frei")})}
        << MarkList() << QStringList{QStringLiteral("Nr. 123 frei")}
        << QList<QRectF>{QRectF(0.1, 0.1, 0.5, 0.2)};
    QTest::newRow("line under a redaction dropped, its neighbour kept")
        << Lines{line(QRectF(20, 10, 100, 10), {QStringLiteral("geheim")}),
                 line(QRectF(20, 40, 100, 10), {QStringLiteral("offen")})}
        << MarkList{mk(MarkKind::Redact, 0.5, 0.12, 0.55, 0.15)} << QStringList{QStringLiteral("offen")}
        << QList<QRectF>{QRectF(0.1, 0.4, 0.5, 0.1)};
    QTest::newRow("corner-only overlap, drawn backwards, drops the line")
        << Lines{line(QRectF(20, 10, 100, 10), {QStringLiteral("geheim")})}
        << MarkList{mk(MarkKind::Redact, 0.9, 0.9, 0.58, 0.18)} << QStringList() << QList<QRectF>();
    QTest::newRow("touching corner drops the line")
        << Lines{line(QRectF(20, 10, 100, 10), {QStringLiteral("geheim")})}
        << MarkList{mk(MarkKind::Redact, 0.6, 0.2, 0.9, 0.9)} << QStringList() << QList<QRectF>();
    QTest::newRow("clear gap keeps the line")
        << Lines{line(QRectF(20, 10, 100, 10), {QStringLiteral("offen")})}
        << MarkList{mk(MarkKind::Redact, 0.61, 0.0, 0.8, 0.09)} << QStringList{QStringLiteral("offen")}
        << QList<QRectF>{QRectF(0.1, 0.1, 0.5, 0.1)};
}

void TestRecognitionModel::editorLines() {
    using Lines = QList<TextRecognizer::Line>;
    QFETCH(Lines, input);
    QFETCH(MarkList, hidden);
    QFETCH(QStringList, texts);
    QFETCH(QList<QRectF>, rects);
    const RecognizedTextLines lines = TextRecognition::editorLines(input, QSizeF(200, 100), hidden);
    QCOMPARE(lines.size(), texts.size());
    for (int i = 0; i < lines.size(); ++i) {
        QCOMPARE(lines[i].text, texts[i]);
        QCOMPARE(lines[i].rect, rects[i]);
        QStringList words;
        for (const RecognizedTextWord &word : lines[i].words) {
            words.append(word.text);
            QVERIFY(lines[i].rect.adjusted(-1e-9, -1e-9, 1e-9, 1e-9).contains(word.rect));
        }
        QCOMPARE(words.join(QLatin1Char(' ')), lines[i].text);
    }
}

QTEST_GUILESS_MAIN(TestRecognitionModel)
#include "tst_recognitionmodel.moc"
