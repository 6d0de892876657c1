#include "model/JsonCoding.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {
const QByteArray kId1 = "11111111-2222-4333-8444-555555555555";
const QByteArray kId2 = "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE";

QByteArray snipJson(const QByteArray &extra = {}) {
    return R"({"id":")" + kId2 + R"(","title":"T","note":"","imageFile":")" + kId2 +
           R"(.png","createdAt":12.5,"marks":[])" + extra + "}";
}
QByteArray collectionJson(const QByteArray &items = {}, const QByteArray &mode = "steps") {
    return R"({"id":")" + kId1 + R"(","title":"Neue Sammlung","subtitle":"","mode":")" + mode +
           R"(","createdAt":0,"items":[)" + items + "]}";
}

Snip sampleSnip() {
    Snip s = Snip::make(QStringLiteral("X.png"));
    s.title = QStringLiteral("Anmeldung öffnen");
    s.note = QStringLiteral("Zeile 1\nZeile 2 \"zitiert\"");
    s.createdAt = 786543210.123456789;
    Mark m = Mark::make(MarkKind::Number, 0.1, 0.2, 0.1, 0.2);
    m.number = 4;
    s.marks = {m, Mark::make(MarkKind::Blur, 0, 0, 0.5, 0.5)};
    return s;
}
} // namespace

class TestRecords : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void libraryDecoding_data();
    void libraryDecoding();
    void cloudLocalOnly_data();
    void cloudLocalOnly();
    void libraryRoundTrip();
    void exactNumbers();
    void prettySortedOutput();
    void equality();
    void captureChoice();
    void portable_data();
    void portable();
    void defaults();
};

void TestRecords::libraryDecoding_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("decodes");
    const QByteArray c = collectionJson();
    QTest::newRow("minimal") << R"({"version":1,"collections":[]})"_qba << true;
    QTest::newRow("missing version") << R"({"collections":[]})"_qba << false;
    QTest::newRow("missing collections") << R"({"version":1})"_qba << false;
    QTest::newRow("null collections") << R"({"version":1,"collections":null})"_qba << false;
    QTest::newRow("version as text") << R"({"version":"1","collections":[]})"_qba << false;
    QTest::newRow("version 2 decodes (store checks it)") << R"({"version":2,"collections":[]})"_qba << true;
    QTest::newRow("one collection") << R"({"version":1,"collections":[)" + c + "]}" << true;
    QTest::newRow("notes mode") << R"({"version":1,"collections":[)" + collectionJson({}, "notes") + "]}"
                                << true;
    QTest::newRow("capitalised mode")
        << R"({"version":1,"collections":[)" + collectionJson({}, "Steps") + "]}" << false;
    QTest::newRow("collection without subtitle")
        << R"({"version":1,"collections":[{"id":")" + kId1 +
               R"(","title":"a","mode":"steps","createdAt":0,"items":[]}]})"
        << false;
    QTest::newRow("snip") << R"({"version":1,"collections":[)" + collectionJson(snipJson()) + "]}" << true;
    QTest::newRow("snip without note")
        << R"({"version":1,"collections":[)" +
               collectionJson(R"({"id":")" + kId2 +
                              R"(","title":"","imageFile":"a","createdAt":1,"marks":[]})") +
               "]}"
        << false;
    QTest::newRow("bad mark fails the document")
        << R"({"version":1,"collections":[)" +
               collectionJson(
                   snipJson().replace(R"("marks":[])", R"("marks":[{"id":")" + kId1 +
                                                           R"(","kind":"arrow","x1":0,"y1":0,"x2":0}])")) +
               "]}"
        << false;
    QTest::newRow("selection and session")
        << R"({"version":1,"selectedID":")" + kId1 + R"(","collections":[],"session":{"collectionID":")" +
               kId1 + R"(","isPaused":false},"deletedCollections":[]})"
        << true;
    QTest::newRow("null selection is absent")
        << R"({"version":1,"selectedID":null,"collections":[]})"_qba << true;
    QTest::newRow("malformed selection")
        << R"({"version":1,"selectedID":"nope","collections":[]})"_qba << false;
    QTest::newRow("all-zero selection is a UUID")
        << R"({"version":1,"selectedID":"00000000-0000-0000-0000-000000000000","collections":[]})"_qba
        << true;
    QTest::newRow("session missing isPaused")
        << R"({"version":1,"collections":[],"session":{"collectionID":")" + kId1 + R"("}})" << false;
    QTest::newRow("trash entry with negative index")
        << R"({"version":1,"collections":[],"deletedCollections":[{"collection":)" + c + R"(,"index":-5}]})"
        << true;
    QTest::newRow("trash entry with fractional index")
        << R"({"version":1,"collections":[],"deletedCollections":[{"collection":)" + c + R"(,"index":0.5}]})"
        << false;
    QTest::newRow("trash not a list")
        << R"({"version":1,"collections":[],"deletedCollections":{}})"_qba << false;
    QTest::newRow("date as text") << R"({"version":1,"collections":[)" +
                                         collectionJson().replace("\"createdAt\":0", "\"createdAt\":\"0\"") +
                                         "]}"
                                  << false;
    QTest::newRow("invalid UTF-8") << QByteArray("{\"version\":1,\"collections\":[],\"x\":\"\xff\"}")
                                   << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("truncated") << R"({"version":1,"collections":[)"_qba << false;
    QTest::newRow("deep nesting") << QByteArray(100000, '[') << false;
    QTest::newRow("zero with exponent")
        << R"({"version":1,"collections":[)" +
               collectionJson().replace("\"createdAt\":0", "\"createdAt\":0e39") + "]}"
        << true;
    QTest::newRow("integer beyond 64 bits")
        << R"({"version":100000000000000000000000,"collections":[]})"_qba << false;
}

