#include "model/JsonCoding.h"

#include <QTest>

class TestRecords : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void libraryDecoding_data();
    void libraryDecoding();
    void roundTrip();
    void portable_data();
    void portable();
};

namespace {
const QByteArray kId = "0F4C8B2A-1D3E-4F50-9A6B-7C8D9E0F1A2B";

QByteArray collectionJson(const QByteArray &items = {}) {
    return R"({"id":")" + kId + R"(","title":"T","subtitle":"","mode":"steps","createdAt":0,"items":[)" +
           items + "]}";
}

// A library using every record. The keys are not in the written (sorted) order on purpose.
QByteArray libraryJson() {
    const QByteArray mark =
        R"({"id":"@","kind":"arrow","color":"blue","x1":0,"y1":0.5,"x2":1,"y2":0.25,"number":3})";
    const QByteArray snip = R"({"id":"@","title":"","note":"","imageFile":"a.png","createdAt":1.5,)"
                            R"("cloudLocalOnly":true,"marks":[)" +
                            mark + "]}";
    QByteArray json =
        R"({"version":1,"selectedID":"@","collections":[)" + collectionJson(snip) +
        R"(],"session":{"collectionID":"@","isPaused":false},"deletedCollections":[)" +
        R"({"collection":{"id":"@","title":"","subtitle":"","mode":"notes","createdAt":2,"items":[]},)"
        R"("index":-5}]})";
    return json.replace("@", kId);
}
} // namespace

void TestRecords::libraryDecoding_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("decodes");
    const QByteArray base = libraryJson();
    const auto edit = [&](const char *name, const QByteArray &from, const QByteArray &to, bool decodes) {
        if (!base.contains(from))
            qFatal("row %s: %s is not in the document", name, from.constData());
        QTest::newRow(name) << QByteArray(base).replace(from, to) << decodes;
    };
    QTest::newRow("complete") << base << true;
    edit("version missing", R"("version":1,)", "", false);
    edit("version as text", R"("version":1)", R"("version":"1")", false);
    edit("collections missing", R"("collections")", R"("other")", false);
    edit("collections null", R"("collections":[)", R"("collections":null,"other":[)", false);
    edit("mode capitalised", R"("steps")", R"("Steps")", false);
    edit("kind unknown", R"("arrow")", R"("circle")", false);
    edit("colour null is absent", R"("color":"blue")", R"("color":null)", true);
    edit("mark without y2", R"(,"y2":0.25)", "", false);
    edit("mark x1 null", R"("x1":0)", R"("x1":null)", false);
    edit("number 1.5", R"("number":3)", R"("number":1.5)", false);
    edit("number 3.0", R"("number":3)", R"("number":3.0)", true);
    edit("snip without note", R"("note":"",)", "", false);
    edit("title as number", R"("title":"T")", R"("title":5)", false);
    edit("flag as text", R"("cloudLocalOnly":true)", R"("cloudLocalOnly":"true")", false);
    edit("date as text", R"("createdAt":0)", R"("createdAt":"0")", false);
    edit("selection null is absent", R"("selectedID":")", R"("selectedID":null,"other":")", true);
    edit("selection with junk", R"("selectedID":")", R"("selectedID":"x)", false);
    edit("UUID lower case", kId, kId.toLower(), true);
    edit("UUID without hyphens", kId, QByteArray(kId).replace('-', '0'), false);
    edit("UUID with a non-hex digit", kId, QByteArray(kId).replace('F', 'G'), false);
    edit("all-zero UUID", kId, "00000000-0000-0000-0000-000000000000", true);
    edit("session without isPaused", R"(,"isPaused":false)", "", false);
    edit("trash index fractional", R"("index":-5)", R"("index":0.5)", false);
    edit("unknown keys ignored", R"("kind")", R"("extra":[1,{}],"kind")", true);
    edit("invalid UTF-8", R"("title":"T")", "\"title\":\"\xff\"", false);
    QTest::newRow("truncated") << base.chopped(1) << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestRecords::libraryDecoding() {
    QFETCH(QByteArray, json);
    QFETCH(bool, decodes);
    QString error;
    QVERIFY2(decodeJson<SavedLibrary>(json, &error).has_value() == decodes, qPrintable(error));
}

