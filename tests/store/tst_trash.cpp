#include "StoreFixture.h"

#include <QTest>

namespace {
// Everything a trash operation may change, to compare before and after.
struct Snapshot {
    QList<SnipCollection> collections;
    OptionalUuid selectedID;
    OptionalUuid selectedSnipID;
    OptionalCaptureSession session;
    OptionalUuid sessionSnipID;
    OptionalCaptureChoice captureChoice;
    QList<DeletedCollection> trash;
    QString notice;
    UuidMap panelSelections;

    explicit Snapshot(const CollectionStore &s)
        : collections(s.collections()), selectedID(s.selectedID()), selectedSnipID(s.selectedSnipID()),
          session(s.session()), sessionSnipID(s.sessionSnipID()), captureChoice(s.captureChoice()),
          trash(s.deletedCollections()), notice(s.collectionNotice()), panelSelections(s.panelSelections()) {}
    bool operator==(const Snapshot &) const = default;
};
} // namespace

class TestTrash : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void selectionAfterDelete_data();
    void selectionAfterDelete();
    void deleteEndsRoundAndDestination();
    void restoreOrder();
    void failedFinalSaveLeavesPreviousState_data();
    void failedFinalSaveLeavesPreviousState();
    void refusals_data();
    void refusals();
    void storedIndexIsClamped_data();
    void storedIndexIsClamped();
};

void TestTrash::selectionAfterDelete_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("selected"); // -1: nothing selected
    QTest::addColumn<int>("deleted");
    QTest::addColumn<QString>("expectedCollection");
    QTest::addColumn<QString>("expectedSnip");
    QTest::newRow("selected third of five") << 5 << 2 << 2 << "C3"
                                            << "C30";
    QTest::newRow("selected last") << 5 << 4 << 4 << "C3"
                                   << "C30";
    QTest::newRow("only one") << 1 << 0 << 0 << ""
                              << "";
    QTest::newRow("another one") << 5 << 1 << 3 << "C1"
                                 << "C11";
    QTest::newRow("nothing selected") << 3 << -1 << 0 << ""
                                      << "";
}

void TestTrash::selectionAfterDelete() {
    QFETCH(int, count);
    QFETCH(int, selected);
    QFETCH(int, deleted);
    QFETCH(QString, expectedCollection);
    QFETCH(QString, expectedSnip);
    StoreFixture f;
    QList<QPair<QString, int>> shape;
    for (int i = 0; i < count; ++i)
        shape.append({QStringLiteral("C") + QString::number(i), 3});
    f.setUp(shape);
    f.store->setSelectedID(selected < 0 ? OptionalUuid() : OptionalUuid(f.collection(selected).id));
    if (selected >= 0)
        f.store->setSelectedSnipID(f.collection(selected).items[1].id);
    const QUuid id = f.collection(deleted).id;

    QVERIFY(f.store->deleteCollection(id));
    QCOMPARE(f.store->collections().size(), count - 1);
    QCOMPARE(f.store->deletedCollections().size(), 1);
    QCOMPARE(f.store->deletedCollections().first().index, deleted);
    QCOMPARE(f.store->deletedCollections().first().collection.id, id);
    QCOMPARE(f.store->selectedID(),
             expectedCollection.isEmpty() ? OptionalUuid() : f.idOf(expectedCollection));
    QCOMPARE(f.store->selectedSnipID(), expectedSnip.isEmpty() ? OptionalUuid() : f.snipIdOf(expectedSnip));
    QCOMPARE(f.store->collectionNotice(), QStringLiteral("Sammlung gelöscht"));
    QVERIFY(f.store->canRestoreCollection());
    QCOMPARE(f.store->saveState(), QStringLiteral("Lokal gespeichert"));
}

void TestTrash::deleteEndsRoundAndDestination() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}, {QStringLiteral("B"), 1}});
    const QUuid a = *f.idOf(QStringLiteral("A"));
    QVERIFY(f.store->resumeCollection(a));
    f.store->selectPanelSnip(*f.snipIdOf(QStringLiteral("A0")));
    f.store->setCaptureChoice(CaptureChoice::existing(a));
    QVERIFY(f.store->deleteCollection(a));
    QVERIFY(!f.store->session());
    QVERIFY(!f.store->sessionSnipID());
    QCOMPARE(f.store->captureChoice(), OptionalCaptureChoice(CaptureChoice::newCollection()));
    QVERIFY(!f.store->panelSelections().contains(a));

    // The restore leaves the round and the destination alone.
    QVERIFY(f.store->restoreDeletedCollection());
    QVERIFY(!f.store->session());
    QCOMPARE(f.store->selectedID(), OptionalUuid(a));
    QCOMPARE(f.store->selectedSnipID(), f.snipIdOf(QStringLiteral("A0")));
    QCOMPARE(f.store->collectionNotice(), QStringLiteral("Sammlung wiederhergestellt"));
}

