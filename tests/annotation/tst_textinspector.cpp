#include "CanvasTestSupport.h"
#include "EditorTestSupport.h"
#include "support/FileSupport.h"
#include "support/MarkTestSupport.h"

#include "annotation/TextInspector.h"
#include "model/AppFailure.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QToolButton>

#include <atomic>
#include <fcntl.h>
#include <unistd.h>

class TestTextInspector : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void filter_data();
    void filter();
    void states_data();
    void states();
    void cancelWhileRunning();
    void markRecognized_data();
    void markRecognized();
    void selectionAndQuery();
    void markerOnCanvas();
    void markerDragEndsLinePick_data();
    void markerDragEndsLinePick();
    void imageNotARegularFile_data();
    void imageNotARegularFile();
};

namespace {
// Answers the lines it was given, each a row of words across `box` (normalised), or fails.
struct Script {
    QList<QPair<QString, QRectF>> lines;
    QString failure;
    std::atomic<bool> hold{false}; // waits until cancelled
    std::atomic<int> running{0};   // passes inside recognize()
};

class ScriptedRecognizer final : public TextRecognizer {
public:
    explicit ScriptedRecognizer(Script *script) : m_script(script) {}
    QList<Line> recognize(const QImage &image, const Cancelled &cancelled) override {
        ++m_script->running;
        const auto leave = qScopeGuard([this] { --m_script->running; });
        while (m_script->hold && !cancelled())
            QThread::msleep(1);
        if (!m_script->failure.isEmpty())
            throw AppFailure(m_script->failure);
        QList<Line> result;
        for (const auto &[text, box] : m_script->lines) {
            const QRectF pixels(box.x() * image.width(), box.y() * image.height(),
                                box.width() * image.width(), box.height() * image.height());
            Line line{pixels, {}};
            const QStringList words = text.split(u' ');
            for (int i = 0; i < words.size(); ++i) {
                const double w = pixels.width() / words.size();
                line.words.append({words[i], QRectF(pixels.x() + i * w, pixels.y(), w, pixels.height())});
            }
            result.append(line);
        }
        return result;
    }

private:
    Script *m_script;
};

struct TextEditor : Editor {
    explicit TextEditor(Script *script, MarkList marks = {})
        : Editor(std::move(marks), QSize(1000, 500),
                 [script] { return std::make_unique<ScriptedRecognizer>(script); }) {}
    TextInspector *inspector() const { return workspace->textInspector(); }
    TextRecognitionModel *model() const { return session()->recognition(); }
    bool recognize() {
        session()->recognizeText();
        return QTest::qWaitFor([&] { return model()->didRun(); }) &&
               (QCoreApplication::processEvents(), true);
    }
};

const QList<QPair<QString, QRectF>> kLines{
    {QStringLiteral("ÄNDERUNG DER ADRESSE"), QRectF(0.1, 0.1, 0.5, 0.05)},
    {QStringLiteral("Straße und Hausnummer"), QRectF(0.1, 0.2, 0.5, 0.05)},
    {QStringLiteral("Rechnung 2024"), QRectF(0.1, 0.3, 0.3, 0.05)},
    {QStringLiteral("Änderung"), QRectF(0.1, 0.4, 0.2, 0.05)},
};
} // namespace

// The search as typed: without regard to case, the query not trimmed, part of a word enough.
void TestTextInspector::filter_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("message");
    QTest::newRow("no query") << ""
                              << QStringList{"ÄNDERUNG DER ADRESSE", "Straße und Hausnummer", "Rechnung 2024",
                                             "Änderung"}
                              << "";
    QTest::newRow("lower case finds capitals")
        << "änderung" << QStringList{"ÄNDERUNG DER ADRESSE", "Änderung"} << "";
    QTest::newRow("a trailing space is kept") << "änderung " << QStringList{"ÄNDERUNG DER ADRESSE"} << "";
    QTest::newRow("part of a word") << "ech" << QStringList{"Rechnung 2024"} << "";
    QTest::newRow("ss finds ß") << "STRASSE" << QStringList{"Straße und Hausnummer"} << "";
    QTest::newRow("nothing matches") << "zzz" << QStringList{} << "Keine Treffer für diese Suche.";
}

void TestTextInspector::filter() {
    QFETCH(QString, query);
    QFETCH(QStringList, shown);
    QFETCH(QString, message);
    Script script;
    script.lines = kLines;
    TextEditor e(&script);
    QVERIFY(e.recognize());
    QLineEdit *search = e.inspector()->searchField();
    search->insert(query); // typed: the field reports it as an edit
    QCoreApplication::processEvents();
    QCOMPARE(e.session()->textQuery(), query);
    QCOMPARE(e.inspector()->shownLines(), shown);
    QCOMPARE(e.inspector()->countLabel()->text(),
             QString::number(shown.size()) + QStringLiteral(" Textstellen"));
    QCOMPARE(e.inspector()->message(), message);
    // Clearing the query shows every line again.
    search->selectAll();
    search->del();
    QCoreApplication::processEvents();
    QCOMPARE(e.session()->textQuery(), QString());
    QCOMPARE(e.inspector()->shownLines().size(), kLines.size());
}

