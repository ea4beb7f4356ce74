// The program's pictures, drawn by code: the window and tray icon, and the logo.
#pragma once

#include <QColor>
#include <QImage>

namespace veldar {

// 32 x 32: a measuring probe over a serial plug.
QImage ProgramIcon();
// 204 x 38, 24 bits per pixel: the name on a light band.
QImage LogoImage();
// The window's background: a soft grey-blue, the colour inactive caption texts had on the
// desktops the program was first made for.
QColor InactiveCaptionTextColour();

} // namespace veldar
