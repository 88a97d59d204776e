#include "app/SCSkinDriver.h"

#include <QApplication>
#include <QFile>

namespace velk::app {

bool SCSkinDriver::LoadSkinFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
    loaded_ = true;
    return true;
}

}  // namespace velk::app
