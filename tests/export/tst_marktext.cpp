#include "export/MarkRenderer.h"

#include <QImage>
#include <QPainter>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QString kSeparator = QString(QChar(QChar::LineSeparator));

Mark textBox(const QString &text, bool fixed) {
    Mark mark = Mark::make(MarkKind::Text, 0.1, 0.1, 0.9, 0.9);
    mark.text = text;
    if (fixed)
        mark.fixedTextBox = true;
    return mark;
}

QImage drawn(const Mark &mark) {
    QImage image(600, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    MarkRenderer::draw({mark}, painter, QSizeF(image.size()));
    return image;
}
} // namespace

// Every kind of line break lays out like the Unicode line separator, in the drawn box, in the box
// fitted around a text and in the font size fitted into a fixed box.
class TestMarkText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void breaks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("same"); // the text it must look like
        QTest::newRow("LF") << u"Erste Zeile\nZweite Zeile"_s
                            << u"Erste Zeile"_s + kSeparator + u"Zweite Zeile"_s;
        QTest::newRow("CR LF") << u"Erste Zeile\r\nZweite Zeile"_s
                               << u"Erste Zeile"_s + kSeparator + u"Zweite Zeile"_s;
        QTest::newRow("CR") << u"Erste Zeile\rZweite Zeile"_s
                            << u"Erste Zeile"_s + kSeparator + u"Zweite Zeile"_s;
        QTest::newRow("paragraph separator")
            << u"Erste Zeile\u2029Zweite Zeile"_s << u"Erste Zeile"_s + kSeparator + u"Zweite Zeile"_s;
        QTest::newRow("vertical tab")
            << u"Erste Zeile\vZweite Zeile"_s << u"Erste Zeile"_s + kSeparator + u"Zweite Zeile"_s;
        QTest::newRow("two breaks") << u"A\n\nB"_s << u"A"_s + kSeparator + kSeparator + u"B"_s;
        QTest::newRow("other control characters dropped") << u"Erste\x01 Zeile\x1b"_s << u"Erste Zeile"_s;
    }
    void breaks() {
        QFETCH(QString, text);
        QFETCH(QString, same);
        const QSizeF image(600, 300);
        for (const bool fixed : {false, true})
            QCOMPARE(drawn(textBox(text, fixed)), drawn(textBox(same, fixed)));
        const auto fitted = MarkRenderer::fittingText(textBox({}, false), text, image);
        QVERIFY(fitted);
        QCOMPARE(fitted->y2 - fitted->y1, MarkRenderer::fittingText(textBox({}, false), same, image)->y2 -
                                              MarkRenderer::fittingText(textBox({}, false), same, image)->y1);
        QCOMPARE(MarkRenderer::fittingFontSize(text, {900, 60}),
                 MarkRenderer::fittingFontSize(same, {900, 60}));
    }

    // A break makes a second line: the fitted box grows, the fitted font shrinks, the ink moves.
    void aBreakIsASecondLine() {
        const QString one = u"Erste Zeile Zweite Zeile"_s, two = u"Erste Zeile\nZweite Zeile"_s;
        const QSizeF image(600, 300);
        const auto height = [&](const QString &text) {
            const auto box = MarkRenderer::fittingText(textBox({}, false), text, image);
            return box->y2 - box->y1;
        };
        QVERIFY2(height(two) > height(one) * 1.3, qPrintable(u"%1 %2"_s.arg(height(two)).arg(height(one))));
        QVERIFY(MarkRenderer::fittingFontSize(two, {900, 40}) <
                0.7 * MarkRenderer::fittingFontSize(one, {900, 40}));
        QVERIFY(drawn(textBox(two, false)) != drawn(textBox(one, false)));
    }

    // The font size fitted into a fixed box: each box and text gives what the bisection over every
    // size measured in full gave (figures of Inter as the scripts install it), also when asked
    // again, after other texts in the same box and the same text in other boxes.
    void fittingFontSize_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSizeF>("content");
        QTest::addColumn<double>("expected");
        const QString sentence =
            u"Hier klicken, um die Einstellungen zu öffnen und den Export als PDF zu starten."_s;
        QString paragraph, pages;
        while (paragraph.size() < 2000)
            paragraph += sentence + u' ';
        while (pages.size() < 20000)
            pages += sentence + u' ';
        const auto row = [](const char *name, const QString &text, QSizeF content, double expected) {
            QTest::newRow(name) << text << content << expected;
        };
        row("one word", u"Hinweis"_s, {900, 60}, 27.993188476562501);
        row("two lines", u"Erste Zeile\nZweite Zeile"_s, {900, 60}, 24.778149414062497);
        row("sentence, wide", sentence, {300, 100}, 20.650366210937499);
        row("sentence, narrow", sentence, {120, 300}, 24.778149414062497);
        row("one long word", u"Donaudampfschifffahrtsgesellschaftskapitän"_s, {100, 40}, 11.025683593749999);
        row("empty", {}, {200, 50}, 27.993188476562501);
        row("one letter, one unit", u"A"_s, {1, 1}, 0.84245605468750007);
        row("2000 characters", paragraph, {500, 400}, 13.212182617187501);
        row("20000 characters", pages, {200, 100}, 1.2783935546874998);
        row("two lines, larger box", u"Erste Zeile\nZweite Zeile"_s, {400, 200}, 27.993188476562501);
        row("signs", u"Größe ändern – ✓ fertig"_s, {250, 40}, 21.964990234374998);
        row("sentence, flat box", sentence, {976, 0.5}, 0.39970703125000007);
    }
    void fittingFontSize() {
        QFETCH(QString, text);
        QFETCH(QSizeF, content);
        QFETCH(double, expected);
        QCOMPARE(MarkRenderer::fittingFontSize(text, content), expected);
        QCOMPARE(MarkRenderer::fittingFontSize(text, content), expected);
    }

    // A box drawn again after another text in its place shows its own text again.
    void drawnAgain() {
        const QImage first = drawn(textBox(u"Erste Fassung"_s, true));
        const QImage other = drawn(textBox(u"Zweite Fassung des Textes"_s, true));
        QVERIFY(first != other);
        QCOMPARE(drawn(textBox(u"Erste Fassung"_s, true)), first);
        QCOMPARE(drawn(textBox(u"Zweite Fassung des Textes"_s, true)), other);
        // The same text in the same box, once at the usual size and once fitted.
        QString lines;
        for (int line = 0; line < 30; ++line)
            lines += u"Zeile "_s + QString::number(line) + u'\n';
        const QImage usual = drawn(textBox(lines, false));
        QVERIFY(drawn(textBox(lines, true)) != usual);
        QCOMPARE(drawn(textBox(lines, false)), usual);
    }

    // Lines below the box are never seen, and all that can be seen is drawn: inside a short box a
    // long text looks as the start of a short text does inside a tall one.
    void cutOnlyBelowTheBox() {
        QString text;
        for (int line = 0; line < 12; ++line)
            text += u"Zeile "_s + QString::number(line) + u'\n';
        QString more = text;
        for (int line = 0; line < 4000; ++line)
            more += u"Weitere Zeile "_s + QString::number(line) + u'\n';
        Mark tall = textBox(text, false), cut = textBox(more, false);
        cut.y2 = 0.52;                      // the sixth line half inside
        const QRect seen(70, 40, 460, 108); // inside the inner rectangles of both, to the bottom of one
        QCOMPARE(drawn(cut).copy(seen), drawn(tall).copy(seen));
    }
};

QTEST_MAIN(TestMarkText)
#include "tst_marktext.moc"
