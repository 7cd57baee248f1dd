#pragma once

// The program's own pictures: the icon of its windows and tray, and the splash picture. The build
// draws them into the program directory ("gardivo.png", "splash.png"), where skins may use them
// and a user may replace them; when a file is missing, the program draws its own.

#include <QIcon>
#include <QPixmap>

#include <string>

namespace gardivo {

QIcon programIcon();
// The splash picture, 291 x 325 pixels.
QPixmap splashPicture();

// Where the two files are looked for; set once at start.
void setArtworkDirectory(const std::string& programDirectory);

// The drawn pictures themselves.
QImage drawnIcon(int side);
QImage drawnSplash();

} // namespace gardivo
