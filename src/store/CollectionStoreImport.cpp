// Image import and paste: each image is checked off the main thread, the user chooses when only
// a reduced copy fits the cloud, and the chosen copy joins the collection selected at the start.
#include "store/CollectionStore.h"

#include "model/AppFailure.h"
#include "store/StoreBackground.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <memory>

namespace {
const QString kImportMessage = QStringLiteral("Bilder importieren · Cloud bis 25 MB pro gespeichertem Bild");
const QString kSkipped = QStringLiteral("Import übersprungen");
const QString kCancelled = QStringLiteral("Import abgebrochen");
const QString kNoClipboardImage = QStringLiteral("Die Zwischenablage enthält kein Bild.");
const QString kClipboardName = QStringLiteral("Zwischenablage");
const QString kTargetGone =
    QStringLiteral("Die Zielsammlung ist nicht mehr vorhanden. Das Bild wurde nicht importiert.");

// Button texts of the choice between a reduced cloud copy and the original kept local only.
const QString kReducedButton = QStringLiteral("Verkleinerte Kopie importieren");
const QString kLocalButton = QStringLiteral("Nur lokal behalten");
const QString kCancelButton = QStringLiteral("Abbrechen");

ImageImport::CancelCheck stopWhenGone(const std::shared_ptr<std::atomic<bool>> &gone) {
    return [gone] { return gone->load(); };
}
} // namespace

struct CollectionStore::ImportRun {
    QStringList paths;
    qsizetype next = 0;
    QUuid target;
};

void CollectionStore::importImages() {
    if (m_isImporting || !m_filePanels)
        return;
    FilePanels::OpenRequest request;
    request.message = kImportMessage;
    // File name patterns match case-sensitively here; the content decides the format anyway.
    request.nameFilters = {QStringLiteral("*.png *.PNG *.jpg *.JPG *.jpeg *.JPEG *.tif *.TIF *.tiff *.TIFF "
                                          "*.heic *.HEIC")};
    request.multipleFiles = true;
    m_filePanels->chooseOpenFiles(request, [this](const QStringList &paths) {
        // The panel does not block: a paste may have started while it was open.
        if (paths.isEmpty() || m_isImporting)
            return;
        const std::optional<QUuid> target = importTargetID();
        if (!target)
            return;
        setIsImporting(true);
        importNext(std::make_shared<ImportRun>(ImportRun{paths, 0, *target}));
    });
}

std::optional<QUuid> CollectionStore::importTargetID() {
    if (!current())
        newCollection();
    const std::optional<SnipCollection> target = current();
    return target ? std::optional<QUuid>(target->id) : std::nullopt;
}

void CollectionStore::importNext(const std::shared_ptr<ImportRun> &run) {
    if (run->next >= run->paths.size()) {
        setIsImporting(false);
        return;
    }
    const QString path = run->paths[run->next++];
    const QString name = QFileInfo(path).fileName();
    setStatus(QStringLiteral("Prüfe ") + name + QStringLiteral(" …"));
    const FileReviewer reviewer =
        m_fileReviewer ? m_fileReviewer : FileReviewer([stop = stopWhenGone(m_gone)](const QString &file) {
            return ImageImport::review(file, stop);
        });
    reviewOffMainThread(
        [reviewer, path] { return reviewer(path); },
        [this, run, name](const ReviewOutcome &outcome) {
            if (!outcome.review) {
                setError(name + QStringLiteral(": ") + outcome.failure);
                setIsImporting(false);
                return;
            }
            chooseImport(*outcome.review, name, [this, run, name](const std::optional<ImportChoice> &choice) {
                if (!choice) {
                    setStatus(kSkipped);
                    importNext(run);
                    return;
                }
                addReviewedImage(choice->image, choice->localOnly, run->target,
                                 [this, run, name](const QString &failure) {
                                     if (failure.isEmpty()) {
                                         importNext(run);
                                         return;
                                     }
                                     setError(name + QStringLiteral(": ") + failure);
                                     setIsImporting(false);
                                 });
            });
        });
}

