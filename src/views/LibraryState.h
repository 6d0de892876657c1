#pragma once

#include "model/Snip.h"

#include <QObject>
#include <QPointer>
#include <QUuid>

#include <functional>
#include <optional>
#include <utility>

class AccountStore;
class CloudBackupStore;
class CollectionStore;
class Exporter;
class QSettings;

// What every part of the main window shares: the stores, the application's capture actions and
// the window's own view state. The parts read it on each refresh and change the library only
// through the store's operations.
class LibraryState : public QObject {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> capture;
        std::function<void()> quickCapture;
        std::function<void()> showPanel;
        std::function<void()> finish;
        std::function<void()> pause;
    };

    static constexpr const char *kCompactLayoutKey = "VellumboxCompactLayout";

    // The controls of a snip's card that an action can start from.
    enum class CardControl { Edit, Remove, Preview };
    // Where the keyboard goes when an action took away the control that had it: the row shown as
    // selected in the sidebar, or a control of a snip's card. A card that is gone hands over to
    // the card now at its place, else to the one before it.
    struct Landing {
        std::optional<QUuid> snipID; // none: the sidebar's selected row
        CardControl control = CardControl::Preview;
        int index = -1; // the card's place when the action started
        bool operator==(const Landing &) const = default;
    };

    LibraryState(CollectionStore *store, AccountStore *account, CloudBackupStore *backup, Exporter *exporter,
                 Actions actions, QObject *parent = nullptr);
    ~LibraryState() override;

    CollectionStore *store() const;
    AccountStore *account() const;
    CloudBackupStore *backup() const;
    Exporter *exporter() const;
    const Actions &actions() const { return m_actions; }

    // Creating, deleting and restoring collections and starting captures wait for these.
    bool busy() const;
    // An import or paste is being checked; a second one would be ignored by the store.
    bool importing() const;

    bool showingAll() const { return m_showingAll; }
    void setShowingAll(bool value);
    std::optional<QUuid> annotationSnipID() const { return m_annotationSnipID; }
    void setAnnotationSnipID(const std::optional<QUuid> &id);
    std::optional<SnipCollection> collectionToDelete() const { return m_collectionToDelete; }
    void setCollectionToDelete(const std::optional<SnipCollection> &collection);
    // Persisted in the application's settings; read by the document and the grid.
    bool compactLayout() const { return m_compactLayout; }
    void setCompactLayout(bool value);

    // A collection with snips is deleted only after the confirmation; an empty one at once.
    void deleteCollection(const SnipCollection &collection);
    // The capture buttons that stand for the collection on screen; without one the quick capture.
    void captureIntoCurrent();
    // A click on a collection row.
    void selectCollection(const SnipCollection &collection);
    // A click on a card of the grid: that collection's document with the snip selected.
    void openSnipInCollection(const QUuid &collectionID, const QUuid &snipID);

    // The sum of the snips of all collections.
    int totalCount() const;

    // What the user acted on, told by the part that took the action; the main window reads it once
    // it shows the outcome and decides from it where the keyboard goes.
    void setLanding(const Landing &landing) { m_landing = landing; }
    std::optional<Landing> takeLanding() { return std::exchange(m_landing, std::nullopt); }

Q_SIGNALS:
    // Any view state above changed.
    void changed();
    void compactLayoutChanged();

private:
    QPointer<CollectionStore> m_store;
    QPointer<AccountStore> m_account;
    QPointer<CloudBackupStore> m_backup;
    QPointer<Exporter> m_exporter;
    Actions m_actions;
    bool m_showingAll = false;
    std::optional<QUuid> m_annotationSnipID;
    std::optional<SnipCollection> m_collectionToDelete;
    bool m_compactLayout = false;
    std::optional<Landing> m_landing;
};
