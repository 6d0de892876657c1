#pragma once

#include <QImage>
#include <QRect>

// One still of the whole desktop, taken before anything of ours is on screen.
struct ScreenStill {
    QImage image; // device pixels, Format_RGB32
    QRect area;   // the desktop area the image covers, in the window system's coordinates

    bool isValid() const { return !image.isNull() && area.isValid(); }
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
