#include "StoreFixture.h"

#include "model/AppFailure.h"
#include "model/JsonCoding.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTest>

namespace {
QString thrownText(const std::function<void()> &call) {
    try {
        call();
    } catch (const AppFailure &failure) {
        return failure.errorDescription();
    }
    return {};
}

int imageFileCount(const CollectionStore &store) {
    return int(QDir(store.imagesDirectory()).entryList(QDir::Files).size());
}
} // namespace

class TestCapture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void captureTarget_data();
    void captureTarget();
    void canContinueQuickCapture_data();
    void canContinueQuickCapture();
    void neverContinuesRightAfterLoad();
    void prepareCaptureRestoresOnlyTheRound();
    void prepareCaptureRefusals_data();
    void prepareCaptureRefusals();
    void failedResumeKeepsTheRoundsSnip();
    void captureIntoNewCollection();
    void captureFollowsRoundAndChoice();
    void refusedCaptureChangesNothing_data();
    void refusedCaptureChangesNothing();
    void overLimitCaptureKeptLocalOnly();
    void pauseAndFinish();
    void newCollectionReusesEmpty_data();
    void newCollectionReusesEmpty();
    void panelSelection();
    void panelEditsKeepRoundAlive();
};

void TestCapture::captureTarget_data() {
    QTest::addColumn<QString>("choice"); // "", "new", or the title of an existing collection, "gone"
    QTest::addColumn<QString>("round");  // "", "running X" or "paused X"
    QTest::addColumn<QString>("selected");
    QTest::addColumn<bool>("withEmpty");
    QTest::addColumn<QString>("expected"); // a title, "new" or "gone"
    QTest::newRow("nothing chosen, no round: first empty") << ""
                                                           << ""
                                                           << "A" << true << "E1";
    QTest::newRow("nothing chosen, no round, no empty: new") << ""
                                                             << ""
                                                             << "A" << false << "new";
    QTest::newRow("running round") << ""
                                   << "running B"
                                   << "A" << true << "B";
    QTest::newRow("paused round: first empty") << ""
                                               << "paused B"
                                               << "A" << true << "E1";
    QTest::newRow("paused round, no empty: new") << ""
                                                 << "paused B"
                                                 << "A" << false << "new";
    QTest::newRow("new chosen ignores the round") << "new"
                                                  << "running B"
                                                  << "A" << true << "E1";
    QTest::newRow("new chosen prefers an empty current") << "new"
                                                         << ""
                                                         << "E2" << true << "E2";
    QTest::newRow("new chosen, no empty") << "new"
                                          << "running B"
                                          << "A" << false << "new";
    QTest::newRow("existing chosen beats the round") << "A"
                                                     << "running B"
                                                     << "B" << true << "A";
    QTest::newRow("existing chosen, since deleted") << "gone"
                                                    << ""
                                                    << "A" << true << "gone";
}

void TestCapture::captureTarget() {
    QFETCH(QString, choice);
    QFETCH(QString, round);
    QFETCH(QString, selected);
    QFETCH(bool, withEmpty);
    QFETCH(QString, expected);
    StoreFixture f;
    QList<QPair<QString, int>> shape = {{QStringLiteral("A"), 1}, {QStringLiteral("B"), 1}};
    if (withEmpty)
        shape += {{QStringLiteral("E1"), 0}, {QStringLiteral("E2"), 0}};
    f.setUp(shape);
    const QUuid gone = QUuid::createUuid();
    f.store->setSelectedID(f.idOf(selected));
    if (!round.isEmpty())
        f.store->setSession(CaptureSession{*f.idOf(round.section(u' ', 1)), round.startsWith(u'p')});
    if (choice == u"new")
        f.store->setCaptureChoice(CaptureChoice::newCollection());
    else if (choice == u"gone")
        f.store->setCaptureChoice(CaptureChoice::existing(gone));
    else if (!choice.isEmpty())
        f.store->setCaptureChoice(CaptureChoice::existing(*f.idOf(choice)));
    const auto before = f.store->collections();

    f.clock = 12345.5;
    const CaptureTarget target = f.store->captureTarget();
    QCOMPARE(f.store->collections(), before);
    if (expected == u"new") {
        QVERIFY(target.newCollection);
        QCOMPARE(target.collectionID, target.newCollection->id);
        QVERIFY(!f.idOf(target.newCollection->title));
        QVERIFY(target.newCollection->title.startsWith(QStringLiteral("Sammlung ")));
        QVERIFY(target.newCollection->items.isEmpty());
        QCOMPARE(target.newCollection->mode, CollectionMode::Steps);
        QCOMPARE(target.newCollection->createdAt, 12345.5);
    } else {
        QVERIFY(!target.newCollection);
        QCOMPARE(target.collectionID, expected == u"gone" ? gone : *f.idOf(expected));
    }
}