void TestRecords::libraryDecoding() {
    QFETCH(QByteArray, json);
    QFETCH(bool, decodes);
    QString error;
    const auto library = decodeJson<SavedLibrary>(json, &error);
    QVERIFY2(library.has_value() == decodes, qPrintable(error));
}

void TestRecords::cloudLocalOnly_data() {
    QTest::addColumn<QByteArray>("extra");
    QTest::addColumn<int>("state"); // -1 absent, 0 false, 1 true
    QTest::newRow("absent") << QByteArray() << -1;
    QTest::newRow("null") << QByteArray(R"(,"cloudLocalOnly":null)") << -1;
    QTest::newRow("false") << QByteArray(R"(,"cloudLocalOnly":false)") << 0;
    QTest::newRow("true") << QByteArray(R"(,"cloudLocalOnly":true)") << 1;
}

void TestRecords::cloudLocalOnly() {
    QFETCH(QByteArray, extra);
    QFETCH(int, state);
    const auto snip = decodeJson<Snip>(snipJson(extra));
    QVERIFY(snip);
    QCOMPARE(snip->cloudLocalOnly.has_value(), state >= 0);
    QCOMPARE(snip->isLocalOnly(), state == 1);
    const QByteArray written = *encodeJson(*snip);
    QCOMPARE(written.contains("\"cloudLocalOnly\":false"), state == 0);
    QCOMPARE(written.contains("\"cloudLocalOnly\":true"), state == 1);
    QCOMPARE(written.contains("cloudLocalOnly"), state >= 0);
    QCOMPARE(*decodeJson<Snip>(written), *snip);
}

void TestRecords::libraryRoundTrip() {
    SnipCollection a;
    a.title = QStringLiteral("Ablauf");
    a.createdAt = 0.1 + 0.2; // not exactly representable as written decimals
    a.items = {sampleSnip(), sampleSnip()};
    a.items[1].cloudLocalOnly = false;
    SnipCollection b;
    b.mode = CollectionMode::Notes;
    b.createdAt = -1234.000001;
    SavedLibrary library;
    library.collections = {a, b};
    library.selectedID = b.id;
    library.session = CaptureSession{a.id, true};
    library.deletedCollections = QList<DeletedCollection>{{a, 7}};

    const auto decoded = decodeJson<SavedLibrary>(*encodeJson(library, JsonStyle::Pretty));
    QVERIFY(decoded);
    QCOMPARE(decoded->collections, library.collections);
    QCOMPARE(decoded->collections[0].createdAt, 0.1 + 0.2);
    QCOMPARE(decoded->selectedID, library.selectedID);
    QCOMPARE(decoded->session, library.session);
    QCOMPARE(decoded->deletedCollections, library.deletedCollections);

    library.selectedID.reset();
    library.session.reset();
    library.deletedCollections.reset();
    const QByteArray bare = *encodeJson(library);
    QVERIFY(!bare.contains("selectedID") && !bare.contains("session") &&
            !bare.contains("deletedCollections"));
    QVERIFY(!bare.contains("null"));
}

void TestRecords::exactNumbers() {
    // Decimal text must come back as the nearest double, as the platform's own parser gives it.
    const QList<QByteArray> texts = {
        "786543210.123456789", "0.1", "1e-300", "5e-324", "1.7976931348623157e308", "-0.0",
        "123456789012345678"};
    for (const QByteArray &text : texts) {
        const auto c =
            decodeJson<SnipCollection>(collectionJson().replace("\"createdAt\":0", "\"createdAt\":" + text));
        QVERIFY2(c, text.constData());
        QCOMPARE(c->createdAt, text.toDouble());
        QCOMPARE(decodeJson<SnipCollection>(*encodeJson(*c))->createdAt, c->createdAt);
    }
}

