// VELKDlg: the main panel, a 538 x 498 child of the frame. A thin Qt view:
// it builds and places the widgets, forwards every command to the
// VELKDlgController and implements the controller's widget interfaces and
// host services over Qt. Job callbacks reach it through queued calls only.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/PanelWidgets.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QTimer;

namespace velk::skin {
class BtnST;
}

namespace velk::app {

class EnginePort;
class FileDropListCtrl;
class SCSkinDriver;
class VELKDlgController;

class VELKDlg : public QWidget, private PanelHost {
    Q_OBJECT

public:
    // Control ids of the panel's buttons and menu commands.
    enum Id {
        IdEject = 4,
        IdDiscInfo = 5,
        IdBurn = 1009,
        IdErase = 1010,
        IdAdd = 1014,
        IdDelete = 1015,
        IdClear = 1016,
        IdCompanion = 1017,
        IdMakerPage = 1018,
        IdProductPage = 1019,
        CommandAddFile = 32771,
        CommandAddFolder = 32772,
    };

    VELKDlg(EnginePort& engine, SCSkinDriver& skin, QWidget* frame);
    ~VELKDlg() override;

    // The frame asks before closing; see VELKDlgController::OnCloseRequest.
    bool CanClose();

    VELKDlgController& controller() { return *controller_; }
    skin::BtnST* button(int id) const;
    FileDropListCtrl* list() const { return list_; }
    QComboBox* selector() const { return selector_; }
    QLineEdit* labelBox() const { return label_; }
    QCheckBox* savePathBox() const { return savePath_; }
    QCheckBox* importSessionBox() const { return importSession_; }
    QCheckBox* udfBridgeBox() const { return udfBridge_; }
    QCheckBox* verifyBox() const { return verify_; }
    QLabel* statusText() const { return status_; }
    QProgressBar* imageBar() const { return imageBar_; }
    // The log's lines, top to bottom.
    QStringList LogLines() const;

    // Replace the dialogs and the close question (tests, scripted runs).
    struct Dialogs {
        std::function<std::vector<std::string>()> chooseFiles;
        std::function<std::string()> chooseFolder;
        std::function<bool(const std::string&)> confirm;
    };
    void SetDialogs(Dialogs dialogs) { dialogs_ = std::move(dialogs); }

private:
    void buildControls();
    void configureButtons();
    void onMenuCommand(int command);

    // PanelHost
    void Post(std::function<void()> task) override;
    void SetTitle(const std::string& title) override;
    std::string ReadVersionSetting() override;
    std::string ApplicationFolder() override;
    std::vector<std::string> ChooseFiles() override;
    std::string ChooseFolder() override;
    bool OpenUrl(const std::string& url) override;
    bool RunProgram(const std::string& program, const std::string& folder) override;
    bool Confirm(const std::string& question) override;
    void CloseWindow() override;

    SCSkinDriver& skin_;
    QWidget* frame_;
    QComboBox* selector_ = nullptr;
    FileDropListCtrl* list_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QLineEdit* label_ = nullptr;
    QCheckBox* savePath_ = nullptr;
    QCheckBox* importSession_ = nullptr;
    QCheckBox* udfBridge_ = nullptr;
    QCheckBox* verify_ = nullptr;
    QProgressBar* imageBar_ = nullptr;
    QProgressBar* ringBar_ = nullptr;
    QProgressBar* driveBar_ = nullptr;
    QLabel* status_ = nullptr;
    std::vector<std::pair<int, skin::BtnST*>> buttons_;
    QTimer* timer_ = nullptr;
    Dialogs dialogs_;

    struct Adapters;
    std::unique_ptr<Adapters> adapters_;
    std::unique_ptr<VELKDlgController> controller_;
};

}  // namespace velk::app
