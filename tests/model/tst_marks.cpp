#include "model/JsonCoding.h"
#include "model/Mark.h"

#include <QTest>

#include <cmath>
#include <limits>

class TestMarks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void validity_data();
    void validity();
    void arrowTip_data();
    void arrowTip();
    void derived();
    void kindTable();
    void colourTable();
    void decodeRejects_data();
    void decodeRejects();
    void optionalKeysRoundTrip();
};

using MarkEdit = std::function<void(Mark &)>;
Q_DECLARE_METATYPE(MarkEdit)

void TestMarks::validity_data() {
    QTest::addColumn<MarkEdit>("edit");
    QTest::addColumn<bool>("valid");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("reversed corners")
        << MarkEdit([](Mark &m) { m.x1 = 1, m.y1 = 0, m.x2 = 0, m.y2 = 1; }) << true;
    QTest::newRow("negative zero") << MarkEdit([](Mark &m) { m.x1 = -0.0; }) << true;
    QTest::newRow("x2 just above 1") << MarkEdit([](Mark &m) { m.x2 = 1.0000001; }) << false;
    QTest::newRow("y1 below 0") << MarkEdit([](Mark &m) { m.y1 = -1e-12; }) << false;
    QTest::newRow("x1 NaN") << MarkEdit([nan](Mark &m) { m.x1 = nan; }) << false;
    QTest::newRow("y2 infinity") << MarkEdit([inf](Mark &m) { m.y2 = inf; }) << false;
    QTest::newRow("stroke 1") << MarkEdit([](Mark &m) { m.strokeWidth = 1; }) << true;
    QTest::newRow("stroke 12") << MarkEdit([](Mark &m) { m.strokeWidth = 12; }) << true;
    QTest::newRow("stroke 0.5") << MarkEdit([](Mark &m) { m.strokeWidth = 0.5; }) << false;
    QTest::newRow("stroke 12.5") << MarkEdit([](Mark &m) { m.strokeWidth = 12.5; }) << false;
    QTest::newRow("stroke NaN") << MarkEdit([nan](Mark &m) { m.strokeWidth = nan; }) << false;
    QTest::newRow("blur 4") << MarkEdit([](Mark &m) { m.blurRadius = 4; }) << true;
    QTest::newRow("blur 40") << MarkEdit([](Mark &m) { m.blurRadius = 40; }) << true;
    QTest::newRow("blur 3.9") << MarkEdit([](Mark &m) { m.blurRadius = 3.9; }) << false;
    QTest::newRow("blur 41") << MarkEdit([](Mark &m) { m.blurRadius = 41; }) << false;
    QTest::newRow("blur infinity") << MarkEdit([inf](Mark &m) { m.blurRadius = inf; }) << false;
    QTest::newRow("number 1") << MarkEdit([](Mark &m) { m.number = 1; }) << true;
    QTest::newRow("number 9999") << MarkEdit([](Mark &m) { m.number = 9999; }) << true;
    QTest::newRow("number 0") << MarkEdit([](Mark &m) { m.number = 0; }) << false;
    QTest::newRow("number -1") << MarkEdit([](Mark &m) { m.number = -1; }) << false;
    QTest::newRow("number 10000") << MarkEdit([](Mark &m) { m.number = 10000; }) << false;
    QTest::newRow("number 2^32+1") << MarkEdit([](Mark &m) { m.number = (qint64(1) << 32) + 1; }) << false;
    QTest::newRow("tipX alone") << MarkEdit([](Mark &m) { m.tipX = 0.3; }) << true;
    QTest::newRow("tipY 1.5") << MarkEdit([](Mark &m) { m.tipY = 1.5; }) << false;
    QTest::newRow("tipX NaN") << MarkEdit([nan](Mark &m) { m.tipX = nan; }) << false;
    QTest::newRow("kind-foreign number on a line") << MarkEdit([](Mark &m) {
        m.kind = MarkKind::Line;
        m.number = 3;
    }) << true;
}

void TestMarks::validity() {
    QFETCH(MarkEdit, edit);
    QFETCH(bool, valid);
    Mark m = Mark::make(MarkKind::Callout, 0.1, 0.2, 0.3, 0.4);
    edit(m);
    QCOMPARE(m.isValid(), valid);
}

void TestMarks::arrowTip_data() {
    QTest::addColumn<double>("lowerEdge");
    QTest::addColumn<double>("expectedY");
    QTest::newRow("middle") << 0.5 << 0.62;
    QTest::newRow("near bottom clamps") << 0.95 << 1.0;
    QTest::newRow("exactly 0.88") << 0.88 << 1.0;
}