void TestRecords::roundTrip() {
    Mark m = Mark::make(MarkKind::Callout, 0.1, 0.2, 0.3, 0.4);
    m.text = QStringLiteral("Grüße 👋\n\"zitiert\"");
    m.color = MarkColor::White, m.strokeWidth = 2.5, m.blurRadius = 40, m.number = 9999;
    m.fixedTextBox = false, m.tipX = 0.123456789012345678, m.tipY = 1;
    Snip local = Snip::make(QStringLiteral("a.png")), plain = Snip::make(QStringLiteral("b.png"));
    local.cloudLocalOnly = false; // not the same as absent
    local.createdAt = 786543210.123456789;
    local.marks = {m, Mark::make(MarkKind::Blur, 0, 0, 0.5, 0.5)};
    SnipCollection a, b;
    a.createdAt = 0.1 + 0.2; // not 0.3
    a.items = {local, plain};
    b.mode = CollectionMode::Notes;
    b.createdAt = -1234.000001;
    const SavedLibrary full{2, b.id, {a, b}, CaptureSession{a.id, true}, QList<DeletedCollection>{{a, 7}}};
    const SavedLibrary bare{1, std::nullopt, {b}, std::nullopt, std::nullopt};
    const SavedLibrary emptyTrash{1, std::nullopt, {}, std::nullopt, QList<DeletedCollection>{}};
    for (const SavedLibrary &library : {full, bare, emptyTrash}) {
        for (JsonStyle style : {JsonStyle::Compact, JsonStyle::Pretty}) {
            const QByteArray json = *encodeJson(library, style);
            QVERIFY(!json.contains("null")); // absent optionals are left out
            const auto decoded = decodeJson<SavedLibrary>(json);
            QVERIFY(decoded);
            QCOMPARE(decoded->version, library.version);
            QCOMPARE(decoded->selectedID, library.selectedID);
            QCOMPARE(decoded->collections, library.collections); // exact doubles
            QCOMPARE(decoded->session, library.session);
            QCOMPARE(decoded->deletedCollections, library.deletedCollections);
        }
    }

    const QByteArray nullFlag = R"({"cloudLocalOnly":null,"id":")" + kId +
                                R"(","imageFile":"","marks":[],"note":"","title":"","createdAt":0})";
    QCOMPARE(decodeJson<Snip>(nullFlag)->cloudLocalOnly, std::nullopt);
    m.x1 = qQNaN();
    QVERIFY(!encodeJson(m)); // unrepresentable: writing fails instead of producing bad JSON
}

// Images travel as strict Base64: anything else fails the whole project file.
void TestRecords::portable_data() {
    QTest::addColumn<QByteArray>("text"); // the JSON value of the second image
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("bytes");
    const auto row = [](const char *name, const QByteArray &text, bool valid, const QByteArray &bytes = {}) {
        QTest::newRow(name) << text << valid << bytes;
    };
    row("empty", R"("")", true);
    row("two padding characters", R"("QQ==")", true, "A");
    row("one padding character", R"("QUI=")", true, "AB");
    row("no padding needed", R"("QUJD")", true, "ABC");
    row("padding left out", R"("QUI")", false);
    row("one character too few", R"("QQ=")", false);
    row("three padding characters", R"("Q===")", false);
    row("padding inside", R"("QQ==QUJD")", false);
    row("padding not at the end", R"("QU=D")", false);
    row("only padding", R"("====")", false);
    row("bad character", R"("iVBO*RwA")", false);
    row("URL alphabet", R"("a-_b")", false);
    row("a number", "5", false);
    row("null", "null", false);
}

void TestRecords::portable() {
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(QByteArray, bytes);
    const PortableCollection p{
        1, SnipCollection(), {{"a.png", QByteArray("\x89PNG\0\1", 6)}, {"b.png", "x"}}};
    const QByteArray json = *encodeJson(p);
    QVERIFY(json.contains(R"("eA==")"));
    const auto again = decodeJson<PortableCollection>(QByteArray(json).replace(R"("eA==")", text));
    QCOMPARE(again.has_value(), valid);
    if (again) {
        QCOMPARE(again->collection, p.collection);
        QCOMPARE(again->images.value("a.png"), p.images.value("a.png"));
        QCOMPARE(again->images.value("b.png"), bytes);
    }
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
