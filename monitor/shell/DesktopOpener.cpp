#include "DesktopOpener.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace gardivo {

bool QtDesktopOpener::open(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

std::string QtDesktopOpener::chooseSaveFile(const std::string& suggested, const std::string& filter) {
    return QFileDialog::getSaveFileName(nullptr, "Save a copy of the clip", QString::fromStdString(suggested),
                                        QString::fromStdString(filter))
        .toStdString();
}

} // namespace gardivo
