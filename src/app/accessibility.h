// What assistive technology (a screen reader, AT-SPI on Linux) sees of the program's controls and
// what it can do with them.
#pragma once

namespace tollwick {

// Toggling a check box or radio button through assistive technology is a click, as with the
// mouse or the space bar: the handlers bound to the click run. (Qt's own interface only flips
// the state, so a data-type radio would be checked without its formats being applied.)
// Installs once; later calls do nothing.
void InstallAccessibleClicks();

}  // namespace tollwick
