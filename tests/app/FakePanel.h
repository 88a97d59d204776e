// A scripted engine, plain widgets and a host whose posted tasks the test
// runs by hand, for driving VELKDlgController without a display.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/EnginePort.h"
#include "app/PanelWidgets.h"
#include "app/VELKDlgController.h"

namespace velk::app::test {

class FakeEngine : public EnginePort {
public:
    std::vector<std::string> calls;
    std::vector<std::string> names;
    int canWrite = 1;
    int ready = 1;
    int canErase = 1;
    int freeBlocks = 0;
    int startBurnResult = 1;
    std::uint32_t imageBlocks = 0;
    std::uint32_t blocksWritten = 0;
    int jobState = 0;
    int bufferSize = 0, bufferFill = 0, driveBufferSize = 0, driveBufferUsed = 0;
    std::string errorText;
    // Run inside Eject / LoadMedium / StartBurn, as if the user acted while
    // the call was busy (each runs once).
    std::function<void()> duringEject, duringLoad, duringStartBurn, duringAbort;
    CompletionCallback callback = nullptr;
    void* context = nullptr;

    void Complete(std::int32_t failed) { callback(failed, context); }

    int GetDeviceCount() override { return static_cast<int>(names.size()); }
    std::string GetDeviceName(int index) override { return names.at(static_cast<std::size_t>(index)); }
    int SelectByIndex(int index) override { return log("SelectByIndex " + std::to_string(index)); }
    int CanWrite() override { return canWrite; }
    int Eject() override {
        log("Eject");
        runOnce(duringEject);
        return 1;
    }
    int LoadMedium() override {
        log("LoadMedium");
        runOnce(duringLoad);
        return 1;
    }
    int GetFreeBlocks() override { return freeBlocks; }
    int TestUnitReady() override {
        log("TestUnitReady");
        return ready;
    }
    int ResetProject() override { return log("ResetProject"); }
    int ImportSession(int session, const std::string& treePath) override {
        return log("ImportSession " + std::to_string(session) + " " + treePath);
    }
    int SetVolumeLabel(const std::string& label) override { return log("SetVolumeLabel " + label); }
    int SetUdfBridge(int value) override { return log("SetUdfBridge " + std::to_string(value)); }
    int SetVerify(int value) override { return log("SetVerify " + std::to_string(value)); }
    int GetJobState() override { return jobState; }
    bool AddDirectory(const std::string& treePath, const std::string& sourcePath, const std::string& mask,
                      int recursive, int keepPath) override {
        return log("AddDirectory " + treePath + " " + sourcePath + " " + mask + " " + std::to_string(recursive) +
                   " " + std::to_string(keepPath));
    }
    bool AddFile(const std::string& treePath, const std::string& sourcePath) override {
        return log("AddFile " + treePath + " " + sourcePath);
    }
    int PrepareImage() override { return log("PrepareImage"); }
    int StartBurn(CompletionCallback done, void* doneContext) override {
        {
            std::lock_guard<std::mutex> hold(lock_);
            calls.push_back("StartBurn");
        }
        callback = done;
        context = doneContext;
        runOnce(duringStartBurn);
        return startBurnResult;
    }
    int CanErase() override {
        log("CanErase");
        return canErase;
    }
    int StartErase(int mode, CompletionCallback done, void* doneContext) override {
        callback = done;
        context = doneContext;
        return log("StartErase " + std::to_string(mode));
    }
    void Abort() override {
        log("Abort");
        runOnce(duringAbort);
    }
    std::uint32_t GetImageBlocks() override { return imageBlocks; }
    std::uint32_t GetBlocksWritten() override { return blocksWritten; }
    int GetBufferSize() override { return bufferSize; }
    int GetBufferFill() override { return bufferFill; }
    int GetDriveBufferSize() override { return driveBufferSize; }
    int GetDriveBufferUsed() override { return driveBufferUsed; }
    std::string TakeErrorText() override {
        std::string text;
        text.swap(errorText);
        return text;
    }

    bool Called(const std::string& call) const {
        std::lock_guard<std::mutex> hold(lock_);
        for (const std::string& c : calls) {
            if (c == call) return true;
        }
        return false;
    }
    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> hold(lock_);
        return calls;
    }

private:
    int log(const std::string& call) {
        std::lock_guard<std::mutex> hold(lock_);
        calls.push_back(call);
        return 1;
    }
    static void runOnce(std::function<void()>& hook) {
        if (!hook) return;
        std::function<void()> run = std::move(hook);
        hook = nullptr;
        run();
    }
    mutable std::mutex lock_;
};

struct FakeSelector : Selector {
    std::vector<std::string> items;
    int current = -1;
    bool enabled = true;
    void AddItem(const std::string& text) override { items.push_back(text); }
    int Count() const override { return static_cast<int>(items.size()); }
    int CurrentIndex() const override { return current; }
    void SetCurrentIndex(int index) override { current = index; }
    void SetEnabled(bool value) override { enabled = value; }
};

