#pragma once

#include <QIcon>
#include <QString>

// Icons are looked up by the symbol names the design uses ("arrow.up.right", "text.bubble", …);
// each has its own SVG under resources/icons.
QIcon symbolIcon(const QString &name);
