#include "sharing/ShareControls.h"

// Placeholder until link sharing is built: shows nothing.
ShareControls::ShareControls(ImageShareStore *, CollectionStore *, QWidget *parent) : QWidget(parent) {
    hide();
}

ShareControls::~ShareControls() = default;

void ShareControls::setSnip(const std::optional<Snip> &) {}