struct FakeList : SourceList {
    std::vector<std::string> rows;  // row 0 first
    int mark = -1;
    int hot = -1;
    int RowCount() const override { return static_cast<int>(rows.size()); }
    std::string PathAt(int row) const override { return rows.at(static_cast<std::size_t>(row)); }
    int SelectionMark() const override { return mark; }
    int HotRow() const override { return hot; }
    void DeleteRow(int row) override { rows.erase(rows.begin() + row); }
    void DeleteAll() override { rows.clear(); }
    int InsertPathname(const std::string& path) override {
        rows.insert(rows.begin(), path);
        return 0;
    }
};

// Each line with what the panel looked like when it was written.
struct LoggedLine {
    std::string text;
    bool selectorEnabled;
    OperationState state;
};

struct FakeLog : LogBox {
    std::vector<LoggedLine> lines;
    std::function<LoggedLine(const std::string&)> snapshot;
    void AppendLine(const std::string& line) override { lines.push_back(snapshot(line)); }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const LoggedLine& line : lines) texts.push_back(line.text);
        return texts;
    }
};

struct FakeText : TextBox {
    std::string text;
    std::string Text() const override { return text; }
    void SetText(const std::string& value) override { text = value; }
};

struct FakeCheck : CheckBox {
    bool checked = false;
    bool IsChecked() const override { return checked; }
};

struct FakeBar : ProgressBar {
    int minimum = 0, maximum = 0, position = 0;
    void SetRange(int low, int high) override {
        minimum = low;
        maximum = high;
    }
    void SetPosition(int value) override { position = value; }
};

struct FakeStatus : StatusText {
    std::string text;
    void SetText(const std::string& value) override { text = value; }
};

struct FakeButton : Button {
    bool enabled = true;
    void SetEnabled(bool value) override { enabled = value; }
};

class FakeHost : public PanelHost {
public:
    std::string title;
    std::string version;
    std::string folder = "/nonexistent/velk-app-folder/";
    std::vector<std::string> files;
    std::string chosenFolder;
    int fileDialogs = 0, folderDialogs = 0;
    std::vector<std::string> openedUrls;
    std::vector<std::string> programs;
    bool confirmAnswer = false;
    std::vector<std::string> questions;
    int closes = 0;

    void Post(std::function<void()> task) override {
        std::lock_guard<std::mutex> hold(lock_);
        tasks_.push_back(std::move(task));
        posted_.notify_all();
    }
    void SetTitle(const std::string& text) override { title = text; }
    std::string ReadVersionSetting() override { return version; }
    std::string ApplicationFolder() override { return folder; }
    std::vector<std::string> ChooseFiles() override {
        ++fileDialogs;
        return files;
    }
    std::string ChooseFolder() override {
        ++folderDialogs;
        return chosenFolder;
    }
    bool OpenUrl(const std::string& url) override {
        openedUrls.push_back(url);
        return true;
    }
    bool RunProgram(const std::string& program, const std::string&) override {
        programs.push_back(program);
        return true;
    }
    bool Confirm(const std::string& question) override {
        questions.push_back(question);
        return confirmAnswer;
    }
    void CloseWindow() override { ++closes; }

    // Runs the tasks posted so far, on the calling (window) thread.
    int RunPosted() {
        std::deque<std::function<void()>> ready;
        {
            std::lock_guard<std::mutex> hold(lock_);
            ready.swap(tasks_);
        }
        for (auto& task : ready) task();
        return static_cast<int>(ready.size());
    }
    // Waits for the next posted task (a job thread posts it) and runs it.
    bool RunNextPosted() {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> hold(lock_);
            if (!posted_.wait_for(hold, std::chrono::seconds(30), [this] { return !tasks_.empty(); })) return false;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        return true;
    }

private:
    std::mutex lock_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
};

// A controller over the fakes.
struct Panel {
    FakeEngine engine;
    FakeSelector selector;
    FakeList list;
    FakeLog log;
    FakeText label;
    FakeCheck savePath, importSession, udfBridge, verify;
    FakeBar imageBar, ringBar, driveBar;
    FakeStatus status;
    FakeButton burn;
    FakeHost host;
    std::unique_ptr<VELKDlgController> controller;

    explicit Panel(std::vector<std::string> recorders = {"V: VELK Virtual Recorder 1.0"}) {
        engine.names = std::move(recorders);
        PanelWidgets widgets;
        widgets.selector = &selector;
        widgets.list = &list;
        widgets.log = &log;
        widgets.label = &label;
        widgets.savePath = &savePath;
        widgets.importSession = &importSession;
        widgets.udfBridge = &udfBridge;
        widgets.verify = &verify;
        widgets.imageBar = &imageBar;
        widgets.ringBar = &ringBar;
        widgets.driveBar = &driveBar;
        widgets.status = &status;
        widgets.burnButton = &burn;
        controller = std::make_unique<VELKDlgController>(engine, widgets, host);
        log.snapshot = [this](const std::string& text) {
            return LoggedLine{text, selector.enabled, controller->State()};
        };
    }
    // Presses Burn and lets its set-up thread return.
    void StartBurn() {
        controller->OnBurn();
        if (controller->SettingUp()) host.RunNextPosted();
    }
    // Log lines written since line `from`.
    std::vector<std::string> LinesFrom(std::size_t from) const {
        std::vector<std::string> texts = log.Texts();
        return {texts.begin() + static_cast<std::ptrdiff_t>(std::min(from, texts.size())), texts.end()};
    }
};

}  // namespace velk::app::test
