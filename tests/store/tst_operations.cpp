#include "StoreFixture.h"

#include "model/JsonCoding.h"
#include "support/HeldImageWrites.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
QString letter(char c) {
    return QString(QLatin1Char(c));
}

// Everything a trash operation may change.
auto state(const CollectionStore &s) {
    return std::tuple(s.collections(), s.selectedID(), s.selectedSnipID(), s.session(), s.sessionSnipID(),
                      s.captureChoice(), s.deletedCollections(), s.collectionNotice(), s.panelSelections());
}

const QString kCaptureAdded = QStringLiteral("Ausschnitt hinzugefügt · bereit für den nächsten");

std::optional<SavedLibrary> savedLibrary(const CollectionStore &store) {
    return decodeJson<SavedLibrary>(readFile(store.libraryPath()));
}
} // namespace

class TestOperations : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void captureTarget_data();
    void captureTarget();
    void canContinueQuickCapture_data();
    void canContinueQuickCapture();
    void failedSaveRestoresTheRound_data();
    void failedSaveRestoresTheRound();
    void failedRoundSavePutsBackItsChanges_data();
    void failedRoundSavePutsBackItsChanges();
    void finishSessionLeavesTheSelectionToTheAutosave_data();
    void finishSessionLeavesTheSelectionToTheAutosave();
    void failedSaveIsTriedAgain_data();
    void failedSaveIsTriedAgain();
    void roundChosenWhileCaptureIsStored_data();
    void roundChosenWhileCaptureIsStored();
    void capture_data();
    void capture();
    void quitWhileStoring();
    void savesAtOnce_data();
    void savesAtOnce();
    void setLocalOnly_data();
    void setLocalOnly();
    void moveBy_data();
    void moveBy();
    void moveBefore_data();
    void moveBefore();
    void deleteDeleteUndoRestoresOnlyTheLast();
    void undoAfterTheCollectionWasDeleted();
    void selectionAfterDelete_data();
    void selectionAfterDelete();
    void trashOrder();
    void failedFinalSaveLeavesPreviousState_data();
    void failedFinalSaveLeavesPreviousState();
    void failedDeletePutsTheTrashBack_data();
    void failedDeletePutsTheTrashBack();
    void trashIndexClamped_data();
    void trashIndexClamped();
    void writingDisabledRefuses_data();
    void writingDisabledRefuses();
};

void TestOperations::captureTarget_data() {
    // Collections A and B hold a snip each, E and F are empty. choice: '-' none, 'N' a new
    // collection, 'G' one deleted since; round: '-' none, its collection, lower case when paused.
    QTest::addColumn<char>("choice");
    QTest::addColumn<char>("round");
    QTest::addColumn<char>("selected");
    QTest::addColumn<bool>("withEmpty");
    QTest::addColumn<char>("expected"); // 'N': a new collection
    QTest::newRow("nothing chosen: first empty") << '-' << '-' << 'A' << true << 'E';
    QTest::newRow("nothing chosen, none empty: new") << '-' << '-' << 'A' << false << 'N';
    QTest::newRow("running round") << '-' << 'B' << 'A' << true << 'B';
    QTest::newRow("paused round: first empty") << '-' << 'b' << 'A' << true << 'E';
    QTest::newRow("paused round, none empty: new") << '-' << 'b' << 'A' << false << 'N';
    QTest::newRow("new chosen ignores the round") << 'N' << 'B' << 'A' << true << 'E';
    QTest::newRow("new chosen prefers an empty current") << 'N' << '-' << 'F' << true << 'F';
    QTest::newRow("new chosen, none empty") << 'N' << 'B' << 'A' << false << 'N';
    QTest::newRow("existing chosen beats the round") << 'A' << 'B' << 'B' << true << 'A';
    QTest::newRow("existing chosen, since deleted") << 'G' << '-' << 'A' << true << 'G';
}

void TestOperations::captureTarget() {
    QFETCH(char, choice);
    QFETCH(char, round);
    QFETCH(char, selected);
    QFETCH(bool, withEmpty);
    QFETCH(char, expected);
    StoreFixture f;
    f.setUp({{"A", 1}, {"B", 1}, {"E", 0}, {"F", 0}});
    if (!withEmpty)
        f.store->setCollections(f.store->collections().mid(0, 2));
    const QUuid gone = QUuid::createUuid();
    const auto id = [&](char c) { return c == 'G' ? gone : f.id(letter(char(toupper(c)))).value(); };
    f.store->setSelectedID(id(selected));
    if (round != '-')
        f.store->setSession(CaptureSession{id(round), bool(islower(round))});
    if (choice != '-')
        f.store->setCaptureChoice(choice == 'N' ? CaptureChoice::newCollection()
                                                : CaptureChoice::existing(id(choice)));
    const auto before = f.store->collections();
    f.clock = 12345.5;

    const CaptureTarget target = f.store->captureTarget();
    QCOMPARE(f.store->collections(), before);
    QCOMPARE(target.newCollection.has_value(), expected == 'N');
    QCOMPARE(target.collectionID, expected == 'N' ? target.newCollection->id : id(expected));
    if (target.newCollection) {
        QVERIFY(target.newCollection->items.isEmpty());
        QCOMPARE(target.newCollection->createdAt, 12345.5);
    }
}

void TestOperations::canContinueQuickCapture_data() {
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<char>("situation"); // 'c' a destination chosen, 'p' the round paused, 'l' just loaded
    QTest::addColumn<bool>("expected");
    QTest::newRow("599.9 s") << 599.9 << '-' << true;
    QTest::newRow("600 s") << 600.0 << '-' << false;
    QTest::newRow("clock went back") << -0.1 << '-' << false;
    QTest::newRow("destination chosen") << 10.0 << 'c' << false;
    QTest::newRow("round paused") << 10.0 << 'p' << false;
    QTest::newRow("right after a load") << 0.0 << 'l' << false;
}

