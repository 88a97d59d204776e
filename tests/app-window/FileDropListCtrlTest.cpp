// FileDropListCtrl with real files and drops as file managers send them
// (text/uri-list of file:// URLs).
#include "app/FileDropListCtrl.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "tests/support/TempDir.h"

namespace velk::app {
namespace {

class FileDropListCtrlTest : public ::testing::Test {
protected:
    FileDropListCtrlTest() {
        list.setColumnCount(2);
        list.resize(400, 210);
    }
    QString path(const std::string& relative) const { return QString::fromStdString(dir.str() + "/" + relative); }
    QString file(const std::string& relative, const std::string& content = "x") const {
        return QString::fromStdString(dir.file(relative, content));
    }
    QString folder(const std::string& relative) const {
        std::filesystem::create_directories(dir.path() / relative);
        return path(relative);
    }
    // Drops `paths` on the list's viewport the way a file manager does.
    void drop(const QStringList& paths) {
        QList<QUrl> urls;
        for (const QString& p : paths) urls << (p.contains(QLatin1String("://")) ? QUrl(p) : QUrl::fromLocalFile(p));
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list.viewport(), &enter);
        QDropEvent event(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list.viewport(), &event);
    }
    QStringList rows() const {
        QStringList texts;
        for (int row = 0; row < list.RowCount(); ++row) texts << QString::fromStdString(list.PathAt(row));
        return texts;
    }
    QString desktopLink(const std::string& name, const QString& url, const char* type = "Link") const {
        return file(name, std::string("[Desktop Entry]\nName=link\nType=") + type + "\nURL=" + url.toStdString() + "\n");
    }

    velk::testing::TempDir dir;
    FileDropListCtrl list;
};

TEST_F(FileDropListCtrlTest, OneDropListsInReverseOrderWithTickedRows) {
    const QString a = file("A"), b = file("B"), c = file("C");
    drop({a, b, c});
    EXPECT_EQ(rows(), (QStringList{c, b, a}));
    for (int row = 0; row < 3; ++row) EXPECT_EQ(list.topLevelItem(row)->checkState(0), Qt::Checked);
}

TEST_F(FileDropListCtrlTest, DuplicatesAreRefusedUnlessAllowed) {
    const QString a = file("A");
    drop({a, a});
    drop({a});
    EXPECT_EQ(list.InsertPathname(a), -1);  // as "Add File" would
    EXPECT_EQ(rows(), QStringList{a});

    list.SetDropMode(DL_ACCEPT_FILES | DL_ALLOW_DUPLICATES);
    drop({a});
    EXPECT_EQ(rows(), (QStringList{a, a}));
}

TEST_F(FileDropListCtrlTest, DropModeFlagsChooseTheKinds) {
    const QString f = file("file.txt");
    const QString d = folder("folder");
    struct Case {
        std::uint32_t mode;
        QStringList listed;
    };
    const Case cases[] = {
        {DL_ACCEPT_FILES | DL_ACCEPT_FOLDERS, {d, f}},
        {DL_ACCEPT_FILES, {f}},
        {DL_ACCEPT_FOLDERS, {d}},
        {0, {}},
    };
    for (const Case& c : cases) {
        list.DeleteAll();
        list.SetDropMode(c.mode);
        drop({f, d, path("missing")});
        EXPECT_EQ(rows(), c.listed) << "mode " << c.mode;
    }
    int type = 0;
    list.SetDropMode(DL_ACCEPT_FILES | DL_ACCEPT_FOLDERS);
    EXPECT_TRUE(list.ValidatePathname(d, type));
    EXPECT_EQ(type, PATH_TYPE_FOLDER);
    EXPECT_TRUE(list.ValidatePathname(f, type));
    EXPECT_EQ(type, PATH_TYPE_FILE);
}

TEST_F(FileDropListCtrlTest, DesktopLinksStandForTheirFileTargets) {
    const QString target = folder("Pictures");
    const QString toFolder = desktopLink("pictures.desktop", QUrl::fromLocalFile(target).toString());
    const QString toWeb = desktopLink("site.desktop", QStringLiteral("https://velk.example.org/"));
    const QString program = desktopLink("app.desktop", QString(), "Application");
    const QString toNothing = desktopLink("gone.desktop", QUrl::fromLocalFile(path("gone")).toString());

    EXPECT_EQ(FileDropListCtrl::ExpandShortcut(toFolder), target);
    EXPECT_EQ(FileDropListCtrl::ExpandShortcut(toWeb), QString());
    EXPECT_EQ(FileDropListCtrl::ExpandShortcut(path("plain.txt")), QString());
    drop({toFolder, toWeb, program, toNothing});
    // The folder link lists the folder; links without a file target list
    // themselves; a link to a missing file lists nothing.
    EXPECT_EQ(rows(), (QStringList{program, toWeb, target}));
}

TEST_F(FileDropListCtrlTest, SymbolicLinksAreListedWhenTheirTargetExists) {
    const QString target = folder("real");
    std::filesystem::create_directory_symlink(target.toStdString(), dir.path() / "link");
    std::filesystem::create_symlink(dir.path() / "nowhere", dir.path() / "dangling");
    drop({path("link"), path("dangling")});
    EXPECT_EQ(rows(), QStringList{path("link")});
}

TEST_F(FileDropListCtrlTest, LongPathsAndOtherUrlsAreTakenAsTheyAre) {
    std::string deep;
    for (int i = 0; i < 8; ++i) deep += std::string(40, static_cast<char>('a' + i)) + "/";
    const QString longFile = file(deep + "file.txt");
    ASSERT_GT(longFile.size(), 300);
    drop({longFile, QStringLiteral("https://velk.example.org/file.txt")});
    EXPECT_EQ(rows(), QStringList{longFile});
}

TEST_F(FileDropListCtrlTest, HotRowIsTheRowUnderThePointer) {
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    const QString a = file("A"), b = file("B");
    drop({a, b});
    int doubleClicks = 0;
    QObject::connect(&list, &FileDropListCtrl::RowDoubleClicked, [&] { ++doubleClicks; });
    const QPoint onSecond = list.visualItemRect(list.topLevelItem(1)).center();
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, onSecond);
    EXPECT_EQ(doubleClicks, 1);
    EXPECT_EQ(list.HotRow(), 1);
    EXPECT_EQ(list.SelectionMark(), 1);
    QTest::mouseMove(list.viewport(), QPoint(50, 190));  // below the rows
    EXPECT_EQ(list.HotRow(), -1);
}

}  // namespace
}  // namespace velk::app
