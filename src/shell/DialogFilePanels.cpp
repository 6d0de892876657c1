#include "shell/DialogFilePanels.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTreeView>

namespace {

// Room for a long file name beside its size, type and date, on a screen that has it.
constexpr QSize kDialogSize{980, 620};
constexpr double kLargestShareOfScreen = 0.9;

// Qt's dialog with the one file type a save allows: a name without its suffix gets it before the
// dialog looks for a file to replace, so the dialog's own question names the file that will be
// written, and a no leaves the dialog open.
class SaveFileDialog final : public QFileDialog {
public:
    SaveFileDialog(QWidget *parent, QString suffix) : QFileDialog(parent), m_suffix(std::move(suffix)) {}

    void accept() override {
        // Only while Qt's own dialog is on screen: a desktop's dialog has closed by now, and its
        // name is settled after it.
        auto *name = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        const QStringList files = selectedFiles();
        // A folder typed into the name field is where the dialog goes next, not a file.
        if (name && name->isVisible() && !files.isEmpty() && !QFileInfo(files.first()).isDir()) {
            const QString path = DialogFilePanels::withSuffix(files.first(), m_suffix);
            if (path != files.first()) {
                selectFile(path);
                // selectFile() leaves the name field alone while it has the keyboard.
                name->setText(QFileInfo(path).fileName());
            }
        }
        QFileDialog::accept();
    }

private:
    QString m_suffix;
};

// Qt sizes the dialog, and its size, type and date columns, for short English texts: German sizes,
// types and dates come out cut ("49,…KiB", "Ein…ent"). The dialog opens larger, those columns
// take what their headings and the folder's entries need, and the name takes the rest. The
// desktop's own dialogs size themselves.
void makeReadable(QFileDialog *dialog, const QWidget *window) {
    auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
    if (!view)
        return;
    const QScreen *screen = window ? window->screen() : QGuiApplication::primaryScreen();
    QSize size = kDialogSize;
    if (screen)
        size = size.boundedTo(screen->availableGeometry().size() * kLargestShareOfScreen);
    dialog->resize(size.expandedTo(dialog->minimumSizeHint()));
    QHeaderView *header = view->header();
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    // QTreeView hides the override that knows its rows; the item view's is public.
    const auto widen = [view = static_cast<QAbstractItemView *>(view), header] {
        for (int column = 1; column < header->count(); ++column) {
            const int needed = std::max(header->sectionSizeHint(column), view->sizeHintForColumn(column));
            if (needed > header->sectionSize(column))
                header->resizeSection(column, needed);
        }
    };
    widen();
    // Entries arrive from a background listing; every folder the dialog opens widens the columns.
    if (auto *model = dialog->findChild<QFileSystemModel *>())
        QObject::connect(model, &QFileSystemModel::directoryLoaded, view, widen, Qt::QueuedConnection);
}

// Qt's dialog writes sizes and dates in the system's locale ("7 Dec 2026"), which need not be
// German; here they are written as the rest of the program writes them. Types are German already
// once German is the default locale.
class GermanFileDetails final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || !files ||
            (index.column() != kSizeColumn && index.column() != kDateColumn))
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        const QLocale german(QLocale::German, QLocale::Germany);
        if (index.column() == kDateColumn)
            return german.toString(files->lastModified(source), QLocale::ShortFormat);
        // Folders show no size.
        if (files->isDir(source))
            return QIdentityProxyModel::data(index, role);
        return german.formattedDataSize(files->size(source));
    }

private:
    // QFileSystemModel's fixed columns.
    static constexpr int kSizeColumn = 1;
    static constexpr int kDateColumn = 3;
};

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
    for (const QPointer<QDialog> &dialog : std::as_const(m_dialogs)) {
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

QString DialogFilePanels::withSuffix(const QString &path, const QString &suffix) {
    if (suffix.isEmpty() || path.endsWith(u'.' + suffix, Qt::CaseInsensitive))
        return path;
    QString stem = path;
    // "Bericht." is meant as "Bericht", not as "Bericht..pdf".
    while (stem.endsWith(u'.') && !QFileInfo(stem).fileName().startsWith(u'.'))
        stem.chop(1);
    return stem + u'.' + suffix;
}

void DialogFilePanels::remember(FileKind kind, const QString &path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (existingFolder(folder))
        m_settings->setValue(settingsKey(kind), folder);
}

QFileDialog *DialogFilePanels::makeDialog(QFileDialog *dialog, const QString &title, const QString &message,
                                          const QStringList &nameFilters, FileKind kind) {
    m_dialogs.removeAll(nullptr);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Only Qt's own dialog takes it; first, so the columns below are sized for its texts.
    dialog->setProxyModel(new GermanFileDetails(dialog));
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
    makeReadable(dialog, m_window);
    m_dialogs.append(dialog);
    return dialog;
}

void DialogFilePanels::chooseSaveFile(const SaveRequest &request, SaveAnswer answer) {
    const FileKind kind = kindOf(request.nameFilters);
    const QString title = !request.title.isEmpty()     ? request.title
                          : kind == FileKind::Projects ? QStringLiteral("Projekt sichern unter")
                                                       : QStringLiteral("Sichern unter");
    QFileDialog *dialog = makeDialog(new SaveFileDialog(m_window, request.defaultSuffix), title,
                                     request.message, request.nameFilters, kind);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(request.defaultSuffix);
    dialog->selectFile(request.suggestedName);
    QObject::connect(dialog, &QDialog::finished, dialog,
                     [this, dialog, kind, title, request, answer = std::move(answer)](int result) {
                         const QStringList files = dialog->selectedFiles();
                         const QString chosen =
                             result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString();
                         if (chosen.isEmpty())
                             return answer(QString());
                         remember(kind, chosen);
                         // The desktop's own dialogs hand back the name as typed, and asked only
                         // about that one.
                         const QString path = withSuffix(chosen, request.defaultSuffix);
                         if (path == chosen || !QFileInfo::exists(path))
                             return answer(path);
                         confirmReplace(path, title, request, answer);
                     });
    dialog->open();
}

void DialogFilePanels::confirmReplace(const QString &path, const QString &title, const SaveRequest &request,
                                      SaveAnswer answer) {
    m_dialogs.removeAll(nullptr);
    auto *box = new QMessageBox(m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(title);
    box->setText(QStringLiteral("Die Datei „%1“ existiert bereits.").arg(QFileInfo(path).fileName()));
    box->setInformativeText(QStringLiteral("Soll sie überschrieben werden?"));
    QPushButton *replace = box->addButton(QStringLiteral("Überschreiben"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box->addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    QObject::connect(box, &QDialog::finished, box,
                     [this, box, replace, path, request, answer = std::move(answer)] {
                         if (box->clickedButton() == replace)
                             return answer(path);
                         SaveRequest again = request;
                         again.suggestedName = QFileInfo(path).fileName();
                         chooseSaveFile(again, answer);
                     });
    m_dialogs.append(box);
    box->open();
}

void DialogFilePanels::chooseOpenFiles(const OpenRequest &request, OpenAnswer answer) {
    const FileKind kind = kindOf(request.nameFilters);
    const QString title = kind == FileKind::Projects ? QStringLiteral("Projekt öffnen")
                          : kind == FileKind::Images ? QStringLiteral("Bilder importieren")
                                                     : QStringLiteral("Öffnen");
    QFileDialog *dialog =
        makeDialog(new QFileDialog(m_window), title, request.message, request.nameFilters, kind);
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