void TestOperations::canContinueQuickCapture() {
    QFETCH(double, elapsed);
    QFETCH(char, situation);
    QFETCH(bool, expected);
    StoreFixture f;
    f.setUp({{"A", 1}});
    f.clock = 5000;
    QVERIFY(f.store->resumeCollection(*f.id("A")));
    if (situation == 'l') {
        f.store->finishPendingWork(); // the round on disk before the next store reads it
        f.store = std::make_unique<CollectionStore>(f.dir.path(), [] { return 5000.0; });
    }
    QCOMPARE(f.store->session()->isPaused, situation == 'l'); // a loaded round comes back paused
    if (situation == 'c')
        f.store->setCaptureChoice(CaptureChoice::newCollection());
    f.store->setSession(CaptureSession{*f.id("A"), situation == 'p'});
    QCOMPARE(f.store->canContinueQuickCapture(5000 + elapsed), expected);
}

void TestOperations::failedSaveRestoresTheRound_data() {
    QTest::addColumn<bool>("resume"); // else prepareCapture
    QTest::newRow("prepareCapture") << false;
    QTest::newRow("resumeCollection") << true;
}

void TestOperations::failedSaveRestoresTheRound() {
    QFETCH(bool, resume);
    StoreFixture f;
    f.setUp({{"A", 1}, {"B", 2}});
    QVERIFY(f.store->resumeCollection(*f.id("B")));
    f.store->selectPanelSnip(*f.id("B0"));
    f.store->finishPendingWork();
    const auto collections = f.store->collections();
    const QString status = f.store->status();
    f.allowedWrites = 0;
    // Taken at once; the failed save's answer puts the round back.
    QVERIFY(resume ? f.store->resumeCollection(*f.id("A"))
                   : f.store->prepareCapture(CaptureChoice::existing(*f.id("A"))));
    QVERIFY(f.store->session() != OptionalCaptureSession(CaptureSession{*f.id("B"), false}));
    f.store->finishPendingWork();
    QCOMPARE(f.store->saveState(), CollectionStore::SaveState::Saving); // the delayed save tries again
    QCOMPARE(f.store->session(), OptionalCaptureSession(CaptureSession{*f.id("B"), false}));
    QCOMPARE(f.store->sessionSnipID(), f.id("B0"));
    QVERIFY(!f.store->captureChoice());
    QCOMPARE(f.store->status(), status);
    QCOMPARE(f.store->collections(), collections);
    f.allowedWrites = -1; // finishing selects the round's collection
    QVERIFY(f.store->finishSession());
    QCOMPARE(f.store->selectedID(), f.id("B"));
    QCOMPARE(f.store->selectedSnipID(), f.id("B0"));
}

void TestOperations::failedRoundSavePutsBackItsChanges_data() {
    // 'f' finishSession, 'c' the same with a destination chosen, 'r' resumeCollection on A,
    // 'n' newCollection, which reopens the empty E
    QTest::addColumn<char>("operation");
    QTest::newRow("finishSession") << 'f';
    QTest::newRow("finishSession, a destination chosen") << 'c';
    QTest::newRow("resumeCollection") << 'r';
    QTest::newRow("newCollection reopening an empty one") << 'n';
}

// A round operation whose save fails puts back all it changed; only the selection that finishing
// chose stays, as the delayed autosave writes that anyway.
void TestOperations::failedRoundSavePutsBackItsChanges() {
    QFETCH(char, operation);
    StoreFixture f;
    f.setUp({{"A", 1}, {"B", 2}, {"E", 0}});
    QVERIFY(f.store->resumeCollection(*f.id("B"))); // the round's last activity: 1000 s
    f.store->selectPanelSnip(*f.id("B0"));
    f.store->setSelectedSnipID(f.id("A0"));
    if (operation == 'c')
        f.store->setCaptureChoice(CaptureChoice::existing(*f.id("A")));
    f.store->setStatus(kCaptureAdded);
    f.store->finishPendingWork();
    const auto before = state(*f.store);
    f.clock = 1300;
    f.allowedWrites = 0;
    switch (operation) {
    case 'r':
        QVERIFY(f.store->resumeCollection(*f.id("A")));
        break;
    case 'n':
        f.store->newCollection();
        QCOMPARE(f.store->collectionNotice(), QStringLiteral("Vorhandene leere Sammlung geöffnet"));
        break;
    default:
        QVERIFY(f.store->finishSession());
    }
    QVERIFY(state(*f.store) != before); // taken at once
    f.store->finishPendingWork();

    auto expected = before;
    if (operation == 'f' || operation == 'c') {
        std::get<1>(expected) = f.id("B");
        std::get<2>(expected) = f.id("B0");
    }
    QVERIFY(state(*f.store) == expected);
    QCOMPARE(f.store->status(), kCaptureAdded);
    // The shortcut's window counts from the round's own last activity again.
    if (operation != 'c') {
        QVERIFY(f.store->canContinueQuickCapture(1000 + 599));
        QVERIFY(!f.store->canContinueQuickCapture(1000 + 650));
    }
    // Finishing later selects the round's collection with one of its own snips.
    f.allowedWrites = -1;
    QVERIFY(f.store->finishSession());
    QCOMPARE(f.store->selectedID(), f.id("B"));
    QCOMPARE(f.store->selectedSnipID(), f.id("B0"));
}

void TestOperations::finishSessionLeavesTheSelectionToTheAutosave_data() {
    QTest::addColumn<bool>("saveUnderWay"); // another save is still being written as the round ends
    QTest::newRow("no save under way") << false;
    QTest::newRow("another save under way") << true;
}

// The immediate write of finishing ends the round; the selection follows with the delayed save.
void TestOperations::finishSessionLeavesTheSelectionToTheAutosave() {
    QFETCH(bool, saveUnderWay);
    StoreFixture f;
    f.setUp({{"A", 1}, {"B", 1}});
    QVERIFY(f.store->resumeCollection(*f.id("B")));
    f.store->finishPendingWork();
    if (saveUnderWay)
        f.store->save();
    QVERIFY(f.store->finishSession());
    f.store->finishPendingWork(); // the immediate write, not the delayed one
    const auto first = savedLibrary(*f.store);
    QVERIFY(first && !first->session);
    QCOMPARE(first->selectedID, f.id("A"));
    QCOMPARE(f.store->saveState(), CollectionStore::SaveState::Saving);
    QTRY_COMPARE_WITH_TIMEOUT(savedLibrary(*f.store).value_or(SavedLibrary{}).selectedID, f.id("B"), 10000);
}

