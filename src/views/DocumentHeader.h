#pragma once

#include "model/Snip.h"

#include <QList>
#include <QPlainTextEdit>
#include <QWidget>

class FlatButton;
class LayoutPicker;
class LibraryState;
class QBoxLayout;
class QLabel;
class QLineEdit;

// The collection's description field: one to four lines, then it scrolls.
class DescriptionField : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit DescriptionField(QWidget *parent = nullptr);
    void setDescription(const QString &text);
    bool isUpdating() const { return m_updating; }
    // The height the text needs at the current width, within one to four lines.
    int neededHeight() const;

private:
    bool m_updating = false;
};

// The top of the collection document: title, description, mode, date, count and layout switch.
class DocumentHeader : public QWidget {
    Q_OBJECT

public:
    DocumentHeader(LibraryState *state, QWidget *parent = nullptr);

    void setCollection(const SnipCollection &collection);
    // The height at a width; arranges the mode and date line for it.
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }
    void refresh();

    QLineEdit *titleField() const { return m_title; }
    DescriptionField *descriptionField() const { return m_description; }
    QList<FlatButton *> modeButtons() const { return m_modes; }
    QLabel *dateLabel() const { return m_date; }
    QLabel *countLabel() const { return m_count; }
    LayoutPicker *layoutPicker() const { return m_picker; }
    // Where Tab goes on to the cards from.
    QWidget *lastInFocusChain() const;
    // Whether the date sits below the mode picker (too narrow for one line).
    bool dateBelowModes() const { return m_stacked; }

Q_SIGNALS:
    void heightChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void arrange(int width) const;

    LibraryState *m_state;
    QLineEdit *m_title;
    DescriptionField *m_description;
    QWidget *m_modePicker;
    QList<FlatButton *> m_modes;
    QWidget *m_dateBox;
    QLabel *m_date;
    QBoxLayout *m_modeLine;
    QLabel *m_count;
    LayoutPicker *m_picker;
    mutable bool m_stacked = false;
    int m_lastDescriptionHeight = 0;
};

// "5. Dezember 2026": the creation date in German, day, month name and year.
QString collectionDateText(double referenceSeconds);