void TestMarks::arrowTip() {
    QFETCH(double, lowerEdge);
    QFETCH(double, expectedY);
    Mark m = Mark::make(MarkKind::Callout, 0.2, lowerEdge, 0.6, 0.1);
    QCOMPARE(m.arrowTip().x(), 0.4);
    QVERIFY(qFuzzyCompare(m.arrowTip().y(), expectedY));
    m.tipX = 0.9;
    QCOMPARE(m.arrowTip().x(), 0.9);
    QVERIFY(qFuzzyCompare(m.arrowTip().y(), expectedY));
}

void TestMarks::derived() {
    QCOMPARE(Mark::make(MarkKind::Highlight, 0, 0, 1, 1).displayColor(), MarkColor::Yellow);
    QCOMPARE(Mark::make(MarkKind::Redact, 0, 0, 1, 1).displayColor(), MarkColor::Blue);
    Mark white = Mark::make(MarkKind::Text, 0, 0, 1, 1);
    white.color = MarkColor::White;
    QCOMPARE(white.displayColor(), MarkColor::White);

    Mark number = Mark::make(MarkKind::Number, 0, 0, 1, 1);
    QCOMPARE(number.label(), QStringLiteral("Nummer 1"));
    number.number = 7;
    QCOMPARE(number.label(), QStringLiteral("Nummer 7"));
    Mark text = Mark::make(MarkKind::Text, 0, 0, 1, 1);
    text.text = QString();
    QCOMPARE(text.label(), QString());
    QCOMPARE(Mark::make(MarkKind::Blur, 0, 0, 1, 1).label(), QStringLiteral("Blur"));

    QCOMPARE(Mark::make(MarkKind::Arrow, 0, 0, 1, 1).effectiveBlurRadius(), 18.0);
    QCOMPARE(Mark::make(MarkKind::Blur, 0, 0, 1, 1).layerGroup(), 0);
    QCOMPARE(Mark::make(MarkKind::Redact, 0, 0, 1, 1).layerGroup(), 2);
    QCOMPARE(Mark::make(MarkKind::Cloud, 0, 0, 1, 1).layerGroup(), 1);
    QVERIFY(Mark::make(MarkKind::Blur, 0, 0, 1, 1).obscuresText());
    QVERIFY(!Mark::make(MarkKind::FilledRectangle, 0, 0, 1, 1).obscuresText());
}

void TestMarks::kindTable() {
    QStringList raw, titles;
    QList<MarkKind> shapes, strokes, textBoxes;
    for (MarkKind k : MarkKinds::all()) {
        raw << MarkKinds::rawValue(k);
        titles << MarkKinds::title(k);
        if (MarkKinds::isShape(k))
            shapes << k;
        if (MarkKinds::supportsStroke(k))
            strokes << k;
        if (MarkKinds::isTextBox(k))
            textBoxes << k;
        QCOMPARE(MarkKinds::fromRawValue(MarkKinds::rawValue(k)), k);
    }
    QCOMPARE(raw.join(u','),
             QStringLiteral("arrow,line,rectangle,ellipse,filledRectangle,filledEllipse,number,"
                            "cloud,highlight,redact,blur,text,callout"));
    QCOMPARE(
        titles.join(u'|'),
        QStringLiteral("Pfeil|Linie|Rahmen|Ellipse / Kreis|Gefülltes Rechteck|Gefüllte Ellipse / Kreis|"
                       "Nummerierung|Änderungswolke|Hervorheben|Schwärzen|Blur|Textfeld|Textfeld mit Pfeil"));
    QCOMPARE(shapes, (QList<MarkKind>{MarkKind::Line, MarkKind::Rectangle, MarkKind::Ellipse,
                                      MarkKind::FilledRectangle, MarkKind::FilledEllipse}));
    QCOMPARE(strokes, (QList<MarkKind>{MarkKind::Arrow, MarkKind::Line, MarkKind::Rectangle,
                                       MarkKind::Ellipse, MarkKind::Cloud, MarkKind::Callout}));
    QCOMPARE(textBoxes, (QList<MarkKind>{MarkKind::Text, MarkKind::Callout}));
    QCOMPARE(MarkKinds::symbol(MarkKind::Number), QStringLiteral("1.circle.fill"));
    QVERIFY(!MarkKinds::fromRawValue(u"Arrow"));
    QVERIFY(!MarkKinds::fromRawValue(u"circle"));
}

void TestMarks::colourTable() {
    QStringList titles;
    for (MarkColor c : MarkColors::all())
        titles << MarkColors::title(c);
    QCOMPARE(titles.join(u','), QStringLiteral("Blau,Koralle,Grün,Gelb,Violett,Schwarz,Weiß"));
    const ColorComponents blue = MarkColors::components(MarkColor::Blue);
    QCOMPARE(blue.red, 0.078);
    QCOMPARE(blue.blue, 0.961);
    QVERIFY(qAbs(MarkColors::color(MarkColor::Coral, 0.5).alphaF() - 0.5f) < 0.001f);
}

