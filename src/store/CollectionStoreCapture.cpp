// Capture destination and intake, capture rounds and the capture panel's selection.
#include "store/CollectionStore.h"

#include "model/AppFailure.h"
#include "store/StoreBackground.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

#include <algorithm>
#include <new>

namespace {
const QString kTargetGone = QStringLiteral("Die Zielsammlung ist nicht mehr vorhanden.");
const QString kOverCloudLimit =
    QStringLiteral("Dieses Bild überschreitet die Cloud-Grenze. Bitte verwende „Bilder importieren“, um eine "
                   "verkleinerte Kopie oder „Nur lokal“ auszuwählen.");
const QString kCaptureAdded = QStringLiteral("Ausschnitt hinzugefügt · bereit für den nächsten");
const QString kChooseTarget = QStringLiteral("Ziel wählen und Ausschnitt aufnehmen");
const QString kCaptureKeptLocal =
    QStringLiteral("Ausschnitt nur lokal gespeichert · zu groß für die Cloud-Sicherung");
const QString kReadyForNext = QStringLiteral("Bereit für den nächsten Ausschnitt");
const QString kRoundPaused = QStringLiteral("Sammelrunde pausiert");
const QString kRoundFinished = QStringLiteral("Sammeln beendet · Sammlung bleibt bearbeitbar");
const QString kEmptyReopened = QStringLiteral("Vorhandene leere Sammlung geöffnet");

// "Sammlung 3. Feb., 14:05:09": day, abbreviated month and time as Austrian German writes them.
QString captureCollectionTitle(double referenceSeconds) {
    const auto msecs = qint64((referenceSeconds + kReferenceDateUnixOffset) * 1000.0);
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(msecs).toLocalTime();
    return QStringLiteral("Sammlung ") +
           QLocale(QLocale::German, QLocale::Austria).toString(time, QStringLiteral("d. MMM, HH:mm:ss"));
}

const Snip *findSnip(const SnipCollection &collection, const QUuid &id) {
    const auto it = std::find_if(collection.items.cbegin(), collection.items.cend(),
                                 [&](const Snip &s) { return s.id == id; });
    return it == collection.items.cend() ? nullptr : &*it;
}
} // namespace

qsizetype CollectionStore::indexOfCollection(const QUuid &id) const {
    for (qsizetype i = 0; i < m_collections.size(); ++i) {
        if (m_collections[i].id == id)
            return i;
    }
    return -1;
}

// ---- Capture destination and intake ----

std::optional<SnipCollection> CollectionStore::reusableEmptyCollection() const {
    if (const auto c = current(); c && c->items.isEmpty())
        return c;
    const auto it = std::find_if(m_collections.cbegin(), m_collections.cend(),
                                 [](const SnipCollection &c) { return c.items.isEmpty(); });
    if (it != m_collections.cend())
        return *it;
    return std::nullopt;
}

CaptureTarget CollectionStore::captureTarget() const {
    if (m_captureChoice && !m_captureChoice->isNewCollection())
        return {m_captureChoice->id, std::nullopt};
    if (!m_captureChoice) {
        if (const auto active = activeCollectionID())
            return {*active, std::nullopt};
    }
    if (const auto empty = reusableEmptyCollection())
        return {empty->id, std::nullopt};
    SnipCollection collection;
    collection.createdAt = now();
    collection.title = captureCollectionTitle(collection.createdAt);
    return {collection.id, collection};
}

