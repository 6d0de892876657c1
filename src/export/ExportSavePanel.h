#pragma once

#include "export/Exporter.h"

class QWidget;

namespace ExportSavePanel {
// The desktop's save dialog, opened window-modal with open() over `parent`.
SavePanel make(QWidget *parent);
} // namespace ExportSavePanel