void TestMarks::decodeRejects_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("decodes");
    const QByteArray base = R"("id":"0F4C8B2A-1D3E-4F50-9A6B-7C8D9E0F1A2B","x1":0,"y1":0.5,"x2":1,"y2":0.25)";
    QTest::newRow("plain") << "{" + base + R"(,"kind":"arrow"})" << true;
    QTest::newRow("lower-case id")
        << QByteArray(
               R"({"id":"0f4c8b2a-1d3e-4f50-9a6b-7c8d9e0f1a2b","kind":"arrow","x1":0,"y1":0,"x2":0,"y2":0})")
        << true;
    QTest::newRow("capitalised kind") << "{" + base + R"(,"kind":"Arrow"})" << false;
    QTest::newRow("symbol as kind") << "{" + base + R"(,"kind":"circle"})" << false;
    QTest::newRow("unknown colour") << "{" + base + R"(,"kind":"arrow","color":"red"})" << false;
    QTest::newRow("null colour is absent") << "{" + base + R"(,"kind":"arrow","color":null})" << true;
    QTest::newRow("missing y2")
        << QByteArray(R"({"id":"0F4C8B2A-1D3E-4F50-9A6B-7C8D9E0F1A2B","kind":"arrow","x1":0,"y1":0,"x2":0})")
        << false;
    QTest::newRow("null x1")
        << QByteArray(
               R"({"id":"0F4C8B2A-1D3E-4F50-9A6B-7C8D9E0F1A2B","kind":"arrow","x1":null,"y1":0,"x2":0,"y2":0})")
        << false;
    QTest::newRow("string x1")
        << QByteArray(
               R"({"id":"0F4C8B2A-1D3E-4F50-9A6B-7C8D9E0F1A2B","kind":"arrow","x1":"0","y1":0,"x2":0,"y2":0})")
        << false;
    QTest::newRow("fractional number") << "{" + base + R"(,"kind":"number","number":1.5})" << false;
    QTest::newRow("integral number with fraction part")
        << "{" + base + R"(,"kind":"number","number":3.0})" << true;
    QTest::newRow("huge number") << "{" + base + R"(,"kind":"number","number":1e30})" << false;
    QTest::newRow("braced id")
        << QByteArray(
               R"({"id":"{0F4C8B2A-1D3E-4F50-9A6B-7C8D9E0F1A2B}","kind":"arrow","x1":0,"y1":0,"x2":0,"y2":0})")
        << false;
    QTest::newRow("id with junk")
        << QByteArray(
               R"({"id":"0F4C8B2A-1D3E-4F50-9A6B-7C8D9E0F1A2Bx","kind":"arrow","x1":0,"y1":0,"x2":0,"y2":0})")
        << false;
    QTest::newRow("id without hyphens")
        << QByteArray(
               R"({"id":"0F4C8B2A1D3E4F509A6B7C8D9E0F1A2B0000","kind":"arrow","x1":0,"y1":0,"x2":0,"y2":0})")
        << false;
    QTest::newRow("string bool") << "{" + base + R"(,"kind":"text","fixedTextBox":"true"})" << false;
    QTest::newRow("unknown keys ignored") << "{" + base + R"(,"kind":"blur","extra":[1,2]})" << true;
    QTest::newRow("not an object") << QByteArray("[1]") << false;
    QTest::newRow("trailing garbage") << "{" + base + R"(,"kind":"arrow"} x)" << false;
}

void TestMarks::decodeRejects() {
    QFETCH(QByteArray, json);
    QFETCH(bool, decodes);
    QCOMPARE(decodeJson<Mark>(json).has_value(), decodes);
}

void TestMarks::optionalKeysRoundTrip() {
    Mark bare = Mark::make(MarkKind::Callout, 0.1, 0.2, 0.3, 0.4);
    const QByteArray json = *encodeJson(bare);
    for (const char *key :
         {"tipX", "tipY", "text", "color", "strokeWidth", "blurRadius", "number", "fixedTextBox"})
        QVERIFY2(!json.contains(QByteArray("\"") + key + "\""), key);
    QVERIFY(!json.contains("null"));
    QCOMPARE(*decodeJson<Mark>(json), bare);

    Mark full = bare;
    full.text = QStringLiteral("Grüße 👋");
    full.color = MarkColor::White;
    full.strokeWidth = 2.5;
    full.blurRadius = 40;
    full.number = 9999;
    full.fixedTextBox = false;
    full.tipX = 0.123456789012345678;
    full.tipY = 1;
    QCOMPARE(*decodeJson<Mark>(*encodeJson(full)), full);
    QVERIFY(!(full == bare));

    Mark nan = bare;
    nan.x1 = std::numeric_limits<double>::quiet_NaN();
    QVERIFY(!encodeJson(nan)); // unrepresentable: writing fails instead of producing bad JSON
}

QTEST_GUILESS_MAIN(TestMarks)
#include "tst_marks.moc"
