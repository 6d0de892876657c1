#include "views/LibraryState.h"

#include "account/AccountStore.h"
#include "backup/CloudBackupStore.h"
#include "export/Exporter.h"
#include "store/CollectionStore.h"

#include <QSettings>

namespace {
void run(const std::function<void()> &action) {
    if (action)
        action();
}
} // namespace

LibraryState::LibraryState(CollectionStore *store, AccountStore *account, CloudBackupStore *backup,
                           Exporter *exporter, Actions actions, QObject *parent)
    : QObject(parent), m_store(store), m_account(account), m_backup(backup), m_exporter(exporter),
      m_actions(std::move(actions)) {
    m_compactLayout = QSettings().value(QLatin1String(kCompactLayoutKey), false).toBool();
}

LibraryState::~LibraryState() = default;

CollectionStore *LibraryState::store() const {
    return m_store;
}

AccountStore *LibraryState::account() const {
    return m_account;
}

CloudBackupStore *LibraryState::backup() const {
    return m_backup;
}

Exporter *LibraryState::exporter() const {
    return m_exporter;
}

bool LibraryState::busy() const {
    return m_store && (m_store->isBusy());
}

bool LibraryState::importing() const {
    return m_store && m_store->isImporting();
}

void LibraryState::setShowingAll(bool value) {
    if (m_showingAll == value)
        return;
    m_showingAll = value;
    Q_EMIT changed();
}

void LibraryState::setAnnotationSnipID(const std::optional<QUuid> &id) {
    if (m_annotationSnipID == id)
        return;
    m_annotationSnipID = id;
    Q_EMIT changed();
}

void LibraryState::setCollectionToDelete(const std::optional<SnipCollection> &collection) {
    if (m_collectionToDelete == collection)
        return;
    m_collectionToDelete = collection;
    Q_EMIT changed();
}

void LibraryState::setCompactLayout(bool value) {
    if (m_compactLayout == value)
        return;
    m_compactLayout = value;
    QSettings().setValue(QLatin1String(kCompactLayoutKey), value);
    Q_EMIT compactLayoutChanged();
    Q_EMIT changed();
}

void LibraryState::deleteCollection(const SnipCollection &collection) {
    if (!collection.items.isEmpty())
        setCollectionToDelete(collection);
    else if (m_store)
        m_store->deleteCollection(collection.id);
}

void LibraryState::captureIntoCurrent() {
    if (m_showingAll || !m_store || !m_store->current())
        run(m_actions.quickCapture);
    else
        run(m_actions.capture);
}

void LibraryState::selectCollection(const SnipCollection &collection) {
    setShowingAll(false);
    if (!m_store)
        return;
    m_store->setSelectedID(collection.id);
    m_store->setSelectedSnipID(collection.items.isEmpty() ? OptionalUuid()
                                                          : OptionalUuid(collection.items.first().id));
}

void LibraryState::openSnipInCollection(const QUuid &collectionID, const QUuid &snipID) {
    if (!m_store)
        return;
    // The grid's card gives way to the snip's card in its collection.
    setLanding({snipID, CardControl::Preview});
    m_store->setSelectedID(collectionID);
    setShowingAll(false);
    m_store->setSelectedSnipID(snipID);
}

int LibraryState::totalCount() const {
    int total = 0;
    if (m_store) {
        for (const SnipCollection &c : m_store->collections())
            total += int(c.items.size());
    }
    return total;
}
