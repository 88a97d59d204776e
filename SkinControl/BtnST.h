// BtnST: a push button that paints itself with an icon pair. The in-icon
// shows while the pointer is over the button or it is held down, the
// out-icon otherwise. It can paint the parent's background behind its
// content (transparent mode), draw itself flat or raised, open a drop-down
// menu whose chosen command it posts, open a URL, and act as a check box.
//
// Set-up operations return 0 on success or a failure code (see the enum).
// Painting happens only in paintEvent; the draw steps are virtual so a
// subclass can replace one of them.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <array>
#include <memory>

class QMenu;

namespace velk::skin {

class BtnST : public QAbstractButton {
    Q_OBJECT

public:
    enum Result {
        Ok = 0,
        BadIcon = 1,
        BadMenu = 1,
        BadColourIndex = 3,
        BadAlignment = 4,
        BadShift = 5,
        BadPressedStyle = 6,
    };
    enum Alignment { IconLeft = 0, IconAbove = 1, IconRight = 2, IconOver = 3 };
    enum Colour {
        BackgroundIn = 0,
        ForegroundIn = 1,
        BackgroundOut = 2,
        ForegroundOut = 3,
        BackgroundFocus = 4,
        ForegroundFocus = 5,
    };

    explicit BtnST(QWidget* parent = nullptr);
    ~BtnST() override;

    // Loads both icons at their own size from image files or resources
    // (SVG included); an empty out-icon means the in-icon in every state.
    // BadIcon when an icon cannot be read: all icons are dropped then.
    int SetIcons(const QString& iconIn, const QString& iconOut);
    int SetIcons(const QPixmap& iconIn, const QPixmap& iconOut);
    int SetFlat(bool flat, bool repaint = true);
    int DrawTransparent(bool repaint = true);
    int DrawBorder(bool enable, bool repaint = true);
    int DrawFlatFocus(bool enable, bool repaint = true);
    int SetAlwaysTrack(bool enable);
    int SetAlign(int alignment, bool repaint = true);
    // Style 0: content shifts by (1, 1) while pressed; style 1: by (0, 2).
    int SetPressedStyle(int style, bool repaint = true);
    int SetColor(int index, QColor colour, bool repaint = true);
    int SetDefaultColors(bool repaint = true);
    // Moves one colour's components by `shift` (-255 to 255), kept in 0..255.
    int OffsetColor(int index, int shift, bool repaint = true);
    // The menu is owned by the button from now on; null removes it. The
    // chosen action's data() (an int) is posted as MenuCommand.
    int SetMenu(QMenu* menu, bool repaint = true);
    int SetURL(const QString& url);
    int SetTooltipText(const QString& text);
    void SetCheck(bool checked, bool repaint = true);
    bool GetCheck() const;
    void SetCheckBoxMode(bool enabled);
    bool IsDefaultButton() const { return defaultButton_; }
    void SetDefaultButton(bool isDefault) { defaultButton_ = isDefault; }
    bool IsHovered() const { return hover_; }

    QSize sizeHint() const override;

signals:
    // A command chosen from the drop-down menu, posted (queued).
    void MenuCommand(int command);
    // Sent just before the menu opens.
    void MenuAboutToOpen();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

    struct PaintState {
        bool pressed = false;
        bool focused = false;
        bool disabled = false;
    };
    virtual void OnDrawBackground(QPainter& painter, QRect& area, const PaintState& state);
    virtual void OnDrawBorder(QPainter& painter, const QRect& area, const PaintState& state);
    virtual void OnDrawIcon(QPainter& painter, const QRect& area, const PaintState& state);
    virtual void OnDrawCaption(QPainter& painter, const QRect& area, const PaintState& state);

private:
    void onClicked();
    void endHover();
    void captureBackground();
    QPoint pressedShift(const PaintState& state) const;
    QRect iconRect(const QRect& area, const QSize& size) const;

    bool flat_ = true;
    bool hover_ = false;
    bool transparent_ = false;
    bool defaultButton_ = false;
    bool checkBoxMode_ = false;
    bool drawBorder_ = true;
    bool drawFlatFocus_ = false;
    bool alwaysTrack_ = true;
    bool menuShown_ = false;
    int alignment_ = IconLeft;
    QPoint pressedOffset_{1, 1};
    std::array<QColor, 6> colours_;
    QPixmap iconIn_;
    QPixmap iconOut_;
    std::unique_ptr<QMenu> menu_;
    QString url_;
    QPixmap background_;
    bool backgroundValid_ = false;
};

}  // namespace velk::skin
