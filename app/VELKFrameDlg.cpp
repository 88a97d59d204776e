#include "app/VELKFrameDlg.h"

#include <QCloseEvent>
#include <QIcon>

#include "app/ProductTexts.h"
#include "app/VELKDlg.h"

namespace velk::app {

VELKFrameDlg::VELKFrameDlg(EnginePort& engine, SCSkinDriver& skin, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("VELKFrameDlg"));
    setWindowTitle(QString::fromLatin1(ProductName));
    setWindowIcon(QIcon(QStringLiteral(":/icons/velk.svg")));
    setFixedSize(540, 500);
    move(0, 0);
    panel_ = new VELKDlg(engine, skin, this);
    panel_->setGeometry(2, 2, 538, 498);
    panel_->show();
}

void VELKFrameDlg::closeEvent(QCloseEvent* event) {
    if (panel_->CanClose()) {
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace velk::app
