#pragma once

#include "store/FilePanels.h"

#include <QList>
#include <QPointer>

class QFileDialog;
class QWidget;

// The store's file panels as Qt file dialogs, opened window-modal with open() so no event loop
// nests. Dialogs still open when this object goes away are closed without an answer.
class DialogFilePanels final : public FilePanels {
public:
    explicit DialogFilePanels(QWidget *window = nullptr);
    ~DialogFilePanels() override;

    void chooseSaveFile(const SaveRequest &request, SaveAnswer answer) override;
    void chooseOpenFiles(const OpenRequest &request, OpenAnswer answer) override;

private:
    QFileDialog *makeDialog(const QString &message, const QStringList &nameFilters);

    QPointer<QWidget> m_window;
    QList<QPointer<QFileDialog>> m_dialogs;
};
