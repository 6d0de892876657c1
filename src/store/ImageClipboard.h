#pragma once

#include <QByteArray>

#include <optional>

// The image on the clipboard as bytes for the image checks.
class ImageClipboard {
public:
    virtual ~ImageClipboard() = default;
    // None when the clipboard holds no image.
    virtual std::optional<QByteArray> imageData() = 0;
};

// The application's clipboard: PNG data first, then TIFF data, then any other image the
// clipboard can hand over, encoded as PNG.
class SystemImageClipboard final : public ImageClipboard {
public:
    std::optional<QByteArray> imageData() override;
};
