#pragma once

#include "store/FilePanels.h"

#include <QList>
#include <QPointer>

#include <memory>

class QDialog;
class QFileDialog;
class QSettings;
class QWidget;

// The store's file panels as file dialogs, opened window-modal with open() so no event loop
// nests. The desktop's own dialog is used where its platform theme or portal offers one, Qt's
// (in German) otherwise, at a size where names, sizes, types and dates are readable. Every dialog
// gets a German title and named filters, and opens in the folder last used for its kind of file:
// images, projects or exported documents (PDF and Word alike, two forms of the same export).
// A saved file always ends in the request's suffix, and a file that name would replace is only
// replaced when the user says so. Dialogs still open when this object goes away are closed
// without an answer.
class DialogFilePanels final : public FilePanels {
public:
    enum class FileKind { Images, Projects, Exports };

    // Without settings the application's own hold the remembered folders.
    explicit DialogFilePanels(QWidget *window = nullptr, QSettings *settings = nullptr);
    ~DialogFilePanels() override;

    void chooseSaveFile(const SaveRequest &request, SaveAnswer answer) override;
    void chooseOpenFiles(const OpenRequest &request, OpenAnswer answer) override;

    // What the filters ask for decides the kind, its start folder and the filters' names.
    static FileKind kindOf(const QStringList &nameFilters);
    static QStringList namedFilters(const QStringList &nameFilters, FileKind kind);
    // The folder last used for the kind when it still exists, else the user's pictures (images)
    // or documents folder, else the home folder: never the working directory.
    QString startFolder(FileKind kind) const;
    // `path` ending in "." and `suffix`, in any letter case: otherwise the suffix is appended, so a
    // dot in the name ("Bericht v1.2") or another type's suffix ("Bericht.txt") cannot hide it.
    static QString withSuffix(const QString &path, const QString &suffix);

private:
    QFileDialog *makeDialog(QFileDialog *dialog, const QString &title, const QString &message,
                            const QStringList &nameFilters, FileKind kind);
    void remember(FileKind kind, const QString &path);
    // Asks before `path` is replaced; without the user's yes the save panel opens again on it.
    void confirmReplace(const QString &path, const QString &title, const SaveRequest &request,
                        SaveAnswer answer);

    QPointer<QWidget> m_window;
    QSettings *m_settings;
    std::unique_ptr<QSettings> m_ownSettings;
    QList<QPointer<QDialog>> m_dialogs;
};