void TestOperations::failedSaveIsTriedAgain_data() {
    QTest::addColumn<char>("operation");
    QTest::newRow("deleteCollection") << 'd';
    QTest::newRow("restoreDeletedCollection") << 't';
    QTest::newRow("prepareCapture") << 'p';
    QTest::newRow("resumeCollection") << 'r';
    QTest::newRow("finishSession") << 'f';
    QTest::newRow("newCollection reopening an empty one") << 'n';
    // Its put-back changes nothing that is saved, so only the further attempt writes the edit.
    QTest::newRow("prepareCapture, no round running") << 'q';
}

// An edit that waited for its delayed save goes into the operation's save. When that fails, a
// further attempt follows on its own, so the edit reaches the disk once writing works again.
void TestOperations::failedSaveIsTriedAgain() {
    QFETCH(char, operation);
    StoreFixture f;
    f.setUp({{"A", 1}, {"B", 1}, {"C", 1}, {"E", 0}});
    QVERIFY(f.store->deleteCollection(*f.id("C")));
    if (operation != 'q')
        QVERIFY(f.store->resumeCollection(*f.id("B")));
    f.store->finishPendingWork();
    f.store->editCurrent([](SnipCollection &c) { c.title = QStringLiteral("A geändert"); });
    f.allowedWrites = 0;
    switch (operation) {
    case 'd':
        QVERIFY(f.store->deleteCollection(*f.id("B")));
        break;
    case 't':
        QVERIFY(f.store->restoreDeletedCollection());
        break;
    case 'p':
    case 'q':
        QVERIFY(f.store->prepareCapture(CaptureChoice::newCollection()));
        break;
    case 'r':
        QVERIFY(f.store->resumeCollection(*f.id("A geändert")));
        break;
    case 'f':
        QVERIFY(f.store->finishSession());
        break;
    default:
        f.store->newCollection();
    }
    f.store->finishPendingWork();
    QCOMPARE(f.store->collections().first().title, QStringLiteral("A geändert"));
    QVERIFY(savedLibrary(*f.store)->collections.first().title != QStringLiteral("A geändert"));
    f.allowedWrites = -1;
    QTRY_COMPARE_WITH_TIMEOUT(savedLibrary(*f.store)->collections.first().title, QStringLiteral("A geändert"),
                              10000);
    QTRY_COMPARE_WITH_TIMEOUT(f.store->saveState(), CollectionStore::SaveState::Saved, 10000);
}

void TestOperations::roundChosenWhileCaptureIsStored_data() {
    QTest::addColumn<bool>("finish"); // else paused
    QTest::newRow("paused") << false;
    QTest::newRow("finished") << true;
}

// The snip of a capture still being stored arrives after the user paused or ended the round: it
// is kept, and the round stays as the user left it.
void TestOperations::roundChosenWhileCaptureIsStored() {
    QFETCH(bool, finish);
    StoreFixture f;
    f.setUp({{"A", 1}, {"B", 1}});
    QVERIFY(f.store->resumeCollection(*f.id("A")));
    f.store->finishPendingWork();
    HeldImageWrites held;
    f.store->setFileWriter(held.writer());
    const CaptureTarget target = f.store->captureTarget();
    QCOMPARE(target.collectionID, *f.id("A"));
    auto answer = std::make_shared<std::optional<QString>>();
    QObject receiver;
    f.store->addCapture(encoded(filled(40, 30)), target, &receiver,
                        [answer](const QString &failure) { *answer = failure; });
    QTRY_COMPARE_WITH_TIMEOUT(held.waiting(), 1, 20000);
    if (finish)
        QVERIFY(f.store->finishSession());
    else
        f.store->pauseSession();
    const QString status = f.store->status();
    held.release();
    QTRY_VERIFY_WITH_TIMEOUT(answer->has_value(), 20000);
    QCOMPARE(**answer, QString());

    QCOMPARE(f.collection(0).items.size(), 2);
    const QUuid snip = f.collection(0).items.last().id;
    QCOMPARE(f.store->session(),
             finish ? OptionalCaptureSession() : OptionalCaptureSession(CaptureSession{*f.id("A"), true}));
    QCOMPARE(f.store->sessionSnipID(), finish ? OptionalUuid() : OptionalUuid(snip));
    QCOMPARE(f.store->status(), status);
    QVERIFY(!f.store->captureChoice());
    QVERIFY(!f.store->canContinueQuickCapture(f.clock));
    f.store->finishPendingWork();
    const auto saved = savedLibrary(*f.store);
    QVERIFY(saved);
    QCOMPARE(saved->session, f.store->session());
    QCOMPARE(saved->collections.first().items.size(), 2);
}

void TestOperations::capture_data() {
    // 'l' noise just over 25 MB as PNG into a new collection; 'a' a small image into A; 'g' into A
    // deleted before the call, 'd' deleted while the image is stored; 'x' bytes that are no image.
    QTest::addColumn<char>("kind");
    QTest::addColumn<QString>("failure");
    QTest::newRow("over the cloud limit: kept local only") << 'l' << QString();
    QTest::newRow("into an existing collection") << 'a' << QString();
    QTest::newRow("target deleted before")
        << 'g' << QStringLiteral("Die Zielsammlung ist nicht mehr vorhanden.");
    QTest::newRow("target deleted while storing")
        << 'd' << QStringLiteral("Die Zielsammlung ist nicht mehr vorhanden.");
    QTest::newRow("not an image") << 'x' << QStringLiteral("Das Bildformat konnte nicht gelesen werden.");
}

