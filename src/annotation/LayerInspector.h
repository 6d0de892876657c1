#pragma once

#include "model/Mark.h"

#include <QListWidget>
#include <QUuid>
#include <QWidget>

#include <optional>

class AnnotationSession;
class QLabel;
class QPushButton;
class QToolButton;
class StyleControls;

// The marks of the snip as layers, topmost first, above a fixed row for the screenshot. A click,
// or Space or Return on the row the arrow keys moved to, selects; the context menu, the detail
// buttons and drag and drop reorder within the mark's own layer group. Rows carry the mark's id
// as dragged text. The list takes the keyboard from Tab only and keeps it while its keys select.
class LayerList : public QListWidget {
    Q_OBJECT

public:
    explicit LayerList(AnnotationSession *session, QWidget *parent = nullptr);
    void refresh();
    // The mark id of a row; null for the screenshot row.
    static QUuid idOf(const QListWidgetItem *item);
    QMenu *menuFor(const QUuid &id);

protected:
    QMimeData *mimeData(const QList<QListWidgetItem *> &items) const override;
    QStringList mimeTypes() const override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyboardSearch(const QString &search) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // The view's selection, which screen readers report, becomes the editor's selection.
    void followSelection();

    AnnotationSession *m_session;
    // What the rows show: id and label; none before the first fill.
    std::optional<QList<QPair<QUuid, QString>>> m_rows;
    std::optional<QUuid> m_highlighted;
    QPoint m_pressedAt; // where the row that may be dragged was grabbed
};

// The inspector column's layer page: the count, the list, and the detail pane with the style
// controls, the hints and the actions of the selected mark.
class LayerInspector : public QWidget {
    Q_OBJECT

public:
    explicit LayerInspector(AnnotationSession *session, QWidget *parent = nullptr);
    void refresh();

    LayerList *list() const { return m_list; }
    StyleControls *styleControls() const { return m_style; }
    QLabel *count() const { return m_count; }

private:
    void fillDetails(const std::optional<Mark> &selected);

    AnnotationSession *m_session;
    QLabel *m_count;
    LayerList *m_list;
    StyleControls *m_style;
    QWidget *m_detail;
    QWidget *m_numberHint;
    QLabel *m_nextNumber;
    QWidget *m_selectionHint;
    QWidget *m_details;
    QWidget *m_stepper;
    QLabel *m_stepperLabel;
    QToolButton *m_decrement;
    QToolButton *m_increment;
    QLabel *m_kindTitle;
    QLabel *m_kindHint;
    QPushButton *m_editText;
    QPushButton *m_reverse;
    QPushButton *m_backward;
    QPushButton *m_forward;
    QLabel *m_kindNote;
    QPushButton *m_remove;
};
