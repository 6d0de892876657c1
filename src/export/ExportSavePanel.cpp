#include "export/ExportSavePanel.h"

#include <QFileDialog>
#include <QPointer>

SavePanel ExportSavePanel::make(QWidget *parent) {
    QPointer<QWidget> owner(parent);
    return [owner](const SavePanelRequest &request, std::function<void(const QString &)> done) {
        auto *dialog = new QFileDialog(owner, request.title);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setNameFilter(request.nameFilter);
        dialog->setDefaultSuffix(request.suffix);
        dialog->selectFile(request.fileName);
        QObject::connect(dialog, &QDialog::finished, dialog, [dialog, done = std::move(done)](int result) {
            const QStringList files = dialog->selectedFiles();
            done(result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString());
        });
        dialog->open();
    };
}
