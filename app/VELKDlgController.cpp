#include "app/VELKDlgController.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/ProductTexts.h"
#include "engine/core/EngineTypes.h"

namespace velk::app {
namespace {

constexpr const char* RootPath = "\\";

}  // namespace

VELKDlgController::VELKDlgController(EnginePort& engine, const PanelWidgets& widgets, PanelHost& host)
    : engine_(engine), widgets_(widgets), host_(host) {}

VELKDlgController::~VELKDlgController() {
    bool running;
    {
        std::lock_guard<std::mutex> hold(jobLock_);
        destroying_ = true;
        running = jobRunning_;
    }
    if (running && state_ == OperationState::Burning) engine_.Abort();
    if (setUp_.joinable()) setUp_.join();
    if (running && state_ == OperationState::Burning) engine_.Abort();  // the set-up may have started the job
    std::unique_lock<std::mutex> hold(jobLock_);
    jobDone_.wait(hold, [this] { return !jobRunning_; });
}

void VELKDlgController::Start() {
    const int count = engine_.GetDeviceCount() & 0xFF;
    for (int index = 0; index < count; ++index) widgets_.selector->AddItem(engine_.GetDeviceName(index));
    if (widgets_.selector->Count() > 0) widgets_.selector->SetCurrentIndex(0);
    OnSelectorChange();

    Log(std::string("For further information/queries, please visit: ") + MakerPageUrl);
    Log("");
    Log("- Drag files/directories from your file manager and drop into listbox.");
    Log("- Double click on an entry in listbox to delete it.");

    widgets_.label->SetText(DefaultVolumeLabel);
    state_ = OperationState::Idle;

    // The stored version goes through a 512-byte buffer, as the title always has.
    std::string version = host_.ReadVersionSetting();
    if (version.size() > 511) version.resize(511);
    host_.SetTitle(std::string(ProductName) + " V" + version);
}

void VELKDlgController::EnterState(OperationState state) {
    widgets_.selector->SetEnabled(false);
    state_ = state;
}

void VELKDlgController::ReturnToIdle() {
    widgets_.selector->SetEnabled(true);
    state_ = OperationState::Idle;
}

void VELKDlgController::OnSelectorChange() {
    engine_.SelectByIndex(widgets_.selector->CurrentIndex());
    widgets_.burnButton->SetEnabled(engine_.CanWrite() != 0);
}

void VELKDlgController::OnEject() {
    if (state_ != OperationState::Idle && state_ != OperationState::Ejecting) return;
    Log("Ejecting...");
    EnterState(OperationState::Ejecting);
    (void)engine_.Eject();
    ReturnToIdle();
    Log("Eject Done.");
    Log("");
}

void VELKDlgController::OnDiscInfo() {
    if (state_ != OperationState::Idle && state_ != OperationState::LoadingInfo) return;
    Log("Loading...");
    EnterState(OperationState::LoadingInfo);
    (void)engine_.LoadMedium();
    const int free = engine_.GetFreeBlocks();
    Log(std::to_string(free) + " free blocks on disc.");
    ReturnToIdle();
    Log("Loading Done.");
    Log("");
}

void VELKDlgController::OnBurn() {
    if (state_ != OperationState::Idle) return;
    if (engine_.TestUnitReady() == 0) {
        Log("Device or Disc is not ready.");
        return;
    }
    Log("Starting Burn Operation.");
    EnterState(OperationState::Burning);
    // A reason left over from an earlier call must not be shown for this burn.
    (void)engine_.TakeErrorText();

    engine_.ResetProject();
    if (widgets_.importSession->IsChecked()) engine_.ImportSession(0, RootPath);
    engine_.SetVolumeLabel(LimitLabel(widgets_.label->Text()));
    engine_.SetUdfBridge(widgets_.udfBridge->IsChecked() ? 1 : 0);
    engine_.SetVerify(widgets_.verify && widgets_.verify->IsChecked() ? 1 : 0);
    verifyLogged_ = false;
    const int keepPath = widgets_.savePath->IsChecked() ? 1 : 0;
    for (int row = 0; row < widgets_.list->RowCount(); ++row) {
        const std::string path = widgets_.list->PathAt(row);
        std::error_code error;
        const std::filesystem::file_status entry = std::filesystem::status(path, error);
        if (error || !std::filesystem::exists(entry)) {
            // A listed path is gone: the burn is abandoned before any job.
            ReturnToIdle();
            return;
        }
        if (std::filesystem::is_directory(entry)) {
            (void)engine_.AddDirectory(RootPath, path, "*.*", 1, keepPath);
        } else {
            (void)engine_.AddFile(RootPath, path);
        }
    }
    engine_.PrepareImage();

    if (setUp_.joinable()) setUp_.join();  // the last set-up has long posted its end
    settingUp_ = true;
    earlyCompletion_.reset();
    {
        std::lock_guard<std::mutex> hold(jobLock_);
        jobRunning_ = true;
    }
    setUp_ = std::thread([this] {
        const int started = engine_.StartBurn(&VELKDlgController::BurnDone, this);
        std::lock_guard<std::mutex> hold(jobLock_);
        if (!started) {
            // No job thread runs, so no callback will come.
            jobRunning_ = false;
            jobDone_.notify_all();
        }
        if (!destroying_) host_.Post([this, started] { SetUpEnded(started); });
    });
}

void VELKDlgController::SetUpEnded(int started) {
    settingUp_ = false;
    if (!started) {
        // StartBurn refused before any job thread ran, so no callback will
        // come: report it as the failed burn it is instead of staying busy.
        JobEnded(Job::Burn, 1);
        return;
    }
    Log("Burning Data...");
    if (closePending_) engine_.Abort();
    if (earlyCompletion_) {
        const std::int32_t failed = *earlyCompletion_;
        earlyCompletion_.reset();
        JobEnded(Job::Burn, failed);
    }
}

void VELKDlgController::OnErase() {
    if (state_ != OperationState::Idle) return;
    Log("Starting Erase Operation.");
    EnterState(OperationState::Erasing);
    if (engine_.CanErase() != 1) {
        ReturnToIdle();
        return;
    }
    (void)engine_.TakeErrorText();
    {
        std::lock_guard<std::mutex> hold(jobLock_);
        jobRunning_ = true;
    }
    engine_.StartErase(1, &VELKDlgController::EraseDone, this);
    Log("Quick Erasing Media...");
}

void VELKDlgController::BurnDone(std::int32_t failed, void* context) {
    static_cast<VELKDlgController*>(context)->JobCalledBack(Job::Burn, failed);
}

void VELKDlgController::EraseDone(std::int32_t failed, void* context) {
    // Runs under the recorder's callback lock: post, call no engine operation.
    static_cast<VELKDlgController*>(context)->JobCalledBack(Job::Erase, failed);
}

void VELKDlgController::JobCalledBack(Job job, std::int32_t failed) {
    std::lock_guard<std::mutex> hold(jobLock_);
    jobRunning_ = false;
    jobDone_.notify_all();
    if (!destroying_) host_.Post([this, job, failed] { JobEnded(job, failed); });
}

void VELKDlgController::JobEnded(Job job, std::int32_t failed) {
    if (job == Job::Burn && settingUp_) {
        earlyCompletion_ = failed;
        return;
    }
    const char* word = job == Job::Burn ? "Burn" : "Erase";
    ReturnToIdle();
    Log(std::string(word) + " Operation Complete.");
    if (failed == 1) {
        Log(std::string(word) + " Operation Failed.");
        const std::string reason = engine_.TakeErrorText();
        if (!reason.empty()) Log(reason);
    }
    Log("");
    if (closePending_) host_.CloseWindow();
}

void VELKDlgController::OnAddFile() {
    if (state_ != OperationState::Idle) return;
    for (const std::string& path : host_.ChooseFiles()) widgets_.list->InsertPathname(path);
}

void VELKDlgController::OnAddFolder() {
    if (state_ != OperationState::Idle) return;
    const std::string folder = host_.ChooseFolder();
    if (!folder.empty()) widgets_.list->InsertPathname(folder);
}

void VELKDlgController::OnDelete() {
    if (state_ != OperationState::Idle) return;
    const int mark = widgets_.list->SelectionMark();
    if (mark >= 0) widgets_.list->DeleteRow(mark);
}

void VELKDlgController::OnClear() {
    if (state_ != OperationState::Idle) return;
    widgets_.list->DeleteAll();
}

void VELKDlgController::OnListDoubleClick() {
    const int hot = widgets_.list->HotRow();
    if (hot >= 0) widgets_.list->DeleteRow(hot);
}

void VELKDlgController::OnCompanion() {
    const std::string folder = host_.ApplicationFolder();
    const std::string program = folder + CompanionProgram;
    std::error_code error;
    if (!std::filesystem::is_regular_file(program, error)) {
        Log("The companion program " + program + " is not installed.");
        return;
    }
    if (!host_.RunProgram(program, folder)) Log("The companion program " + program + " could not be started.");
}

void VELKDlgController::OnMakerPage() { (void)host_.OpenUrl(MakerPageUrl); }
void VELKDlgController::OnProductPage() { (void)host_.OpenUrl(ProductPageUrl); }

std::string VELKDlgController::StatusTextFor(std::uint32_t total, std::uint32_t written) {
    const double t = total;
    const double w = written;
    const double totalMb = t * 2048 / 1048576;
    const double writtenMb = w * 2048 / 1048576;
    char text[128];
    if (total == 0) {
        std::snprintf(text, sizeof text, "%4.2f/%4.2f MB / 0%%", totalMb, writtenMb);
    } else {
        std::snprintf(text, sizeof text, "%4.2f/%4.2f MB /%3.1f%%", totalMb, writtenMb, w / t * 100);
    }
    return text;
}

void VELKDlgController::OnTimer() {
    const std::uint32_t total = engine_.GetImageBlocks();
    const std::uint32_t written = engine_.GetBlocksWritten();
    // Bars take 32-bit ranges; an image beyond 2^31 blocks (4 TiB) would
    // not fit any medium.
    widgets_.imageBar->SetRange(0, static_cast<int>(total));
    widgets_.imageBar->SetPosition(static_cast<int>(written));
    widgets_.status->SetText(StatusTextFor(total, written));
    widgets_.ringBar->SetRange(0, engine_.GetBufferSize());
    widgets_.ringBar->SetPosition(engine_.GetBufferFill());
    widgets_.driveBar->SetRange(0, engine_.GetDriveBufferSize());
    widgets_.driveBar->SetPosition(engine_.GetDriveBufferUsed());
    // The read-back pass of a verifying burn runs the image bar again.
    if (state_ == OperationState::Burning && !verifyLogged_ && engine_.GetJobState() == JobVerifying) {
        verifyLogged_ = true;
        Log("Verifying Data...");
    }
}

bool VELKDlgController::OnCloseRequest() {
    if (state_ == OperationState::Idle && !settingUp_) return true;
    if (closePending_) return false;
    if (state_ == OperationState::Burning) {
        if (!host_.Confirm("A burn is running. Stop it and close the window?")) return false;
        closePending_ = true;
        Log("Stopping the burn; the window closes when it has ended.");
        engine_.Abort();  // a set-up still running is stopped again when it returns
        return false;
    }
    if (state_ == OperationState::Erasing) {
        if (!host_.Confirm("An erase is running and cannot be stopped. Close the window when it has ended?")) {
            return false;
        }
        closePending_ = true;
        Log("The window closes when the erase has ended.");
        return false;
    }
    // Eject and Disc info end within the handler that started them.
    return true;
}

std::string VELKDlgController::LimitLabel(const std::string& label) {
    int characters = 0;
    for (std::size_t at = 0; at < label.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(label[at]);
        if ((byte & 0xC0) == 0x80) continue;  // inside a character
        if (characters == VolumeLabelLimit) return label.substr(0, at);
        ++characters;
    }
    return label;
}

}  // namespace velk::app
