#pragma once

#include <QHash>
#include <QList>
#include <QUuid>
#include <QWidget>

class AnnotationSession;
class ColorSwatch;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class TextLineRow;

// The inspector's page for recognised text: start, cancel or repeat recognition, the text marker
// and its colour, the search over the lines, the list, and the selected line with copying and
// "Markieren". Everything it shows is the session's state and the recognition model's.
class TextInspector : public QWidget {
    Q_OBJECT

public:
    explicit TextInspector(AnnotationSession *session, QWidget *parent = nullptr);
    void refresh();

    QPushButton *recognizeButton() const { return m_recognize; }
    QLineEdit *searchField() const { return m_search; }
    QLabel *countLabel() const { return m_count; }
    // The message in place of the list ("Kein lesbarer Text gefunden." …); empty when none shows.
    QString message() const;
    QWidget *selectedBlock() const { return m_selected; }
    // The rows shown, in order, by their text.
    QStringList shownLines() const;
    QPushButton *markButton() const { return m_mark; }

private:
    void rebuildRows();

    AnnotationSession *m_session;
    QPushButton *m_recognize;
    QToolButton *m_cancel;
    QWidget *m_progress;
    QLabel *m_error;
    QWidget *m_markerGroup;
    QCheckBox *m_marker;
    QList<ColorSwatch *> m_swatches;
    QLabel *m_startHint;
    QWidget *m_results;
    QLineEdit *m_search;
    QLabel *m_count;
    QLabel *m_message;
    QWidget *m_rowsBox;
    QVBoxLayout *m_rows;
    QList<QUuid> m_rowIds;
    QHash<QUuid, TextLineRow *> m_rowById;
    QWidget *m_selectedDivider;
    QWidget *m_selected;
    QLabel *m_selectedText;
    QPushButton *m_copy;
    QPushButton *m_mark;
};
