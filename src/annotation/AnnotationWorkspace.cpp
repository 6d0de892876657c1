#include "annotation/AnnotationWorkspace.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

// Placeholder until the editor is built: a way back to the library.
AnnotationWorkspace::AnnotationWorkspace(CollectionStore *store, const QUuid &snipID,
                                         std::function<void()> close, QWidget *parent)
    : QWidget(parent), m_store(store), m_snipID(snipID), m_close(std::move(close)) {
    auto *layout = new QVBoxLayout(this);
    auto *back = new QPushButton(QStringLiteral("Zurück"), this);
    connect(back, &QPushButton::clicked, this, [this] { m_close(); });
    layout->addWidget(back);
    layout->addStretch();
}

AnnotationWorkspace::~AnnotationWorkspace() = default;
