#include "shell/DialogFilePanels.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>

DialogFilePanels::DialogFilePanels(QWidget *window) : m_window(window) {}

DialogFilePanels::~DialogFilePanels() {
    for (const QPointer<QFileDialog> &dialog : std::as_const(m_dialogs)) {
        if (dialog) {
            QObject::disconnect(dialog, nullptr, nullptr, nullptr);
            delete dialog;
        }
    }
}

QFileDialog *DialogFilePanels::makeDialog(const QString &message, const QStringList &nameFilters) {
    m_dialogs.removeAll(nullptr);
    auto *dialog = new QFileDialog(m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Qt's own dialog, so the message can stand in it as it does in the platform's panels.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setNameFilters(nameFilters);
    if (!message.isEmpty()) {
        if (auto *grid = qobject_cast<QGridLayout *>(dialog->layout())) {
            auto *label = new QLabel(message, dialog);
            label->setWordWrap(true);
            grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    m_dialogs.append(dialog);
    return dialog;
}

void DialogFilePanels::chooseSaveFile(const SaveRequest &request, SaveAnswer answer) {
    QFileDialog *dialog = makeDialog(request.message, request.nameFilters);
    if (!request.title.isEmpty())
        dialog->setWindowTitle(request.title);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(request.defaultSuffix);
    dialog->selectFile(request.suggestedName);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answer = std::move(answer)](int result) {
        const QStringList files = dialog->selectedFiles();
        answer(result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString());
    });
    dialog->open();
}

void DialogFilePanels::chooseOpenFiles(const OpenRequest &request, OpenAnswer answer) {
    QFileDialog *dialog = makeDialog(request.message, request.nameFilters);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(request.multipleFiles ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answer = std::move(answer)](int result) {
        answer(result == QDialog::Accepted ? dialog->selectedFiles() : QStringList());
    });
    dialog->open();
}
