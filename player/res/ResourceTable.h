// The player's resources by number: icons, bitmaps, strings and menus. The pictures are drawn
// here in code, so the program carries no binary image files.
#pragma once

#include <QImage>
#include <QString>
#include <vector>

#include "resource.h"

namespace BrelsoRes {

// An icon as a picture with transparency (ARGB32); a null image when the number is unknown.
// The icon's hot spot is the centre of the picture.
QImage LoadIconImage(int nId);

// A bitmap as an opaque 24-bit picture (RGB32); a null image when the number is unknown.
QImage LoadBitmapImage(int nId);

// A string of the string table; empty when the number is unknown.
QString LoadStringResource(int nId);

// One entry of a pop-up menu; nId 0 with empty text is a separator.
struct MenuItem {
    int nId = 0;
    QString strText;
};

// A pop-up menu of a menu resource: its title and its entries.
struct PopupMenu {
    QString strTitle;
    std::vector<MenuItem> items;
};

// The pop-up menus of a menu resource, in order; empty when the number is unknown.
std::vector<PopupMenu> LoadMenuResource(int nId);

}  // namespace BrelsoRes
