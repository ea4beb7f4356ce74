// The program's pictures, drawn by code: the window and tray icon, and the logo.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>

namespace veldar {

// size x size (32 for the window and the tray): a measuring device with its cable and
// serial plug, drawn on a 32-unit grid scaled to the size.
QImage ProgramIcon(int size = 32);
// 204 x 38 points, 24 bits per pixel: the name on a light band.
// ratio: drawn that many times larger for a screen of that pixel ratio (the image says so).
QImage LogoImage(int ratio = 1);
// The program's icon at the sizes desktops ask for, so that none is scaled up.
QIcon ProgramIconSet();
// The window's background: a soft grey-blue, the colour inactive caption texts had on the
// desktops the program was first made for.
QColor InactiveCaptionTextColour();

} // namespace veldar
