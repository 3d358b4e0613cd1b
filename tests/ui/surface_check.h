// The main dialog's painted surface and links as the screen shows them, at the DPI the
// dialog is drawn at: for the screen tests of the dialog in this process and of the program
// started at other DPIs.
#pragma once

#include <windows.h>

#include "tests/support/pixels.h"

namespace test {

// Checks the captured client area of the main dialog: the bands, separators, icon and
// logo pixel by pixel where no control covers them (lengths at 96 DPI scaled to `dpi`; the
// icon and the logo as `artwork`'s resources have them for that DPI), the body's face
// colour with no band colour anywhere between the bands, the title's and the links' text
// as wide as their fonts at that DPI make it, and each link on the ground of where it
// stands: the two bottom ones inside the band, the topic link on the body.
void ExpectMainDialogSurface(HWND window, const Image& image, UINT dpi, HMODULE artwork);

}  // namespace test
