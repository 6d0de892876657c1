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
};

QTEST_MAIN(TestMarkText)
#include "tst_marktext.moc"
