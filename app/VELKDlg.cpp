#include "app/VELKDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>
#include <QUrl>

#include "SkinControl/BtnST.h"
#include "app/FileDropListCtrl.h"
#include "app/ProductTexts.h"
#include "app/SCSkinDriver.h"
#include "app/VELKDlgController.h"

namespace velk::app {
namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

// The icon pairs: the in-icon shows while hovered or pressed.
struct ButtonSpec {
    int id;
    const char* icon;
    const char* tip;
    QRect place;
};
// In the order the skin and the set-up visit them.
const ButtonSpec ButtonSpecs[] = {
    {VELKDlg::IdAdd, "add", "Add files or a folder", {450, 140, 30, 23}},
    {VELKDlg::IdDelete, "delete", "Delete the selected row", {450, 180, 30, 23}},
    {VELKDlg::IdClear, "clear", "Clear the list", {450, 220, 30, 23}},
    {VELKDlg::IdMakerPage, "maker", "The maker's web page", {370, 10, 50, 53}},
    {VELKDlg::IdCompanion, "companion", "Start the companion program", {300, 10, 50, 53}},
    {VELKDlg::IdDiscInfo, "info", "Free blocks on the disc", {90, 10, 50, 53}},
    {VELKDlg::IdProductPage, "product", "The product's web page", {440, 10, 50, 53}},
    {VELKDlg::IdErase, "erase", "Quick erase", {230, 10, 50, 53}},
    {VELKDlg::IdEject, "eject", "Eject", {20, 10, 50, 53}},
    {VELKDlg::IdBurn, "burn", "Burn", {160, 10, 50, 53}},
};

}  // namespace

struct VELKDlg::Adapters {
    struct ComboSelector final : Selector {
        QComboBox* box;
        void AddItem(const std::string& text) override { box->addItem(q(text)); }
        int Count() const override { return box->count(); }
        int CurrentIndex() const override { return box->currentIndex(); }
        void SetCurrentIndex(int index) override { box->setCurrentIndex(index); }
        void SetEnabled(bool enabled) override { box->setEnabled(enabled); }
    };
    struct PlainLog final : LogBox {
        QPlainTextEdit* edit;
        void AppendLine(const std::string& line) override {
            // appendPlainText always adds at the end, whatever the caret.
            edit->appendPlainText(q(line));
            edit->verticalScrollBar()->setValue(edit->verticalScrollBar()->maximum());
        }
    };
    struct LineBox final : TextBox {
        QLineEdit* edit;
        std::string Text() const override { return edit->text().toStdString(); }
        void SetText(const std::string& text) override {
            edit->setText(q(text));
            edit->setCursorPosition(0);  // show the start of a long label
        }
    };
    struct Check final : CheckBox {
        QCheckBox* box;
        bool IsChecked() const override { return box->isChecked(); }
    };
    struct Bar final : ProgressBar {
        QProgressBar* bar;
        // An empty range would make Qt draw a "busy" animation; nothing to
        // show is an empty bar.
        void SetRange(int minimum, int maximum) override {
            empty = maximum <= minimum;
            bar->setRange(minimum, empty ? minimum + 1 : maximum);
        }
        void SetPosition(int position) override { bar->setValue(empty ? bar->minimum() : position); }
        bool empty = true;
    };
    struct Status final : StatusText {
        QLabel* label;
        void SetText(const std::string& text) override { label->setText(q(text)); }
    };
    struct Push final : Button {
        QWidget* button;
        void SetEnabled(bool enabled) override { button->setEnabled(enabled); }
    };

    ComboSelector selector;
    PlainLog log;
    LineBox label;
    Check savePath, importSession, udfBridge, verify;
    Bar imageBar, ringBar, driveBar;
    Status status;
    Push burn;
};

