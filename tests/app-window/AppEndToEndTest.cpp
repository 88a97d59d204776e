// The whole application offscreen against the virtual recorder: files
// dropped as a file manager drops them, the buttons pressed, the log read,
// and the disc exported and read back by independent readers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextCursor>
#include <QSettings>
#include <QTimer>
#include <QTest>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "SkinControl/BtnST.h"
#include "app/EnginePort.h"
#include "app/EngineSetup.h"
#include "app/FileDropListCtrl.h"
#include "app/SCSkinDriver.h"
#include "app/VELKDlg.h"
#include "app/VELKDlgController.h"
#include "app/VELKFrameDlg.h"
#include "engine/api/BurnEngine.h"
#include "platform/DynamicLibrary.h"
#include "tests/support/TempDir.h"
#include "virtual-recorder/DiscExport.h"
#include "virtual-recorder/DiscStore.h"
#include "virtual-recorder/Media.h"

namespace velk::app {
namespace {

const std::string PluginPath = std::string(VELK_BINARY_DIR) + "/virtual-recorder/libvelk-vrec.so";

// Runs the independent readers on `image` against `source`: empty when every
// reader finds every file byte for byte.
std::string readersDisagree(const std::string& image, const std::string& source, bool udf) {
    const std::string command = "/usr/bin/python3 '" + std::string(VELK_SOURCE_DIR) + "/tests/jobs/read_back.py' '" +
                                image + "' '" + source + "'" + (udf ? "" : " --no-udf") + " 2>&1";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        if (::pclose(pipe) != 0 && output.empty()) output = "read_back.py failed";
    }
    return output;
}

// Every file under `root` by relative path, with its bytes.
std::map<std::string, std::string> treeContents(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[std::filesystem::relative(entry.path(), root).string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

class AppEndToEnd : public ::testing::Test {
protected:
    void TearDown() override {
        frame.reset();
        engine.reset();
        shutDownRecorder();
        for (const char* name : {"VELK_VIRTUAL_DISCS", "VELK_VIRTUAL_TIME_SCALE", "VELK_VIRTUAL_FAULTS",
                                 "VELK_VIRTUAL_RECORDER_LIBRARY"}) {
            ::unsetenv(name);
        }
    }

    // A blank disc of `medium` in the virtual recorder, and the application
    // started on it.
    void start(vrec::MediumKind medium, const std::string& faults = "", double scale = 100000) {
        disc = dir.str() + "/disc";
        std::string error;
        auto store = vrec::DiscStore::create(disc, medium, 0, &error);
        ASSERT_TRUE(store && store->save(&error)) << error;
        store.reset();
        shutDownRecorder();
        ::setenv("VELK_VIRTUAL_RECORDER_LIBRARY", PluginPath.c_str(), 1);
        ::setenv("VELK_VIRTUAL_DISCS", disc.c_str(), 1);
        ::setenv("VELK_VIRTUAL_TIME_SCALE", std::to_string(scale).c_str(), 1);
        if (faults.empty()) {
            ::unsetenv("VELK_VIRTUAL_FAULTS");
        } else {
            ::setenv("VELK_VIRTUAL_FAULTS", faults.c_str(), 1);
        }
        engine = std::make_unique<BurnEngine>();
        std::string problem;
        ASSERT_TRUE(AttachRecorders(*engine, &problem)) << problem;
        port = std::make_unique<BurnEnginePort>(*engine);
        frame = std::make_unique<VELKFrameDlg>(*port, skin);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
        ASSERT_EQ(panel().selector()->count(), 1);
        ASSERT_TRUE(panel().button(VELKDlg::IdBurn)->isEnabled());
    }

    VELKDlg& panel() { return frame->panel(); }
    void press(int id) { QTest::mouseClick(panel().button(id), Qt::LeftButton); }
    QStringList log() { return panel().LogLines(); }
    // The log lines after the four welcome lines.
    QStringList linesAfterWelcome() { return log().mid(4); }
    bool waitForLine(const QString& line, int seconds = 120) {
        return QTest::qWaitFor([&] { return log().contains(line); }, seconds * 1000);
    }
    void dropOnList(const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
        data.setUrls(urls);
        QWidget* viewport = panel().list()->viewport();
        const QPointF at(100, 100);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent dropEvent(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &dropEvent);
        ASSERT_TRUE(dropEvent.isAccepted());
    }
    // Ends the recorder's drives so the disc file is saved and free.
    void shutDownRecorder() {
        if (void* library = platform::loadLibrary(PluginPath)) {
            if (auto shutdown = reinterpret_cast<void (*)()>(platform::findSymbol(library, "vrecShutdown"))) shutdown();
        }
    }
    std::string exportDisc() {
        frame.reset();
        engine.reset();
        shutDownRecorder();
        const std::string image = dir.str() + "/session.iso";
        std::string error;
        auto store = vrec::DiscStore::open(disc, &error);
        EXPECT_TRUE(store) << error;
        if (store) {
            EXPECT_TRUE(vrec::exportImage(*store, 0, image, &error)) << error;
        }
        return image;
    }
    std::string sourceTree() {
        dir.file("src/readme.txt", "a small file\n");
        dir.file("src/empty.dat", "");
        dir.file("src/a/b/deep.txt", "deep");
        dir.file("src/Música/Καλημέρα.txt", "greek and spanish");
        std::string big(700000, '\0');
        for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919u) >> 5);
        dir.file("src/data/big.bin", big);
        return dir.str() + "/src";
    }

    velk::testing::TempDir dir;
    std::string disc;
    SCSkinDriver skin;
    std::unique_ptr<BurnEngine> engine;
    std::unique_ptr<BurnEnginePort> port;
    std::unique_ptr<VELKFrameDlg> frame;
};

TEST_F(AppEndToEnd, DroppedFolderIsBurnedAndReadsBack) {
    ASSERT_NO_FATAL_FAILURE(start(vrec::MediumKind::DvdPlusR));
    EXPECT_EQ(frame->geometry().size(), QSize(540, 500));
    const std::string source = sourceTree();
    ASSERT_NO_FATAL_FAILURE(dropOnList({QString::fromStdString(source)}));
    ASSERT_EQ(panel().list()->RowCount(), 1);
    EXPECT_EQ(panel().list()->PathAt(0), source);
    panel().udfBridgeBox()->setChecked(true);
    // The user put the caret into the log and selected some text: new lines
    // still go to the end and nothing is replaced.
    auto* logBox = panel().findChild<QPlainTextEdit*>(QStringLiteral("log"));
    ASSERT_NE(logBox, nullptr);
    QTextCursor caret(logBox->document());
    caret.movePosition(QTextCursor::Start);
    caret.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor, 8);
    logBox->setTextCursor(caret);

