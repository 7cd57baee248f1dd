// Draws the program's icon and splash picture into the program directory.
//   gardivo_artwork PROGRAM_DIRECTORY

#include "monitor/shell/Artwork.h"

#include <QGuiApplication>
#include <QImage>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gardivo_artwork PROGRAM_DIRECTORY\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString directory = QString::fromLocal8Bit(argv[1]);
    const bool ok = gardivo::drawnIcon(64).save(directory + "/gardivo.png") &&
                    gardivo::drawnSplash().save(directory + "/splash.png");
    if (!ok)
        std::fprintf(stderr, "gardivo_artwork: cannot write into %s\n", argv[1]);
    return ok ? 0 : 1;
}
