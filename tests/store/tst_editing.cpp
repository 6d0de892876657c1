#include "StoreFixture.h"

#include "model/JsonCoding.h"

#include <QTest>

class TestEditing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void moveBy_data();
    void moveBy();
    void moveBefore_data();
    void moveBefore();
    void deleteSelectsLastRemaining_data();
    void deleteSelectsLastRemaining();
    void deleteDeleteUndoRestoresOnlyTheLast();
    void undoReopensTheCollection();
    void undoWaitsForDeletedCollection();
    void editsWithoutCurrentChangeNothing();
    void localOnlySwitch();
};

void TestEditing::moveBy_data() {
    QTest::addColumn<QString>("snip");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("first up") << "S0" << -1 << QStringList{"S0", "S1", "S2"};
    QTest::newRow("last down") << "S2" << 1 << QStringList{"S0", "S1", "S2"};
    QTest::newRow("middle up") << "S1" << -1 << QStringList{"S1", "S0", "S2"};
    QTest::newRow("middle down") << "S1" << 1 << QStringList{"S0", "S2", "S1"};
    QTest::newRow("two places is a swap") << "S0" << 2 << QStringList{"S2", "S1", "S0"};
    QTest::newRow("far beyond") << "S0" << 2147483647 << QStringList{"S0", "S1", "S2"};
    QTest::newRow("far before") << "S2" << -2147483647 - 1 << QStringList{"S0", "S1", "S2"};
    QTest::newRow("unknown snip") << "X" << 1 << QStringList{"S0", "S1", "S2"};
}

void TestEditing::moveBy() {
    QFETCH(QString, snip);
    QFETCH(int, offset);
    QFETCH(QStringList, expected);
    StoreFixture f;
    f.setUp({{QStringLiteral("S"), 3}});
    f.store->setSelectedSnipID(f.snipIdOf(QStringLiteral("S1")));
    f.store->move(f.snipIdOf(snip).value_or(QUuid::createUuid()), offset);
    QCOMPARE(StoreFixture::snipTitles(f.collection(0)), expected);
    QCOMPARE(f.store->selectedSnipID(), f.snipIdOf(QStringLiteral("S1")));
}

void TestEditing::moveBefore_data() {
    QTest::addColumn<QString>("dropped"); // a snip title, or raw text as it arrives from a drop
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("saves");
    QTest::newRow("first before last") << "S0"
                                       << "S3" << QStringList{"S1", "S2", "S0", "S3"} << true;
    QTest::newRow("last before second") << "S3"
                                        << "S1" << QStringList{"S0", "S3", "S1", "S2"} << true;
    QTest::newRow("onto itself") << "S0"
                                 << "S0" << QStringList{"S0", "S1", "S2", "S3"} << false;
    QTest::newRow("unknown target") << "S0"
                                    << "X" << QStringList{"S0", "S1", "S2", "S3"} << true;
    QTest::newRow("text that is no UUID") << "text:S2"
                                          << "S0" << QStringList{"S0", "S1", "S2", "S3"} << false;
    QTest::newRow("UUID in lower case") << "lower:S2"
                                        << "S0" << QStringList{"S2", "S0", "S1", "S3"} << true;
    QTest::newRow("UUID in braces") << "braces:S2"
                                    << "S0" << QStringList{"S0", "S1", "S2", "S3"} << false;
    QTest::newRow("unknown UUID") << "unknown"
                                  << "S0" << QStringList{"S0", "S1", "S2", "S3"} << true;
}