    press(VELKDlg::IdBurn);
    EXPECT_FALSE(panel().selector()->isEnabled());
    ASSERT_TRUE(waitForLine(QStringLiteral("Burn Operation Complete."))) << log().join('\n').toStdString();
    QTest::qWait(0);
    EXPECT_TRUE(log().first().startsWith(QLatin1String("For further information/queries, please visit: ")));
    EXPECT_EQ(linesAfterWelcome(), (QStringList{QStringLiteral("Starting Burn Operation."),
                                                QStringLiteral("Burning Data..."),
                                                QStringLiteral("Burn Operation Complete."), QString()}));
    EXPECT_TRUE(panel().selector()->isEnabled());
    EXPECT_EQ(panel().controller().State(), OperationState::Idle);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel().statusText()->text().endsWith(QLatin1String("/100.0%")); }, 5000))
        << panel().statusText()->text().toStdString();

    EXPECT_EQ(readersDisagree(exportDisc(), source, true), "");
}

TEST_F(AppEndToEnd, ImportSessionAppendsASecondSession) {
    ASSERT_NO_FATAL_FAILURE(start(vrec::MediumKind::DvdPlusR));
    dir.file("first/one.txt", "first session");
    dir.file("first/sub/two.txt", "also first");
    dir.file("second/three.txt", "second session");
    // What the last session's tree must hold: both burns.
    dir.file("both/one.txt", "first session");
    dir.file("both/sub/two.txt", "also first");
    dir.file("both/three.txt", "second session");

    ASSERT_NO_FATAL_FAILURE(dropOnList({QString::fromStdString(dir.str() + "/first")}));
    press(VELKDlg::IdBurn);
    ASSERT_TRUE(waitForLine(QStringLiteral("Burn Operation Complete."))) << log().join('\n').toStdString();
    ASSERT_FALSE(log().contains(QStringLiteral("Burn Operation Failed."))) << log().join('\n').toStdString();

    press(VELKDlg::IdClear);
    EXPECT_EQ(panel().list()->RowCount(), 0);
    ASSERT_NO_FATAL_FAILURE(dropOnList({QString::fromStdString(dir.str() + "/second")}));
    panel().importSessionBox()->setChecked(true);
    const int before = static_cast<int>(log().size());
    press(VELKDlg::IdBurn);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log().mid(before).contains(QStringLiteral("Burn Operation Complete.")); },
                                120000))
        << log().join('\n').toStdString();
    ASSERT_FALSE(log().contains(QStringLiteral("Burn Operation Failed."))) << log().join('\n').toStdString();

    const std::string image = exportDisc();
    // The image holds the disc from block 0; the new session's tree starts
    // at its first track.
    std::string error;
    auto store = vrec::DiscStore::open(disc, &error);
    ASSERT_TRUE(store) << error;
    std::uint32_t sessionStart = 0, sessions = 0;
    for (const vrec::Track& track : store->layout().tracks) {
        if (track.closed && track.session > sessions) {
            sessions = track.session;
            sessionStart = track.start;
        }
    }
    ASSERT_EQ(sessions, 2u);
    const std::string extracted = dir.str() + "/extracted";
    const std::string command = "xorriso -indev '" + image + "' -load sbsector " + std::to_string(sessionStart) +
                                " -osirrox on -extract / '" + extracted + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(treeContents(extracted), treeContents(dir.str() + "/both"));
}

