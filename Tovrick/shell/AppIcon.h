#pragma once

#include <QIcon>
#include <QImage>

// The program's icon: the character's portrait, the same picture the windows show.
namespace appIcon {

// A `side` × `side` picture on a transparent background.
QImage image(int side);
// The icon in the sizes desktops ask for.
QIcon icon();

} // namespace appIcon