void TestCapture::canContinueQuickCapture_data() {
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<bool>("chosen");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<bool>("expected");
    QTest::newRow("at once") << 0.0 << false << false << true;
    QTest::newRow("599.9 s") << 599.9 << false << false << true;
    QTest::newRow("600 s") << 600.0 << false << false << false;
    QTest::newRow("clock went back") << -0.1 << false << false << false;
    QTest::newRow("destination chosen") << 10.0 << true << false << false;
    QTest::newRow("round paused") << 10.0 << false << true << false;
}

void TestCapture::canContinueQuickCapture() {
    QFETCH(double, elapsed);
    QFETCH(bool, chosen);
    QFETCH(bool, paused);
    QFETCH(bool, expected);
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}});
    f.clock = 5000;
    QVERIFY(f.store->resumeCollection(*f.idOf(QStringLiteral("A"))));
    if (chosen)
        f.store->setCaptureChoice(CaptureChoice::newCollection());
    if (paused)
        f.store->setSession(CaptureSession{*f.idOf(QStringLiteral("A")), true});
    QCOMPARE(f.store->canContinueQuickCapture(5000 + elapsed), expected);
}

void TestCapture::neverContinuesRightAfterLoad() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}});
    QVERIFY(f.store->resumeCollection(*f.idOf(QStringLiteral("A"))));
    CollectionStore reloaded(f.dir.path(), [] { return 1000.0; });
    QVERIFY(reloaded.session()->isPaused);
    reloaded.setSession(CaptureSession{reloaded.session()->collectionID, false});
    QVERIFY(reloaded.activeCollectionID());
    QVERIFY(!reloaded.canContinueQuickCapture(1000.0));
}

void TestCapture::prepareCaptureRestoresOnlyTheRound() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}, {QStringLiteral("B"), 2}});
    const QUuid b = *f.idOf(QStringLiteral("B"));
    QVERIFY(f.store->resumeCollection(b));
    const auto collections = f.store->collections();

    f.failWritesAfter(1); // the flush succeeds, the save after the change fails
    QVERIFY(!f.store->prepareCapture(CaptureChoice::existing(*f.idOf(QStringLiteral("A")))));
    QCOMPARE(f.store->session(), OptionalCaptureSession(CaptureSession{b, false}));
    QVERIFY(!f.store->captureChoice());
    QCOMPARE(f.store->status(), QStringLiteral("Bereit für den nächsten Ausschnitt"));
    QCOMPARE(f.store->sessionSnipID(), f.snipIdOf(QStringLiteral("B1")));
    QCOMPARE(f.store->collections(), collections);
    QCOMPARE(f.store->saveState(), QStringLiteral("Wird gespeichert …")); // the roll-back is saved later

    f.allowWrites();
    QVERIFY(f.store->prepareCapture(CaptureChoice::newCollection()));
    QCOMPARE(f.store->session(), OptionalCaptureSession(CaptureSession{b, true}));
    QCOMPARE(f.store->captureChoice(), OptionalCaptureChoice(CaptureChoice::newCollection()));
    QCOMPARE(f.store->status(), QStringLiteral("Ziel wählen und Ausschnitt aufnehmen"));
    f.store->setSelectedID(f.idOf(QStringLiteral("A")));
    QVERIFY(f.store->finishSession());
    QCOMPARE(f.store->selectedID(), OptionalUuid(b));
}

