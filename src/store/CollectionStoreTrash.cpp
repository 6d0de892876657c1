// The collection trash: deleting a collection keeps it, with its place, for a later restore.
#include "store/CollectionStore.h"

#include <algorithm>

bool CollectionStore::deleteCollection(const QUuid &id) {
    if (m_isCapturing || m_isExporting)
        return false;
    const qsizetype index = indexOfCollection(id);
    if (index < 0)
        return false;
    if (!saveNow())
        return false;

    const QList<SnipCollection> oldCollections = m_collections;
    const OptionalUuid oldSelectedID = m_selectedID;
    const OptionalUuid oldSelectedSnipID = m_selectedSnipID;
    const OptionalCaptureSession oldSession = m_session;
    const OptionalUuid oldSessionSnipID = m_sessionSnipID;
    const OptionalCaptureChoice oldCaptureChoice = m_captureChoice;
    const QList<DeletedCollection> oldTrash = m_deletedCollections;

    const SnipCollection removed = m_collections[index];
    changeCollections([&](QList<SnipCollection> &list) { list.removeAt(index); });
    QList<DeletedCollection> trash = m_deletedCollections;
    trash.append(DeletedCollection{removed, index});
    setDeletedCollections(trash);

    if (m_selectedID == id) {
        setSelectedID(m_collections.isEmpty()
                          ? OptionalUuid()
                          : OptionalUuid(m_collections[std::min(m_collections.size() - 1, index)].id));
        const auto selected = current();
        setSelectedSnipID(selected && !selected->items.isEmpty() ? OptionalUuid(selected->items.first().id)
                                                                 : OptionalUuid());
    }
    if (m_session && m_session->collectionID == id) {
        setSession(std::nullopt);
        setSessionSnipID(std::nullopt);
    }
    if (m_captureChoice && !m_captureChoice->isNewCollection() && m_captureChoice->id == id)
        setCaptureChoice(CaptureChoice::newCollection());

    if (!saveNow()) {
        setCollections(oldCollections);
        setSelectedID(oldSelectedID);
        setSelectedSnipID(oldSelectedSnipID);
        setSession(oldSession);
        setSessionSnipID(oldSessionSnipID);
        setCaptureChoice(oldCaptureChoice);
        setDeletedCollections(oldTrash);
        return false;
    }
    UuidMap selections = m_panelSelections;
    selections.remove(id);
    setPanelSelections(selections);
    setCollectionNotice(QStringLiteral("Sammlung gelöscht"));
    return true;
}

bool CollectionStore::restoreDeletedCollection() {
    if (m_isCapturing || m_isExporting || m_deletedCollections.isEmpty())
        return false;
    const DeletedCollection entry = m_deletedCollections.last();
    if (indexOfCollection(entry.collection.id) >= 0)
        return false;
    if (!saveNow())
        return false;

    const QList<SnipCollection> oldCollections = m_collections;
    const QList<DeletedCollection> oldTrash = m_deletedCollections;
    const OptionalUuid oldSelectedID = m_selectedID;
    const OptionalUuid oldSelectedSnipID = m_selectedSnipID;

    // The stored place may come from an edited file: anything outside the list is clamped.
    const qsizetype at = qsizetype(std::clamp<qint64>(entry.index, 0, m_collections.size()));
    changeCollections([&](QList<SnipCollection> &list) { list.insert(at, entry.collection); });
    QList<DeletedCollection> trash = m_deletedCollections;
    trash.removeLast();
    setDeletedCollections(trash);
    setSelectedID(entry.collection.id);
    setSelectedSnipID(entry.collection.items.isEmpty() ? OptionalUuid()
                                                       : OptionalUuid(entry.collection.items.first().id));

    if (!saveNow()) {
        setCollections(oldCollections);
        setDeletedCollections(oldTrash);
        setSelectedID(oldSelectedID);
        setSelectedSnipID(oldSelectedSnipID);
        return false;
    }
    setCollectionNotice(QStringLiteral("Sammlung wiederhergestellt"));
    return true;
}
