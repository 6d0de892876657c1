#pragma once

#include "model/Snip.h"

#include <QWidget>

#include <optional>

class CollectionStore;
class ImageShareStore;

// The capture panel's share controls for the snip the panel shows, with the links sheet.
class ShareControls : public QWidget {
    Q_OBJECT

public:
    ShareControls(ImageShareStore *sharing, CollectionStore *store, QWidget *parent = nullptr);
    ~ShareControls() override;

    // The snip the panel shows now; none hides the controls' snip actions.
    void setSnip(const std::optional<Snip> &snip);
};