void CollectionStore::addCapture(const QByteArray &data, const CaptureTarget &target, QObject *receiver,
                                 std::function<void(const QString &)> done) {
    QPointer<QObject> guard(receiver);
    auto finish = [guard, done = std::move(done)](const QString &failure) {
        if (guard)
            done(failure);
    };
    if (!target.newCollection && indexOfCollection(target.collectionID) < 0) {
        QMetaObject::invokeMethod(
            this, [finish] { finish(kTargetGone); }, Qt::QueuedConnection);
        return;
    }
    struct Outcome {
        StoredImage stored;
        bool localOnly = false;
    };
    const quint64 roundChoices = m_roundChoices;
    inBackground(
        [data, room = imageRoom()] {
            Outcome outcome;
            const QString failure = StoreWork::attempt([&] {
                const ImageImport::Review review = ImageImport::review(data, kCaptureCloudLimit);
                // The capture file is removed after intake, so a capture too large for the cloud
                // is kept on this machine in full rather than refused and lost.
                outcome.localOnly = review.original && review.original->png.size() > kCaptureCloudLimit;
                if (!review.original || (review.reduced && !outcome.localOnly))
                    throw AppFailure(kOverCloudLimit);
                outcome.stored = storeImage(*review.original, outcome.localOnly, room);
            });
            if (!failure.isEmpty())
                outcome.stored = StoredImage{std::nullopt, QString(), failure};
            return outcome;
        },
        [target, finish, roundChoices](CollectionStore *self, const Outcome &outcome) {
            if (!self) {
                if (!outcome.stored.path.isEmpty())
                    QFile::remove(outcome.stored.path);
                return;
            }
            QString failure = outcome.stored.failure;
            // The target may have been deleted while the image was checked.
            if (failure.isEmpty() && !target.newCollection &&
                self->indexOfCollection(target.collectionID) < 0) {
                QFile::remove(outcome.stored.path);
                failure = kTargetGone;
            }
            if (failure.isEmpty())
                self->finishCapture(outcome.stored, outcome.localOnly, target,
                                    self->m_roundChoices != roundChoices);
            finish(failure);
        });
}

void CollectionStore::finishCapture(const StoredImage &stored, bool localOnly, const CaptureTarget &target,
                                    bool roundChosen) {
    const Snip &snip = *stored.snip;
    const QUuid collectionID = target.collectionID;
    if (m_captureChoice && m_captureChoice->isNewCollection())
        setSelectedID(collectionID);
    // A new collection that is somehow present already is filled, never added a second time.
    if (const qsizetype index = indexOfCollection(collectionID); index >= 0) {
        changeCollections([&](QList<SnipCollection> &list) { list[index].items.append(snip); });
    } else {
        SnipCollection collection = *target.newCollection;
        collection.items = {snip};
        changeCollections([&](QList<SnipCollection> &list) { list.prepend(collection); });
        setSelectedID(collectionID);
    }
    // Paused or ended while the image was stored: the snip is kept, and what the user chose for
    // the round holds, its status text included.
    if (!roundChosen) {
        setSession(CaptureSession{collectionID, false});
        setCaptureChoice(std::nullopt);
        m_lastCaptureActivity = now();
    }
    if (m_session && m_session->collectionID == collectionID)
        setSessionSnipID(snip.id);
    UuidMap selections = m_panelSelections;
    selections.insert(collectionID, snip.id);
    setPanelSelections(selections);
    if (m_selectedID == collectionID)
        setSelectedSnipID(snip.id);
    if (!roundChosen)
        setStatus(localOnly ? kCaptureKeptLocal : kCaptureAdded);
    // A failed save keeps the snip in memory (and its image on disk) for the next one.
    save();
}

// ---- Capture rounds ----

std::optional<SnipCollection> CollectionStore::sessionCollection() const {
    if (!m_session)
        return std::nullopt;
    if (const qsizetype index = indexOfCollection(m_session->collectionID); index >= 0)
        return m_collections[index];
    return std::nullopt;
}

bool CollectionStore::choiceStillValid(const OptionalCaptureChoice &choice) const {
    return !choice || choice->isNewCollection() || indexOfCollection(choice->id) >= 0;
}

bool CollectionStore::canContinueQuickCapture(double now) const {
    if (m_captureChoice || !activeCollectionID() || !m_lastCaptureActivity)
        return false;
    const double idle = now - *m_lastCaptureActivity;
    return idle >= 0 && idle < kCaptureIdleInterval;
}

// The round operations below refuse at once when writing is disabled. Otherwise they apply their
// change and save; when that save fails, its answer puts back each value they set that still holds
// it, so what was changed meanwhile stays.