// Quitting right after a capture: the image still being stored must be in the saved library.
void TestOperations::quitWhileStoring() {
    StoreFixture f;
    f.setUp({{"A", 1}});
    const CaptureTarget target{*f.id("A"), std::nullopt};
    bool answered = false;
    QObject receiver;
    f.store->addCapture(encoded(filled(40, 30)), target, &receiver,
                        [&](const QString &) { answered = true; });
    f.store->finishPendingWork();
    QVERIFY(answered);
    QCOMPARE(f.collection(0).items.size(), 2);
    QVERIFY(f.store->saveAtExit());
    CollectionStore reopened(f.dir.path());
    QCOMPARE(reopened.collections().value(0).items.size(), 2);
}

void TestOperations::capture() {
    QFETCH(char, kind);
    QFETCH(QString, failure);
    StoreFixture f;
    f.setUp({{"A", 1}, {"B", 1}});
    QByteArray bytes = encoded(filled(40, 30));
    CaptureTarget target{*f.id("A"), std::nullopt};
    if (kind == 'l') {
        // Noise does not compress. The image is wide, so its cloud copy, 4096 pixels wide, fits at
        // the first try. It comes in as TIFF, which the intake takes like PNG and which is far
        // quicker to write.
        QImage noise(8000, 800, QImage::Format_ARGB32);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.bits()), noise.sizeInBytes() / 4);
        bytes = encoded(noise, "tiff");
        target = f.store->captureTarget(); // a new collection
    } else if (kind == 'x') {
        bytes = "kein Bild";
    } else if (kind == 'g') {
        QVERIFY(f.store->deleteCollection(*f.id("A")));
    }
    f.store->setSelectedID(f.id("B"));
    QVERIFY(f.store->saveAtExit());
    f.writes = 0;
    const auto before = f.store->collections();
    const QString answer = StoreFixture::answerOf([&](QObject *receiver, StoreFixture::Done done) {
        f.store->addCapture(bytes, target, receiver, done);
        QCOMPARE(f.store->collections(), before); // nothing happens inside the call
        if (kind == 'd')
            QVERIFY(f.store->deleteCollection(target.collectionID));
    });
    QCOMPARE(answer, failure);
    if (!failure.isEmpty()) {
        QCOMPARE(f.images(), QStringList());
        return;
    }
    const SnipCollection &added = f.collection(0);
    const Snip &snip = added.items.last();
    QCOMPARE(added.id, target.collectionID);
    QCOMPARE(f.store->session(), OptionalCaptureSession(CaptureSession{added.id, false}));
    QCOMPARE(f.store->sessionSnipID(), OptionalUuid(snip.id));
    QCOMPARE(f.store->panelSelections().value(added.id), snip.id);
    QCOMPARE(f.store->status(),
             kind == 'l'
                 ? QStringLiteral("Ausschnitt nur lokal gespeichert · zu groß für die Cloud-Sicherung")
                 : QStringLiteral("Ausschnitt hinzugefügt · bereit für den nächsten"));
    // A new collection is selected with the snip; otherwise the main window stays where it was.
    QCOMPARE(f.store->selectedID(), kind == 'l' ? OptionalUuid(added.id) : f.id("B"));
    QCOMPARE(snip.cloudLocalOnly, kind == 'l' ? std::optional<bool>(true) : std::nullopt);
    QCOMPARE(QFileInfo(f.store->imageURL(snip.imageFile)).size() > CollectionStore::kCaptureCloudLimit,
             kind == 'l');
    f.store->finishPendingWork(); // waits for saves under way, not for a delayed one
    QCOMPARE(f.writes.load(), 2); // the image and the library, at once
}

void TestOperations::savesAtOnce_data() {
    QTest::addColumn<char>("operation"); // 'p' pauseSession, 'n' newCollection
    QTest::newRow("pausing the round") << 'p';
    QTest::newRow("a new collection") << 'n';
}

void TestOperations::savesAtOnce() {
    QFETCH(char, operation);
    StoreFixture f;
    f.setUp({{"A", 1}});
    QVERIFY(f.store->resumeCollection(*f.id("A")));
    f.store->finishPendingWork();
    f.writes = 0;
    if (operation == 'p')
        f.store->pauseSession();
    else
        f.store->newCollection();
    QCOMPARE(f.store->saveState(), CollectionStore::SaveState::Saving);
    f.store->finishPendingWork(); // waits for saves under way, not for a delayed one
    QVERIFY(f.writes > 0);
    const auto saved = decodeJson<SavedLibrary>(readFile(f.store->libraryPath()));
    QVERIFY(saved);
    QCOMPARE(saved->session, f.store->session());
    QCOMPARE(saved->collections, f.store->collections());
    QCOMPARE(f.store->saveState(), CollectionStore::SaveState::Saved);
}

void TestOperations::setLocalOnly_data() {
    // image: 's' a small PNG, 'l' a PNG file of 25,000,001 bytes, 'j' a JPEG, 'm' no file
    QTest::addColumn<char>("image");
    QTest::addColumn<bool>("localOnly"); // what is asked for; the flag is set first
    QTest::addColumn<QString>("error");
    const QString refused = QStringLiteral(
        "Dieses Bild überschreitet die Cloud-Grenze von 25 MB bzw. die unterstützte Auflösung oder ist "
        "ungültig. Importiere eine verkleinerte Kopie oder wähle im Bild-Kontextmenü „Nur lokal speichern“.");
    QTest::newRow("set on a large image, unchecked") << 'l' << true << QString();
    QTest::newRow("cleared on a small PNG") << 's' << false << QString();
    QTest::newRow("cleared on a large image") << 'l' << false << refused;
    QTest::newRow("cleared on a JPEG") << 'j' << false << refused;
    QTest::newRow("cleared without a file")
        << 'm' << false << QStringLiteral("Die Bilddatei konnte nicht gelesen werden.");
}

