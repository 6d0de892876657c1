#pragma once

#include <QImage>
#include <QList>
#include <QRect>

// One still of the whole desktop, taken before anything of ours is on screen.
struct ScreenStill {
    struct Output {
        QRect geometry; // in the window system's coordinates
        double scale = 1;
    };

    QImage image; // device pixels, Format_RGB32
    QRect area;   // the desktop area the image covers, in the window system's coordinates
    // Where known, the outputs with their scales. A portal's still has one scale for the whole
    // desktop, the largest, so the parts of outputs with a smaller one are enlarged copies.
    QList<Output> outputs;

    bool isValid() const { return !image.isNull() && area.isValid(); }

    // The part of the image at imageRect, at the largest scale of the outputs it covers: a region
    // on outputs of scale 1 has the size of their own pixels, whatever the still's scale.
    QImage region(const QRect &imageRect) const;
};

namespace X11Still {

enum class Server { Unreachable, Plain, XWayland };

struct Grab {
    Server server = Server::Unreachable;
    QImage image; // null when the server could not be read
};

// Reads the root window of $DISPLAY on a connection of its own, so the still exists before the
// toolkit maps any window. XWayland is only detected, never read: its root window is black.
Grab grabRoot();

// Converts one ZPixmap of the given layout into Format_RGB32; a null image for layouts we do
// not know. Takes ownership of nothing; copies.
QImage fromZPixmap(const uchar *data, int width, int height, int bitsPerPixel, int bytesPerLine,
                   bool msbFirst, quint32 redMask, quint32 greenMask, quint32 blueMask);

} // namespace X11Still
