#include "ExchangeFakes.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>

#include <atomic>

namespace {
const QString kImported = QStringLiteral("Bild importiert");
const QString kImportedLocal = QStringLiteral("Bild importiert · nur lokal, nicht cloudgesichert");
const QString kSkipped = QStringLiteral("Import übersprungen");

ImageImport::Image pngCopy(int width, int height) {
    return {encodedImage(filledImage(width, height)), width, height};
}

// A library with one collection "Ziel", selected.
SnipCollection selectTarget(ExchangeFixture &f) {
    SnipCollection target;
    target.title = QStringLiteral("Ziel");
    target.items = {Snip::make(QStringLiteral("alt.png"))};
    f.store->setCollections({target});
    f.store->setSelectedID(target.id);
    return target;
}

const SnipCollection &collectionOf(const ExchangeFixture &f, const QUuid &id) {
    for (const SnipCollection &c : f.store->collections()) {
        if (c.id == id)
            return c;
    }
    static const SnipCollection none;
    return none;
}
} // namespace

class TestImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stopsAtTheFirstFailedReview();
    void choice_data();
    void choice();
    void targetStaysWhileTheSelectionMoves();
    void targetDeletedDuringReview();
    void noCurrentCollection();
    void oneImportAtATime();
    void pastePrefers_data();
    void pastePrefers();
    void pasteWithoutImage();
};