void TestOperations::setLocalOnly() {
    QFETCH(char, image);
    QFETCH(bool, localOnly);
    QFETCH(QString, error);
    StoreFixture f;
    f.setUp({{"A", 1}});
    Snip snip = f.collection(0).items.first();
    const QString path = f.store->imageURL(snip.imageFile);
    QFile file(path);
    if (image != 'm')
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write(encoded(filled(8, 8), image == 'j' ? "jpeg" : "png")) > 0 &&
                file.resize(image == 'l' ? 25'000'001 : file.size()));
    file.close();
    f.store->editSnip(snip.id, [](Snip &s) { s.cloudLocalOnly = true; });
    snip = f.collection(0).items.first();
    f.store->setLocalOnly(snip, localOnly);
    QCOMPARE(f.store->error(), error);
    const bool flagged = localOnly || !error.isEmpty();
    QCOMPARE(f.collection(0).items.first().cloudLocalOnly,
             flagged ? std::optional<bool>(true) : std::nullopt);
    QVERIFY(f.store->saveAtExit());
    // A cleared flag leaves the file without its key; it is never written as false.
    QCOMPARE(readFile(f.store->libraryPath()).contains("cloudLocalOnly"), flagged);
}

void TestOperations::moveBy_data() {
    QTest::addColumn<QString>("snip");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first up") << "S0" << -1 << "S0 S1 S2";
    QTest::newRow("last down") << "S2" << 1 << "S0 S1 S2";
    QTest::newRow("middle up") << "S1" << -1 << "S1 S0 S2";
    QTest::newRow("middle down") << "S1" << 1 << "S0 S2 S1";
    QTest::newRow("two places is a swap") << "S0" << 2 << "S2 S1 S0";
    QTest::newRow("far beyond") << "S0" << 2147483647 << "S0 S1 S2";
    QTest::newRow("far before") << "S2" << -2147483647 - 1 << "S0 S1 S2";
    QTest::newRow("unknown snip") << "X" << 1 << "S0 S1 S2";
}

void TestOperations::moveBy() {
    QFETCH(QString, snip);
    QFETCH(int, offset);
    QFETCH(QString, expected);
    StoreFixture f;
    f.setUp({{"S", 3}});
    f.store->move(f.id(snip).value_or(QUuid::createUuid()), offset);
    QCOMPARE(f.snips(0), expected);
}

void TestOperations::moveBefore_data() {
    // form: 'm' move(id, before); moveDropped with 'l' the id in lower case, 'b' in braces, 't' the
    // snip's title, 'u' an unknown id, 'j' the id and a letter, 's' a space and the id. 'X' names
    // no snip.
    QTest::addColumn<char>("form");
    QTest::addColumn<char>("snip");
    QTest::addColumn<char>("target");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first before last") << 'm' << '0' << '3' << "S1 S2 S0 S3";
    QTest::newRow("last before second") << 'm' << '3' << '1' << "S0 S3 S1 S2";
    QTest::newRow("onto itself") << 'm' << '0' << '0' << "S0 S1 S2 S3";
    QTest::newRow("unknown target") << 'm' << '0' << 'X' << "S0 S1 S2 S3";
    QTest::newRow("dropped id in lower case") << 'l' << '2' << '0' << "S2 S0 S1 S3";
    QTest::newRow("dropped id in braces") << 'b' << '2' << '0' << "S0 S1 S2 S3";
    QTest::newRow("dropped text") << 't' << '2' << '0' << "S0 S1 S2 S3";
    QTest::newRow("dropped unknown id") << 'u' << '2' << '0' << "S0 S1 S2 S3";
    QTest::newRow("dropped id with text after it") << 'j' << '2' << '0' << "S0 S1 S2 S3";
    QTest::newRow("dropped id with a space before it") << 's' << '2' << '0' << "S0 S1 S2 S3";
}

void TestOperations::moveBefore() {
    QFETCH(char, form);
    QFETCH(char, snip);
    QFETCH(char, target);
    QFETCH(QString, expected);
    StoreFixture f;
    f.setUp({{"S", 4}});
    const auto id = [&](char c) { return f.id(u'S' + letter(c)).value_or(QUuid::createUuid()); };
    const QUuid moved = form == 'u' ? QUuid::createUuid() : id(snip);
    if (form == 'm')
        f.store->move(moved, id(target));
    else
        f.store->moveDropped(form == 'b'   ? moved.toString()
                             : form == 't' ? u'S' + letter(snip)
                             : form == 'j' ? uuidText(moved) + QStringLiteral("x")
                             : form == 's' ? u' ' + uuidText(moved)
                                           : uuidText(moved).toLower(),
                             id(target));
    QCOMPARE(f.snips(0), expected);
}

void TestOperations::deleteDeleteUndoRestoresOnlyTheLast() {
    StoreFixture f;
    f.setUp({{"S", 3}});
    const Snip last = f.collection(0).items[2];
    f.store->deleteSnip(*f.id("S1"));
    QCOMPARE(f.store->selectedSnipID(), OptionalUuid(last.id)); // the last one left
    f.store->deleteSnip(last.id);
    f.store->undoDelete();
    QCOMPARE(f.snips(0), "S0 S2");
    QCOMPARE(f.collection(0).items.last(), last);
    QCOMPARE(f.store->selectedSnipID(), OptionalUuid(last.id));
    QVERIFY(!f.store->canUndoDelete());
}

void TestOperations::undoAfterTheCollectionWasDeleted() {
    StoreFixture f;
    f.setUp({{"A", 2}, {"B", 1}});
    f.store->deleteSnip(*f.id("A0"));
    QVERIFY(f.store->deleteCollection(*f.id("A")));
    f.store->undoDelete(); // waits until the collection is back
    QCOMPARE(f.titles(), "B");
    QVERIFY(f.store->canUndoDelete());
    QVERIFY(f.store->restoreDeletedCollection());
    f.store->setSelectedID(f.id("B"));
    f.store->undoDelete();
    QCOMPARE(f.snips(0), "A0 A1");
    QCOMPARE(f.store->selectedID(), f.id("A"));
}

