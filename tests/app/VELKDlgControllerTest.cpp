#include "app/VELKDlgController.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "app/ProductTexts.h"
#include "tests/app/FakePanel.h"

namespace velk::app::test {
namespace {

using Lines = std::vector<std::string>;

class TempTree {
public:
    TempTree() {
        root_ = std::filesystem::temp_directory_path() /
                ("velk-app-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(root_ / "folder");
        std::ofstream(root_ / "folder" / "inside.txt") << "inside";
        std::ofstream(root_ / "file.txt") << "file";
    }
    ~TempTree() { std::filesystem::remove_all(root_); }
    std::string operator/(const std::string& name) const { return (root_ / name).string(); }

private:
    static inline int counter_ = 0;
    std::filesystem::path root_;
};

// --- the state table ------------------------------------------------------

enum class Command { Eject, DiscInfo, Burn, Erase, AddFile, AddFolder, Delete, Clear };

const char* name(Command command) {
    switch (command) {
    case Command::Eject: return "Eject";
    case Command::DiscInfo: return "DiscInfo";
    case Command::Burn: return "Burn";
    case Command::Erase: return "Erase";
    case Command::AddFile: return "AddFile";
    case Command::AddFolder: return "AddFolder";
    case Command::Delete: return "Delete";
    case Command::Clear: return "Clear";
    }
    return "?";
}

// Issues `command` and tells whether it ran.
bool issue(Panel& panel, Command command) {
    VELKDlgController& c = *panel.controller;
    const std::size_t calls = panel.engine.Calls().size();
    const std::size_t rows = panel.list.rows.size();
    switch (command) {
    case Command::Eject: c.OnEject(); break;
    case Command::DiscInfo: c.OnDiscInfo(); break;
    case Command::Burn: c.OnBurn(); break;
    case Command::Erase: c.OnErase(); break;
    case Command::AddFile: {
        const int before = panel.host.fileDialogs;
        c.OnAddFile();
        return panel.host.fileDialogs > before;
    }
    case Command::AddFolder: {
        const int before = panel.host.folderDialogs;
        c.OnAddFolder();
        return panel.host.folderDialogs > before;
    }
    case Command::Delete: c.OnDelete(); return panel.list.rows.size() < rows;
    case Command::Clear: c.OnClear(); return panel.list.rows.size() < rows;
    }
    return panel.engine.Calls().size() > calls;
}

// Puts the panel into `state`, issues `command` there and tells whether it
// ran. Ejecting and LoadingInfo last only inside their engine call, so the
// command is issued from within that call.
bool ranIn(OperationState state, Command command) {
    Panel panel;
    panel.list.rows = {"/a", "/b"};
    panel.list.mark = 0;
    panel.host.chosenFolder = "/c";
    bool ran = false;
    switch (state) {
    case OperationState::Idle: ran = issue(panel, command); break;
    case OperationState::Ejecting:
        panel.engine.duringEject = [&] { ran = issue(panel, command); };
        panel.controller->OnEject();
        break;
    case OperationState::LoadingInfo:
        panel.engine.duringLoad = [&] { ran = issue(panel, command); };
        panel.controller->OnDiscInfo();
        break;
    case OperationState::Burning:
        panel.list.rows.clear();  // an empty list burns too
        panel.StartBurn();
        EXPECT_EQ(panel.controller->State(), OperationState::Burning);
        panel.list.rows = {"/a", "/b"};
        ran = issue(panel, command);
        break;
    case OperationState::Erasing:
        panel.controller->OnErase();
        EXPECT_EQ(panel.controller->State(), OperationState::Erasing);
        ran = issue(panel, command);
        break;
    }
    // Whatever ran, a job the panel started still ends cleanly.
    while (panel.controller->SettingUp() && panel.host.RunNextPosted()) {
    }
    if (panel.controller->State() != OperationState::Idle) panel.engine.Complete(0);
    panel.host.RunPosted();
    return ran;
}

TEST(PanelStateTable, EachCommandRunsOnlyInItsStates) {
    using S = OperationState;
    struct Row {
        Command command;
        bool idle, ejecting, loading, burning, erasing;
    };
    const Row table[] = {
        {Command::Eject, true, true, false, false, false},
        {Command::DiscInfo, true, false, true, false, false},
        {Command::Burn, true, false, false, false, false},
        {Command::Erase, true, false, false, false, false},
        {Command::AddFile, true, false, false, false, false},
        {Command::AddFolder, true, false, false, false, false},
        {Command::Delete, true, false, false, false, false},
        {Command::Clear, true, false, false, false, false},
    };
    for (const Row& row : table) {
        EXPECT_EQ(ranIn(S::Idle, row.command), row.idle) << name(row.command) << " in Idle";
        EXPECT_EQ(ranIn(S::Ejecting, row.command), row.ejecting) << name(row.command) << " in Ejecting";
        EXPECT_EQ(ranIn(S::LoadingInfo, row.command), row.loading) << name(row.command) << " in LoadingInfo";
        EXPECT_EQ(ranIn(S::Burning, row.command), row.burning) << name(row.command) << " in Burning";
        EXPECT_EQ(ranIn(S::Erasing, row.command), row.erasing) << name(row.command) << " in Erasing";
    }
}

TEST(PanelStateTable, IgnoredCommandsLeaveNoTrace) {
    Panel panel;
    panel.StartBurn();
    const std::size_t lines = panel.log.lines.size();
    panel.controller->OnEject();
    panel.controller->OnDiscInfo();
    panel.controller->OnBurn();
    panel.controller->OnErase();
    EXPECT_EQ(panel.log.lines.size(), lines);
    panel.engine.Complete(0);
    panel.host.RunPosted();
}

TEST(PanelStateTable, SecondEjectRunsAfterTheFirstHasReturned) {
    Panel panel;
    panel.engine.duringEject = [&] { panel.controller->OnEject(); };
    panel.controller->OnEject();
    EXPECT_EQ(panel.log.Texts(), (Lines{"Ejecting...", "Ejecting...", "Eject Done.", "", "Eject Done.", ""}));
    EXPECT_EQ(panel.controller->State(), OperationState::Idle);
    EXPECT_TRUE(panel.selector.enabled);
}

// --- start-up, recorders, links ------------------------------------------

TEST(PanelStartUp, FillsSelectorWelcomesAndTitles) {
    Panel panel({"V: first", "W: second"});
    panel.host.version = "2.5";
    panel.controller->Start();
    EXPECT_EQ(panel.selector.items, (Lines{"V: first", "W: second"}));
    EXPECT_EQ(panel.selector.current, 0);
    EXPECT_TRUE(panel.engine.Called("SelectByIndex 0"));
    EXPECT_TRUE(panel.burn.enabled);
    EXPECT_EQ(panel.log.Texts(), (Lines{std::string("For further information/queries, please visit: ") + MakerPageUrl, "",
                                        "- Drag files/directories from your file manager and drop into listbox.",
                                        "- Double click on an entry in listbox to delete it."}));
    EXPECT_EQ(panel.label.text, DefaultVolumeLabel);
    EXPECT_EQ(panel.host.title, "Orvell V2.5");
}

TEST(PanelStartUp, NoRecorderLeavesBurnDisabled) {
    Panel panel(std::vector<std::string>{});
    panel.engine.canWrite = 0;
    panel.controller->Start();
    EXPECT_TRUE(panel.selector.items.empty());
    EXPECT_TRUE(panel.engine.Called("SelectByIndex -1"));
    EXPECT_FALSE(panel.burn.enabled);
    EXPECT_EQ(panel.host.title, "Orvell V");  // no stored version
}

TEST(PanelStartUp, SelectorChangeFollowsTheRecordersWriteCapability) {
    Panel panel({"V: a", "W: b"});
    panel.controller->Start();
    panel.selector.current = 1;
    panel.engine.canWrite = 0;
    panel.controller->OnSelectorChange();
    EXPECT_TRUE(panel.engine.Called("SelectByIndex 1"));
    EXPECT_FALSE(panel.burn.enabled);
}

TEST(PanelLinks, CompanionMissingSaysSoAndPagesOpen) {
    Panel panel;
    panel.controller->OnCompanion();
    EXPECT_TRUE(panel.host.programs.empty());
    EXPECT_EQ(panel.log.Texts(),
              (Lines{"The companion program /nonexistent/velk-app-folder/Orvell is not installed."}));

    TempTree tree;
    std::filesystem::create_directories(tree / "bin");
    std::ofstream(tree / "bin/Orvell") << "#!/bin/sh\n";
    panel.host.folder = tree / "bin/";
    panel.controller->OnCompanion();
    EXPECT_EQ(panel.host.programs, (Lines{tree / "bin/Orvell"}));

    panel.controller->OnMakerPage();
    panel.controller->OnProductPage();
    EXPECT_EQ(panel.host.openedUrls, (Lines{MakerPageUrl, ProductPageUrl}));
}

// --- burn -----------------------------------------------------------------

TEST(PanelBurn, SendsTheProjectInOrderThenStartsOffTheWindowThread) {
    TempTree tree;
    struct Case {
        bool savePath, importSession, udf;
        Lines calls;
    };
    const std::string folder = tree / "folder";
    const std::string file = tree / "file.txt";
    const Case cases[] = {
        {true, true, true,
         {"TestUnitReady", "ResetProject", "ImportSession 0 \\", "SetVolumeLabel MY DISC", "SetUdfBridge 1",
          "SetVerify 1", "AddDirectory \\ " + folder + " *.* 1 1", "AddFile \\ " + file, "PrepareImage", "StartBurn"}},
        {false, false, false,
         {"TestUnitReady", "ResetProject", "SetVolumeLabel MY DISC", "SetUdfBridge 0",
          "SetVerify 0", "AddDirectory \\ " + folder + " *.* 1 0", "AddFile \\ " + file, "PrepareImage", "StartBurn"}},
    };
    for (const Case& c : cases) {
        Panel panel;
        panel.savePath.checked = c.savePath;
        panel.importSession.checked = c.importSession;
        panel.udfBridge.checked = c.udf;
        panel.verify.checked = c.udf;
        panel.label.text = "MY DISC";
        panel.list.rows = {folder, file};
        std::thread::id setUpThread;
        panel.engine.duringStartBurn = [&] { setUpThread = std::this_thread::get_id(); };
        panel.controller->OnBurn();
        EXPECT_EQ(panel.controller->State(), OperationState::Burning);
        EXPECT_FALSE(panel.selector.enabled);
        ASSERT_TRUE(panel.host.RunNextPosted());
        EXPECT_NE(setUpThread, std::this_thread::get_id());
        EXPECT_EQ(panel.engine.Calls(), c.calls);
        EXPECT_EQ(panel.log.Texts(), (Lines{"Starting Burn Operation.", "Burning Data..."}));
        EXPECT_EQ(panel.controller->State(), OperationState::Burning);
        panel.engine.Complete(0);
        panel.host.RunPosted();
        EXPECT_EQ(panel.controller->State(), OperationState::Idle);
    }
}

TEST(PanelBurn, VerifyingBurnLogsItsReadBackPassOnce) {
    TempTree tree;
    Panel panel;
    panel.verify.checked = true;
    panel.list.rows = {tree / "file.txt"};
    panel.controller->OnBurn();
    ASSERT_TRUE(panel.host.RunNextPosted());
    EXPECT_TRUE(panel.engine.Called("SetVerify 1"));
    panel.engine.jobState = JobWriting;
    panel.controller->OnTimer();
    panel.engine.jobState = JobVerifying;
    panel.controller->OnTimer();
    panel.controller->OnTimer();
    panel.engine.errorText = "Verification failed at block 77";
    panel.engine.Complete(1);
    panel.host.RunPosted();
    EXPECT_EQ(panel.log.Texts(), (Lines{"Starting Burn Operation.", "Burning Data...", "Verifying Data...",
                                        "Burn Operation Complete.", "Burn Operation Failed.",
                                        "Verification failed at block 77", ""}));
}

TEST(PanelBurn, MissingPathAbandonsBeforeAnyJob) {
    TempTree tree;
    Panel panel;
    panel.list.rows = {tree / "file.txt", tree / "gone.txt", tree / "folder"};
    panel.controller->OnBurn();
    EXPECT_FALSE(panel.controller->SettingUp());
    EXPECT_EQ(panel.engine.Calls(), (Lines{"TestUnitReady", "ResetProject", "SetVolumeLabel ", "SetUdfBridge 0",
                                          "SetVerify 0", "AddFile \\ " + (tree / "file.txt")}));
    EXPECT_EQ(panel.log.Texts(), (Lines{"Starting Burn Operation."}));
    EXPECT_EQ(panel.controller->State(), OperationState::Idle);
    EXPECT_TRUE(panel.selector.enabled);
}

TEST(PanelBurn, RecorderNotReadyChangesNothing) {
    Panel panel;
    panel.engine.ready = 0;
    panel.controller->OnBurn();
    EXPECT_EQ(panel.engine.Calls(), (Lines{"TestUnitReady"}));
    EXPECT_EQ(panel.log.Texts(), (Lines{"Device or Disc is not ready."}));
    EXPECT_EQ(panel.controller->State(), OperationState::Idle);
    EXPECT_TRUE(panel.selector.enabled);
}

TEST(PanelBurn, LabelIsCutToThirtyTwoCharacters) {
    EXPECT_EQ(VELKDlgController::LimitLabel("SHORT"), "SHORT");
    EXPECT_EQ(VELKDlgController::LimitLabel(std::string(40, 'A')), std::string(32, 'A'));
    // Characters, not bytes: 33 two-byte letters keep 32 whole letters.
    std::string umlauts;
    for (int i = 0; i < 33; ++i) umlauts += "\xC3\x84";
    EXPECT_EQ(VELKDlgController::LimitLabel(umlauts), umlauts.substr(0, 64));
}

TEST(PanelBurn, RefusedStartReportsAFailedBurnInsteadOfStayingBusy) {
    Panel panel;
    panel.engine.startBurnResult = 0;
    panel.engine.errorText = "left over from an earlier call";
    panel.engine.duringStartBurn = [&] { panel.engine.errorText = "Hardware Error 15104"; };
    panel.StartBurn();
    EXPECT_EQ(panel.log.Texts(), (Lines{"Starting Burn Operation.", "Burn Operation Complete.",
                                        "Burn Operation Failed.", "Hardware Error 15104", ""}));
    EXPECT_EQ(panel.controller->State(), OperationState::Idle);
    EXPECT_TRUE(panel.selector.enabled);
}

// --- completion -----------------------------------------------------------

TEST(PanelCompletion, LinesComeInOrderOnTheWindowThread) {
    struct Case {
        bool erase;
        std::int32_t result;
        std::string error;
        Lines lines;
    };
    const Case cases[] = {
        {false, 0, "", {"Burn Operation Complete.", ""}},
        {false, 1, "Hardware Error 3072", {"Burn Operation Complete.", "Burn Operation Failed.", "Hardware Error 3072", ""}},
        {false, 1, "", {"Burn Operation Complete.", "Burn Operation Failed.", ""}},
        {false, 2, "", {"Burn Operation Complete.", ""}},  // only 1 means failure
        {true, 0, "", {"Erase Operation Complete.", ""}},
        {true, 1, "Hardware Error 1024", {"Erase Operation Complete.", "Erase Operation Failed.", "Hardware Error 1024", ""}},
    };
    for (const Case& c : cases) {
        Panel panel;
        if (c.erase) {
            panel.controller->OnErase();
        } else {
            panel.StartBurn();
        }
        const std::size_t before = panel.log.lines.size();
        panel.engine.errorText = c.error;
        std::thread job([&] { panel.engine.Complete(c.result); });
        job.join();
        // Nothing of the callback's effect happens on the job's thread.
        EXPECT_EQ(panel.log.lines.size(), before);
        EXPECT_NE(panel.controller->State(), OperationState::Idle);
        ASSERT_TRUE(panel.host.RunNextPosted());
        EXPECT_EQ(panel.LinesFrom(before), c.lines);
        // The selector is enabled and the state Idle before the first line.
        EXPECT_TRUE(panel.log.lines[before].selectorEnabled);
        EXPECT_EQ(panel.log.lines[before].state, OperationState::Idle);
    }
}

TEST(PanelCompletion, JobEndingDuringSetUpStillLogsBurningDataFirst) {
    Panel panel;
    panel.engine.duringStartBurn = [&] { panel.engine.Complete(1); };
    panel.controller->OnBurn();
    while (panel.controller->SettingUp() || panel.host.RunPosted() > 0) {
        if (!panel.host.RunNextPosted()) break;
    }
    EXPECT_EQ(panel.log.Texts(),
              (Lines{"Starting Burn Operation.", "Burning Data...", "Burn Operation Complete.", "Burn Operation Failed.", ""}));
    EXPECT_EQ(panel.controller->State(), OperationState::Idle);
}

TEST(PanelErase, RefusedDiscReturnsToIdleAfterTheFirstLine) {
    Panel panel;
    panel.engine.canErase = 0;
    panel.controller->OnErase();
    EXPECT_EQ(panel.log.Texts(), (Lines{"Starting Erase Operation."}));
    EXPECT_FALSE(panel.engine.Called("StartErase 1"));
    EXPECT_EQ(panel.controller->State(), OperationState::Idle);
    EXPECT_TRUE(panel.selector.enabled);

    panel.engine.canErase = 1;
    panel.controller->OnErase();
    EXPECT_TRUE(panel.engine.Called("StartErase 1"));
    EXPECT_EQ(panel.LinesFrom(1), (Lines{"Starting Erase Operation.", "Quick Erasing Media..."}));
    EXPECT_FALSE(panel.selector.enabled);
    panel.engine.Complete(0);
    panel.host.RunPosted();
}

TEST(PanelDiscInfo, LogsTheSignedCount) {
    for (int blocks : {2295104, 0, -1}) {
        Panel panel;
        panel.engine.freeBlocks = blocks;
        panel.controller->OnDiscInfo();
        EXPECT_EQ(panel.log.Texts(),
                  (Lines{"Loading...", std::to_string(blocks) + " free blocks on disc.", "Loading Done.", ""}));
        EXPECT_EQ(panel.engine.Calls(), (Lines{"LoadMedium"}));
        EXPECT_TRUE(panel.selector.enabled);
    }
}

// --- timer ----------------------------------------------------------------

TEST(PanelTimer, StatusTextFormats) {
    struct Case {
        std::uint32_t total, written;
        std::string text;
    };
    const Case cases[] = {
        {0, 0, "0.00/0.00 MB / 0%"},
        {0, 7, "0.00/0.01 MB / 0%"},
        {512, 256, "1.00/0.50 MB /50.0%"},
        {512, 512, "1.00/1.00 MB /100.0%"},
        {3, 1, "0.01/0.00 MB /33.3%"},
        {512, 25, "1.00/0.05 MB /4.9%"},
        {2295104, 2295104, "4482.62/4482.62 MB /100.0%"},
        {4294967295u, 4294967295u, "8388608.00/8388608.00 MB /100.0%"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VELKDlgController::StatusTextFor(c.total, c.written), c.text) << c.total << " " << c.written;
    }
}

TEST(PanelTimer, BarsAndTextFollowTheCountersBeforeAndAfterABurn) {
    Panel panel;
    panel.controller->OnTimer();
    EXPECT_EQ(panel.status.text, "0.00/0.00 MB / 0%");
    EXPECT_EQ(panel.imageBar.maximum, 0);

    panel.StartBurn();
    panel.engine.imageBlocks = 1024;
    panel.engine.blocksWritten = 256;
    panel.engine.bufferSize = 4 << 20;
    panel.engine.bufferFill = 1 << 20;
    panel.engine.driveBufferSize = 2 << 20;
    panel.engine.driveBufferUsed = 3 << 19;
    panel.controller->OnTimer();
    EXPECT_EQ(panel.status.text, "2.00/0.50 MB /25.0%");
    EXPECT_EQ(panel.imageBar.maximum, 1024);
    EXPECT_EQ(panel.imageBar.position, 256);
    EXPECT_EQ(panel.ringBar.maximum, 4 << 20);
    EXPECT_EQ(panel.ringBar.position, 1 << 20);
    EXPECT_EQ(panel.driveBar.maximum, 2 << 20);
    EXPECT_EQ(panel.driveBar.position, 3 << 19);

    panel.engine.blocksWritten = 1024;
    panel.engine.Complete(0);
    panel.host.RunPosted();
    panel.controller->OnTimer();  // the counters keep their last values
    EXPECT_EQ(panel.status.text, "2.00/2.00 MB /100.0%");
}

// --- list editing ---------------------------------------------------------

TEST(PanelList, DoubleClickDeletesTheHotRowInAnyState) {
    Panel panel;
    panel.list.rows = {"/a", "/b", "/c"};
    panel.list.hot = -1;  // an empty part of the list
    panel.controller->OnListDoubleClick();
    EXPECT_EQ(panel.list.rows.size(), 3u);

    panel.list.rows.clear();  // an empty list burns too
    panel.StartBurn();
    ASSERT_EQ(panel.controller->State(), OperationState::Burning);
    panel.list.rows = {"/a", "/b", "/c"};
    panel.list.hot = 1;
    panel.controller->OnListDoubleClick();
    EXPECT_EQ(panel.list.rows, (Lines{"/a", "/c"}));
    panel.engine.Complete(0);
    panel.host.RunPosted();
}

TEST(PanelList, DeleteUsesTheSelectionMarkAndClearEmpties) {
    Panel panel;
    panel.list.rows = {"/a", "/b", "/c"};
    panel.list.mark = -1;
    panel.controller->OnDelete();
    EXPECT_EQ(panel.list.rows.size(), 3u);
    panel.list.mark = 2;
    panel.controller->OnDelete();
    EXPECT_EQ(panel.list.rows, (Lines{"/a", "/b"}));
    panel.controller->OnClear();
    EXPECT_TRUE(panel.list.rows.empty());
}

TEST(PanelList, AddDialogsInsertInTheirOrder) {
    Panel panel;
    panel.host.files = {"/x", "/y"};
    panel.controller->OnAddFile();
    EXPECT_EQ(panel.list.rows, (Lines{"/y", "/x"}));  // each goes in on top
    panel.host.chosenFolder = "";                     // cancelled
    panel.controller->OnAddFolder();
    EXPECT_EQ(panel.list.rows.size(), 2u);
    panel.host.chosenFolder = "/z";
    panel.controller->OnAddFolder();
    EXPECT_EQ(panel.list.rows.front(), "/z");
}

// --- closing --------------------------------------------------------------

TEST(PanelClose, RunningBurnAsksAbortsAndClosesAfterTheCallback) {
    Panel panel;
    EXPECT_TRUE(panel.controller->OnCloseRequest());  // idle: close at once
    panel.StartBurn();

    panel.host.confirmAnswer = false;
    EXPECT_FALSE(panel.controller->OnCloseRequest());
    EXPECT_FALSE(panel.engine.Called("Abort"));
    EXPECT_EQ(panel.host.questions.size(), 1u);

    panel.host.confirmAnswer = true;
    EXPECT_FALSE(panel.controller->OnCloseRequest());
    EXPECT_TRUE(panel.engine.Called("Abort"));
    EXPECT_EQ(panel.host.closes, 0);
    EXPECT_FALSE(panel.controller->OnCloseRequest());  // asked once only
    EXPECT_EQ(panel.host.questions.size(), 2u);

    panel.engine.errorText = "Aborted by user";
    panel.engine.Complete(1);
    panel.host.RunPosted();
    EXPECT_EQ(panel.host.closes, 1);
    EXPECT_TRUE(panel.controller->OnCloseRequest());
}

TEST(PanelClose, RunningEraseIsWaitedForNotAborted) {
    Panel panel;
    panel.controller->OnErase();
    panel.host.confirmAnswer = true;
    EXPECT_FALSE(panel.controller->OnCloseRequest());
    EXPECT_FALSE(panel.engine.Called("Abort"));
    panel.engine.Complete(0);
    panel.host.RunPosted();
    EXPECT_EQ(panel.host.closes, 1);
}

TEST(PanelClose, CloseDuringSetUpAbortsAgainOnceTheJobRuns) {
    Panel panel;
    panel.host.confirmAnswer = true;
    panel.engine.duringStartBurn = [&] {};
    panel.controller->OnBurn();
    ASSERT_TRUE(panel.controller->SettingUp());
    EXPECT_FALSE(panel.controller->OnCloseRequest());
    ASSERT_TRUE(panel.host.RunNextPosted());  // the set-up returns
    int aborts = 0;
    for (const std::string& call : panel.engine.Calls()) aborts += call == "Abort";
    EXPECT_EQ(aborts, 2);
    panel.engine.Complete(1);
    panel.host.RunPosted();
    EXPECT_EQ(panel.host.closes, 1);
}

TEST(PanelClose, PanelGoingAwayStopsTheJobAndWaitsForItsCallback) {
    Panel panel;
    panel.StartBurn();
    std::thread job;
    panel.engine.duringAbort = [&] { job = std::thread([&] { panel.engine.Complete(1); }); };
    panel.controller.reset();
    ASSERT_TRUE(job.joinable());
    job.join();
    EXPECT_EQ(panel.host.RunPosted(), 0);  // nothing for the dead panel
}

}  // namespace
}  // namespace velk::app::test