TEST_F(AppEndToEnd, FrameSitsTopLeftWithTheStoredVersionInItsTitle) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.str()));
    QSettings(QStringLiteral("Orvell"), QString()).setValue(QStringLiteral("Version"), QStringLiteral("3.1"));
    ASSERT_NO_FATAL_FAILURE(start(vrec::MediumKind::DvdPlusR));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Orvell V3.1"));
    EXPECT_EQ(frame->pos(), QPoint(0, 0));
    EXPECT_EQ(frame->size(), QSize(540, 500));
    EXPECT_EQ(panel().geometry(), QRect(2, 2, 538, 498));
    EXPECT_EQ(panel().button(VELKDlg::IdBurn)->geometry(), QRect(160, 10, 50, 53));
    EXPECT_EQ(panel().list()->geometry(), QRect(20, 115, 400, 210));
    EXPECT_EQ(panel().labelBox()->text(), QStringLiteral("VELK.EXAMPLE.ORG"));
    // Before any burn: the first status format, and empty bars rather than
    // Qt's busy animation for an empty range.
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel().statusText()->text() == QStringLiteral("0.00/0.00 MB / 0%"); }, 5000));
    EXPECT_LT(panel().imageBar()->minimum(), panel().imageBar()->maximum());
    EXPECT_EQ(panel().imageBar()->value(), panel().imageBar()->minimum());
    QSettings(QStringLiteral("Orvell"), QString()).remove(QStringLiteral("Version"));
}

TEST_F(AppEndToEnd, ListEditingThroughTheButtonsAndTheMenu) {
    ASSERT_NO_FATAL_FAILURE(start(vrec::MediumKind::DvdPlusR));
    const std::string file = dir.file("pick/file.txt", "x");
    const std::string folder = dir.str() + "/pick";
    panel().SetDialogs({[&] { return std::vector<std::string>{file}; }, [&] { return folder; }, {}});
    // Chooses the menu entry `index` of the Add button's menu.
    auto chooseFromAddMenu = [&](int index) {
        QTimer::singleShot(0, [index] {
            QWidget* popup = QApplication::activePopupWidget();
            ASSERT_NE(popup, nullptr);
            for (int i = 0; i <= index; ++i) QTest::keyClick(popup, Qt::Key_Down);
            QTest::keyClick(popup, Qt::Key_Return);
        });
        press(VELKDlg::IdAdd);
        QCoreApplication::processEvents();  // the chosen command is posted
    };
    chooseFromAddMenu(0);
    chooseFromAddMenu(1);
    FileDropListCtrl& list = *panel().list();
    ASSERT_EQ(list.RowCount(), 2);
    EXPECT_EQ(list.PathAt(0), folder);
    EXPECT_EQ(list.PathAt(1), file);

    list.setCurrentItem(list.topLevelItem(0));
    press(VELKDlg::IdDelete);
    ASSERT_EQ(list.RowCount(), 1);
    EXPECT_EQ(list.PathAt(0), file);

    QTest::mouseDClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.visualItemRect(list.topLevelItem(0)).center());
    EXPECT_EQ(list.RowCount(), 0);

    chooseFromAddMenu(0);
    press(VELKDlg::IdClear);
    EXPECT_EQ(list.RowCount(), 0);
}