void TestEditing::moveBefore() {
    QFETCH(QString, dropped);
    QFETCH(QString, target);
    QFETCH(QStringList, expected);
    QFETCH(bool, saves);
    StoreFixture f;
    f.setUp({{QStringLiteral("S"), 4}});
    const QUuid targetID = f.snipIdOf(target).value_or(QUuid::createUuid());
    if (dropped.startsWith(u"text:"))
        f.store->moveDropped(dropped, targetID);
    else if (dropped.startsWith(u"lower:"))
        f.store->moveDropped(uuidText(*f.snipIdOf(dropped.mid(6))).toLower(), targetID);
    else if (dropped.startsWith(u"braces:"))
        f.store->moveDropped(f.snipIdOf(dropped.mid(7))->toString(), targetID);
    else if (dropped == u"unknown")
        f.store->moveDropped(uuidText(QUuid::createUuid()), targetID);
    else
        f.store->move(*f.snipIdOf(dropped), targetID);
    QCOMPARE(StoreFixture::snipTitles(f.collection(0)), expected);
    QCOMPARE(f.store->saveState(),
             saves ? QStringLiteral("Wird gespeichert …") : QStringLiteral("Lokal gespeichert"));
}

void TestEditing::deleteSelectsLastRemaining_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("deleted");
    QTest::addColumn<QString>("selected");
    QTest::newRow("middle") << 3 << "S1"
                            << "S2";
    QTest::newRow("last") << 3 << "S2"
                          << "S1";
    QTest::newRow("first") << 3 << "S0"
                           << "S2";
    QTest::newRow("only") << 1 << "S0"
                          << "";
}

void TestEditing::deleteSelectsLastRemaining() {
    QFETCH(int, count);
    QFETCH(QString, deleted);
    QFETCH(QString, selected);
    StoreFixture f;
    f.setUp({{QStringLiteral("S"), count}});
    f.store->deleteSnip(*f.snipIdOf(deleted));
    QCOMPARE(f.collection(0).items.size(), count - 1);
    QCOMPARE(f.store->selectedSnipID(), selected.isEmpty() ? OptionalUuid() : f.snipIdOf(selected));
    QVERIFY(f.store->canUndoDelete());
}

void TestEditing::deleteDeleteUndoRestoresOnlyTheLast() {
    StoreFixture f;
    f.setUp({{QStringLiteral("S"), 3}});
    const Snip b = f.collection(0).items[1];
    const Snip c = f.collection(0).items[2];
    f.store->deleteSnip(b.id);
    f.store->deleteSnip(c.id);
    f.store->deleteSnip(QUuid::createUuid()); // unknown: the remembered snip stays
    QVERIFY(f.store->canUndoDelete());
    f.store->undoDelete();
    QCOMPARE(StoreFixture::snipTitles(f.collection(0)), (QStringList{"S0", "S2"}));
    QCOMPARE(f.collection(0).items.last(), c); // marks and all
    QCOMPARE(f.store->selectedSnipID(), OptionalUuid(c.id));
    QVERIFY(!f.store->canUndoDelete());
    f.store->undoDelete();
    QCOMPARE(f.collection(0).items.size(), 2);
}

void TestEditing::undoReopensTheCollection() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 3}, {QStringLiteral("B"), 1}});
    const QUuid a1 = *f.snipIdOf(QStringLiteral("A1"));
    f.store->deleteSnip(a1);
    f.store->setSelectedID(f.idOf(QStringLiteral("B")));
    f.store->deleteSnip(a1); // not in the current collection: nothing happens
    f.store->undoDelete();
    QCOMPARE(f.store->selectedID(), f.idOf(QStringLiteral("A")));
    QCOMPARE(f.store->selectedSnipID(), OptionalUuid(a1));
    QCOMPARE(StoreFixture::snipTitles(f.collection(0)), (QStringList{"A0", "A1", "A2"}));
}

void TestEditing::undoWaitsForDeletedCollection() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 2}, {QStringLiteral("B"), 1}});
    const QUuid a0 = *f.snipIdOf(QStringLiteral("A0"));
    f.store->deleteSnip(a0);
    QVERIFY(f.store->deleteCollection(*f.idOf(QStringLiteral("A"))));
    QVERIFY(f.store->saveNow());
    f.store->undoDelete();
    QCOMPARE(f.store->collections().size(), 1);
    QVERIFY(f.store->canUndoDelete());
    QCOMPARE(f.store->saveState(), QStringLiteral("Lokal gespeichert"));

    QVERIFY(f.store->restoreDeletedCollection());
    f.store->undoDelete();
    QCOMPARE(StoreFixture::snipTitles(f.collection(0)), (QStringList{"A0", "A1"}));
    QVERIFY(!f.store->canUndoDelete());
}