void TestTrash::restoreOrder() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 0},
             {QStringLiteral("B"), 0},
             {QStringLiteral("C"), 0},
             {QStringLiteral("D"), 0}});
    QVERIFY(f.store->deleteCollection(*f.idOf(QStringLiteral("B"))));
    QVERIFY(f.store->deleteCollection(*f.idOf(QStringLiteral("D"))));
    QCOMPARE(f.titles(), (QStringList{"A", "C"}));
    QVERIFY(f.store->restoreDeletedCollection());
    QCOMPARE(f.titles(), (QStringList{"A", "C", "D"}));
    QVERIFY(f.store->restoreDeletedCollection());
    QCOMPARE(f.titles(), (QStringList{"A", "B", "C", "D"}));
    QVERIFY(!f.store->canRestoreCollection());
    QVERIFY(!f.store->restoreDeletedCollection());

    // The trash survives a restart.
    QVERIFY(f.store->deleteCollection(*f.idOf(QStringLiteral("C"))));
    CollectionStore reloaded(f.dir.path());
    QVERIFY(reloaded.canRestoreCollection());
    QCOMPARE(reloaded.deletedCollections().first().collection.title, QStringLiteral("C"));
}

void TestTrash::failedFinalSaveLeavesPreviousState_data() {
    QTest::addColumn<bool>("restore");
    QTest::newRow("delete") << false;
    QTest::newRow("restore") << true;
}

void TestTrash::failedFinalSaveLeavesPreviousState() {
    QFETCH(bool, restore);
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 2}, {QStringLiteral("B"), 2}, {QStringLiteral("C"), 1}});
    const QUuid b = *f.idOf(QStringLiteral("B"));
    QVERIFY(f.store->deleteCollection(*f.idOf(QStringLiteral("C"))));
    f.store->setCollectionNotice(QString());
    QVERIFY(f.store->resumeCollection(b));
    f.store->selectPanelSnip(*f.snipIdOf(QStringLiteral("B0")));
    f.store->setCaptureChoice(CaptureChoice::existing(b));
    f.store->setSelectedID(b);
    f.store->setSelectedSnipID(f.snipIdOf(QStringLiteral("B1")));
    const Snapshot before(*f.store);

    f.failWritesAfter(1);
    QVERIFY(restore ? !f.store->restoreDeletedCollection() : !f.store->deleteCollection(b));
    QVERIFY(Snapshot(*f.store) == before);
    QCOMPARE(f.store->saveState(), QStringLiteral("Wird gespeichert …")); // the roll-back is saved later
    QCOMPARE(f.store->error(),
             QStringLiteral("Speichern fehlgeschlagen: Die Datei konnte nicht geschrieben werden."));
}

void TestTrash::refusals_data() {
    QTest::addColumn<QString>("situation");
    QTest::newRow("capture running") << "capturing";
    QTest::newRow("export running") << "exporting";
    QTest::newRow("unknown id") << "unknown";
    QTest::newRow("first save fails") << "flush";
    QTest::newRow("restored id already present") << "present";
}

void TestTrash::refusals() {
    QFETCH(QString, situation);
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}, {QStringLiteral("B"), 1}});
    QVERIFY(f.store->deleteCollection(*f.idOf(QStringLiteral("B"))));
    f.writes = 0;
    QUuid target = *f.idOf(QStringLiteral("A"));
    if (situation == u"capturing")
        f.store->setIsCapturing(true);
    else if (situation == u"exporting")
        f.store->setIsExporting(true);
    else if (situation == u"unknown")
        target = QUuid::createUuid();
    else if (situation == u"flush")
        f.failWritesAfter(0);
    else
        f.store->setCollections(QList<SnipCollection>(f.store->collections())
                                << f.store->deletedCollections().last().collection);
    const Snapshot before(*f.store);
    QVERIFY(!f.store->deleteCollection(situation == u"present" ? QUuid::createUuid() : target));
    if (situation != u"unknown")
        QVERIFY(!f.store->restoreDeletedCollection());
    QVERIFY(Snapshot(*f.store) == before);
    QCOMPARE(f.writes, situation == u"flush" ? 2 : 0);
}

void TestTrash::storedIndexIsClamped_data() {
    QTest::addColumn<qint64>("index");
    QTest::addColumn<int>("expected");
    QTest::newRow("negative") << qint64(-5) << 0;
    QTest::newRow("beyond the end") << qint64(99) << 2;
    QTest::newRow("most negative") << std::numeric_limits<qint64>::min() << 0;
    QTest::newRow("largest") << std::numeric_limits<qint64>::max() << 2;
}

void TestTrash::storedIndexIsClamped() {
    QFETCH(qint64, index);
    QFETCH(int, expected);
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 0}, {QStringLiteral("B"), 0}});
    SnipCollection edited;
    edited.title = QStringLiteral("X");
    f.store->setDeletedCollections({DeletedCollection{edited, index}});
    QVERIFY(f.store->saveNow());
    CollectionStore reloaded(f.dir.path());
    QVERIFY(reloaded.restoreDeletedCollection());
    QCOMPARE(reloaded.collections().at(expected).title, QStringLiteral("X"));
}

QTEST_GUILESS_MAIN(TestTrash)
#include "tst_trash.moc"
