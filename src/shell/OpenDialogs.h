#pragma once

// Whether a dialog, sheet or alert of ours stands open: a file dialog, a message box, the
// account or backup sheet, the text editor of a mark, application- or window-modal alike. No
// capture may start then: it would hide the window the dialog belongs to and leave the dialog
// floating alone over the desktop.
namespace OpenDialogs {

bool any();

} // namespace OpenDialogs