void TestCapture::prepareCaptureRefusals_data() {
    QTest::addColumn<QString>("situation");
    QTest::newRow("capture running") << "capturing";
    QTest::newRow("export running") << "exporting";
    QTest::newRow("unknown destination") << "unknown";
    QTest::newRow("flush fails") << "flush";
}

void TestCapture::prepareCaptureRefusals() {
    QFETCH(QString, situation);
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}});
    const QUuid a = *f.idOf(QStringLiteral("A"));
    QVERIFY(f.store->resumeCollection(a));
    f.writes = 0;
    CaptureChoice choice = CaptureChoice::existing(a);
    if (situation == u"capturing")
        f.store->setIsCapturing(true);
    else if (situation == u"exporting")
        f.store->setIsExporting(true);
    else if (situation == u"unknown")
        choice = CaptureChoice::existing(QUuid::createUuid());
    else
        f.failWritesAfter(0);
    QVERIFY(!f.store->prepareCapture(choice));
    QCOMPARE(f.store->session(), OptionalCaptureSession(CaptureSession{a, false}));
    QVERIFY(!f.store->captureChoice());
    QCOMPARE(f.writes, situation == u"flush" ? 1 : 0);
}

void TestCapture::failedResumeKeepsTheRoundsSnip() {
    StoreFixture f;
    f.setUp({{QStringLiteral("X"), 2}, {QStringLiteral("Y"), 3}});
    const QUuid x = *f.idOf(QStringLiteral("X"));
    QVERIFY(f.store->resumeCollection(x));
    f.store->selectPanelSnip(*f.snipIdOf(QStringLiteral("X0")));

    f.failWritesAfter(1);
    QVERIFY(!f.store->resumeCollection(*f.idOf(QStringLiteral("Y"))));
    QCOMPARE(f.store->session(), OptionalCaptureSession(CaptureSession{x, false}));
    QCOMPARE(f.store->sessionSnipID(), f.snipIdOf(QStringLiteral("X0")));

    // Finishing the round afterwards must select a snip of the round's own collection.
    f.allowWrites();
    QVERIFY(f.store->finishSession());
    QCOMPARE(f.store->selectedID(), OptionalUuid(x));
    QCOMPARE(f.store->selectedSnipID(), f.snipIdOf(QStringLiteral("X0")));
}

void TestCapture::captureIntoNewCollection() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}});
    f.store->setCaptureChoice(CaptureChoice::newCollection());
    const CaptureTarget target = f.store->captureTarget();
    QVERIFY(target.newCollection);
    const QByteArray png = pngBytes(30, 20);
    const QUuid snipID = f.store->addCapture(png, target);

    QCOMPARE(f.store->collections().size(), 2);
    const SnipCollection &added = f.collection(0);
    QCOMPARE(added.id, target.collectionID);
    QCOMPARE(added.items.size(), 1);
    QCOMPARE(added.items.first().id, snipID);
    QVERIFY(!added.items.first().cloudLocalOnly);
    QCOMPARE(f.store->selectedID(), OptionalUuid(added.id));
    QCOMPARE(f.store->selectedSnipID(), OptionalUuid(snipID));
    QCOMPARE(f.store->session(), OptionalCaptureSession(CaptureSession{added.id, false}));
    QCOMPARE(f.store->sessionSnipID(), OptionalUuid(snipID));
    QVERIFY(!f.store->captureChoice());
    QCOMPARE(f.store->panelSnip()->id, snipID);
    QCOMPARE(f.store->status(), QStringLiteral("Ausschnitt hinzugefügt · bereit für den nächsten"));
    QVERIFY(f.store->canContinueQuickCapture(f.clock + 1));
    QCOMPARE(f.store->image(added.items.first()).size(), QSize(30, 20));

    // Saved at once, and the next capture goes on into the same collection.
    QCOMPARE(f.writes, 2); // the image and the library
    QCOMPARE(decodeJson<SavedLibrary>([&] {
                 QFile file(f.store->libraryPath());
                 file.open(QIODevice::ReadOnly);
                 return file.readAll();
             }())
                 ->collections,
             f.store->collections());
    const CaptureTarget next = f.store->captureTarget();
    QCOMPARE(next.collectionID, added.id);
    QVERIFY(!next.newCollection);
    f.store->addCapture(png, next);
    QCOMPARE(f.collection(0).items.size(), 2);
}