// What the page shows after a run, by its outcome.
void TestTextInspector::states_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("error");
    QTest::newRow("lines found") << QStringList{"Hallo Welt", "Zweite Zeile"} << ""
                                 << "2 Textstellen"
                                 << ""
                                 << "";
    QTest::newRow("one line") << QStringList{"Hallo"} << ""
                              << "1 Textstellen"
                              << ""
                              << "";
    QTest::newRow("no text") << QStringList{} << ""
                             << "0 Textstellen"
                             << "Kein lesbarer Text gefunden."
                             << "";
    QTest::newRow("failed") << QStringList{} << "Die Bilddatei konnte nicht gelesen werden."
                            << "0 Textstellen"
                            << "Kein lesbarer Text gefunden."
                            << "Texterkennung fehlgeschlagen: Die Bilddatei konnte nicht gelesen werden.";
}

void TestTextInspector::states() {
    QFETCH(QStringList, lines);
    QFETCH(QString, failure);
    QFETCH(QString, count);
    QFETCH(QString, message);
    QFETCH(QString, error);
    Script script;
    for (int i = 0; i < lines.size(); ++i)
        script.lines.append({lines[i], QRectF(0.1, 0.1 + 0.1 * i, 0.4, 0.05)});
    script.failure = failure;
    TextEditor e(&script);
    QCoreApplication::processEvents();
    QCOMPARE(e.inspector()->recognizeButton()->text(), QStringLiteral("Text erkennen"));
    QVERIFY(e.inspector()->message().isEmpty());
    QVERIFY(e.recognize());
    QCOMPARE(e.session()->inspectorTab(), AnnotationSession::InspectorTab::Text);
    QCOMPARE(e.inspector()->recognizeButton()->text(), QStringLiteral("Erneut erkennen"));
    QVERIFY(e.inspector()->recognizeButton()->isEnabled());
    QCOMPARE(e.inspector()->countLabel()->text(), count);
    QCOMPARE(e.inspector()->message(), message);
    QCOMPARE(e.model()->error(), error);
    QCOMPARE(e.inspector()->shownLines(), lines);
}

// Cancelling returns to the start; the abandoned pass never shows.
void TestTextInspector::cancelWhileRunning() {
    Script script;
    script.lines = kLines;
    script.hold = true;
    // Whatever fails below, the pass ends before the script it reads goes away.
    const auto release = qScopeGuard([&] {
        script.hold = false;
        QTest::qWaitFor([&] { return script.running == 0; }, 10000);
    });
    TextEditor e(&script);
    QVERIFY(e.waitForCanvas());
    e.session()->recognizeText();
    QCoreApplication::processEvents();
    QCOMPARE(e.inspector()->recognizeButton()->text(), QStringLiteral("Erkennung läuft …"));
    QVERIFY(!e.inspector()->recognizeButton()->isEnabled());
    QPushButton *header = nullptr;
    for (QPushButton *b : e.workspace->findChildren<QPushButton *>())
        if (b->text() == QStringLiteral("Text wird erkannt …"))
            header = b;
    QVERIFY(header && !header->isEnabled());
    QToolButton *cancel = toolButton(e.inspector(), QStringLiteral("Erkennung abbrechen"));
    QVERIFY(cancel && cancel->isVisibleTo(e.inspector()));
    cancel->click();
    QTRY_VERIFY2(script.running == 0, "the pass on the worker thread never saw the cancel");
    QCoreApplication::processEvents();
    QCOMPARE(e.inspector()->recognizeButton()->text(), QStringLiteral("Text erkennen"));
    QVERIFY(!cancel->isVisibleTo(e.inspector()));
    QTest::qWait(50);
    QVERIFY(!e.model()->didRun() && e.model()->lines().isEmpty());
}

// Marking a recognised line: its colour, its padding, one undo step; blurs and redactions change
// what recognition saw, so the lines go.
void TestTextInspector::markRecognized_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("color");
    QTest::addColumn<double>("pad");
    QTest::addColumn<bool>("linesKept");
    const auto k = [](MarkKind kind) { return int(kind); };
    QTest::newRow("highlight is always yellow")
        << k(MarkKind::Highlight) << int(MarkColor::Yellow) << 0.004 << true;
    QTest::newRow("rectangle in the drawing colour")
        << k(MarkKind::Rectangle) << int(MarkColor::Coral) << 0.004 << true;
    QTest::newRow("cloud padded more") << k(MarkKind::Cloud) << int(MarkColor::Coral) << 0.015 << true;
    QTest::newRow("blur resets the lines") << k(MarkKind::Blur) << int(MarkColor::Coral) << 0.004 << false;
    QTest::newRow("redaction resets the lines")
        << k(MarkKind::Redact) << int(MarkColor::Coral) << 0.004 << false;
}

