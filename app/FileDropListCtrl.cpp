#include "app/FileDropListCtrl.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextStream>
#include <QUrl>

namespace velk::app {
namespace {

constexpr int PathColumn = 1;

bool carriesFiles(const QMimeData* data) { return data && data->hasUrls(); }

// The value of `key` in the [Desktop Entry] group; localised and
// $e-marked variants (URL[$e]=) count as the key.
QString desktopEntryValue(const QString& text, const QString& key) {
    bool inEntry = false;
    QString value;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntry || line.startsWith(QLatin1Char('#'))) continue;
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) continue;
        QString name = line.left(equals).trimmed();
        if (name == key || name == key + QLatin1String("[$e]")) value = line.mid(equals + 1).trimmed();
    }
    return value;
}

}  // namespace

FileDropListCtrl::FileDropListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(2);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setMouseTracking(true);
    setSortingEnabled(false);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(true);
}

bool FileDropListCtrl::SetDropMode(std::uint32_t mode) {
    dropMode_ = mode;
    return true;
}

QString FileDropListCtrl::ExpandShortcut(const QString& path) {
    if (path.isEmpty() || !path.endsWith(QLatin1String(".desktop"))) return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    // A link file is a few lines; a huge file is no link.
    const QString text = QString::fromUtf8(file.read(64 * 1024));
    if (desktopEntryValue(text, QStringLiteral("Type")) != QLatin1String("Link")) return {};
    const QUrl url(desktopEntryValue(text, QStringLiteral("URL")));
    if (!url.isValid() || !url.isLocalFile()) return {};
    return url.toLocalFile();
}

bool FileDropListCtrl::ValidatePathname(const QString& path, int& type) const {
    const QFileInfo info(path);  // follows symbolic links, like stat
    if (!info.exists()) return false;
    if ((dropMode_ & DL_ACCEPT_FOLDERS) && info.isDir()) {
        type = PATH_TYPE_FOLDER;
        return true;
    }
    if ((dropMode_ & DL_ACCEPT_FILES) && info.isFile()) {
        type = PATH_TYPE_FILE;
        return true;
    }
    return false;
}

int FileDropListCtrl::InsertPathname(const QString& path) {
    if (!(dropMode_ & DL_ALLOW_DUPLICATES)) {
        for (int row = 0; row < topLevelItemCount(); ++row) {
            if (topLevelItem(row)->text(PathColumn) == path) return -1;
        }
    }
    auto* item = new QTreeWidgetItem();
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Checked);
    item->setText(PathColumn, path);
    item->setToolTip(PathColumn, path);
    insertTopLevelItem(0, item);
    return indexOfTopLevelItem(item) == 0 ? 0 : -1;
}

int FileDropListCtrl::InsertPathname(const std::string& path) {
    return InsertPathname(QString::fromStdString(path));
}

int FileDropListCtrl::DropData(const QMimeData& data) {
    int inserted = 0;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile()) continue;
        QString path = url.toLocalFile();
        const QString target = ExpandShortcut(path);
        if (!target.isEmpty()) path = target;
        int type = 0;
        if (ValidatePathname(path, type) && InsertPathname(path) == 0) ++inserted;
    }
    return inserted;
}

void FileDropListCtrl::dragEnterEvent(QDragEnterEvent* event) {
    if (carriesFiles(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void FileDropListCtrl::dragMoveEvent(QDragMoveEvent* event) {
    if (carriesFiles(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void FileDropListCtrl::dropEvent(QDropEvent* event) {
    if (!carriesFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    DropData(*event->mimeData());
    event->acceptProposedAction();
}

bool FileDropListCtrl::viewportEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        pointer_ = static_cast<QMouseEvent*>(event)->position().toPoint();
        pointerInside_ = true;
        break;
    case QEvent::Leave: pointerInside_ = false; break;
    default: break;
    }
    const bool handled = QTreeWidget::viewportEvent(event);
    if (event->type() == QEvent::MouseButtonDblClick) emit RowDoubleClicked();
    return handled;
}

int FileDropListCtrl::RowCount() const { return topLevelItemCount(); }

std::string FileDropListCtrl::PathAt(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? item->text(PathColumn).toStdString() : std::string();
}

int FileDropListCtrl::SelectionMark() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
}

int FileDropListCtrl::HotRow() const {
    if (!pointerInside_) return -1;
    QTreeWidgetItem* item = itemAt(pointer_);
    return item ? indexOfTopLevelItem(item) : -1;
}

void FileDropListCtrl::DeleteRow(int row) { delete takeTopLevelItem(row); }

void FileDropListCtrl::DeleteAll() { clear(); }

}  // namespace velk::app
