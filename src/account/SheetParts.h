#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QString>

#include <functional>

class QLabel;
class QPushButton;
class QWidget;

// The few building blocks the account, backup and share sheets share, so they look alike.
namespace SheetParts {

QLabel *label(QWidget *parent, int pixelSize, QFont::Weight weight, const QColor &color, bool wrap = true);
// The sheet's main action is filled with the accent colour, the others are plain.
QPushButton *button(QWidget *parent, const QString &text, bool primary = false);
// A thin running bar for work of unknown length.
QWidget *busyBar(QWidget *parent);

// Write only what changed, so a refresh never resets focus or selection.
void setText(QLabel *label, const QString &text);
void setText(QPushButton *button, const QString &text);
void setShown(QWidget *widget, bool shown);
void enable(QWidget *widget, bool enabled);

} // namespace SheetParts

// Collects the change signals of an event-loop turn into one refresh.
class CoalescedRefresh : public QObject {
public:
    CoalescedRefresh(QObject *parent, std::function<void()> refresh);
    void schedule();

private:
    std::function<void()> m_refresh;
    bool m_pending = false;
};