void TestCapture::captureFollowsRoundAndChoice() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 2}, {QStringLiteral("B"), 1}});
    const QUuid a = *f.idOf(QStringLiteral("A"));
    const QUuid b = *f.idOf(QStringLiteral("B"));
    f.store->setSelectedSnipID(f.snipIdOf(QStringLiteral("A1")));

    // A running round on a collection that is not selected: the selection stays.
    QVERIFY(f.store->resumeCollection(b));
    const QUuid first = f.store->addCapture(pngBytes(5, 5), f.store->captureTarget());
    QCOMPARE(f.collection(1).items.last().id, first);
    QCOMPARE(f.store->selectedID(), OptionalUuid(a));
    QCOMPARE(f.store->selectedSnipID(), f.snipIdOf(QStringLiteral("A1")));
    QCOMPARE(f.store->sessionSnipID(), OptionalUuid(first));

    // A paused round's collection chosen explicitly runs again.
    f.store->pauseSession();
    QVERIFY(f.store->prepareCapture(CaptureChoice::existing(b)));
    f.store->addCapture(pngBytes(5, 5), f.store->captureTarget());
    QCOMPARE(f.store->session(), OptionalCaptureSession(CaptureSession{b, false}));
    QCOMPARE(f.collection(1).items.size(), 3);

    // Choosing a new collection while an empty one exists fills and selects that one.
    f.setUp({{QStringLiteral("A"), 1}, {QStringLiteral("E"), 0}});
    f.store->setCaptureChoice(CaptureChoice::newCollection());
    f.store->addCapture(pngBytes(5, 5), f.store->captureTarget());
    QCOMPARE(f.store->collections().size(), 2);
    QCOMPARE(f.collection(1).items.size(), 1);
    QCOMPARE(f.store->selectedID(), f.idOf(QStringLiteral("E")));
}

void TestCapture::refusedCaptureChangesNothing_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("targetGone");
    QTest::addColumn<QString>("expected");
    QTest::newRow("target deleted") << pngBytes(4, 4) << true
                                    << QStringLiteral("Die Zielsammlung ist nicht mehr vorhanden.");
    QTest::newRow("not an image") << QByteArray("hello") << false
                                  << QStringLiteral("Das Bildformat konnte nicht gelesen werden.");
    QTest::newRow("empty file") << QByteArray() << false
                                << QStringLiteral(
                                       "Bilder dürfen beim Import höchstens 200 MB groß sein. Bitte "
                                       "verkleinere die Datei zuerst.");
}

void TestCapture::refusedCaptureChangesNothing() {
    QFETCH(QByteArray, data);
    QFETCH(bool, targetGone);
    QFETCH(QString, expected);
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}});
    const CaptureTarget target{targetGone ? QUuid::createUuid() : *f.idOf(QStringLiteral("A")), std::nullopt};
    const auto collections = f.store->collections();
    const QString status = f.store->status();
    QCOMPARE(thrownText([&] { f.store->addCapture(data, target); }), expected);
    QCOMPARE(f.store->collections(), collections);
    QCOMPARE(f.store->status(), status);
    QVERIFY(!f.store->session());
    QCOMPARE(f.writes, 0);
    QCOMPARE(imageFileCount(*f.store), 0);
}

