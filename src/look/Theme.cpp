#include "look/Theme.h"

#include "export/MarkRenderer.h"

namespace Theme {

QFont font(int pixelSize, QFont::Weight weight) {
    QFont f = MarkRenderer::systemFont(weight);
    f.setPixelSize(pixelSize);
    return f;
}

} // namespace Theme