void TestTextInspector::markRecognized() {
    QFETCH(int, kind);
    QFETCH(int, color);
    QFETCH(double, pad);
    QFETCH(bool, linesKept);
    Script script;
    script.lines = kLines;
    TextEditor e(&script, {mk(MarkKind::Arrow, 0.7, 0.7, 0.9, 0.9)});
    AnnotationSession *s = e.session();
    s->chooseColor(MarkColor::Coral);
    s->setTextMarkerColor(MarkColor::Green);
    QVERIFY(e.recognize());
    const RecognizedTextLine line = e.model()->lines().at(2);
    e.inspector()->shownLines(); // the rows exist
    s->selectRecognizedLine(line.id);
    QCoreApplication::processEvents();
    QVERIFY(e.inspector()->selectedBlock()->isVisibleTo(e.inspector()));
    // Through the menu, as the user does.
    QAction *entry = nullptr;
    for (QAction *a : e.inspector()->markButton()->menu()->actions())
        if (a->text() == MarkKinds::title(MarkKind(kind)))
            entry = a;
    QVERIFY(entry);
    entry->trigger();

    QCOMPARE(e.marks().size(), 2);
    const Mark m = e.marks().last();
    QCOMPARE(m.kind, MarkKind(kind));
    QCOMPARE(m.color, MarkColor(color));
    QVERIFY(qAbs(m.x1 - (line.rect.left() - pad)) < 1e-9 && qAbs(m.y2 - (line.rect.bottom() + pad)) < 1e-9);
    QCOMPARE(s->history().past.size(), 1);
    QCOMPARE(s->selection(), std::optional<QUuid>(m.id));
    QCOMPARE(s->inspectorTab(), AnnotationSession::InspectorTab::Layers);
    QCOMPARE(s->recognizedSelection(), std::nullopt);
    QCOMPARE(!e.model()->lines().isEmpty(), linesKept);
    QCOMPARE(e.model()->didRun(), linesKept);
    s->undo();
    QCOMPARE(e.marks().size(), 1);
}

// Selecting a line frees the canvas; typing closes the selected line and its outline.
void TestTextInspector::selectionAndQuery() {
    Script script;
    script.lines = kLines;
    const Mark arrow = mk(MarkKind::Arrow, 0.7, 0.7, 0.9, 0.9);
    TextEditor e(&script, {arrow});
    QVERIFY(e.waitForCanvas());
    AnnotationSession *s = e.session();
    QVERIFY(e.recognize());
    s->setSelection(arrow.id);
    s->toggleHand();
    const RecognizedTextLine line = e.model()->lines().first();
    s->selectRecognizedLine(line.id);
    QCOMPARE(s->selection(), std::nullopt);
    QVERIFY(!s->hand() && !s->tool());
    QCOMPARE(e.canvas()->configuration().focusRect, std::optional<QRectF>(line.rect));
    QCoreApplication::processEvents();
    QCOMPARE(e.inspector()->selectedBlock()->isVisibleTo(e.inspector()), true);
    for (QPushButton *b : e.inspector()->findChildren<QPushButton *>())
        if (b->text() == QStringLiteral("Kopieren"))
            b->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), line.text);

    e.inspector()->searchField()->insert(QStringLiteral("ä"));
    QCoreApplication::processEvents();
    QCOMPARE(s->recognizedSelection(), std::nullopt);
    QCOMPARE(e.canvas()->configuration().focusRect, std::nullopt);
    QVERIFY(!e.inspector()->selectedBlock()->isVisibleTo(e.inspector()));
    // The query and the marker colour survive a new run.
    s->setTextMarker(false);
    s->setTextMarkerColor(MarkColor::Purple);
    QVERIFY(!s->textMarker());
    s->recognizeText();
    QVERIFY(QTest::qWaitFor([&] { return e.model()->didRun(); }));
    QCOMPARE(s->textQuery(), QStringLiteral("ä"));
    QCOMPARE(s->textMarkerColor(), MarkColor::Purple);
    QVERIFY(s->textMarker());
}

