#include "views/EditorView.h"

#include <QLabel>
#include <QVBoxLayout>

// Placeholder until the main window's views are built.
EditorView::EditorView(CollectionStore *, AccountStore *, CloudBackupStore *, Exporter *,
                       std::function<void()>, std::function<void()>, std::function<void()>,
                       std::function<void()>, std::function<void()>, QWidget *parent)
    : QWidget(parent) {
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Vellumbox"), this));
}

EditorView::~EditorView() = default;