void TestImport::stopsAtTheFirstFailedReview() {
    ExchangeFixture f;
    const SnipCollection target = selectTarget(f);
    QTemporaryDir files;
    const QString a = files.filePath(QStringLiteral("a.png"));
    const QString b = files.filePath(QStringLiteral("b.png"));
    const QString c = files.filePath(QStringLiteral("c.png"));
    for (const auto &[path, bytes] :
         {std::pair{a, encodedImage(filledImage(30, 20))}, std::pair{b, QByteArray("kein Bild, nur Text")},
          std::pair{c, encodedImage(filledImage(10, 10))}}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    auto reviewed = std::make_shared<QStringList>(); // read on the main thread only after the import
    f.store->setFileReviewer([reviewed](const QString &path) {
        reviewed->append(QFileInfo(path).fileName());
        return ImageImport::review(path);
    });

    f.store->importImages();
    QVERIFY(f.panels->openRequest);
    QVERIFY(f.panels->openRequest->multipleFiles);
    QCOMPARE(f.panels->openRequest->message,
             QStringLiteral("Bilder importieren · Cloud bis 25 MB pro gespeichertem Bild"));
    f.panels->answerOpen({a, b, c});
    QVERIFY(f.store->isImporting());
    QCOMPARE(f.store->status(), QStringLiteral("Prüfe a.png …"));
    QTRY_VERIFY(!f.store->isImporting());

    QCOMPARE(f.store->error(), QStringLiteral("b.png: Das Bildformat konnte nicht gelesen werden."));
    QCOMPARE(*reviewed, (QStringList{QStringLiteral("a.png"), QStringLiteral("b.png")}));
    const SnipCollection &after = collectionOf(f, target.id);
    QCOMPARE(after.items.size(), 2);
    const Snip &added = after.items.last();
    QVERIFY(isNewImageName(added.imageFile));
    QCOMPARE(added.cloudLocalOnly, std::optional<bool>());
    QCOMPARE(f.store->selectedSnipID(), OptionalUuid(added.id));
    QImage stored;
    QVERIFY(stored.load(f.store->imageURL(added.imageFile), "png"));
    QCOMPARE(stored.size(), QSize(30, 20));
    QCOMPARE(f.images(), QStringList{added.imageFile});
}

void TestImport::choice_data() {
    QTest::addColumn<bool>("hasOriginal");
    QTest::addColumn<int>("press");    // -2: no alert expected
    QTest::addColumn<QSize>("stored"); // empty: nothing stored
    QTest::addColumn<bool>("localOnly");
    QTest::addColumn<QString>("status");
    QTest::newRow("original fits: no question") << true << -2 << QSize(30, 20) << false << kImported;
    QTest::newRow("reduced copy") << true << 0 << QSize(12, 8) << false << kImported;
    QTest::newRow("original kept local") << true << 1 << QSize(30, 20) << true << kImportedLocal;
    QTest::newRow("Abbrechen") << true << 2 << QSize() << false << kSkipped;
    QTest::newRow("alert closed") << true << -1 << QSize() << false << kSkipped;
    QTest::newRow("too large for an original, reduced copy")
        << false << 0 << QSize(12, 8) << false << kImported;
    QTest::newRow("too large for an original, Abbrechen") << false << 1 << QSize() << false << kSkipped;
}

void TestImport::choice() {
    QFETCH(bool, hasOriginal);
    QFETCH(int, press);
    QFETCH(QSize, stored);
    QFETCH(bool, localOnly);
    QFETCH(QString, status);
    ExchangeFixture f;
    const SnipCollection target = selectTarget(f);
    ImageImport::Review review;
    review.width = hasOriginal ? 30 : 25000;
    review.height = hasOriginal ? 20 : 400;
    if (hasOriginal)
        review.original = pngCopy(30, 20);
    if (press != -2)
        review.reduced = pngCopy(12, 8);
    f.store->setFileReviewer([review](const QString &) { return review; });

    f.store->importImages();
    f.panels->answerOpen({QStringLiteral("/nirgends/foto.heic")});
    if (press != -2) {
        QTRY_COMPARE(f.alerts->shown.size(), 1);
        const AlertPresenter::Alert &alert = f.alerts->shown.first();
        QCOMPARE(alert.messageText, QStringLiteral("Bild für die Cloud verkleinern?"));
        const QString original =
            hasOriginal
                ? review.original->description()
                : QStringLiteral("25000 × 400 Pixel – zu groß für die Bearbeitung in Originalauflösung");
        QString text =
            QStringLiteral("foto.heic\n\nOriginal: ") + original + QStringLiteral("\nCloud-Kopie: ") +
            review.reduced->description() +
            QStringLiteral("\n\nCloud-Grenze: 25 MB je gespeichertem PNG. Die verkleinerte Kopie hat "
                           "weniger Details. Deine Quelldatei bleibt unverändert.");
        if (hasOriginal)
            text +=
                QStringLiteral("\n\n„Nur lokal“ behält die Originalauflösung in Vellumbox. Dieses Bild "
                               "einschließlich seiner Kommentare und Markierungen wird nicht in der Cloud "
                               "gesichert.");
        QCOMPARE(alert.informativeText, text);
        QStringList buttons{QStringLiteral("Verkleinerte Kopie importieren")};
        if (hasOriginal)
            buttons << QStringLiteral("Nur lokal behalten");
        buttons << QStringLiteral("Abbrechen");
        QCOMPARE(alert.buttons, buttons);
        QCOMPARE(alert.escapeButton, buttons.size() - 1);
        QVERIFY(f.store->isImporting()); // the open alert holds the import
        f.alerts->press(press);
    }
    QTRY_VERIFY(!f.store->isImporting());
    QVERIFY(f.alerts->shown.size() == (press == -2 ? 0 : 1));
    QCOMPARE(f.store->status(), status);
    QCOMPARE(f.store->error(), QString());
    const SnipCollection &after = collectionOf(f, target.id);
    if (!stored.isValid()) {
        QCOMPARE(after.items.size(), 1);
        QCOMPARE(f.images(), QStringList());
        return;
    }
    QCOMPARE(after.items.size(), 2);
    QCOMPARE(after.items.last().cloudLocalOnly,
             localOnly ? std::optional<bool>(true) : std::optional<bool>());
    QImage image;
    QVERIFY(image.load(f.store->imageURL(after.items.last().imageFile), "png"));
    QCOMPARE(image.size(), stored);
}

void TestImport::targetStaysWhileTheSelectionMoves() {
    ExchangeFixture f;
    const SnipCollection target = selectTarget(f);
    SnipCollection other;
    f.store->setCollections({other, target});
    f.store->setFileReviewer([](const QString &) {
        ImageImport::Review review;
        review.original = pngCopy(4, 4);
        return review;
    });
    f.store->importImages();
    f.panels->answerOpen({QStringLiteral("/x/1.png"), QStringLiteral("/x/2.png")});
    f.store->setSelectedID(other.id); // before any review has come back
    QTRY_VERIFY(!f.store->isImporting());
    QCOMPARE(collectionOf(f, target.id).items.size(), 3);
    QCOMPARE(collectionOf(f, other.id).items.size(), 0);
    QCOMPARE(f.store->selectedSnipID(), OptionalUuid());
}

void TestImport::targetDeletedDuringReview() {
    ExchangeFixture f;
    selectTarget(f);
    f.store->setFileReviewer([](const QString &) {
        ImageImport::Review review;
        review.original = pngCopy(4, 4);
        return review;
    });
    f.store->importImages();
    f.panels->answerOpen({QStringLiteral("/x/1.png"), QStringLiteral("/x/2.png")});
    f.store->setCollections({SnipCollection()});
    QTRY_VERIFY(!f.store->isImporting());
    QCOMPARE(
        f.store->error(),
        QStringLiteral("1.png: Die Zielsammlung ist nicht mehr vorhanden. Das Bild wurde nicht importiert."));
    QCOMPARE(f.images(), QStringList());
}

void TestImport::noCurrentCollection() {
    ExchangeFixture f;
    SnipCollection full;
    full.items = {Snip::make(QStringLiteral("a.png"))};
    f.store->setCollections({full});
    f.store->setSelectedID(std::nullopt);
    f.store->setFileReviewer([](const QString &) {
        ImageImport::Review review;
        review.original = pngCopy(4, 4);
        return review;
    });

    // A capture in progress: no new collection, so nothing happens and nothing is said.
    f.store->setIsCapturing(true);
    f.store->importImages();
    f.panels->answerOpen({QStringLiteral("/x/1.png")});
    QVERIFY(!f.store->isImporting());
    QCOMPARE(f.store->collections().size(), 1);
    QCOMPARE(f.store->error(), QString());

    f.store->setIsCapturing(false);
    f.store->importImages();
    f.panels->answerOpen({QStringLiteral("/x/1.png")});
    QTRY_VERIFY(!f.store->isImporting());
    QCOMPARE(f.store->collections().size(), 2);
    const SnipCollection &made = f.store->collections().first();
    QCOMPARE(f.store->selectedID(), OptionalUuid(made.id));
    QCOMPARE(made.items.size(), 1);
}

void TestImport::oneImportAtATime() {
    ExchangeFixture f;
    selectTarget(f);
    auto release = std::make_shared<std::atomic<bool>>(false);
    f.store->setFileReviewer([release](const QString &) {
        while (!*release)
            QThread::msleep(5);
        ImageImport::Review review;
        review.original = pngCopy(4, 4);
        return review;
    });
    f.store->importImages();
    f.panels->answerOpen({QStringLiteral("/x/1.png")});
    QVERIFY(f.store->isImporting());

    f.panels->openRequest.reset();
    f.store->importImages();
    QVERIFY(!f.panels->openRequest);
    f.store->setImageClipboard(nullptr);
    QGuiApplication::clipboard()->setImage(filledImage(5, 5));
    f.store->pasteImage();
    QCOMPARE(f.store->status(), QStringLiteral("Prüfe 1.png …"));

    *release = true;
    QTRY_VERIFY(!f.store->isImporting());
    QCOMPARE(f.store->collections().first().items.size(), 2);
}

void TestImport::pastePrefers_data() {
    QTest::addColumn<bool>("png");
    QTest::addColumn<bool>("tiff");
    QTest::addColumn<bool>("image");
    QTest::addColumn<QSize>("stored");
    QTest::newRow("PNG before TIFF and image") << true << true << true << QSize(10, 10);
    QTest::newRow("TIFF before image") << false << true << true << QSize(20, 20);
    QTest::newRow("any image") << false << false << true << QSize(30, 30);
}

void TestImport::pastePrefers() {
    QFETCH(bool, png);
    QFETCH(bool, tiff);
    QFETCH(bool, image);
    QFETCH(QSize, stored);
    ExchangeFixture f;
    const SnipCollection target = selectTarget(f);
    auto *mime = new QMimeData;
    if (image)
        mime->setImageData(filledImage(30, 30));
    if (tiff)
        mime->setData(QStringLiteral("image/tiff"), encodedImage(filledImage(20, 20), "tiff"));
    if (png)
        mime->setData(QStringLiteral("image/png"), encodedImage(filledImage(10, 10)));
    QGuiApplication::clipboard()->setMimeData(mime);

    f.store->pasteImage();
    QVERIFY(f.store->isImporting());
    QCOMPARE(f.store->status(), QStringLiteral("Bild aus der Zwischenablage wird geprüft …"));
    QTRY_VERIFY(!f.store->isImporting());
    QCOMPARE(f.store->error(), QString());
    QCOMPARE(f.store->status(), kImported);
    const SnipCollection &after = collectionOf(f, target.id);
    QCOMPARE(after.items.size(), 2);
    QImage pasted;
    QVERIFY(pasted.load(f.store->imageURL(after.items.last().imageFile), "png"));
    QCOMPARE(pasted.size(), stored);
}

void TestImport::pasteWithoutImage() {
    ExchangeFixture f;
    selectTarget(f);
    QGuiApplication::clipboard()->setText(QStringLiteral("nur Text"));
    f.store->pasteImage();
    QVERIFY(!f.store->isImporting());
    QCOMPARE(f.store->error(), QStringLiteral("Die Zwischenablage enthält kein Bild."));
}

QTEST_MAIN(TestImport)
#include "tst_import.moc"