// The marker drag on the canvas makes highlights in the marker colour.
void TestTextInspector::markerOnCanvas() {
    Script script;
    script.lines = kLines;
    TextEditor e(&script);
    QVERIFY(e.waitForCanvas());
    AnnotationSession *s = e.session();
    s->chooseMarker(); // recognises, as it never ran
    QVERIFY(QTest::qWaitFor([&] { return e.model()->didRun(); }));
    s->setTextMarkerColor(MarkColor::Green);
    QVERIFY(s->markingText());
    QCOMPARE(e.canvas()->configuration().recognizedLines.size(), kLines.size());
    QCOMPARE(e.workspace->hint(), QStringLiteral("Über erkannte Wörter ziehen, um sie zu markieren"));
    drag(e.canvas(), e.at(0.12, 0.12), e.at(0.35, 0.22));
    QCOMPARE(e.marks().size(), 2);
    for (const Mark &m : e.marks()) {
        QCOMPARE(m.kind, MarkKind::Highlight);
        QCOMPARE(m.color, MarkColor::Green);
    }
    QCOMPARE(s->history().past.size(), 1);
    // Highlights keep the lines; Esc ends the marker and takes the lines off the canvas.
    QVERIFY(!e.model()->lines().isEmpty());
    QTest::keyClick(e.canvas(), Qt::Key_Escape);
    QVERIFY(!s->markingText());
    QVERIFY(e.canvas()->configuration().recognizedLines.isEmpty());
}

// Highlights made by a marker drag end the pick of a recognised line: its block and its outline go,
// as does any mark selection. A drag that touches no word makes nothing and leaves the pick.
void TestTextInspector::markerDragEndsLinePick_data() {
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<int>("highlights");
    QTest::newRow("over the picked line") << QPointF(0.12, 0.12) << QPointF(0.35, 0.12) << 1;
    QTest::newRow("over another line") << QPointF(0.12, 0.32) << QPointF(0.35, 0.32) << 1;
    QTest::newRow("over two lines") << QPointF(0.12, 0.12) << QPointF(0.35, 0.22) << 2;
    QTest::newRow("over no word") << QPointF(0.75, 0.75) << QPointF(0.9, 0.9) << 0;
}

void TestTextInspector::markerDragEndsLinePick() {
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(int, highlights);
    Script script;
    script.lines = kLines;
    TextEditor e(&script);
    QVERIFY(e.waitForCanvas());
    AnnotationSession *s = e.session();
    s->chooseMarker();
    QVERIFY(QTest::qWaitFor([&] { return e.model()->didRun(); }));
    const RecognizedTextLine line = e.model()->lines().first();
    s->selectRecognizedLine(line.id);
    QVERIFY(s->markingText());
    QCoreApplication::processEvents();
    QCOMPARE(e.canvas()->configuration().focusRect, std::optional<QRectF>(line.rect));
    QVERIFY(e.inspector()->selectedBlock()->isVisibleTo(e.inspector()));

    drag(e.canvas(), e.at(from.x(), from.y()), e.at(to.x(), to.y()));
    QCoreApplication::processEvents();
    QCOMPARE(e.marks().size(), highlights);
    QCOMPARE(s->selection(), std::nullopt);
    const bool picked = highlights == 0;
    QCOMPARE(s->recognizedSelection(), picked ? std::optional<QUuid>(line.id) : std::nullopt);
    QCOMPARE(e.canvas()->configuration().focusRect,
             picked ? std::optional<QRectF>(line.rect) : std::optional<QRectF>());
    QCOMPARE(e.inspector()->selectedBlock()->isVisibleTo(e.inspector()), picked);
    QVERIFY(s->markingText());
}

// Something other than a file under the snip's image name is refused before a byte is read: the
// run ends with the failure sentence instead of waiting for a writer that never comes.
void TestTextInspector::imageNotARegularFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("folder") << "folder";
    QTest::newRow("device") << "device";
}

void TestTextInspector::imageNotARegularFile() {
    QFETCH(QString, kind);
    Script script;
    script.lines = kLines;
    TextEditor e(&script);
    QVERIFY(e.waitForCanvas());
    const QString path = e.f.store->imagesDirectory() + QStringLiteral("/A0.png");
    QVERIFY(QFile::remove(path));
    const QByteArray name = QFile::encodeName(path);
    QVERIFY(makeNonRegularFile(kind, path));
    // Should a reader wait in the FIFO after all, a writer lets it go, so the test can end.
    const auto release = qScopeGuard([&] {
        if (kind == u"fifo") {
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    });

    e.session()->recognizeText();
    QTRY_VERIFY_WITH_TIMEOUT(e.model()->didRun(), 10000);
    QCOMPARE(e.model()->error(),
             QStringLiteral("Texterkennung fehlgeschlagen: Die Bilddatei konnte nicht gelesen werden."));
    QVERIFY(e.model()->lines().isEmpty());
    QCOMPARE(script.running.load(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(e.inspector()->recognizeButton()->text(), QStringLiteral("Erneut erkennen"));
}

QTEST_MAIN(TestTextInspector)
#include "tst_textinspector.moc"
