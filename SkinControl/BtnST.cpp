#include "SkinControl/BtnST.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <QUrl>
#include <qdrawutil.h>

#include <algorithm>

namespace velk::skin {
namespace {

const QColor DefaultText(49, 66, 97);
const QColor CaptionHalo(200, 200, 200);

// An image file at its own size; SVG files at the size they declare.
QPixmap loadPixmap(const QString& path) {
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QSvgRenderer renderer(path);
        if (!renderer.isValid() || renderer.defaultSize().isEmpty()) return {};
        QPixmap pixmap(renderer.defaultSize());
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        return pixmap;
    }
    return QPixmap(path);
}

}  // namespace

BtnST::BtnST(QWidget* parent) : QAbstractButton(parent) {
    setMouseTracking(true);
    SetDefaultColors(false);
    connect(this, &QAbstractButton::clicked, this, &BtnST::onClicked);
}

BtnST::~BtnST() = default;

int BtnST::SetIcons(const QString& iconIn, const QString& iconOut) {
    QPixmap in = loadPixmap(iconIn);
    QPixmap out = iconOut.isEmpty() ? QPixmap() : loadPixmap(iconOut);
    if (in.isNull() || (!iconOut.isEmpty() && out.isNull())) {
        iconIn_ = QPixmap();
        iconOut_ = QPixmap();
        update();
        return BadIcon;
    }
    return SetIcons(in, out);
}

int BtnST::SetIcons(const QPixmap& iconIn, const QPixmap& iconOut) {
    iconIn_ = iconIn;
    iconOut_ = iconOut;
    updateGeometry();
    update();
    return Ok;
}

int BtnST::SetFlat(bool flat, bool repaint) {
    flat_ = flat;
    if (!flat_) hover_ = false;
    if (repaint) update();
    return Ok;
}

int BtnST::DrawTransparent(bool repaint) {
    transparent_ = true;
    backgroundValid_ = false;
    if (repaint) update();
    return Ok;
}

int BtnST::DrawBorder(bool enable, bool repaint) {
    drawBorder_ = enable;
    if (repaint) update();
    return Ok;
}

int BtnST::DrawFlatFocus(bool enable, bool repaint) {
    drawFlatFocus_ = enable;
    if (repaint) update();
    return Ok;
}

int BtnST::SetAlwaysTrack(bool enable) {
    alwaysTrack_ = enable;
    return Ok;
}

int BtnST::SetAlign(int alignment, bool repaint) {
    if (alignment < IconLeft || alignment > IconOver) return BadAlignment;
    alignment_ = alignment;
    if (repaint) update();
    return Ok;
}

int BtnST::SetPressedStyle(int style, bool repaint) {
    switch (style) {
    case 0: pressedOffset_ = QPoint(1, 1); break;
    case 1: pressedOffset_ = QPoint(0, 2); break;
    default: return BadPressedStyle;
    }
    if (repaint) update();
    return Ok;
}

int BtnST::SetColor(int index, QColor colour, bool repaint) {
    if (index < 0 || index >= static_cast<int>(colours_.size())) return BadColourIndex;
    colours_[static_cast<std::size_t>(index)] = colour;
    if (repaint) update();
    return Ok;
}

int BtnST::SetDefaultColors(bool repaint) {
    const QColor face = palette().color(QPalette::Button);
    colours_ = {face, DefaultText, face, DefaultText, face, DefaultText};
    if (repaint) update();
    return Ok;
}

int BtnST::OffsetColor(int index, int shift, bool repaint) {
    if (index < 0 || index >= static_cast<int>(colours_.size())) return BadColourIndex;
    if (shift < -255 || shift > 255) return BadShift;
    QColor& colour = colours_[static_cast<std::size_t>(index)];
    auto moved = [shift](int component) { return std::clamp(component + shift, 0, 255); };
    colour = QColor(moved(colour.red()), moved(colour.green()), moved(colour.blue()));
    if (repaint) update();
    return Ok;
}