bool CollectionStore::prepareCapture(const CaptureChoice &choice) {
    if (isBusy())
        return false;
    if (!choice.isNewCollection() && indexOfCollection(choice.id) < 0)
        return false;
    if (refuseWhenDisabled())
        return false;
    ++m_roundChoices;
    const OptionalCaptureSession old = m_session;
    const OptionalCaptureChoice oldChoice = m_captureChoice;
    const QString oldStatus = m_status;
    if (m_session)
        setSession(CaptureSession{m_session->collectionID, true});
    const OptionalCaptureSession paused = m_session;
    setCaptureChoice(choice);
    setStatus(kChooseTarget);
    saveOrPutBack([this, old, paused, oldChoice, oldStatus, choice] {
        if (m_session == paused)
            setSession(old);
        // A capture already under way keeps the destination it started with.
        if (!m_isCapturing && m_captureChoice == choice) {
            setCaptureChoice(oldChoice);
            if (m_status == kChooseTarget)
                setStatus(oldStatus);
        }
    });
    return true;
}

std::function<void()> CollectionStore::applyResume(const QUuid &id) {
    ++m_roundChoices;
    const OptionalCaptureSession old = m_session;
    const OptionalUuid oldSnip = m_sessionSnipID;
    const QString oldStatus = m_status;
    const OptionalCaptureChoice oldChoice = m_captureChoice;
    const std::optional<double> oldActivity = m_lastCaptureActivity;
    setSession(CaptureSession{id, false});
    const auto collection = sessionCollection();
    setSessionSnipID(collection && !collection->items.isEmpty() ? OptionalUuid(collection->items.last().id)
                                                                : OptionalUuid());
    setStatus(kReadyForNext);
    setCaptureChoice(std::nullopt);
    m_lastCaptureActivity = now();
    return [this, old, oldSnip, oldStatus, oldChoice, oldActivity, running = m_session,
            snip = m_sessionSnipID, activity = m_lastCaptureActivity] {
        // The old round comes back only onto a collection that is still there.
        if (m_session == running && (!old || indexOfCollection(old->collectionID) >= 0)) {
            setSession(old);
            if (m_sessionSnipID == snip)
                setSessionSnipID(oldSnip);
        }
        if (m_status == kReadyForNext)
            setStatus(oldStatus);
        if (!m_captureChoice && choiceStillValid(oldChoice))
            setCaptureChoice(oldChoice);
        if (m_lastCaptureActivity == activity)
            m_lastCaptureActivity = oldActivity;
    };
}

bool CollectionStore::resumeCollection(const QUuid &id) {
    if (m_isCapturing)
        return false;
    if (indexOfCollection(id) < 0)
        return false;
    if (refuseWhenDisabled())
        return false;
    saveOrPutBack(applyResume(id));
    return true;
}

void CollectionStore::pauseSession() {
    ++m_roundChoices;
    setCaptureChoice(std::nullopt);
    m_lastCaptureActivity.reset();
    if (!m_session)
        return;
    setSession(CaptureSession{m_session->collectionID, true});
    setStatus(kRoundPaused);
    save();
}

bool CollectionStore::finishSession() {
    if (m_isCapturing || !m_session)
        return false;
    if (refuseWhenDisabled())
        return false;
    ++m_roundChoices;
    const CaptureSession old = *m_session;
    const OptionalUuid oldSnip = m_sessionSnipID;
    const OptionalCaptureChoice oldChoice = m_captureChoice;
    const std::optional<double> oldActivity = m_lastCaptureActivity;
    const QString oldStatus = m_status;
    setSession(std::nullopt);
    // The immediate write ends the round; the selection below follows with the delayed save.
    saveOrPutBack([this, old, oldSnip, oldChoice, oldActivity, oldStatus] {
        // The selection this chose stays: it reaches the disk with the delayed save anyway.
        if (!m_session && indexOfCollection(old.collectionID) >= 0) {
            setSession(old);
            if (!m_sessionSnipID)
                setSessionSnipID(oldSnip);
        }
        if (!m_captureChoice && choiceStillValid(oldChoice))
            setCaptureChoice(oldChoice);
        if (!m_lastCaptureActivity)
            m_lastCaptureActivity = oldActivity;
        if (m_status == kRoundFinished)
            setStatus(oldStatus);
    });
    holdSelectionForTheNextSave(m_selectedID);
    setSelectedID(old.collectionID);
    setSelectedSnipID(oldSnip);
    setSessionSnipID(std::nullopt);
    setCaptureChoice(std::nullopt);
    m_lastCaptureActivity.reset();
    setStatus(kRoundFinished);
    return true;
}

