#pragma once

#include <QByteArray>

#include <optional>

// The image on the clipboard as bytes for the image checks, which decide on their format.
class ImageClipboard {
public:
    virtual ~ImageClipboard() = default;
    // None when the clipboard holds no image. Cheap: nothing is decoded.
    virtual std::optional<QByteArray> imageData() = 0;
};

// The application's clipboard: of the types its owner offers, PNG data first, then TIFF, JPEG, BMP
// and GIF data as they come; then an image this program put there, as TIFF.
class SystemImageClipboard final : public ImageClipboard {
public:
    std::optional<QByteArray> imageData() override;
};