void TestOperations::selectionAfterDelete_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<QString>("expected"); // the collection and snip selected after
    QTest::newRow("the selected, in the middle") << 5 << 2 << 2 << "C3 C30";
    QTest::newRow("the selected, the last") << 5 << 4 << 4 << "C3 C30";
    QTest::newRow("the only one") << 1 << 0 << 0 << "";
    QTest::newRow("another one") << 5 << 1 << 3 << "C1 C11";
}

void TestOperations::selectionAfterDelete() {
    QFETCH(int, count);
    QFETCH(int, selected);
    QFETCH(int, deleted);
    QFETCH(QString, expected);
    StoreFixture f;
    QList<QPair<QString, int>> shape;
    for (int i = 0; i < count; ++i)
        shape.append({u'C' + QString::number(i), 3});
    f.setUp(shape);
    f.store->setSelectedID(f.collection(selected).id);
    f.store->setSelectedSnipID(f.collection(selected).items[1].id);
    const QUuid id = f.collection(deleted).id;
    QVERIFY(f.store->deleteCollection(id));
    QCOMPARE(f.store->deletedCollections().first().collection.id, id);
    QCOMPARE(f.store->deletedCollections().first().index, deleted);
    QCOMPARE(f.store->selectedID(), f.id(expected.section(u' ', 0, 0)));
    QCOMPARE(f.store->selectedSnipID(), f.id(expected.section(u' ', 1)));
}

void TestOperations::trashOrder() {
    StoreFixture f;
    f.setUp({{"A", 0}, {"B", 0}, {"C", 0}, {"D", 0}});
    QVERIFY(f.store->deleteCollection(*f.id("B")));
    QVERIFY(f.store->deleteCollection(*f.id("D")));
    QCOMPARE(f.titles(), "A C");
    QVERIFY(f.store->restoreDeletedCollection());
    QCOMPARE(f.titles(), "A C D");
    QVERIFY(f.store->restoreDeletedCollection());
    QCOMPARE(f.titles(), "A B C D");
    QCOMPARE(f.store->selectedID(), f.id("B"));
    QVERIFY(!f.store->restoreDeletedCollection());
}

void TestOperations::failedFinalSaveLeavesPreviousState_data() {
    QTest::addColumn<bool>("restore");
    QTest::addColumn<bool>("changeMeanwhile");
    QTest::newRow("delete") << false << false;
    QTest::newRow("restore") << true << false;
    QTest::newRow("delete, another collection changed and selected before the answer") << false << true;
    QTest::newRow("restore, another collection changed and selected before the answer") << true << true;
}

