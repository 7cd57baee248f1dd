#include "DesktopOpener.h"

#include <QDesktopServices>
#include <QUrl>

namespace gardivo {

bool QtDesktopOpener::open(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

} // namespace gardivo
