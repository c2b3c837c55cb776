// The phone screen drawn into a grid of character cells (grid.h) from the window system: the
// foreground screen with its title bar, controls and soft keys, and whatever is open over it.
#pragma once

#include "platform/phone/grid.h"

namespace render {

// Dialog units to cells: the display's 106 units across fill the 30 columns, and a row is 8
// units high (a character's height in dialog units); both round to the nearest cell.
int ColumnOf(int x);
int RowOf(int y);

// Draws what the phone shows now: the foreground screen (a dialog, or a message box), its
// soft keys, and an open pop-up menu or expanded spinner list over it.
Grid DrawScreen();

}  // namespace render