TEST_F(AppEndToEnd, FailedBurnShowsTheFailureAndTheReason) {
    ASSERT_NO_FATAL_FAILURE(start(vrec::MediumKind::DvdPlusR, "op:2A:03/0C/00"));
    dir.file("one/file.txt", "data");
    ASSERT_NO_FATAL_FAILURE(dropOnList({QString::fromStdString(dir.str() + "/one/file.txt")}));
    press(VELKDlg::IdBurn);
    ASSERT_TRUE(waitForLine(QStringLiteral("Burn Operation Failed."))) << log().join('\n').toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return log().size() >= 4 + 6; }, 5000));
    const QStringList lines = linesAfterWelcome();
    ASSERT_EQ(lines.size(), 6) << log().join('\n').toStdString();
    EXPECT_EQ(lines.mid(0, 4), (QStringList{QStringLiteral("Starting Burn Operation."), QStringLiteral("Burning Data..."),
                                            QStringLiteral("Burn Operation Complete."),
                                            QStringLiteral("Burn Operation Failed.")}));
    // The write error's sense: 0C/00 is ASC 0Ch, ASCQ 00h.
    EXPECT_EQ(lines[4], QStringLiteral("Hardware Error 3072"));
    EXPECT_EQ(lines[5], QString());
    EXPECT_EQ(panel().controller().State(), OperationState::Idle);
}

TEST_F(AppEndToEnd, QuickEraseEjectAndDiscInfo) {
    ASSERT_NO_FATAL_FAILURE(start(vrec::MediumKind::CdRw));
    press(VELKDlg::IdDiscInfo);
    QStringList lines = linesAfterWelcome();
    ASSERT_EQ(lines.size(), 4) << log().join('\n').toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Loading..."));
    EXPECT_EQ(lines[1], QStringLiteral("359847 free blocks on disc."));
    EXPECT_EQ(lines.mid(2), (QStringList{QStringLiteral("Loading Done."), QString()}));

    press(VELKDlg::IdErase);
    ASSERT_TRUE(waitForLine(QStringLiteral("Erase Operation Complete."))) << log().join('\n').toStdString();
    QTest::qWait(0);
    EXPECT_EQ(linesAfterWelcome().mid(4),
              (QStringList{QStringLiteral("Starting Erase Operation."), QStringLiteral("Quick Erasing Media..."),
                           QStringLiteral("Erase Operation Complete."), QString()}));

    press(VELKDlg::IdEject);
    EXPECT_EQ(linesAfterWelcome().mid(8),
              (QStringList{QStringLiteral("Ejecting..."), QStringLiteral("Eject Done."), QString()}));
    EXPECT_TRUE(panel().selector()->isEnabled());
}

TEST_F(AppEndToEnd, ClosingDuringABurnStopsItFirst) {
    // A slow drive and more data than its buffer holds, so the burn is
    // still running when the user closes.
    ASSERT_NO_FATAL_FAILURE(start(vrec::MediumKind::DvdPlusR, "", 4));
    const std::string source = sourceTree();
    dir.file("src/data/large.bin", std::string(24 << 20, 'v'));
    ASSERT_NO_FATAL_FAILURE(dropOnList({QString::fromStdString(source)}));
    int questions = 0;
    panel().SetDialogs({{}, {}, [&](const std::string&) {
                            ++questions;
                            return true;
                        }});
    press(VELKDlg::IdBurn);
    // The window during the burn, for the documentation.
    QProgressBar* bar = panel().imageBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->value() > bar->maximum() / 5 && bar->value() < bar->maximum(); }, 60000))
        << log().join('\n').toStdString();
    EXPECT_TRUE(frame->grab().save(QStringLiteral(VELK_BINARY_DIR "/main-window.png")));

    EXPECT_FALSE(frame->close());
    EXPECT_EQ(questions, 1);
    EXPECT_TRUE(frame->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->isVisible(); }, 120000)) << log().join('\n').toStdString();
    const QStringList lines = log();
    EXPECT_TRUE(lines.contains(QStringLiteral("Burn Operation Failed.")));
    EXPECT_TRUE(lines.contains(QStringLiteral("Aborted by user")));
}

}  // namespace
}  // namespace velk::app
