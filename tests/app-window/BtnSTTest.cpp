// BtnST on rendered pixels: which icon a state shows, the captured
// background of a transparent button, the drop-down menu and check box mode.
#include "SkinControl/BtnST.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QMenu>
#include <QPainter>
#include <QTest>
#include <QTimer>

namespace velk::skin {
namespace {

const QColor In(220, 20, 20);
const QColor Out(20, 20, 220);

QPixmap solid(const QColor& colour, int size = 12) {
    QPixmap pixmap(size, size);
    pixmap.fill(colour);
    return pixmap;
}

// A window whose own paint is one colour the test can change without a
// palette change.
class Backdrop : public QWidget {
public:
    QColor colour = Qt::green;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour); }
};

class BtnSTTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(120, 80);
        button = new BtnST(&window);
        button->setGeometry(10, 10, 40, 40);
        button->DrawBorder(false);
        button->SetAlign(BtnST::IconAbove);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        // The pointer may still rest where an earlier test left it.
        leave();
    }
    QColor centre() const { return button->grab().toImage().pixelColor(20, 20); }
    QColor corner() const { return button->grab().toImage().pixelColor(1, 1); }
    void hover() {
        QTest::mouseMove(&window, QPoint(100, 70));
        QTest::mouseMove(button, QPoint(20, 20));
    }
    void leave() {
        QTest::mouseMove(&window, QPoint(100, 70));
        QEvent leaveEvent(QEvent::Leave);
        QApplication::sendEvent(button, &leaveEvent);
    }

    Backdrop window;
    BtnST* button = nullptr;
};

TEST_F(BtnSTTest, InIconWhileHoveredOrPressedOutIconOtherwise) {
    ASSERT_EQ(button->SetIcons(solid(In), solid(Out)), BtnST::Ok);
    EXPECT_EQ(centre(), Out);
    hover();
    ASSERT_TRUE(button->IsHovered());
    EXPECT_EQ(centre(), In);
    leave();
    EXPECT_FALSE(button->IsHovered());
    EXPECT_EQ(centre(), Out);
    button->setDown(true);  // held down, pointer elsewhere
    // Pressed content shifts by (1, 1): the icon still covers the centre.
    EXPECT_EQ(centre(), In);
    button->setDown(false);
    EXPECT_EQ(centre(), Out);
}

TEST_F(BtnSTTest, InIconOnlyShowsInEveryState) {
    ASSERT_EQ(button->SetIcons(solid(In), QPixmap()), BtnST::Ok);
    EXPECT_EQ(centre(), In);
    hover();
    EXPECT_EQ(centre(), In);
    leave();
    button->setEnabled(false);
    EXPECT_NE(centre(), Out);
}

TEST_F(BtnSTTest, UnreadableIconDropsBoth) {
    ASSERT_EQ(button->SetIcons(solid(In), solid(Out)), BtnST::Ok);
    EXPECT_EQ(button->SetIcons(QStringLiteral(":/no/such.svg"), QString()), BtnST::BadIcon);
    button->DrawTransparent();
    EXPECT_EQ(centre(), window.colour);
    // The artwork loads at its own size.
    ASSERT_EQ(button->SetIcons(QStringLiteral(":/icons/burn-in.svg"), QStringLiteral(":/icons/burn-out.svg")), BtnST::Ok);
    EXPECT_EQ(button->sizeHint(), QSize(50, 55) + QSize(8, 8));
}

TEST_F(BtnSTTest, SetUpCodesRefuseOutOfRangeValues) {
    EXPECT_EQ(button->SetAlign(4), BtnST::BadAlignment);
    EXPECT_EQ(button->SetColor(6, Qt::red), BtnST::BadColourIndex);
    EXPECT_EQ(button->OffsetColor(0, 256), BtnST::BadShift);
    EXPECT_EQ(button->SetPressedStyle(2), BtnST::BadPressedStyle);
    EXPECT_EQ(button->SetColor(5, Qt::red), BtnST::Ok);
}

TEST_F(BtnSTTest, TransparentKeepsItsBackgroundUntilThePaletteChanges) {
    button->DrawTransparent();
    EXPECT_EQ(corner(), QColor(Qt::green));
    window.colour = Qt::yellow;
    window.update();
    EXPECT_EQ(corner(), QColor(Qt::green));  // the first capture stays
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, Qt::gray);
    button->setPalette(palette);
    EXPECT_EQ(corner(), QColor(Qt::yellow));
}

TEST_F(BtnSTTest, OpaqueButtonFillsWithItsColours) {
    button->clearFocus();  // colour 4 is for the focused button
    button->SetColor(BtnST::BackgroundOut, Qt::cyan);
    button->SetColor(BtnST::BackgroundIn, Qt::magenta);
    EXPECT_EQ(corner(), QColor(Qt::cyan));
    hover();
    EXPECT_EQ(corner(), QColor(Qt::magenta));
}

TEST_F(BtnSTTest, MenuPostsTheChosenCommandAndNothingWhenClosed) {
    auto* menu = new QMenu;
    menu->addAction(QStringLiteral("Add File"))->setData(32771);
    menu->addAction(QStringLiteral("Add Folder"))->setData(32772);
    button->SetMenu(menu);
    QList<int> commands;
    QObject::connect(button, &BtnST::MenuCommand, [&](int command) { commands << command; });

    QTimer::singleShot(0, [] {
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    });
    button->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(commands.isEmpty());

    QTimer::singleShot(0, [] {
        QWidget* popup = QApplication::activePopupWidget();
        ASSERT_NE(popup, nullptr);
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Return);
    });
    button->click();
    EXPECT_TRUE(commands.isEmpty());  // posted, not sent
    QCoreApplication::processEvents();
    EXPECT_EQ(commands, QList<int>{32772});
}

TEST_F(BtnSTTest, CheckBoxModeShowsTheCheckStateNotTheHover) {
    ASSERT_EQ(button->SetIcons(solid(In), solid(Out)), BtnST::Ok);
    button->SetCheckBoxMode(true);
    hover();
    EXPECT_EQ(centre(), Out);  // hovered but not checked
    button->click();
    EXPECT_TRUE(button->GetCheck());
    EXPECT_EQ(centre(), In);
    button->click();
    EXPECT_FALSE(button->GetCheck());
    EXPECT_EQ(centre(), Out);
}

}  // namespace
}  // namespace velk::skin