void CollectionStore::newCollection() {
    if (isBusy())
        return;
    if (refuseWhenDisabled())
        return;
    if (const auto empty = reusableEmptyCollection()) {
        const OptionalUuid oldSelectedID = m_selectedID;
        const OptionalUuid oldSelectedSnipID = m_selectedSnipID;
        const QString oldNotice = m_collectionNotice;
        const auto undoResume = applyResume(empty->id);
        setSelectedID(empty->id);
        setSelectedSnipID(std::nullopt);
        setCollectionNotice(kEmptyReopened);
        saveOrPutBack([this, undoResume, oldSelectedID, oldSelectedSnipID, oldNotice, id = empty->id] {
            undoResume();
            if (m_selectedID == id && !m_selectedSnipID &&
                (!oldSelectedID || indexOfCollection(*oldSelectedID) >= 0)) {
                setSelectedID(oldSelectedID);
                setSelectedSnipID(oldSelectedSnipID);
            }
            if (m_collectionNotice == kEmptyReopened)
                setCollectionNotice(oldNotice);
        });
        return;
    }
    ++m_roundChoices;
    setCollectionNotice(QString());
    SnipCollection collection;
    collection.createdAt = now();
    changeCollections([&](QList<SnipCollection> &list) { list.prepend(collection); });
    setSelectedID(collection.id);
    setSelectedSnipID(std::nullopt);
    setSession(CaptureSession{collection.id, false});
    setSessionSnipID(std::nullopt);
    setCaptureChoice(std::nullopt);
    m_lastCaptureActivity = now();
    setStatus(QStringLiteral("Bereit für den ersten Ausschnitt"));
    save();
}

// ---- Capture panel ----

std::optional<SnipCollection> CollectionStore::panelCollection() const {
    if (!m_captureChoice)
        return sessionCollection();
    if (m_captureChoice->isNewCollection())
        return std::nullopt;
    if (const qsizetype index = indexOfCollection(m_captureChoice->id); index >= 0)
        return m_collections[index];
    return std::nullopt;
}

std::optional<Snip> CollectionStore::panelSnip() const {
    const auto collection = panelCollection();
    if (!collection)
        return std::nullopt;
    OptionalUuid wanted;
    if (const auto it = m_panelSelections.constFind(collection->id); it != m_panelSelections.cend())
        wanted = *it;
    else if (m_session && m_session->collectionID == collection->id)
        wanted = m_sessionSnipID;
    if (wanted) {
        if (const Snip *snip = findSnip(*collection, *wanted))
            return *snip;
    }
    if (collection->items.isEmpty())
        return std::nullopt;
    return collection->items.last();
}

void CollectionStore::selectPanelSnip(const QUuid &id) {
    const auto collection = panelCollection();
    if (!collection || !findSnip(*collection, id))
        return;
    UuidMap selections = m_panelSelections;
    selections.insert(collection->id, id);
    setPanelSelections(selections);
    if (m_session && m_session->collectionID == collection->id)
        setSessionSnipID(id);
}

void CollectionStore::editPanelSnip(const QUuid &snipID, const QUuid &collectionID,
                                    const std::function<void(Snip &)> &edit) {
    const auto shown = panelCollection();
    if (!shown || shown->id != collectionID)
        return;
    const qsizetype index = indexOfCollection(collectionID);
    if (index < 0 || !findSnip(m_collections[index], snipID))
        return;
    changeCollections([&](QList<SnipCollection> &list) {
        for (Snip &snip : list[index].items) {
            if (snip.id == snipID) {
                edit(snip);
                break;
            }
        }
    });
    m_lastCaptureActivity = now();
}
