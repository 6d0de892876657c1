#pragma once

// Return and Enter press the button that has the keyboard, as Space does; Qt's own buttons take
// only Space (a push button in a dialog also Return). Check boxes and radio buttons keep Return
// for the dialog around them.
namespace ButtonKeys {

// Installs the rule for the whole application; once is enough, more calls change nothing.
void install();

} // namespace ButtonKeys
