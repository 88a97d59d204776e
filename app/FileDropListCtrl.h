// FileDropListCtrl: the report-view list of source paths. File managers drop
// text/uri-list data of file:// URLs on it; each dropped path stands for the
// target of a desktop link (.desktop, Type=Link, file:// URL), is kept only
// when it is an existing file or folder of an accepted kind, and goes in as
// the new top row with a ticked check box unless it is listed already. Paths
// are full POSIX paths of any length.
#pragma once

#include <QPoint>
#include <QString>
#include <QTreeWidget>
#include <cstdint>

#include "app/PanelWidgets.h"

class QMimeData;

namespace velk::app {

enum DropMode : std::uint32_t {
    DL_ACCEPT_FILES = 1,
    DL_ACCEPT_FOLDERS = 2,
    DL_ALLOW_DUPLICATES = 4,
};

inline constexpr int PATH_TYPE_FOLDER = 16;
inline constexpr int PATH_TYPE_FILE = 32;

class FileDropListCtrl : public QTreeWidget, public SourceList {
    Q_OBJECT

public:
    explicit FileDropListCtrl(QWidget* parent = nullptr);

    bool SetDropMode(std::uint32_t mode);
    std::uint32_t GetDropMode() const { return dropMode_; }

    // 0 when the path went in as the top row, -1 when it was refused.
    virtual int InsertPathname(const QString& path);
    // The target of a desktop link, or empty when `path` is none (or its
    // target is not a local file-system path).
    static QString ExpandShortcut(const QString& path);
    bool ValidatePathname(const QString& path, int& type) const;
    // Handles dropped data as a drop on the list does; the number of paths
    // that went in.
    int DropData(const QMimeData& data);

    // SourceList
    int RowCount() const override;
    std::string PathAt(int row) const override;
    int SelectionMark() const override;
    int HotRow() const override;
    void DeleteRow(int row) override;
    void DeleteAll() override;
    int InsertPathname(const std::string& path) override;

signals:
    void RowDoubleClicked();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    std::uint32_t dropMode_ = DL_ACCEPT_FILES | DL_ACCEPT_FOLDERS;
    QPoint pointer_{-1, -1};
    bool pointerInside_ = false;
};

}  // namespace velk::app
