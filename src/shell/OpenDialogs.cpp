#include "shell/OpenDialogs.h"

#include <QApplication>
#include <QDialog>
#include <QWidget>
#include <QWindow>

bool OpenDialogs::any() {
    // A desktop file dialog has no window of ours, but its QFileDialog counts as shown.
    const QWidgetList windows = QApplication::topLevelWidgets();
    const bool dialogShown = std::any_of(windows.cbegin(), windows.cend(), [](const QWidget *window) {
        return window->isVisible() &&
               (qobject_cast<const QDialog *>(window) || window->windowType() == Qt::Dialog ||
                window->windowType() == Qt::Sheet || window->windowModality() != Qt::NonModal);
    });
    return dialogShown || QGuiApplication::modalWindow() != nullptr;
}
