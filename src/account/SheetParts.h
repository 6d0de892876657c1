#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QObject>
#include <QScrollArea>
#include <QString>

#include <functional>

class QDialog;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

// The few building blocks the account, backup and share sheets share, so they look alike.
namespace SheetParts {

QLabel *label(QWidget *parent, int pixelSize, QFont::Weight weight, const QColor &color, bool wrap = true);
// The sheet's main action is filled with the accent colour; the others are white with a hairline
// border, as every other button of the windows and the capture panel.
QPushButton *button(QWidget *parent, const QString &text, bool primary = false);
// A thin running bar for work of unknown length.
QWidget *busyBar(QWidget *parent);

// Makes the dialog a window-modal sheet on the surface colour and lays out its title above the
// content; returns the layout the content goes into. The sheet ends with a "Schließen" button.
QVBoxLayout *sheet(QDialog *dialog, const QString &title, int minimumWidth, int minimumHeight = 0);
// The last line of a sheet: the close button at the right.
void closeButton(QDialog *dialog, QVBoxLayout *layout);
// Sizes the sheet to its content at its width, word-wrapped texts included, and no lower than
// `minimumHeight`: nothing clipped, no blank space. Called whenever the content changes; a
// height the user chose stays while the content needs the same room.
void fitToContent(QDialog *dialog, int minimumHeight = 0);

// Write only what changed, so a refresh never resets focus or selection.
void setText(QLabel *label, const QString &text);
void setText(QPushButton *button, const QString &text);
void setShown(QWidget *widget, bool shown);
void enable(QWidget *widget, bool enabled);

} // namespace SheetParts

// A list of rows, each a text with its actions, in a scroll area; a note stands in for no rows.
class RowList : public QScrollArea {
public:
    struct Action {
        QString text;
        std::function<void()> run;
    };
    struct Row {
        QString text;
        QList<Action> actions;
    };

    RowList(QWidget *parent, const QString &emptyText, const QString &rowName);
    void setRows(const QList<Row> &rows, bool actionsEnabled);
    void setEmptyNoteShown(bool shown);

private:
    QString m_rowName;
    QVBoxLayout *m_rows;
    QLabel *m_empty;
};

// Collects the change signals of an event-loop turn into one refresh.
class CoalescedRefresh : public QObject {
public:
    CoalescedRefresh(QObject *parent, std::function<void()> refresh);
    void schedule();

private:
    std::function<void()> m_refresh;
    bool m_pending = false;
};