VELKDlg::VELKDlg(EnginePort& engine, SCSkinDriver& skin, QWidget* frame)
    : QWidget(frame), skin_(skin), frame_(frame), adapters_(std::make_unique<Adapters>()) {
    setWindowIcon(QIcon(QStringLiteral(":/icons/velk.svg")));
    buildControls();

    Adapters& a = *adapters_;
    a.selector.box = selector_;
    a.log.edit = log_;
    a.label.edit = label_;
    a.savePath.box = savePath_;
    a.importSession.box = importSession_;
    a.udfBridge.box = udfBridge_;
    a.verify.box = verify_;
    a.imageBar.bar = imageBar_;
    a.ringBar.bar = ringBar_;
    a.driveBar.bar = driveBar_;
    a.status.label = status_;
    a.burn.button = button(IdBurn);
    PanelWidgets widgets;
    widgets.selector = &a.selector;
    widgets.list = list_;
    widgets.log = &a.log;
    widgets.label = &a.label;
    widgets.savePath = &a.savePath;
    widgets.importSession = &a.importSession;
    widgets.udfBridge = &a.udfBridge;
    widgets.verify = &a.verify;
    widgets.imageBar = &a.imageBar;
    widgets.ringBar = &a.ringBar;
    widgets.driveBar = &a.driveBar;
    widgets.status = &a.status;
    widgets.burnButton = &a.burn;
    PanelHost& host = *this;
    controller_ = std::make_unique<VELKDlgController>(engine, widgets, host);

    // Recorders, welcome lines, label and title; the signals are connected
    // afterwards so the first selection runs once.
    controller_->Start();
    configureButtons();

    VELKDlgController& c = *controller_;
    connect(selector_, &QComboBox::currentIndexChanged, this, [&c] { c.OnSelectorChange(); });
    connect(list_, &FileDropListCtrl::RowDoubleClicked, this, [&c] { c.OnListDoubleClick(); });
    auto on = [this](int id, void (VELKDlgController::*handler)()) {
        connect(button(id), &QAbstractButton::clicked, this, [this, handler] { (controller_.get()->*handler)(); });
    };
    on(IdEject, &VELKDlgController::OnEject);
    on(IdDiscInfo, &VELKDlgController::OnDiscInfo);
    on(IdBurn, &VELKDlgController::OnBurn);
    on(IdErase, &VELKDlgController::OnErase);
    on(IdDelete, &VELKDlgController::OnDelete);
    on(IdClear, &VELKDlgController::OnClear);
    on(IdCompanion, &VELKDlgController::OnCompanion);
    on(IdMakerPage, &VELKDlgController::OnMakerPage);
    on(IdProductPage, &VELKDlgController::OnProductPage);
    connect(button(IdAdd), &skin::BtnST::MenuCommand, this, &VELKDlg::onMenuCommand);

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, [&c] { c.OnTimer(); });
    timer_->start(100);
}

VELKDlg::~VELKDlg() {
    timer_->stop();
    controller_.reset();  // joins a set-up thread that has already posted its end
}

