// Snip editing, reordering, the local-only switch and the one-step undo of a snip deletion.
#include "store/CollectionStore.h"

#include "model/AppFailure.h"

#include <algorithm>

namespace {
qsizetype indexOfSnip(const SnipCollection &collection, const QUuid &id) {
    for (qsizetype i = 0; i < collection.items.size(); ++i) {
        if (collection.items[i].id == id)
            return i;
    }
    return -1;
}
} // namespace

std::optional<SnipCollection> CollectionStore::current() const {
    if (!m_selectedID)
        return std::nullopt;
    if (const qsizetype index = indexOfCollection(*m_selectedID); index >= 0)
        return m_collections[index];
    return std::nullopt;
}

void CollectionStore::editCurrent(const std::function<void(SnipCollection &)> &edit) {
    if (!m_selectedID)
        return;
    const qsizetype index = indexOfCollection(*m_selectedID);
    if (index < 0)
        return;
    changeCollections([&](QList<SnipCollection> &list) { edit(list[index]); });
}

void CollectionStore::editSnip(const QUuid &id, const std::function<void(Snip &)> &edit) {
    editCurrent([&](SnipCollection &collection) {
        if (const qsizetype i = indexOfSnip(collection, id); i >= 0)
            edit(collection.items[i]);
    });
}

void CollectionStore::editSessionSnip(const QUuid &id, const std::function<void(Snip &)> &edit) {
    if (!m_session)
        return;
    const qsizetype index = indexOfCollection(m_session->collectionID);
    if (index < 0)
        return;
    const qsizetype i = indexOfSnip(m_collections[index], id);
    if (i < 0)
        return;
    changeCollections([&](QList<SnipCollection> &list) { edit(list[index].items[i]); });
    m_lastCaptureActivity = now();
}

void CollectionStore::setLocalOnly(const Snip &snip, bool localOnly) {
    if (!localOnly) {
        try {
            ImageImport::validateCloudPNG(imageURL(snip.imageFile));
        } catch (const AppFailure &failure) {
            setError(failure.errorDescription());
            return;
        }
    }
    for (qsizetype c = 0; c < m_collections.size(); ++c) {
        const qsizetype i = indexOfSnip(m_collections[c], snip.id);
        if (i < 0)
            continue;
        changeCollections([&](QList<SnipCollection> &list) {
            list[c].items[i].cloudLocalOnly = localOnly ? std::optional<bool>(true) : std::nullopt;
        });
        return;
    }
}

void CollectionStore::move(const QUuid &id, int offset) {
    editCurrent([&](SnipCollection &collection) {
        const qsizetype i = indexOfSnip(collection, id);
        if (i < 0)
            return;
        const qint64 j = qint64(i) + offset;
        if (j < 0 || j >= collection.items.size())
            return;
        collection.items.swapItemsAt(i, qsizetype(j));
    });
}

void CollectionStore::move(const QUuid &id, const QUuid &before) {
    if (id == before)
        return;
    editCurrent([&](SnipCollection &collection) {
        const qsizetype from = indexOfSnip(collection, id);
        if (from < 0 || indexOfSnip(collection, before) < 0)
            return;
        const Snip snip = collection.items.takeAt(from);
        collection.items.insert(indexOfSnip(collection, before), snip);
    });
}

void CollectionStore::moveDropped(QStringView droppedText, const QUuid &before) {
    if (const auto id = parseUuid(droppedText))
        move(*id, before);
}

void CollectionStore::deleteSnip(const QUuid &id) {
    const auto collection = current();
    if (!collection)
        return;
    const qsizetype i = indexOfSnip(*collection, id);
    if (i < 0)
        return;
    m_deletedItem = DeletedItem{collection->id, i, collection->items[i]};
    setCanUndoDelete(true);
    editCurrent([&](SnipCollection &c) { c.items.removeIf([&](const Snip &s) { return s.id == id; }); });
    const auto after = current();
    setSelectedSnipID(after && !after->items.isEmpty() ? OptionalUuid(after->items.last().id)
                                                       : OptionalUuid());
}

void CollectionStore::undoDelete() {
    if (!m_deletedItem)
        return;
    // The collection may be in the trash now; the undo then waits until it is back.
    const qsizetype index = indexOfCollection(m_deletedItem->collection);
    if (index < 0)
        return;
    const DeletedItem item = *m_deletedItem;
    changeCollections([&](QList<SnipCollection> &list) {
        QList<Snip> &items = list[index].items;
        items.insert(std::clamp<qsizetype>(item.index, 0, items.size()), item.item);
    });
    setSelectedID(item.collection);
    setSelectedSnipID(item.item.id);
    m_deletedItem.reset();
    setCanUndoDelete(false);
}
