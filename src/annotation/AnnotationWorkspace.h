#pragma once

#include <QUuid>
#include <QWidget>

#include <functional>

class CollectionStore;

// The full-window mark editor for one snip of the current collection. `close` asks the window
// to leave the editor; every edit is written into the collection at once.
class AnnotationWorkspace : public QWidget {
    Q_OBJECT

public:
    AnnotationWorkspace(CollectionStore *store, const QUuid &snipID, std::function<void()> close,
                        QWidget *parent = nullptr);
    ~AnnotationWorkspace() override;

private:
    CollectionStore *m_store;
    QUuid m_snipID;
    std::function<void()> m_close;
};
