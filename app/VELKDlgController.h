// The main panel's logic: the operation state, every command handler, the
// progress timer and the log lines. It knows the panel only through the
// abstract widgets of PanelWidgets.h and the engine only through EnginePort,
// so it runs without a display.
//
// Threads. Every handler runs on the window's thread. The burn's set-up
// (StartBurn, which may format a disc for minutes) runs on a thread of its
// own, so the window keeps its timer, log and guards meanwhile. The jobs'
// completion callbacks arrive on job threads; they only post their effects
// to the window's thread, where they run in the order the user reads them:
// selector enabled, state Idle, the completion line, the failure line and
// the engine's error text, an empty line.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/EnginePort.h"
#include "app/PanelWidgets.h"

namespace velk::app {

enum class OperationState : std::int32_t {
    Idle = 0,
    Ejecting = 1,
    LoadingInfo = 2,
    Burning = 3,
    Erasing = 4,
};

class VELKDlgController {
public:
    VELKDlgController(EnginePort& engine, const PanelWidgets& widgets, PanelHost& host);
    // A job still running (the window went away without the close guard)
    // is stopped where it can be and waited for, so no callback reaches a
    // dead panel.
    ~VELKDlgController();
    VELKDlgController(const VELKDlgController&) = delete;
    VELKDlgController& operator=(const VELKDlgController&) = delete;

    // Fills the selector, selects the first recorder, writes the welcome
    // lines, puts the default label in place and sets the title.
    void Start();

    void OnSelectorChange();
    void OnEject();
    void OnDiscInfo();
    void OnBurn();
    void OnErase();
    void OnAddFile();
    void OnAddFolder();
    void OnDelete();
    void OnClear();
    void OnListDoubleClick();
    void OnCompanion();
    void OnMakerPage();
    void OnProductPage();
    void OnTimer();

    // The window asks before it closes. True: close now. False: keep the
    // window; when the user agreed to stop a running job, the window is
    // closed through PanelHost::CloseWindow once the job has called back.
    bool OnCloseRequest();

    OperationState State() const { return state_; }
    // True while StartBurn runs on its set-up thread.
    bool SettingUp() const { return settingUp_; }

    // "%4.2f/%4.2f MB ..." for an image of `total` blocks of which `written`
    // are on the disc.
    static std::string StatusTextFor(std::uint32_t total, std::uint32_t written);
    // The label as the engine can keep it: at most 32 characters.
    static std::string LimitLabel(const std::string& label);

private:
    enum class Job { Burn, Erase };
    static void BurnDone(std::int32_t failed, void* context);
    static void EraseDone(std::int32_t failed, void* context);

    void Log(const std::string& line) { widgets_.log->AppendLine(line); }
    void EnterState(OperationState state);
    void ReturnToIdle();
    void SetUpEnded(int started);
    void JobEnded(Job job, std::int32_t failed);
    // On the job's thread: the job will call nothing more.
    void JobCalledBack(Job job, std::int32_t failed);

    EnginePort& engine_;
    PanelWidgets widgets_;
    PanelHost& host_;
    OperationState state_ = OperationState::Idle;
    std::thread setUp_;
    bool settingUp_ = false;
    bool verifyLogged_ = false;  // "Verifying Data..." shown for this burn
    // A burn's completion that arrived before its set-up returned.
    std::optional<std::int32_t> earlyCompletion_;
    // The user agreed to stop the running job and close the window.
    bool closePending_ = false;

    // Between the threads: a job (or its set-up) may still call back; the
    // controller is going away and posts nothing more.
    std::mutex jobLock_;
    std::condition_variable jobDone_;
    bool jobRunning_ = false;
    bool destroying_ = false;
};

}  // namespace velk::app