int BtnST::SetMenu(QMenu* menu, bool repaint) {
    menu_.reset(menu);
    if (menu_) menu_->setParent(nullptr);
    if (repaint) update();
    return Ok;
}

int BtnST::SetURL(const QString& url) {
    url_ = url;
    return Ok;
}

int BtnST::SetTooltipText(const QString& text) {
    // Long tips wrap instead of running across the screen.
    setToolTip(text.isEmpty() ? QString() : QStringLiteral("<p style='max-width:400px'>%1</p>").arg(text.toHtmlEscaped()));
    return Ok;
}

void BtnST::SetCheckBoxMode(bool enabled) {
    checkBoxMode_ = enabled;
    setCheckable(enabled);
    update();
}

void BtnST::SetCheck(bool checked, bool repaint) {
    if (!checkBoxMode_) return;
    setChecked(checked);
    if (repaint) update();
}

bool BtnST::GetCheck() const { return checkBoxMode_ && isChecked(); }

QSize BtnST::sizeHint() const {
    QSize icon = iconIn_.isNull() ? QSize(16, 16) : iconIn_.size();
    return icon + QSize(8, 8);
}

void BtnST::onClicked() {
    if (checkBoxMode_) {
        update();  // the base has already inverted the check state
        return;
    }
    if (menu_) {
        QPointer<BtnST> self(this);
        menuShown_ = true;
        repaint();
        emit MenuAboutToOpen();
        QAction* chosen = menu_->exec(mapToGlobal(QPoint(0, height())));
        if (!self) return;
        menuShown_ = false;
        update();
        if (chosen && chosen->data().isValid()) {
            const int command = chosen->data().toInt();
            QMetaObject::invokeMethod(this, [this, command] { emit MenuCommand(command); }, Qt::QueuedConnection);
        }
        return;
    }
    if (!url_.isEmpty()) QDesktopServices::openUrl(QUrl(url_));
}

void BtnST::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    if (!flat_ || hover_) return;
    if ((QApplication::mouseButtons() & Qt::LeftButton) != 0) return;
    if (!alwaysTrack_ && QApplication::activeWindow() == nullptr) return;
    hover_ = true;
    update();
}

void BtnST::mouseMoveEvent(QMouseEvent* event) {
    QAbstractButton::mouseMoveEvent(event);
    if (!flat_) return;
    if ((event->buttons() & Qt::LeftButton) != 0 && !hover_) return;
    const bool over = rect().contains(event->position().toPoint());
    if (!over || (!alwaysTrack_ && QApplication::activeWindow() == nullptr)) {
        endHover();
        return;
    }
    if (!hover_) {
        hover_ = true;
        update();
    }
}

void BtnST::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    endHover();
}

void BtnST::focusOutEvent(QFocusEvent* event) {
    QAbstractButton::focusOutEvent(event);
    endHover();
}

void BtnST::endHover() {
    if (!hover_) return;
    hover_ = false;
    update();
}

void BtnST::changeEvent(QEvent* event) {
    QAbstractButton::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        if (!isEnabled()) endHover();
        break;
    case QEvent::ActivationChange:
        if (!alwaysTrack_ && !isActiveWindow()) endHover();
        break;
    case QEvent::PaletteChange:
        // New colours: the captured background and the six colours are stale.
        backgroundValid_ = false;
        SetDefaultColors(false);
        update();
        break;
    default: break;
    }
}

