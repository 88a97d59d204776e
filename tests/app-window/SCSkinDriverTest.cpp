#include "app/SCSkinDriver.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

#include "tests/support/TempDir.h"

namespace velk::app {
namespace {

// The skin file is found relative to the current folder, which start-up
// makes the program's folder; without it nothing changes.
TEST(SCSkinDriverTest, StyleSheetFromTheCurrentFolderWhenPresent) {
    velk::testing::TempDir dir;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.str())));
    SCSkinDriver skin;
    EXPECT_FALSE(skin.LoadSkinFile(QStringLiteral("Mac-style.skf")));
    EXPECT_FALSE(skin.Loaded());
    EXPECT_EQ(qApp->styleSheet(), QString());

    dir.file("Mac-style.skf", "QWidget { color: #314261; }");
    EXPECT_TRUE(skin.LoadSkinFile(QStringLiteral("Mac-style.skf")));
    EXPECT_EQ(qApp->styleSheet(), QStringLiteral("QWidget { color: #314261; }"));
    qApp->setStyleSheet(QString());
    QDir::setCurrent(previous);
}

}  // namespace
}  // namespace velk::app
