#include "look/Theme.h"

#include "export/MarkRenderer.h"

namespace Theme {

QFont font(int pixelSize, QFont::Weight weight) {
    QFont f = MarkRenderer::systemFont(weight);
    f.setPixelSize(pixelSize);
    return f;
}

QPalette palette(const QPalette &base) {
    QPalette result = base;
    result.setColor(QPalette::Window, canvas());
    result.setColor(QPalette::Base, surface());
    result.setColor(QPalette::AlternateBase, canvas());
    result.setColor(QPalette::Button, surface());
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        result.setColor(role, ink());
        result.setColor(QPalette::Disabled, role, disabledInk());
    }
    result.setColor(QPalette::PlaceholderText, secondaryInk());
    result.setColor(QPalette::Highlight, accent());
    result.setColor(QPalette::HighlightedText, surface());
    return result;
}

} // namespace Theme