void VELKDlg::buildControls() {
    // The layout's pixel positions were made for a small dialog font.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);

    for (const ButtonSpec& spec : ButtonSpecs) {
        auto* b = new skin::BtnST(this);
        b->setObjectName(QString::fromLatin1(spec.icon));
        b->setGeometry(spec.place);
        b->setAccessibleName(QString::fromLatin1(spec.tip));
        b->SetTooltipText(QString::fromLatin1(spec.tip));
        buttons_.emplace_back(spec.id, b);
    }

    auto* driveLabel = new QLabel(QStringLiteral("Drive : "), this);
    driveLabel->setGeometry(20, 83, 45, 20);
    selector_ = new QComboBox(this);
    selector_->setEditable(false);
    selector_->setGeometry(70, 80, 240, 20);
    auto* volumeLabel = new QLabel(QStringLiteral("Volume ID : "), this);
    volumeLabel->setGeometry(320, 83, 55, 20);
    label_ = new QLineEdit(this);
    label_->setGeometry(380, 80, 110, 20);
    label_->setMaxLength(VolumeLabelLimit);

    list_ = new FileDropListCtrl(this);
    list_->setObjectName(QStringLiteral("sourceList"));
    list_->setGeometry(20, 115, 400, 210);
    list_->setHeaderLabels({QStringLiteral("R"), QStringLiteral("File Name")});
    list_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->header()->setStretchLastSection(false);
    list_->setColumnWidth(0, 25);
    list_->setColumnWidth(1, 360);
    list_->setFrameShape(QFrame::StyledPanel);
    list_->setFrameShadow(QFrame::Sunken);
    list_->SetDropMode(DL_ACCEPT_FILES | DL_ACCEPT_FOLDERS);

    savePath_ = new QCheckBox(QStringLiteral("Save Path"), this);
    savePath_->setGeometry(430, 260, 80, 20);
    importSession_ = new QCheckBox(QStringLiteral("Import Session"), this);
    importSession_->setGeometry(430, 285, 100, 20);
    udfBridge_ = new QCheckBox(QStringLiteral("UDF Bridge"), this);
    udfBridge_->setGeometry(430, 310, 100, 20);
    // Beside the file-system options, in the room between Clear and Save Path.
    verify_ = new QCheckBox(QStringLiteral("Verify"), this);
    verify_->setObjectName(QStringLiteral("verify"));
    verify_->setGeometry(430, 243, 80, 16);

    log_ = new QPlainTextEdit(this);
    log_->setObjectName(QStringLiteral("log"));
    log_->setGeometry(20, 340, 490, 80);
    log_->setReadOnly(true);
    log_->setUndoRedoEnabled(false);
    log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* group = new QGroupBox(this);
    group->setGeometry(20, 420, 490, 30);
    auto* cdLabel = new QLabel(QStringLiteral("CD :"), this);
    cdLabel->setGeometry(25, 430, 20, 18);
    auto makeBar = [this](int x, int width) {
        auto* bar = new QProgressBar(this);
        bar->setGeometry(x, 430, width, 15);
        bar->setTextVisible(false);
        bar->setRange(0, 1);
        bar->setValue(0);
        return bar;
    };
    imageBar_ = makeBar(50, 120);
    status_ = new QLabel(QStringLiteral("lSize"), this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setAlignment(Qt::AlignCenter);
    QFont statusFont = small;
    statusFont.setPixelSize(10);
    status_->setFont(statusFont);
    status_->setGeometry(175, 430, 120, 18);
    ringBar_ = makeBar(300, 130);
    driveBar_ = makeBar(435, 60);
}

void VELKDlg::configureButtons() {
    for (auto& [id, b] : buttons_) skin_.ApplyToWindow(b, 1);
    for (auto& [id, b] : buttons_) {
        const QString name = b->objectName();
        (void)b->SetIcons(QStringLiteral(":/icons/%1-in.svg").arg(name), QStringLiteral(":/icons/%1-out.svg").arg(name));
        (void)b->DrawTransparent(false);
        (void)b->DrawBorder(false, false);
        (void)b->SetAlign(skin::BtnST::IconAbove, false);
    }
    auto* menu = new QMenu(QStringLiteral("ADD"));
    menu->addAction(QStringLiteral("Add File"))->setData(int(CommandAddFile));
    menu->addAction(QStringLiteral("Add Folder"))->setData(int(CommandAddFolder));
    (void)button(IdAdd)->SetMenu(menu);
}

skin::BtnST* VELKDlg::button(int id) const {
    for (const auto& [buttonId, b] : buttons_) {
        if (buttonId == id) return b;
    }
    return nullptr;
}

void VELKDlg::onMenuCommand(int command) {
    if (command == CommandAddFile) controller_->OnAddFile();
    if (command == CommandAddFolder) controller_->OnAddFolder();
}

bool VELKDlg::CanClose() { return controller_->OnCloseRequest(); }

QStringList VELKDlg::LogLines() const { return log_->toPlainText().split(QLatin1Char('\n')); }

void VELKDlg::Post(std::function<void()> task) {
    // Queued calls to one receiver run in the order they were posted.
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void VELKDlg::SetTitle(const std::string& title) { frame_->setWindowTitle(q(title)); }

std::string VELKDlg::ReadVersionSetting() {
    QSettings settings(QString::fromLatin1(ProductName), QString());
    return settings.value(QStringLiteral("Version")).toString().toStdString();
}

std::string VELKDlg::ApplicationFolder() { return (QCoreApplication::applicationDirPath() + QLatin1Char('/')).toStdString(); }

std::vector<std::string> VELKDlg::ChooseFiles() {
    if (dialogs_.chooseFiles) return dialogs_.chooseFiles();
    std::vector<std::string> paths;
    const QStringList chosen =
        QFileDialog::getOpenFileNames(this, QString(), QString(), QStringLiteral("All Supported Format (*)"));
    for (const QString& path : chosen) paths.push_back(path.toStdString());
    return paths;
}

std::string VELKDlg::ChooseFolder() {
    if (dialogs_.chooseFolder) return dialogs_.chooseFolder();
    return QFileDialog::getExistingDirectory(this, QString()).toStdString();
}

bool VELKDlg::OpenUrl(const std::string& url) { return QDesktopServices::openUrl(QUrl(q(url))); }

bool VELKDlg::RunProgram(const std::string& program, const std::string& folder) {
    return QProcess::startDetached(q(program), {}, q(folder));
}

bool VELKDlg::Confirm(const std::string& question) {
    if (dialogs_.confirm) return dialogs_.confirm(question);
    return QMessageBox::question(this, QString::fromLatin1(ProductName), q(question)) == QMessageBox::Yes;
}

void VELKDlg::CloseWindow() { frame_->close(); }

}  // namespace velk::app
