#pragma once

#include "store/FilePanels.h"

#include <QList>
#include <QPointer>

#include <memory>

class QFileDialog;
class QSettings;
class QWidget;

// The store's file panels as file dialogs, opened window-modal with open() so no event loop
// nests. The desktop's own dialog is used where its platform theme or portal offers one, Qt's
// (in German) otherwise. Every dialog gets a German title and named filters, and opens in the
// folder last used for its kind of file. Dialogs still open when this object goes away are
// closed without an answer.
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

private:
    QFileDialog *makeDialog(const QString &title, const QString &message, const QStringList &nameFilters,
                            FileKind kind);
    void remember(FileKind kind, const QString &path);

    QPointer<QWidget> m_window;
    QSettings *m_settings;
    std::unique_ptr<QSettings> m_ownSettings;
    QList<QPointer<QFileDialog>> m_dialogs;
};