void CollectionStore::pasteImage() {
    if (m_isImporting)
        return;
    if (!m_imageClipboard)
        m_imageClipboard = std::make_unique<SystemImageClipboard>();
    // Only the bytes are taken here; whatever their format, they are looked at off the main thread.
    const std::optional<QByteArray> data = m_imageClipboard->imageData();
    if (!data) {
        setError(kNoClipboardImage);
        return;
    }
    const std::optional<QUuid> target = importTargetID();
    if (!target)
        return;
    setIsImporting(true);
    setStatus(QStringLiteral("Bild aus der Zwischenablage wird geprüft …"));
    reviewOffMainThread(
        [bytes = *data, stop = stopWhenGone(m_gone)] {
            return ImageImport::reviewPasted(bytes, ImageImport::maximumCloudBytes, stop);
        },
        [this, id = *target](const ReviewOutcome &outcome) {
            if (!outcome.review) {
                setError(outcome.failure);
                setIsImporting(false);
                return;
            }
            chooseImport(
                *outcome.review, kClipboardName, [this, id](const std::optional<ImportChoice> &choice) {
                    if (!choice) {
                        setStatus(kCancelled);
                        setIsImporting(false);
                        return;
                    }
                    addReviewedImage(choice->image, choice->localOnly, id, [this](const QString &failure) {
                        if (!failure.isEmpty())
                            setError(failure);
                        setIsImporting(false);
                    });
                });
        });
}

void CollectionStore::reviewOffMainThread(std::function<ImageImport::Review()> review,
                                          std::function<void(const ReviewOutcome &)> done) {
    // Not the store's pending work: quitting saves without waiting for it, and with the store gone
    // first the result is dropped.
    Background::run(
        this,
        [review = std::move(review)] {
            ReviewOutcome outcome;
            outcome.failure = StoreWork::attempt([&] { outcome.review = review(); });
            return outcome;
        },
        [done = std::move(done)](const ReviewOutcome &outcome) { done(outcome); });
}

void CollectionStore::chooseImport(const ImageImport::Review &review, const QString &name,
                                   std::function<void(const std::optional<ImportChoice> &)> answer) {
    if (!review.reduced) {
        answer(review.original ? std::optional<ImportChoice>(ImportChoice{*review.original, false})
                               : std::nullopt);
        return;
    }
    AlertPresenter::Alert alert;
    alert.messageText = QStringLiteral("Bild für die Cloud verkleinern?");
    QString text = name + QStringLiteral("\n\nOriginal: ");
    if (review.original)
        text += review.original->description();
    else
        text += QString::number(review.width) + QStringLiteral(" × ") + QString::number(review.height) +
                QStringLiteral(" Pixel – zu groß für die Bearbeitung in Originalauflösung");
    text += QStringLiteral("\nCloud-Kopie: ") + review.reduced->description() +
            QStringLiteral("\n\nCloud-Grenze: 25 MB je gespeichertem PNG. Die verkleinerte Kopie hat weniger "
                           "Details. Deine Quelldatei bleibt unverändert.");
    if (review.original)
        text += QStringLiteral("\n\n„Nur lokal“ behält die Originalauflösung in Vellumbox. Dieses Bild "
                               "einschließlich seiner Kommentare und Markierungen wird nicht in der Cloud "
                               "gesichert.");
    alert.informativeText = text;
    alert.buttons = {kReducedButton};
    if (review.original)
        alert.buttons.append(kLocalButton);
    alert.buttons.append(kCancelButton);
    alert.escapeButton = int(alert.buttons.size()) - 1;
    if (!m_alertPresenter) {
        answer(std::nullopt);
        return;
    }
    m_alertPresenter->show(alert, [review, answer = std::move(answer)](int button) {
        if (button == 0)
            answer(ImportChoice{*review.reduced, false});
        else if (button == 1 && review.original)
            answer(ImportChoice{*review.original, true});
        else
            answer(std::nullopt);
    });
}

void CollectionStore::addReviewedImage(const ImageImport::Image &image, bool localOnly,
                                       const QUuid &collectionID, std::function<void(const QString &)> done) {
    if (indexOfCollection(collectionID) < 0) {
        done(kTargetGone);
        return;
    }
    inBackground(
        [image, localOnly, room = imageRoom()] {
            StoredImage stored;
            if (const QString thrown =
                    StoreWork::attempt([&] { stored = storeImage(image, localOnly, room); });
                !thrown.isEmpty())
                stored.failure = thrown;
            return stored;
        },
        [collectionID, localOnly, done = std::move(done)](CollectionStore *self, const StoredImage &stored) {
            if (!self) {
                if (!stored.path.isEmpty())
                    QFile::remove(stored.path);
                return;
            }
            if (!stored.snip) {
                done(stored.failure);
                return;
            }
            // The collection may have gone while the image was written.
            const qsizetype index = self->indexOfCollection(collectionID);
            if (index < 0) {
                QFile::remove(stored.path);
                done(kTargetGone);
                return;
            }
            const Snip snip = *stored.snip;
            self->changeCollections([&](QList<SnipCollection> &list) { list[index].items.append(snip); });
            if (self->m_selectedID == collectionID)
                self->setSelectedSnipID(snip.id);
            self->setStatus(localOnly ? QStringLiteral("Bild importiert · nur lokal, nicht cloudgesichert")
                                      : QStringLiteral("Bild importiert"));
            done(QString());
        });
}
