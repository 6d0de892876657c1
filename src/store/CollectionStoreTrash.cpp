// The collection trash: deleting a collection keeps it, with its place, for a later restore.
#include "store/CollectionStore.h"

#include <algorithm>

namespace {
const QString kDeleted = QStringLiteral("Sammlung gelöscht");
const QString kRestored = QStringLiteral("Sammlung wiederhergestellt");

// The index of the newest trash entry holding the collection, or -1.
qsizetype trashIndex(const QList<DeletedCollection> &trash, const QUuid &id) {
    for (qsizetype i = trash.size() - 1; i >= 0; --i) {
        if (trash[i].collection.id == id)
            return i;
    }
    return -1;
}
} // namespace

void CollectionStore::selectInPlaceOf(qsizetype index) {
    setSelectedID(
        m_collections.isEmpty()
            ? OptionalUuid()
            : OptionalUuid(m_collections[std::clamp<qsizetype>(index, 0, m_collections.size() - 1)].id));
    const auto selected = current();
    setSelectedSnipID(selected && !selected->items.isEmpty() ? OptionalUuid(selected->items.first().id)
                                                             : OptionalUuid());
}

void CollectionStore::putBackSelection(const OptionalUuid &id, const OptionalUuid &snipID, qsizetype index) {
    // A selection given back never names a collection that is gone: nothing would be shown.
    if (id && indexOfCollection(*id) < 0) {
        selectInPlaceOf(index);
        return;
    }
    setSelectedID(id);
    setSelectedSnipID(snipID);
}

// Both apply their change at once and save; when that save fails, each property that still holds
// the value the operation gave it goes back, so changes made meanwhile stay, and the delayed save
// tries again. The put-backs of a chain of failing saves run newest first: the trash is a stack.

bool CollectionStore::deleteCollection(const QUuid &id) {
    if (isBusy())
        return false;
    const qsizetype index = indexOfCollection(id);
    if (index < 0)
        return false;
    if (refuseWhenDisabled())
        return false;

    const OptionalUuid oldSelectedID = m_selectedID;
    const OptionalUuid oldSelectedSnipID = m_selectedSnipID;
    const OptionalCaptureSession oldSession = m_session;
    const OptionalUuid oldSessionSnipID = m_sessionSnipID;
    const OptionalCaptureChoice oldCaptureChoice = m_captureChoice;
    const std::optional<QUuid> oldPanelSnip =
        m_panelSelections.contains(id) ? std::optional<QUuid>(m_panelSelections.value(id)) : std::nullopt;
    const QString oldNotice = m_collectionNotice;

    const SnipCollection removed = m_collections[index];
    // Its place is the one after the collections in front of it, so collections added at the
    // front meanwhile do not move it when it comes back.
    QList<QUuid> inFront;
    for (qsizetype i = 0; i < index; ++i)
        inFront.append(m_collections[i].id);
    changeCollections([&](QList<SnipCollection> &list) { list.removeAt(index); });
    QList<DeletedCollection> trash = m_deletedCollections;
    trash.append(DeletedCollection{removed, index});
    setDeletedCollections(trash);

    if (m_selectedID == id)
        selectInPlaceOf(index);
    if (m_session && m_session->collectionID == id) {
        ++m_roundChoices;
        setSession(std::nullopt);
        setSessionSnipID(std::nullopt);
    }
    if (m_captureChoice && !m_captureChoice->isNewCollection() && m_captureChoice->id == id)
        setCaptureChoice(CaptureChoice::newCollection());
    UuidMap selections = m_panelSelections;
    selections.remove(id);
    setPanelSelections(selections);
    setCollectionNotice(kDeleted);

    const OptionalUuid newSelectedID = m_selectedID;
    const OptionalUuid newSelectedSnipID = m_selectedSnipID;
    const OptionalCaptureSession newSession = m_session;
    const OptionalUuid newSessionSnipID = m_sessionSnipID;
    const OptionalCaptureChoice newCaptureChoice = m_captureChoice;
    saveOrPutBack([=, this] {
        // Put-backs of later operations have run already, so it is in the trash again unless
        // something else brought it back.
        if (indexOfCollection(id) < 0) {
            QList<DeletedCollection> list = m_deletedCollections;
            if (const qsizetype t = trashIndex(list, id); t >= 0) {
                const DeletedCollection entry = list.takeAt(t);
                qsizetype at = 0;
                for (auto it = inFront.crbegin(); it != inFront.crend() && at == 0; ++it)
                    at = indexOfCollection(*it) + 1;
                changeCollections(
                    [&](QList<SnipCollection> &collections) { collections.insert(at, entry.collection); });
                setDeletedCollections(list);
            }
        }
        if (m_selectedID == newSelectedID && m_selectedSnipID == newSelectedSnipID)
            putBackSelection(oldSelectedID, oldSelectedSnipID, index);
        if (m_session == newSession && m_sessionSnipID == newSessionSnipID) {
            setSession(oldSession);
            setSessionSnipID(oldSessionSnipID);
        }
        if (m_captureChoice == newCaptureChoice)
            setCaptureChoice(oldCaptureChoice);
        if (oldPanelSnip && !m_panelSelections.contains(id)) {
            UuidMap map = m_panelSelections;
            map.insert(id, *oldPanelSnip);
            setPanelSelections(map);
        }
        if (m_collectionNotice == kDeleted)
            setCollectionNotice(oldNotice);
    });
    return true;
}

bool CollectionStore::restoreDeletedCollection() {
    if (isBusy() || m_deletedCollections.isEmpty())
        return false;
    const DeletedCollection entry = m_deletedCollections.last();
    if (indexOfCollection(entry.collection.id) >= 0)
        return false;
    if (refuseWhenDisabled())
        return false;

    const OptionalUuid oldSelectedID = m_selectedID;
    const OptionalUuid oldSelectedSnipID = m_selectedSnipID;
    const QString oldNotice = m_collectionNotice;

    // The stored place may come from an edited file: anything outside the list is clamped.
    const qsizetype at = qsizetype(std::clamp<qint64>(entry.index, 0, m_collections.size()));
    changeCollections([&](QList<SnipCollection> &list) { list.insert(at, entry.collection); });
    QList<DeletedCollection> trash = m_deletedCollections;
    trash.removeLast();
    setDeletedCollections(trash);
    setSelectedID(entry.collection.id);
    setSelectedSnipID(entry.collection.items.isEmpty() ? OptionalUuid()
                                                       : OptionalUuid(entry.collection.items.first().id));
    setCollectionNotice(kRestored);

    saveOrPutBack([=, this] {
        const QUuid id = entry.collection.id;
        // Back into the trash as it is now, with what was changed in it meanwhile.
        qsizetype place = at;
        if (const qsizetype index = indexOfCollection(id); index >= 0) {
            place = index;
            const SnipCollection collection = m_collections[index];
            changeCollections([&](QList<SnipCollection> &list) { list.removeAt(index); });
            QList<DeletedCollection> list = m_deletedCollections;
            list.append(DeletedCollection{collection, entry.index});
            setDeletedCollections(list);
        }
        if (m_selectedID == id)
            putBackSelection(oldSelectedID, oldSelectedSnipID, place);
        if (m_session && m_session->collectionID == id) {
            setSession(std::nullopt);
            setSessionSnipID(std::nullopt);
        }
        if (m_collectionNotice == kRestored)
            setCollectionNotice(oldNotice);
    });
    return true;
}