void BtnST::captureBackground() {
    background_ = QPixmap(size());
    background_.fill(palette().color(QPalette::Window));
    if (QWidget* parent = parentWidget()) {
        // The parent's own pixels under the button, without its children.
        parent->render(&background_, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
    }
    backgroundValid_ = true;
}

QPoint BtnST::pressedShift(const PaintState& state) const {
    return state.pressed && !checkBoxMode_ ? pressedOffset_ : QPoint();
}

QRect BtnST::iconRect(const QRect& area, const QSize& size) const {
    const bool caption = !text().isEmpty();
    QRect placed(QPoint(), size);
    switch (alignment_) {
    case IconAbove:
        placed.moveCenter(area.center());
        if (caption) placed.moveTop(area.top() + 3);
        break;
    case IconRight:
        placed.moveCenter(area.center());
        placed.moveRight(area.right() - 3);
        break;
    case IconOver: placed.moveCenter(area.center()); break;
    default:
        placed.moveCenter(area.center());
        placed.moveLeft(area.left() + 3);
        break;
    }
    return placed;
}

void BtnST::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintState state;
    state.pressed = checkBoxMode_ ? (isDown() || isChecked()) : (isDown() || menuShown_);
    state.focused = hasFocus();
    state.disabled = !isEnabled();

    QRect area = rect();
    if (transparent_) {
        if (!backgroundValid_) captureBackground();
        painter.drawPixmap(0, 0, background_);
    } else {
        OnDrawBackground(painter, area, state);
    }
    OnDrawBorder(painter, area, state);
    if (!iconIn_.isNull()) OnDrawIcon(painter, area, state);
    if (!text().isEmpty()) OnDrawCaption(painter, area, state);
    if (state.focused && (!flat_ || drawFlatFocus_)) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void BtnST::OnDrawBackground(QPainter& painter, QRect& area, const PaintState& state) {
    if (!flat_ && (state.focused || defaultButton_)) {
        painter.setPen(Qt::black);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        area.adjust(1, 1, -1, -1);
    }
    const QColor& fill = (hover_ || state.pressed) ? colours_[BackgroundIn]
                         : state.focused           ? colours_[BackgroundFocus]
                                                   : colours_[BackgroundOut];
    painter.fillRect(area, fill);
}

void BtnST::OnDrawBorder(QPainter& painter, const QRect& area, const PaintState& state) {
    const QPalette& colours = palette();
    if (state.pressed) {
        if (!flat_) {
            painter.setPen(colours.color(QPalette::Dark));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(area.adjusted(0, 0, -1, -1));
        } else if (drawBorder_) {
            qDrawShadeRect(&painter, area, colours, true, 1);
        }
        return;
    }
    if (!flat_) {
        qDrawWinButton(&painter, area, colours, false);
    } else if (hover_ && drawBorder_) {
        qDrawShadeRect(&painter, area, colours, false, 1);
    }
}

void BtnST::OnDrawIcon(QPainter& painter, const QRect& area, const PaintState& state) {
    const bool useIn = state.pressed || (hover_ && !checkBoxMode_);
    const QPixmap& icon = (useIn || iconOut_.isNull()) ? iconIn_ : iconOut_;
    QRect placed = iconRect(area, icon.size()).translated(pressedShift(state));
    if (state.disabled) {
        QStyleOption option;
        option.initFrom(this);
        painter.drawPixmap(placed, style()->generatedIconPixmap(QIcon::Disabled, icon, &option));
    } else {
        painter.drawPixmap(placed, icon);
    }
}

void BtnST::OnDrawCaption(QPainter& painter, const QRect& area, const PaintState& state) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    font.setBold(true);
    painter.setFont(font);

    QRect box = area;
    if (!iconIn_.isNull()) {
        const QRect icon = iconRect(area, iconIn_.size());
        switch (alignment_) {
        case IconAbove: box.setTop(icon.bottom() + 1); break;
        case IconRight: box.setRight(icon.left() - 1); break;
        case IconOver: break;
        default: box.setLeft(icon.right() + 1); break;
        }
    }
    box.translate(pressedShift(state));
    const int flags = Qt::AlignCenter | Qt::TextWordWrap;
    if (state.disabled) {
        painter.setPen(palette().color(QPalette::Light));
        painter.drawText(box.translated(1, 1), flags, text());
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawText(box, flags, text());
        return;
    }
    painter.setPen(CaptionHalo);
    painter.drawText(box.translated(1, 1), flags, text());
    const QColor& ink = (hover_ || state.pressed) ? colours_[ForegroundIn]
                        : state.focused           ? colours_[ForegroundFocus]
                                                  : colours_[ForegroundOut];
    painter.setPen(ink);
    painter.drawText(box, flags, text());
}

}  // namespace velk::skin
