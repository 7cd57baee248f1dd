// trv2-properties: the TRV2 codec's property page as a small program.

#include "QualityPage.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName("Tavrin TRV2 Video CODEC Property Page");
    gardivo::trv2::QualityLevel quality;
    gardivo::QualityPage page(quality);
    page.show();
    return page.exec() == QDialog::Accepted ? 0 : 1;
}