void TestCapture::overLimitCaptureKeptLocalOnly() {
    // Noise does not compress: about 27 MB of PNG, more than the cloud allows.
    QImage noise(2600, 2600, QImage::Format_ARGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            line[x] = random.generate();
    }
    const QByteArray png = pngBytes(noise);
    QVERIFY(png.size() > CollectionStore::kCaptureCloudLimit);

    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 0}});
    const QUuid id = f.store->addCapture(png, f.store->captureTarget());
    const Snip snip = f.collection(0).items.first();
    QCOMPARE(snip.id, id);
    QCOMPARE(snip.cloudLocalOnly, std::optional<bool>(true));
    QVERIFY(QFileInfo(f.store->imageURL(snip.imageFile)).size() > CollectionStore::kCaptureCloudLimit);
    QCOMPARE(f.store->status(),
             QStringLiteral("Ausschnitt nur lokal gespeichert · zu groß für die Cloud-Sicherung"));
}

void TestCapture::pauseAndFinish() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}, {QStringLiteral("B"), 2}});
    const QUuid b = *f.idOf(QStringLiteral("B"));

    f.store->setCaptureChoice(CaptureChoice::newCollection());
    f.store->pauseSession(); // without a round: nothing but the choice is cleared
    QVERIFY(!f.store->captureChoice());
    QVERIFY(!f.store->finishSession());
    QVERIFY(!f.store->resumeCollection(QUuid::createUuid()));
    f.store->setIsCapturing(true);
    QVERIFY(!f.store->resumeCollection(b));
    f.store->setIsCapturing(false);
    QCOMPARE(f.writes, 0);
    QVERIFY(!f.store->session());
    QCOMPARE(f.store->saveState(), QStringLiteral("Lokal gespeichert"));

    QVERIFY(f.store->resumeCollection(b));
    f.store->pauseSession();
    f.writes = 0;
    f.store->setStatus(QString());
    f.store->pauseSession(); // paused already: still says so and saves
    QCOMPARE(f.store->status(), QStringLiteral("Sammelrunde pausiert"));
    QCOMPARE(f.writes, 1);
    QVERIFY(!f.store->canContinueQuickCapture(f.clock));

    f.failWritesAfter(1);
    QVERIFY(!f.store->finishSession());
    QCOMPARE(f.store->session(), OptionalCaptureSession(CaptureSession{b, true}));
    f.allowWrites();
    QVERIFY(f.store->finishSession());
    QVERIFY(!f.store->session());
    QCOMPARE(f.store->selectedID(), OptionalUuid(b));
    QCOMPARE(f.store->selectedSnipID(), f.snipIdOf(QStringLiteral("B1")));
    QVERIFY(!f.store->sessionSnipID());
    QCOMPARE(f.store->status(), QStringLiteral("Sammeln beendet · Sammlung bleibt bearbeitbar"));
}

void TestCapture::newCollectionReusesEmpty_data() {
    QTest::addColumn<bool>("withEmpty");
    QTest::newRow("an empty collection exists") << true;
    QTest::newRow("none empty") << false;
}

void TestCapture::newCollectionReusesEmpty() {
    QFETCH(bool, withEmpty);
    StoreFixture f;
    QList<QPair<QString, int>> shape = {{QStringLiteral("A"), 1}};
    if (withEmpty)
        shape.append({QStringLiteral("E"), 0});
    f.setUp(shape);
    f.store->setIsCapturing(true);
    f.store->newCollection();
    QCOMPARE(f.store->collections().size(), shape.size());
    f.store->setIsCapturing(false);

    f.store->newCollection();
    const SnipCollection &target = withEmpty ? f.collection(1) : f.collection(0);
    QCOMPARE(f.store->collections().size(), shape.size() + (withEmpty ? 0 : 1));
    QCOMPARE(target.title, withEmpty ? QStringLiteral("E") : QStringLiteral("Neue Sammlung"));
    QCOMPARE(f.store->selectedID(), OptionalUuid(target.id));
    QVERIFY(!f.store->selectedSnipID());
    QCOMPARE(f.store->session(), OptionalCaptureSession(CaptureSession{target.id, false}));
    QCOMPARE(f.store->collectionNotice(),
             withEmpty ? QStringLiteral("Vorhandene leere Sammlung geöffnet") : QString());
    QCOMPARE(f.store->status(), withEmpty ? QStringLiteral("Bereit für den nächsten Ausschnitt")
                                          : QStringLiteral("Bereit für den ersten Ausschnitt"));
    QCOMPARE(f.store->saveState(), QStringLiteral("Lokal gespeichert"));
}

