#pragma once

// The program's own pictures: the icon of its windows and tray, and the splash picture. They
// are drawn rather than loaded, so that no file of the program directory can be missing.

#include <QIcon>
#include <QPixmap>

namespace gardivo {

QIcon programIcon();
// The splash picture, 291 x 325 pixels.
QPixmap splashPicture();

} // namespace gardivo