void TestEditing::editsWithoutCurrentChangeNothing() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}});
    const auto collections = f.store->collections();
    const auto edit = [](SnipCollection &c) { c.title = QStringLiteral("x"); };
    f.store->setSelectedID(std::nullopt);
    QVERIFY(f.store->saveNow());
    f.store->editCurrent(edit);
    f.store->editSnip(*f.snipIdOf(QStringLiteral("A0")), [](Snip &s) { s.title = QStringLiteral("x"); });
    f.store->deleteSnip(*f.snipIdOf(QStringLiteral("A0")));
    f.store->move(*f.snipIdOf(QStringLiteral("A0")), 1);
    f.store->editSessionSnip(*f.snipIdOf(QStringLiteral("A0")),
                             [](Snip &s) { s.title = QStringLiteral("x"); });
    f.store->setSelectedID(QUuid::createUuid()); // names no collection
    QVERIFY(f.store->saveNow());
    f.store->editCurrent(edit);
    QCOMPARE(f.store->collections(), collections);
    QCOMPARE(f.store->saveState(), QStringLiteral("Lokal gespeichert"));
    QVERIFY(!f.store->canUndoDelete());

    // With a current collection, an edit of an unknown snip still schedules a save.
    f.store->setSelectedID(f.idOf(QStringLiteral("A")));
    QVERIFY(f.store->saveNow());
    f.store->editSnip(QUuid::createUuid(), [](Snip &s) { s.title = QStringLiteral("x"); });
    QCOMPARE(f.store->collections(), collections);
    QCOMPARE(f.store->saveState(), QStringLiteral("Wird gespeichert …"));
}

void TestEditing::localOnlySwitch() {
    const QString refused = QStringLiteral(
        "Dieses Bild überschreitet die Cloud-Grenze von 25 MB bzw. die unterstützte Auflösung oder ist "
        "ungültig. Importiere eine verkleinerte Kopie oder wähle im Bild-Kontextmenü „Nur lokal speichern“.");
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}, {QStringLiteral("B"), 2}});
    // B is not the current collection: the switch finds its snip anyway.
    const auto snipB1 = [&] { return f.collection(1).items[1]; };
    f.store->setLocalOnly(snipB1(), true); // never looks at the image, which does not exist
    QCOMPARE(snipB1().cloudLocalOnly, std::optional<bool>(true));
    QVERIFY(f.store->error().isEmpty());

    f.store->setLocalOnly(snipB1(), false); // the image is missing
    QCOMPARE(f.store->error(), QStringLiteral("Die Bilddatei konnte nicht gelesen werden."));
    QCOMPARE(snipB1().cloudLocalOnly, std::optional<bool>(true));

    QFile big(f.store->imageURL(snipB1().imageFile));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(25'000'001));
    big.close();
    f.store->setError(QString());
    f.store->setLocalOnly(snipB1(), false);
    QCOMPARE(f.store->error(), refused);
    QCOMPARE(snipB1().cloudLocalOnly, std::optional<bool>(true));

    QFile small(f.store->imageURL(snipB1().imageFile));
    QVERIFY(small.open(QIODevice::WriteOnly | QIODevice::Truncate));
    small.write(pngBytes(8, 8));
    small.close();
    f.store->setError(QString());
    f.store->setLocalOnly(snipB1(), false);
    QVERIFY(f.store->error().isEmpty());
    QVERIFY(!snipB1().cloudLocalOnly);
    QVERIFY(!encodeJson(snipB1())->contains("cloudLocalOnly"));

    Snip badName = snipB1();
    badName.imageFile = QStringLiteral("../b.png");
    f.store->setLocalOnly(badName, false);
    QCOMPARE(f.store->error(), QStringLiteral("Ungültiger Bilddateiname."));
}

QTEST_GUILESS_MAIN(TestEditing)
#include "tst_editing.moc"
