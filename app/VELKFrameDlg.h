// VELKFrameDlg: the application's one top-level window, 540 x 500 at the
// screen's top-left corner, holding the main panel at (2, 2). A close goes
// through the panel, which may keep the window open until a job has ended.
#pragma once

#include <QWidget>

namespace velk::app {

class EnginePort;
class SCSkinDriver;
class VELKDlg;

class VELKFrameDlg : public QWidget {
    Q_OBJECT

public:
    VELKFrameDlg(EnginePort& engine, SCSkinDriver& skin, QWidget* parent = nullptr);
    VELKDlg& panel() { return *panel_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    VELKDlg* panel_;
};

}  // namespace velk::app
