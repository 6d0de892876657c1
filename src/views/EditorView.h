#pragma once

#include <QWidget>

#include <functional>

class AccountStore;
class CloudBackupStore;
class CollectionStore;
class Exporter;

// The main window's root view: the library (sidebar, toolbar, the current collection or all
// screenshots, footer) or, while a snip is open, the mark editor. The closures are the
// application's capture and collecting actions.
class EditorView : public QWidget {
    Q_OBJECT

public:
    EditorView(CollectionStore *store, AccountStore *account, CloudBackupStore *backup, Exporter *exporter,
               std::function<void()> capture, std::function<void()> quickCapture,
               std::function<void()> showPanel, std::function<void()> finish, std::function<void()> pause,
               QWidget *parent = nullptr);
    ~EditorView() override;
};
