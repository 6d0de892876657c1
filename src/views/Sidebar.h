#pragma once

#include <QAbstractButton>
#include <QHash>
#include <QUuid>
#include <QWidget>

class FlatButton;
class LibraryState;
class QLabel;
class QScrollArea;
class QVBoxLayout;

// One navigation entry of the sidebar: symbol, title of up to two lines and a count badge, tinted
// in the accent while selected.
class NavigationRow : public QAbstractButton {
    Q_OBJECT

public:
    explicit NavigationRow(QWidget *parent = nullptr);

    void setContent(const QString &title, const QString &symbol, int count, bool selected);
    QString symbol() const { return m_symbol; }
    int count() const { return m_count; }
    bool isSelected() const { return m_selected; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Whether the focus frame shows: while the row has the keyboard, selected or not.
    bool showsFocusOutline() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    // The row shows the selection the sidebar gives it; a click on the selected row keeps it.
    void nextCheckState() override {}

private:
    QString m_symbol;
    int m_count = 0;
    bool m_selected = false;
};

// The left column: new collection, all screenshots, the collections with their counts and delete
// buttons, and at the bottom the quick capture, the cloud backup, the account and where the
// library lives.
class Sidebar : public QWidget {
    Q_OBJECT

public:
    explicit Sidebar(LibraryState *state, QWidget *parent = nullptr);

    void refresh();
    // The row shown as selected ("Alle Screenshots" when no collection row is), scrolled on screen.
    NavigationRow *revealSelectedRow();

    FlatButton *newCollectionButton() const { return m_newCollection; }
    NavigationRow *allScreenshotsRow() const { return m_allRow; }
    QLabel *sectionCount() const { return m_sectionCount; }
    // The row and delete button of a collection; null when it is not listed.
    NavigationRow *row(const QUuid &collectionID) const;
    QAbstractButton *deleteButton(const QUuid &collectionID) const;
    // The entries of a row's context menu, built as the menu would show them.
    QList<QAction *> contextActions(const QUuid &collectionID, QObject *owner) const;
    QList<QUuid> listedIDs() const { return m_order; }
    QAbstractButton *quickCaptureButton() const { return m_quickCapture; }
    FlatButton *cloudButton() const { return m_cloud; }
    QAbstractButton *accountButton() const { return m_account; }
    QString accountTitle() const;
    QString accountDetail() const;

private:
    struct Row {
        QWidget *container = nullptr;
        NavigationRow *button = nullptr;
        FlatButton *remove = nullptr;
    };
    Row makeRow(const QUuid &id);
    void refreshRows();
    // Tab walks the sidebar as it stands on screen: the rows come between "Alle Screenshots" and
    // the quick capture, however late they were made.
    void chainRows();

    LibraryState *m_state;
    FlatButton *m_newCollection;
    NavigationRow *m_allRow;
    QLabel *m_sectionCount;
    QScrollArea *m_listArea;
    QWidget *m_list;
    QVBoxLayout *m_listLayout;
    QHash<QUuid, Row> m_rows;
    QList<QUuid> m_order;
    QAbstractButton *m_quickCapture;
    FlatButton *m_cloud;
    QAbstractButton *m_account;
    QLabel *m_accountTitle;
    QLabel *m_accountDetail;
};