void TestCapture::panelSelection() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 3}, {QStringLiteral("B"), 2}});
    const QUuid a = *f.idOf(QStringLiteral("A"));
    QVERIFY(!f.store->panelCollection());
    f.store->selectPanelSnip(*f.snipIdOf(QStringLiteral("A0")));
    QVERIFY(f.store->panelSelections().isEmpty());

    QVERIFY(f.store->resumeCollection(a));
    QCOMPARE(f.store->panelSnip()->title, QStringLiteral("A2"));
    f.store->selectPanelSnip(*f.snipIdOf(QStringLiteral("A0")));
    QCOMPARE(f.store->sessionSnipID(), f.snipIdOf(QStringLiteral("A0")));
    f.store->selectPanelSnip(*f.snipIdOf(QStringLiteral("B0"))); // not in the panel's collection
    QCOMPARE(f.store->panelSnip()->title, QStringLiteral("A0"));

    // A destination other than the round's: only the panel's memory changes.
    f.store->setCaptureChoice(CaptureChoice::existing(*f.idOf(QStringLiteral("B"))));
    QCOMPARE(f.store->panelSnip()->title, QStringLiteral("B1"));
    f.store->selectPanelSnip(*f.snipIdOf(QStringLiteral("B0")));
    QCOMPARE(f.store->panelSnip()->title, QStringLiteral("B0"));
    QCOMPARE(f.store->sessionSnipID(), f.snipIdOf(QStringLiteral("A0")));

    f.store->setCaptureChoice(CaptureChoice::newCollection());
    QVERIFY(!f.store->panelCollection());
    QVERIFY(!f.store->panelSnip());

    // A remembered snip that was deleted falls back to the newest.
    f.store->setCaptureChoice(std::nullopt);
    f.store->setSelectedID(a);
    f.store->deleteSnip(*f.snipIdOf(QStringLiteral("A0")));
    QCOMPARE(f.store->panelSnip()->title, QStringLiteral("A2"));
    QCOMPARE(f.store->saveState(), QStringLiteral("Wird gespeichert …"));
}

void TestCapture::panelEditsKeepRoundAlive() {
    StoreFixture f;
    f.setUp({{QStringLiteral("A"), 1}, {QStringLiteral("B"), 1}});
    const QUuid a = *f.idOf(QStringLiteral("A"));
    const QUuid a0 = *f.snipIdOf(QStringLiteral("A0"));
    f.clock = 0;
    QVERIFY(f.store->resumeCollection(a));

    f.clock = 590;
    f.store->editPanelSnip(a0, a, [](Snip &s) { s.title = QStringLiteral(" Titel "); });
    QCOMPARE(f.collection(0).items.first().title, QStringLiteral(" Titel "));
    QVERIFY(f.store->canContinueQuickCapture(1189));
    QVERIFY(!f.store->canContinueQuickCapture(1190));

    // An edit that arrives for a collection the panel no longer shows is dropped.
    QVERIFY(f.store->saveNow());
    f.store->editPanelSnip(*f.snipIdOf(QStringLiteral("B0")), *f.idOf(QStringLiteral("B")),
                           [](Snip &s) { s.note = QStringLiteral("x"); });
    f.store->editPanelSnip(QUuid::createUuid(), a, [](Snip &s) { s.note = QStringLiteral("x"); });
    QVERIFY(f.collection(1).items.first().note.isEmpty());
    QCOMPARE(f.store->saveState(), QStringLiteral("Lokal gespeichert"));
}

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