void TestOperations::failedFinalSaveLeavesPreviousState() {
    QFETCH(bool, restore);
    QFETCH(bool, changeMeanwhile);
    StoreFixture f;
    f.setUp({{"A", 2}, {"B", 2}, {"C", 1}});
    const QUuid b = *f.id("B");
    QVERIFY(f.store->deleteCollection(*f.id("C")));
    QVERIFY(f.store->resumeCollection(b));
    f.store->selectPanelSnip(*f.id("B0"));
    f.store->setCaptureChoice(CaptureChoice::existing(b));
    f.store->setSelectedID(b);
    f.store->setSelectedSnipID(f.id("B1"));
    f.store->save();
    f.store->finishPendingWork();
    QCOMPARE(f.store->saveState(), CollectionStore::SaveState::Saved);
    auto before = state(*f.store);
    f.allowedWrites = 0;
    QVERIFY(restore ? f.store->restoreDeletedCollection() : f.store->deleteCollection(b));
    QVERIFY(state(*f.store) != before); // taken at once
    if (changeMeanwhile) {
        // Changed before the answer: kept, and written by a save of its own.
        QList<SnipCollection> list = f.store->collections();
        QCOMPARE(list[0].title, QStringLiteral("A"));
        list[0].title = QStringLiteral("A2");
        f.store->setCollections(list);
        std::get<0>(before)[0].title = QStringLiteral("A2");
        f.store->setSelectedID(f.id("A"));
        f.store->setSelectedSnipID(f.id("A1"));
        std::get<1>(before) = f.id("A");
        std::get<2>(before) = f.id("A1");
    }
    f.store->finishPendingWork();
    QVERIFY(state(*f.store) == before);
    QVERIFY(f.store->error().startsWith(QStringLiteral("Speichern fehlgeschlagen: ")));
    const int writes = f.writes;
    if (changeMeanwhile) {
        QCOMPARE(f.store->saveState(), CollectionStore::SaveState::Saving);
        f.allowedWrites = -1;
        QTRY_COMPARE_WITH_TIMEOUT(f.store->saveState(), CollectionStore::SaveState::Saved, 10000);
        const auto saved = decodeJson<SavedLibrary>(readFile(f.store->libraryPath()));
        QVERIFY(saved);
        QCOMPARE(saved->collections, f.store->collections());
        QCOMPARE(saved->deletedCollections.value_or(QList<DeletedCollection>()),
                 f.store->deletedCollections());
    } else {
        // The delayed save tries again, and fails again.
        QCOMPARE(f.store->saveState(), CollectionStore::SaveState::Saving);
        QTRY_COMPARE_WITH_TIMEOUT(f.writes.load(), writes + 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(f.store->saveState(), CollectionStore::SaveState::Failed, 10000);
    }
    if (restore)
        return;
    f.allowedWrites = -1; // deleted for good, the collection takes its round and choice along
    QVERIFY(f.store->deleteCollection(b));
    QVERIFY(!f.store->session() && !f.store->panelSelections().contains(b));
    QCOMPARE(f.store->captureChoice(), OptionalCaptureChoice(CaptureChoice::newCollection()));
    f.store->finishPendingWork();
    QCOMPARE(f.store->saveState(), CollectionStore::SaveState::Saved);
    QVERIFY(!f.store->session());
}

void TestOperations::failedDeletePutsTheTrashBack_data() {
    // Steps while every write fails, in order: "-X" deletes collection X, "+" restores the newest
    // trash entry, "xS" deletes snip S of the current collection, "u" undoes that, "n" adds a new
    // collection in front, "r" restores a backup of one collection R with one snip, "@X" resumes a
    // round on X, "~X" takes X out by replacing the collections. R stands for its restored copy.
    QTest::addColumn<QString>("deletedBefore"); // collections deleted, and saved, before writes fail
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("titles");
    QTest::addColumn<QString>("kept");     // titles of the trash entries left
    QTest::addColumn<QString>("shown");    // the collection selected and the round's, in the end
    QTest::addColumn<QString>("restores"); // the restores' answers as they come: 'n' not saved, 'b' refused
    QTest::newRow("only entry") << ""
                                << "-B"
                                << "A B C D"
                                << ""
                                << "A/D"
                                << "";
    QTest::newRow("last entry") << "C"
                                << "-B"
                                << "A B D"
                                << "C"
                                << "A/D"
                                << "";
    QTest::newRow("delete B, then C") << ""
                                      << "-B -C"
                                      << "A B C D"
                                      << ""
                                      << "A/D"
                                      << "";
    QTest::newRow("delete C, then B") << ""
                                      << "-C -B"
                                      << "A B C D"
                                      << ""
                                      << "A/D"
                                      << "";
    QTest::newRow("delete B, then restore it") << ""
                                               << "-B +"
                                               << "A B C D"
                                               << ""
                                               << "A/D"
                                               << "";
    QTest::newRow("restore B, then delete it again") << "B"
                                                     << "+ -B"
                                                     << "A C D"
                                                     << "B"
                                                     << "A/D"
                                                     << "";
    QTest::newRow("a snip deleted and brought back meanwhile") << ""
                                                               << "xB0 -B + u"
                                                               << "A B C D"
                                                               << ""
                                                               << "B/D"
                                                               << "";
    QTest::newRow("a collection added in front meanwhile") << ""
                                                           << "-B n"
                                                           << "Neue Sammlung A B C D"
                                                           << ""
                                                           << "Neue Sammlung/Neue Sammlung"
                                                           << "";
    QTest::newRow("delete the selected one, then restore a backup") << ""
                                                                    << "-A r"
                                                                    << "A B C D"
                                                                    << ""
                                                                    << "A/D"
                                                                    << "n";
    QTest::newRow("restore a backup, then delete its copy") << ""
                                                            << "r -R"
                                                            << "A B C D"
                                                            << ""
                                                            << "A/D"
                                                            << "n";
    QTest::newRow("delete, restore a backup, delete its copy") << ""
                                                               << "-A r -R"
                                                               << "A B C D"
                                                               << ""
                                                               << "A/D"
                                                               << "n";
    QTest::newRow("restore from the trash, then a backup") << "C"
                                                           << "+ r"
                                                           << "A B D"
                                                           << "C"
                                                           << "A/D"
                                                           << "n";
    QTest::newRow("restore a backup, then from the trash") << "C"
                                                           << "r +"
                                                           << "A B D"
                                                           << "C"
                                                           << "A/D"
                                                           << "n";
    QTest::newRow("restore a backup, then resume a round on its copy") << ""
                                                                       << "r @R"
                                                                       << "A B C D"
                                                                       << ""
                                                                       << "A/D"
                                                                       << "n";
    QTest::newRow("restore a backup twice, a deletion between") << ""
                                                                << "r -B r"
                                                                << "A B C D"
                                                                << ""
                                                                << "A/D"
                                                                << "bn";
    // The selection the restore found is gone: the one in the copy's place follows, as after a deletion.
    QTest::newRow("restore a backup, the collection selected before gone meanwhile") << ""
                                                                                     << "r ~A -B"
                                                                                     << "B C D"
                                                                                     << ""
                                                                                     << "B/D"
                                                                                     << "n";
    QTest::newRow("restore a backup, the copy selected again behind a new one, the one selected before gone")
        << ""
        << "r n xR0 ~A"
        << "Neue Sammlung B C D"
        << ""
        << "B/Neue Sammlung"
        << "n";
    QTest::newRow("restore from the trash, the collection selected before gone meanwhile") << "C"
                                                                                           << "+ ~A -B"
                                                                                           << "B D"
                                                                                           << "C"
                                                                                           << "D/D"
                                                                                           << "";
}

// However many operations that put back one chain of failing saves holds, the collections and the
// trash come back as they were, each collection at its old place, the selection on one that is
// there, no restored image is left, and so does the next save.
void TestOperations::failedDeletePutsTheTrashBack() {
    QFETCH(QString, deletedBefore);
    QFETCH(QString, steps);
    QFETCH(QString, titles);
    QFETCH(QString, kept);
    QFETCH(QString, shown);
    QFETCH(QString, restores);
    StoreFixture f;
    f.setUp({{"A", 1}, {"B", 2}, {"C", 1}, {"D", 1}});
    for (const QString &title : deletedBefore.split(u' ', Qt::SkipEmptyParts))
        QVERIFY(f.store->deleteCollection(*f.id(title)));
    QVERIFY(f.store->resumeCollection(*f.id("D")));
    f.store->finishPendingWork();
    const QString notice = f.store->collectionNotice();
    const QList<DeletedCollection> trashBefore = f.store->deletedCollections();
    QTemporaryDir backup;
    SnipCollection r;
    r.title = QStringLiteral("R");
    r.items = {Snip::make(uuidText(QUuid::createUuid()) + QStringLiteral(".png"))};
    QVERIFY(writeFile(backup.filePath(r.items[0].imageFile), encoded(filled(2, 2))));
    const auto id = [&](const QString &title) {
        return title == u"R" ? f.id(QStringLiteral("R · Wiederhergestellt")) : f.id(title);
    };
    QObject receiver;
    QString answers;
    f.allowedWrites = 0;
    f.holdLibrary = true; // each save waits for the steps after it
    for (const QString &step : steps.split(u' ')) {
        if (step.startsWith(u'-')) {
            QVERIFY(f.store->deleteCollection(*id(step.mid(1))));
        } else if (step == u"+") {
            QVERIFY(f.store->restoreDeletedCollection());
        } else if (step.startsWith(u'x')) {
            f.store->setSelectedID(id(step.mid(1, 1)));
            f.store->deleteSnip(*f.id(step.mid(1)));
        } else if (step == u"n") {
            f.store->newCollection();
        } else if (step == u"r") {
            const qsizetype count = f.store->collections().size();
            const qsizetype answered = answers.size();
            f.store->restoreCloudCollections({r}, backup.path(), &receiver, [&](const QString &failure) {
                answers += failure.startsWith(QStringLiteral("Bitte beende")) ? u'b'
                           : failure.isEmpty()                                ? u's'
                                                                              : u'n';
            });
            QVERIFY(QTest::qWaitFor(
                [&] { return answers.size() > answered || f.store->collections().size() > count; }, 20000));
        } else if (step.startsWith(u'@')) {
            QVERIFY(f.store->resumeCollection(*id(step.mid(1))));
        } else if (step.startsWith(u'~')) {
            QList<SnipCollection> list = f.store->collections();
            list.removeIf([&](const SnipCollection &c) { return c.id == id(step.mid(1)); });
            f.store->setCollections(list);
        } else {
            f.store->undoDelete();
        }
    }
    f.holdLibrary = false;
    f.store->finishPendingWork();
    QCOMPARE(f.titles(), titles);
    for (const SnipCollection &c : f.store->collections()) {
        if (c.title == u"B") // with every snip, where it was
            QCOMPARE(StoreFixture::titlesOf(c.items), QStringLiteral("B0 B1"));
    }
    QStringList left;
    for (const DeletedCollection &entry : f.store->deletedCollections())
        left << entry.collection.title;
    QCOMPARE(left.join(u' '), kept);
    QCOMPARE(f.store->deletedCollections(), trashBefore);
    QCOMPARE(f.store->collectionNotice(), notice);
    QVERIFY(f.store->canRestoreCollection() == !kept.isEmpty());
    QCOMPARE(f.store->selectedID(), f.id(shown.section(u'/', 0, 0)));
    QCOMPARE(f.store->session(),
             OptionalCaptureSession(CaptureSession{*f.id(shown.section(u'/', 1)), false}));
    QCOMPARE(answers, restores);
    QVERIFY(!f.store->isRestoring());
    QCOMPARE(f.images(), QStringList());
    // The next attempt writes the library as it is now.
    f.allowedWrites = -1;
    QTRY_COMPARE_WITH_TIMEOUT(f.store->saveState(), CollectionStore::SaveState::Saved, 10000);
    const auto saved = savedLibrary(*f.store);
    QVERIFY(saved);
    QCOMPARE(saved->collections, f.store->collections());
    QCOMPARE(saved->deletedCollections.value_or(QList<DeletedCollection>()), f.store->deletedCollections());
}

void TestOperations::trashIndexClamped_data() {
    QTest::addColumn<qint64>("index");
    QTest::addColumn<int>("expected");
    QTest::newRow("negative") << qint64(-5) << 0;
    QTest::newRow("beyond the end") << qint64(99) << 2;
    QTest::newRow("most negative") << std::numeric_limits<qint64>::min() << 0;
    QTest::newRow("largest") << std::numeric_limits<qint64>::max() << 2;
}

void TestOperations::trashIndexClamped() {
    QFETCH(qint64, index);
    QFETCH(int, expected);
    StoreFixture f;
    f.setUp({{"A", 0}, {"B", 0}});
    SnipCollection edited;
    edited.title = QStringLiteral("X");
    f.store->setDeletedCollections({DeletedCollection{edited, index}});
    QVERIFY(f.store->saveAtExit());
    CollectionStore reloaded(f.dir.path()); // the index as an edited file may hold it
    QVERIFY(reloaded.restoreDeletedCollection());
    QCOMPARE(reloaded.collections().at(expected).title, QStringLiteral("X"));
}

// A library that must not be written this run: every operation that saves at once refuses and
// changes nothing, and the indicator says why.
void TestOperations::writingDisabledRefuses_data() {
    QTest::addColumn<char>("operation");
    QTest::newRow("prepareCapture") << 'p';
    QTest::newRow("resumeCollection") << 'r';
    QTest::newRow("finishSession") << 'f';
    QTest::newRow("newCollection") << 'n';
    QTest::newRow("deleteCollection") << 'd';
    QTest::newRow("restoreDeletedCollection") << 't';
}

void TestOperations::writingDisabledRefuses() {
    QFETCH(char, operation);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("library.json"))); // unreadable, cannot be copied
    CollectionStore store(dir.path());
    QVERIFY(!store.writingEnabled());
    SnipCollection a, b;
    a.title = QStringLiteral("A");
    a.items = {Snip::make(QStringLiteral("a.png"))};
    store.setCollections({a});
    store.setSelectedID(a.id);
    store.setSession(CaptureSession{a.id, false});
    store.setDeletedCollections({DeletedCollection{b, 0}});
    const auto before = state(store);
    bool accepted = true;
    switch (operation) {
    case 'p':
        accepted = store.prepareCapture(CaptureChoice::newCollection());
        break;
    case 'r':
        accepted = store.resumeCollection(a.id);
        break;
    case 'f':
        accepted = store.finishSession();
        break;
    case 'n':
        store.newCollection();
        accepted = false;
        break;
    case 'd':
        accepted = store.deleteCollection(a.id);
        break;
    default:
        accepted = store.restoreDeletedCollection();
    }
    QVERIFY(!accepted);
    QVERIFY(state(store) == before);
    QCOMPARE(store.saveState(), CollectionStore::SaveState::Disabled);
    store.finishPendingWork();
    QTest::qWait(CollectionStore::kAutosaveDelayMs + 100);
    QVERIFY(state(store) == before);
    QVERIFY(QFileInfo(store.libraryPath()).isDir());
}

QTEST_GUILESS_MAIN(TestOperations)
#include "tst_operations.moc"
