#include "shell/DialogFilePanels.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QSettings>
#include <QStandardPaths>

namespace {

QString settingsKey(DialogFilePanels::FileKind kind) {
    switch (kind) {
    case DialogFilePanels::FileKind::Images:
        return QStringLiteral("FileDialogs/images");
    case DialogFilePanels::FileKind::Projects:
        return QStringLiteral("FileDialogs/projects");
    case DialogFilePanels::FileKind::Exports:
        break;
    }
    return QStringLiteral("FileDialogs/exports");
}

bool existingFolder(const QString &path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

} // namespace

DialogFilePanels::DialogFilePanels(QWidget *window, QSettings *settings)
    : m_window(window), m_settings(settings) {
    if (!m_settings) {
        m_ownSettings = std::make_unique<QSettings>();
        m_settings = m_ownSettings.get();
    }
}

DialogFilePanels::~DialogFilePanels() {
    for (const QPointer<QFileDialog> &dialog : std::as_const(m_dialogs)) {
        if (dialog) {
            QObject::disconnect(dialog, nullptr, nullptr, nullptr);
            delete dialog;
        }
    }
}

DialogFilePanels::FileKind DialogFilePanels::kindOf(const QStringList &nameFilters) {
    const QString all = nameFilters.join(u' ');
    if (all.contains(QStringLiteral("*.vellumbox"), Qt::CaseInsensitive))
        return FileKind::Projects;
    if (all.contains(QStringLiteral("*.png"), Qt::CaseInsensitive))
        return FileKind::Images;
    return FileKind::Exports;
}

QStringList DialogFilePanels::namedFilters(const QStringList &nameFilters, FileKind kind) {
    QStringList named;
    for (const QString &filter : nameFilters) {
        // "Name (patterns)" keeps its name; a bare pattern list gets the kind's.
        if (filter.contains(u'(')) {
            named << filter;
            continue;
        }
        switch (kind) {
        case FileKind::Images:
            named << QStringLiteral("Bilder (%1)").arg(filter);
            break;
        case FileKind::Projects:
            named << QStringLiteral("Vellumbox-Projekte (%1)").arg(filter);
            break;
        case FileKind::Exports:
            named << QStringLiteral("Dokumente (%1)").arg(filter);
            break;
        }
    }
    return named;
}

QString DialogFilePanels::startFolder(FileKind kind) const {
    const QString remembered = m_settings->value(settingsKey(kind)).toString();
    if (existingFolder(remembered))
        return remembered;
    const QString standard = QStandardPaths::writableLocation(
        kind == FileKind::Images ? QStandardPaths::PicturesLocation : QStandardPaths::DocumentsLocation);
    return existingFolder(standard) ? standard : QDir::homePath();
}

void DialogFilePanels::remember(FileKind kind, const QString &path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (existingFolder(folder))
        m_settings->setValue(settingsKey(kind), folder);
}

QFileDialog *DialogFilePanels::makeDialog(const QString &title, const QString &message,
                                          const QStringList &nameFilters, FileKind kind) {
    m_dialogs.removeAll(nullptr);
    auto *dialog = new QFileDialog(m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(title);
    dialog->setDirectory(startFolder(kind));
    dialog->setNameFilters(namedFilters(nameFilters, kind));
    // Only Qt's own dialog has room for the message; the desktop's dialogs go without it.
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
    const FileKind kind = kindOf(request.nameFilters);
    const QString title = !request.title.isEmpty()     ? request.title
                          : kind == FileKind::Projects ? QStringLiteral("Projekt sichern unter")
                                                       : QStringLiteral("Sichern unter");
    QFileDialog *dialog = makeDialog(title, request.message, request.nameFilters, kind);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(request.defaultSuffix);
    dialog->selectFile(request.suggestedName);
    QObject::connect(
        dialog, &QDialog::finished, dialog, [this, dialog, kind, answer = std::move(answer)](int result) {
            const QStringList files = dialog->selectedFiles();
            const QString path = result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString();
            if (!path.isEmpty())
                remember(kind, path);
            answer(path);
        });
    dialog->open();
}

void DialogFilePanels::chooseOpenFiles(const OpenRequest &request, OpenAnswer answer) {
    const FileKind kind = kindOf(request.nameFilters);
    const QString title = kind == FileKind::Projects ? QStringLiteral("Projekt öffnen")
                          : kind == FileKind::Images ? QStringLiteral("Bilder importieren")
                                                     : QStringLiteral("Öffnen");
    QFileDialog *dialog = makeDialog(title, request.message, request.nameFilters, kind);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(request.multipleFiles ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    QObject::connect(
        dialog, &QDialog::finished, dialog, [this, dialog, kind, answer = std::move(answer)](int result) {
            const QStringList files = result == QDialog::Accepted ? dialog->selectedFiles() : QStringList();
            if (!files.isEmpty())
                remember(kind, files.first());
            answer(files);
        });
    dialog->open();
}