void TestRecords::prettySortedOutput() {
    SavedLibrary library;
    library.collections = {SnipCollection()};
    library.collections[0].items = {sampleSnip()};
    library.deletedCollections = QList<DeletedCollection>{};
    const QByteArray pretty = *encodeJson(library, JsonStyle::Pretty);
    QVERIFY(pretty.contains("\n  \"collections\""));
    // Sorted keys: re-encoding through Qt's always-sorted object must give the same key order.
    const QJsonDocument doc = QJsonDocument::fromJson(pretty);
    QVERIFY(doc.isObject());
    QCOMPARE(doc.object().keys(), (QStringList{"collections", "deletedCollections", "version"}));
    const QByteArray compact = *encodeJson(library.collections[0].items[0]);
    QVERIFY(compact.startsWith(R"({"createdAt":)"));
    QVERIFY(compact.indexOf("\"id\"") < compact.indexOf("\"imageFile\""));
    QVERIFY(compact.indexOf("\"marks\"") < compact.indexOf("\"note\""));
    QVERIFY(compact.contains(uuidText(library.collections[0].items[0].id).toLatin1()));
}

void TestRecords::equality() {
    Snip a = sampleSnip();
    Snip b = a;
    QCOMPARE(a, b);
    std::swap(b.marks[0], b.marks[1]);
    QVERIFY(!(a == b));
    b = a;
    b.cloudLocalOnly = false;
    QVERIFY(!(a == b)); // absent differs from false

    SnipCollection c;
    SnipCollection d = c;
    d.createdAt += 0.0001;
    QVERIFY(!(c == d));
}

void TestRecords::captureChoice() {
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    QVERIFY(CaptureChoice::existing(a) == CaptureChoice::existing(a));
    QVERIFY(!(CaptureChoice::existing(a) == CaptureChoice::existing(b)));
    QVERIFY(!(CaptureChoice::newCollection() == CaptureChoice::existing(a)));
    QVERIFY(CaptureChoice::newCollection() == CaptureChoice::newCollection());
    QCOMPARE(qHash(CaptureChoice::existing(a)), qHash(CaptureChoice::existing(a)));
    QSet<CaptureChoice> set{CaptureChoice::newCollection(), CaptureChoice::existing(a),
                            CaptureChoice::existing(a)};
    QCOMPARE(set.size(), 2);
}

void TestRecords::portable_data() {
    QTest::addColumn<QByteArray>("images");
    QTest::addColumn<int>("count"); // -1: fails
    QTest::newRow("empty map") << QByteArray("{}") << 0;
    QTest::newRow("one image") << QByteArray(R"({"a.png":"iVBORw0KGgo="})") << 1;
    QTest::newRow("not Base64") << QByteArray(R"({"a.png":"###"})") << -1;
    QTest::newRow("Base64 with a stray character") << QByteArray(R"({"a.png":"iVBO*Rw0KGgo="})") << -1;
    QTest::newRow("number value") << QByteArray(R"({"a.png":5})") << -1;
    QTest::newRow("images as list") << QByteArray("[]") << -1;
}

void TestRecords::portable() {
    QFETCH(QByteArray, images);
    QFETCH(int, count);
    const QByteArray json =
        R"({"version":1,"collection":)" + collectionJson() + R"(,"images":)" + images + "}";
    const auto p = decodeJson<PortableCollection>(json);
    QCOMPARE(p.has_value(), count >= 0);
    if (!p)
        return;
    QCOMPARE(p->images.size(), count);
    const auto again = decodeJson<PortableCollection>(*encodeJson(*p));
    QVERIFY(again);
    QCOMPARE(again->images, p->images);
    QCOMPARE(again->collection, p->collection);
}

void TestRecords::defaults() {
    const SnipCollection c;
    QCOMPARE(c.title, QStringLiteral("Neue Sammlung"));
    QCOMPARE(c.mode, CollectionMode::Steps);
    QVERIFY(c.subtitle.isEmpty() && c.items.isEmpty());
    QVERIFY(!c.id.isNull());
    QVERIFY(qAbs(c.createdAt - referenceSecondsNow()) < 60);
    QCOMPARE(CollectionModes::title(CollectionMode::Steps), QStringLiteral("Ablauf erklären"));
    QCOMPARE(CollectionModes::title(CollectionMode::Notes), QStringLiteral("Punkte sammeln"));
    QCOMPARE(CollectionModes::symbol(CollectionMode::Notes), QStringLiteral("square.grid.2x2"));
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
